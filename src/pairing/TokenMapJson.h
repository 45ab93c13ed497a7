#pragma once

#include "common/Bytes.h"
#include "common/Error.h"

#include <expected>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace corvane {

using TokenMap = std::map<std::string, std::string, std::less<>>;

// The stored form of the tokens: one JSON object of client ID to token, UTF-8.
Bytes encodeTokenMap(const TokenMap& tokens);

// Fails unless `json` is exactly one JSON object whose members are all strings.
std::expected<TokenMap, Error> decodeTokenMap(std::string_view json);

} // namespace corvane

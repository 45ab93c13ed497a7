// Rewrites the pairing item through the file store, generation after generation, so that a
// parent can SIGKILL it at any moment; and checks afterwards that the item holds one whole
// generation. Each generation has its own size, so a torn or mixed file cannot pass for another.
//
//   corvane-fault-writer write FOLDER FIRST     announce each generation on stdout, then write it
//   corvane-fault-writer check FOLDER GEN...    exit 0 when the item is one of GEN (0: no item)

#include "pairing/PairedClients.h"
#include "pairing/PairingKeychain.h"
#include "pairing/TokenMapJson.h"
#include "platform/secrets/FileSecretStore.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
namespace {

// A writer whose parent has vanished must not fill the disk for ever.
constexpr std::uint64_t maxGenerationsPerRun = 100000;

// 1 to 61 clients, keyed by UUIDs and holding tokens that both name the generation.
TokenMap tokensFor(std::uint64_t generation) {
    TokenMap tokens;
    const unsigned long long g = generation;
    for (unsigned long long i = 0; i <= g % 61; ++i) {
        char id[64];
        char token[96];
        std::snprintf(id, sizeof id, "%08llX-0000-4000-8000-%012llX", g & 0xFFFFFFFFu, i);
        std::snprintf(token, sizeof token, "g%llu-c%llu-%032llu", g, i, g * 7919 + i);
        tokens.emplace(id, token);
    }
    return tokens;
}

PairingKeychain keychainIn(const std::string& folder) {
    return PairingKeychain(std::make_shared<FileSecretStore>(folder));
}

int writeGenerations(const std::string& folder, std::uint64_t first) {
    const PairingKeychain keychain = keychainIn(folder);
    for (std::uint64_t generation = first; generation < first + maxGenerationsPerRun;
         ++generation) {
        // Flushed before the write starts, so the parent knows which two contents are allowed.
        std::cout << generation << std::endl;
        auto written =
            keychain.write(encodeTokenMap(tokensFor(generation)), PairedClients::serviceIdentifier,
                           PairedClients::tokensAccount);
        if (!written) {
            std::cerr << "write " << generation << ": " << written.error().description() << "\n";
            return 1;
        }
    }
    return 0;
}

// Prints the generation the item holds; fails when it holds none of `allowed`.
int checkItem(const std::string& folder, const std::vector<std::uint64_t>& allowed) {
    auto stored =
        keychainIn(folder).read(PairedClients::serviceIdentifier, PairedClients::tokensAccount);
    if (!stored) {
        std::cerr << "read: " << stored.error().description() << "\n";
        return 1;
    }
    std::optional<TokenMap> tokens;
    if (stored->has_value()) {
        auto decoded = decodeTokenMap(**stored);
        if (!decoded) {
            std::cerr << "torn item (" << (*stored)->size()
                      << " bytes): " << decoded.error().description() << "\n";
            return 1;
        }
        tokens = std::move(*decoded);
    }
    for (const std::uint64_t generation : allowed) {
        if (generation == 0 ? !tokens : tokens == tokensFor(generation)) {
            std::cout << generation << "\n";
            return 0;
        }
    }
    std::cerr << "the item holds none of the allowed generations ("
              << (tokens ? std::to_string(tokens->size()) + " clients" : "no item") << ")\n";
    return 1;
}

int usage() {
    std::cerr << "usage: corvane-fault-writer write FOLDER FIRST\n"
                 "       corvane-fault-writer check FOLDER GENERATION...\n";
    return 2;
}

int run(const std::vector<std::string_view>& args) {
    std::vector<std::uint64_t> generations;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const char* const end = args[i].data() + args[i].size();
        std::uint64_t value = 0;
        const auto parsed = std::from_chars(args[i].data(), end, value);
        if (parsed.ec != std::errc() || parsed.ptr != end) {
            return usage();
        }
        generations.push_back(value);
    }
    if (generations.empty()) {
        return usage();
    }
    const std::string folder(args[1]);
    if (args[0] == "write" && generations.size() == 1 && generations[0] > 0) {
        return writeGenerations(folder, generations[0]);
    }
    return args[0] == "check" ? checkItem(folder, generations) : usage();
}

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    return corvane::run(std::vector<std::string_view>(argv + 1, argv + argc));
}

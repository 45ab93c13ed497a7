// Rewrites the pairing item through the file store, generation after generation, so that a
// parent can SIGKILL it at any moment; and says afterwards which whole generation the item holds.
// Each generation has its own size and tokens, so a torn or mixed item cannot pass for another.
//
//   corvane-fault-writer write FOLDER FIRST   announce each generation on stdout, then write it
//   corvane-fault-writer check FOLDER         print the generation the item holds (0: no item)

#include "pairing/PairedClients.h"
#include "pairing/PairingKeychain.h"
#include "pairing/TokenMapJson.h"
#include "platform/secrets/FileSecretStore.h"

#include <charconv>
#include <iostream>
#include <memory>
#include <string>

namespace corvane {
namespace {

// A writer whose parent has vanished must not fill the disk for ever.
constexpr unsigned long long maxGenerationsPerRun = 100000;

// 1 to 61 clients; client "0" holds "g<generation>-0".
TokenMap tokensFor(unsigned long long generation) {
    TokenMap tokens;
    for (unsigned long long i = 0; i <= generation % 61; ++i) {
        tokens.emplace(std::to_string(i),
                       "g" + std::to_string(generation) + "-" + std::to_string(i));
    }
    return tokens;
}

int write(const PairingKeychain& keychain, unsigned long long first) {
    for (auto generation = first; generation < first + maxGenerationsPerRun; ++generation) {
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

int check(const PairingKeychain& keychain) {
    auto stored = keychain.read(PairedClients::serviceIdentifier, PairedClients::tokensAccount);
    if (!stored) {
        std::cerr << "read: " << stored.error().description() << "\n";
        return 1;
    }
    unsigned long long generation = 0;
    auto tokens = decodeTokenMap(stored->value_or("{}"));
    if (tokens && tokens->contains("0")) {
        const std::string& first = tokens->at("0");
        std::from_chars(first.data() + 1, first.data() + first.size(), generation);
    }
    if (!tokens || (stored->has_value() && (generation == 0 || *tokens != tokensFor(generation)))) {
        std::cerr << "a torn item: " << stored->value_or("") << "\n";
        return 1;
    }
    std::cout << generation << "\n";
    return 0;
}

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    const std::string command = argc > 2 ? argv[1] : "";
    unsigned long long first = 0;
    if (argc == 4 && command == "write") {
        std::from_chars(argv[3], argv[3] + std::char_traits<char>::length(argv[3]), first);
    }
    if (first == 0 && (argc != 3 || command != "check")) {
        std::cerr << "usage: corvane-fault-writer write FOLDER FIRST | check FOLDER\n";
        return 2;
    }
    const corvane::PairingKeychain keychain(std::make_shared<corvane::FileSecretStore>(argv[2]));
    return first == 0 ? corvane::check(keychain) : corvane::write(keychain, first);
}

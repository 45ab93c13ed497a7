#include "app/SecretBackends.h"

#include "platform/secrets/FileSecretStore.h"
#include "platform/secrets/SecretStoreSet.h"

#ifdef CORVANE_HAVE_LIBSECRET
#include "platform/secrets/SecretServiceStore.h"
#endif

#include <cstdlib>
#include <string>

namespace corvane {

namespace {

std::expected<std::shared_ptr<FileSecretStore>, Error> makeFileStore() {
    auto folder = FileSecretStore::defaultFolder();
    if (!folder) {
        return std::unexpected(folder.error());
    }
    return std::make_shared<FileSecretStore>(std::move(*folder));
}

std::expected<std::shared_ptr<SecretStore>, Error> makeSecretServiceStore() {
#ifdef CORVANE_HAVE_LIBSECRET
    return std::make_shared<SecretServiceStore>();
#else
    return std::unexpected(Error("This build has no Secret Service support (CORVANE_SECRETS)"));
#endif
}

bool secretServiceAnswers() {
#ifdef CORVANE_HAVE_LIBSECRET
    return SecretServiceStore::available();
#else
    return false;
#endif
}

using InUse = SecretStoreSet::InUse;

template<typename Store>
std::shared_ptr<SecretStore> valueOrNull(const std::expected<std::shared_ptr<Store>, Error>& made) {
    return made ? *made : nullptr;
}

// Both stores as one, with `inUse` required to exist.
std::expected<SecretStoreChoice, Error>
combine(const std::expected<std::shared_ptr<SecretStore>, Error>& keyring,
        const std::expected<std::shared_ptr<FileSecretStore>, Error>& files, InUse inUse,
        std::string notice = {}) {
    if (inUse == InUse::keyring && !keyring) {
        return std::unexpected(keyring.error());
    }
    if (inUse == InUse::files && !files) {
        return std::unexpected(files.error());
    }
    return SecretStoreChoice{
        std::make_shared<SecretStoreSet>(valueOrNull(keyring), valueOrNull(files), inUse),
        std::move(notice)};
}

} // namespace

std::expected<SecretStoreChoice, Error> makeSecretStore() {
    const char* choice = std::getenv("CORVANE_SECRETS");
    return makeSecretStore(choice != nullptr ? std::string_view(choice) : std::string_view());
}

std::expected<SecretStoreChoice, Error> makeSecretStore(std::string_view choice) {
    const auto keyring = makeSecretServiceStore();
    const auto files = makeFileStore();
    if (choice.empty() || choice == "auto") {
        if (secretServiceAnswers()) {
            return combine(keyring, files, InUse::keyring);
        }
        const std::string folder = files ? (*files)->folder().string() : std::string();
        return combine(keyring, files, InUse::files,
                       "No keyring answered at launch: pairings are kept in files in " + folder);
    }
    if (choice == "secret-service") {
        return combine(keyring, files, InUse::keyring);
    }
    if (choice == "file") {
        return combine(keyring, files, InUse::files);
    }
    return std::unexpected(Error("Unknown CORVANE_SECRETS value \"" + std::string(choice) +
                                 "\" (use auto, secret-service or file)"));
}

} // namespace corvane

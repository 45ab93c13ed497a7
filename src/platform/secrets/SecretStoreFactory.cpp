#include "platform/secrets/SecretStoreFactory.h"

#include "platform/secrets/FileSecretStore.h"

#ifdef CORVANE_HAVE_LIBSECRET
#include "platform/secrets/SecretServiceStore.h"
#endif

#include <cstdlib>
#include <string>

namespace corvane {

namespace {

std::expected<std::shared_ptr<SecretStore>, Error> makeFileStore() {
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

} // namespace

std::expected<std::shared_ptr<SecretStore>, Error> makeSecretStore() {
    const char* choice = std::getenv("CORVANE_SECRETS");
    return makeSecretStore(choice != nullptr ? std::string_view(choice) : std::string_view());
}

std::expected<std::shared_ptr<SecretStore>, Error> makeSecretStore(std::string_view choice) {
    if (choice.empty() || choice == "auto") {
        return secretServiceAnswers() ? makeSecretServiceStore() : makeFileStore();
    }
    if (choice == "secret-service") {
        return makeSecretServiceStore();
    }
    if (choice == "file") {
        return makeFileStore();
    }
    return std::unexpected(Error("Unknown CORVANE_SECRETS value \"" + std::string(choice) +
                                 "\" (use auto, secret-service or file)"));
}

} // namespace corvane

#include "platform/secrets/FileSecretStore.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>

namespace corvane {

namespace {

constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;
constexpr std::string_view temporaryPrefix = ".pending~";

// Base64url has no '/' and no '.', which separates the two parts; temporary files carry a '~'.
std::string fileNamePart(const std::string& text) {
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string encoded(sodium_base64_ENCODED_LEN(text.size(), variant), '\0');
    sodium_bin2base64(encoded.data(), encoded.size(),
                      reinterpret_cast<const unsigned char*>(text.data()), text.size(), variant);
    encoded.pop_back();
    return encoded;
}

std::int32_t lastError() {
    return errno != 0 ? errno : EIO;
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // close() reports late write errors on some file systems, so writers check it.
    int closeChecked() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

std::int32_t writeAll(int fd, const Bytes& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        written += static_cast<std::size_t>(n);
    }
    return SecretStatus::success;
}

std::int32_t makeFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), folderMode) == 0 || errno == EEXIST) {
        return SecretStatus::success;
    }
    if (errno != ENOENT || !folder.has_parent_path() || folder.parent_path() == folder) {
        return lastError();
    }
    if (const std::int32_t status = makeFolder(folder.parent_path()); status != 0) {
        return status;
    }
    return ::mkdir(folder.c_str(), folderMode) == 0 || errno == EEXIST ? SecretStatus::success
                                                                       : lastError();
}

} // namespace

FileSecretStore::FileSecretStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::expected<std::filesystem::path, Error> FileSecretStore::defaultFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    // Relative XDG paths are invalid and must be ignored.
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::filesystem::path(dataHome) / "corvane";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "share" / "corvane";
    }
    return std::unexpected(Error("Neither XDG_DATA_HOME nor HOME is set to an absolute path"));
}

std::filesystem::path FileSecretStore::pathFor(const SecretItem& item) const {
    return folder_ / (fileNamePart(item.service) + "." + fileNamePart(item.account) + ".secret");
}

SecretLookup FileSecretStore::copyMatching(const SecretItem& item) {
    FileDescriptor file(::open(pathFor(item).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.valid()) {
        return SecretLookup{errno == ENOENT ? SecretStatus::itemNotFound : lastError(), {}};
    }
    Bytes data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SecretLookup{lastError(), {}};
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return SecretLookup{SecretStatus::success, std::move(data)};
}

std::int32_t FileSecretStore::update(const SecretItem& item, const Bytes& data) {
    const std::filesystem::path path = pathFor(item);
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        return errno == ENOENT ? SecretStatus::itemNotFound : lastError();
    }
    if (const std::int32_t status = ensureFolder(); status != 0) {
        return status;
    }
    removeStaleTemporaries();
    std::filesystem::path temp;
    if (const std::int32_t status = writeTemporary(data, temp); status != 0) {
        return status;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::int32_t status = lastError();
        ::unlink(temp.c_str());
        return status;
    }
    return syncFolder();
}

std::int32_t FileSecretStore::add(const SecretItem& item, const Bytes& data) {
    if (const std::int32_t status = ensureFolder(); status != 0) {
        return status;
    }
    removeStaleTemporaries();
    std::filesystem::path temp;
    if (const std::int32_t status = writeTemporary(data, temp); status != 0) {
        return status;
    }
    // link() never replaces an existing name, so an item that appeared meanwhile is kept.
    const int linked = ::link(temp.c_str(), pathFor(item).c_str());
    const std::int32_t status = linked == 0 ? SecretStatus::success : lastError();
    ::unlink(temp.c_str());
    if (status != 0) {
        return status;
    }
    return syncFolder();
}

std::int32_t FileSecretStore::remove(const SecretItem& item) {
    const bool removedStale = removeStaleTemporaries();
    if (::unlink(pathFor(item).c_str()) != 0) {
        const std::int32_t status = errno == ENOENT ? SecretStatus::itemNotFound : lastError();
        if (removedStale) {
            syncFolder();
        }
        return status;
    }
    return syncFolder();
}

std::optional<std::string> FileSecretStore::errorMessage(std::int32_t status) const {
    if (status <= 0) {
        return std::nullopt;
    }
    return "Pairing file in " + folder_.string() + ": " + std::system_category().message(status);
}

std::int32_t FileSecretStore::ensureFolder() const {
    if (const std::int32_t status = makeFolder(folder_); status != 0) {
        return status;
    }
    // The folder holds secrets: keep it private even if something widened it.
    return ::chmod(folder_.c_str(), folderMode) == 0 ? SecretStatus::success : lastError();
}

bool FileSecretStore::removeStaleTemporaries() const {
    bool removed = false;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder_, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with(temporaryPrefix)) {
            removed = ::unlink(entry->path().c_str()) == 0 || removed;
        }
    }
    return removed;
}

std::int32_t FileSecretStore::syncFolder() const {
    FileDescriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid() || ::fsync(folder.get()) != 0) {
        return lastError();
    }
    return SecretStatus::success;
}

std::int32_t FileSecretStore::writeTemporary(const Bytes& data,
                                             std::filesystem::path& tempPath) const {
    std::string pattern = (folder_ / (std::string(temporaryPrefix) + "XXXXXX")).string();
    FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!file.valid()) {
        return lastError();
    }
    tempPath = pattern;
    std::int32_t status =
        ::fchmod(file.get(), fileMode) == 0 ? writeAll(file.get(), data) : lastError();
    if (status == 0 && ::fsync(file.get()) != 0) {
        status = lastError();
    }
    if (file.closeChecked() != 0 && status == 0) {
        status = lastError();
    }
    if (status != 0) {
        ::unlink(tempPath.c_str());
    }
    return status;
}

} // namespace corvane

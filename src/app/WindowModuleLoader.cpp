#include "app/WindowModuleLoader.h"

#include <QLibrary>
#include <QString>
#include <filesystem>
#include <system_error>
#include <vector>

namespace corvane {

namespace {

std::expected<const WindowModule*, Error> load(const std::filesystem::path& file) {
    QLibrary library(QString::fromStdString(file.string()));
    // Once loaded, the module stays for the life of the process: QLibrary never unloads on its
    // own, and the application it creates outlives this object.
    const auto entry = reinterpret_cast<WindowModuleEntry>(library.resolve(windowModuleEntryName));
    if (entry == nullptr) {
        return std::unexpected(Error(library.errorString().toStdString()));
    }
    return entry();
}

std::expected<std::filesystem::path, Error> runningProgramFolder() {
    std::error_code failure;
    auto program = std::filesystem::read_symlink("/proc/self/exe", failure);
    if (failure) {
        return std::unexpected(Error("cannot find the running program: " + failure.message()));
    }
    return program.parent_path();
}

} // namespace

std::expected<const WindowModule*, Error> loadWindowModule() {
    const auto programFolder = runningProgramFolder();
    if (!programFolder) {
        return std::unexpected(programFolder.error());
    }
    const std::vector<std::filesystem::path> candidates{
        *programFolder / windowModuleFileName,
        (*programFolder / CORVANE_WINDOW_MODULE_DIR / windowModuleFileName).lexically_normal(),
    };
    for (const auto& candidate : candidates) {
        std::error_code unused;
        if (std::filesystem::exists(candidate, unused)) {
            return load(candidate);
        }
    }
    return std::unexpected(Error(std::string(windowModuleFileName) + " is neither in " +
                                 candidates[0].parent_path().string() + " nor in " +
                                 candidates[1].parent_path().string()));
}

} // namespace corvane

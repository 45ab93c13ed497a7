#include "app/InputBackends.h"

#include "input/mapping/KeyTable.h"

#ifdef CORVANE_HAVE_XTEST
#include "platform/x11/XTestInput.h"
#endif
#ifdef CORVANE_HAVE_UINPUT
#include "platform/uinput/UinputInput.h"
#endif
#ifdef CORVANE_HAVE_PORTAL
#include "platform/portal/PortalInput.h"

#include <QDBusConnection>
#endif

#include <cstdlib>
#include <string>

namespace corvane {
namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

// Backends whose trust only changes when asked are usable while they are trusted.
template<typename Backend>
InputBackend whileTrusted(std::string name, const std::shared_ptr<Backend>& backend,
                          std::string problem) {
    return {std::move(name), backend, backend,
            [backend, problem = std::move(problem)]() -> std::optional<std::string> {
                if (backend->isTrusted()) {
                    return std::nullopt;
                }
                return problem;
            }};
}

std::expected<InputBackend, Error> openXTest([[maybe_unused]] WorkspaceKeys keys) {
#ifdef CORVANE_HAVE_XTEST
    auto opened = XTestInput::open(nullptr, keys);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    return whileTrusted("XTEST", *opened, "the X display has no XTEST extension or went away");
#else
    return std::unexpected(Error("this build has no XTEST support"));
#endif
}

std::expected<InputBackend, Error> openUinput([[maybe_unused]] WorkspaceKeys keys) {
#ifdef CORVANE_HAVE_UINPUT
    auto opened = UinputInput::open("/dev/uinput", keys);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    return whileTrusted("uinput", *opened, "/dev/uinput is no longer writable");
#else
    return std::unexpected(Error("this build has no uinput support"));
#endif
}

std::expected<InputBackend, Error> openPortal([[maybe_unused]] WorkspaceKeys keys) {
#ifdef CORVANE_HAVE_PORTAL
    auto portal =
        std::make_shared<PortalInput>(QDBusConnection::sessionBus(), RestoreTokenStore(), keys);
    return InputBackend{"the RemoteDesktop portal", portal, portal,
                        [portal] { return portal->problem(); }};
#else
    return std::unexpected(Error("this build has no RemoteDesktop portal support"));
#endif
}

InputCandidate candidate(const std::string& name, WorkspaceKeys keys) {
    if (name == "portal") {
        return {name, [keys] { return openPortal(keys); }};
    }
    if (name == "xtest") {
        return {name, [keys] { return openXTest(keys); }};
    }
    return {name, [keys] { return openUinput(keys); }};
}

} // namespace

std::expected<std::shared_ptr<InputChoice>, Error> chooseInput(std::string_view choice,
                                                               std::ostream& log) {
    const bool wayland = InputChoice::isWaylandSession(environment("WAYLAND_DISPLAY"),
                                                       environment("XDG_SESSION_TYPE"));
    auto names = InputChoice::order(choice, wayland);
    if (!names) {
        return std::unexpected(names.error());
    }
    const WorkspaceKeys keys(KeyTable::workspaceKeysFor(environment("XDG_CURRENT_DESKTOP")));
    std::vector<InputCandidate> candidates;
    for (const std::string& name : *names) {
        candidates.push_back(candidate(name, keys));
    }
    auto chosen = std::make_shared<InputChoice>(std::move(candidates), log);
    const bool named = !choice.empty() && choice != "auto" && choice != "none";
    if (named && chosen->currentName() == "none") {
        return std::unexpected(Error(chosen->lastProblem()));
    }
    return chosen;
}

} // namespace corvane

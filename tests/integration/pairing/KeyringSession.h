#pragma once

#include "TempFolder.h"

#include <gio/gio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

extern char** environ;

namespace corvane::test {

// A private session bus with an unlocked gnome-keyring-daemon on it, run by
// `dbus-run-session` with HOME in a temporary folder. This process talks to it through
// DBUS_SESSION_BUS_ADDRESS. Everything started here is stopped by the destructor, and the
// helper script stops itself after two minutes whatever happens.
class KeyringSession {
public:
    KeyringSession() {
        if (!toolsPresent()) {
            skipReason_ =
                "dbus-run-session, dbus-send, gnome-keyring-daemon or secret-tool missing";
            return;
        }
        const std::string script = (folder_.path() / "session.sh").string();
        std::ofstream(script) << scriptText;
        const std::string config = "--config-file=" + (folder_.path() / "bus.conf").string();
        std::ofstream(folder_.path() / "bus.conf") << busConfigText;
        const std::string dir = folder_.path().string();
        char* argv[] = {const_cast<char*>("dbus-run-session"),
                        const_cast<char*>(config.c_str()),
                        const_cast<char*>("--"),
                        const_cast<char*>("sh"),
                        const_cast<char*>(script.c_str()),
                        const_cast<char*>(dir.c_str()),
                        nullptr};
        if (::posix_spawnp(&pid_, "dbus-run-session", nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            error_ = "could not start dbus-run-session";
            return;
        }
        waitForBus();
    }

    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    ~KeyringSession() {
        if (connection_ != nullptr) {
            g_object_unref(connection_);
        }
        if (pid_ > 0) {
            std::ofstream(folder_.path() / "stop") << "stop";
            if (!waitForExit(std::chrono::seconds(10))) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
    }

    // SIGKILLs the keyring daemon and waits until its bus name is gone.
    bool killKeyring() { return request("kill-keyring"); }
    // Starts a new keyring daemon on the same keyring files and waits until it owns the name.
    bool startKeyring() { return request("start-keyring"); }

    const std::optional<std::string>& skipReason() const { return skipReason_; }
    const std::optional<std::string>& error() const { return error_; }
    std::string log() const {
        std::ifstream in(folder_.path() / "session.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    // No service activation on this bus: a keyring that is down stays down (an activated one
    // would run with this process's HOME) until the test starts it again.
    static constexpr const char* busConfigText = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

    // Requests arrive as files in the folder: "kill-keyring", "start-keyring" (answered by
    // "keyring-done" or "keyring-failed") and "stop".
    static constexpr const char* scriptText = R"(dir=$1
exec >"$dir/session.log" 2>&1
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
mkdir -p -m 700 "$HOME" "$XDG_RUNTIME_DIR"
keyring=
start_keyring() {
  printf pw | gnome-keyring-daemon --unlock --components=secrets --foreground &
  keyring=$!
}
# Waits until org.freedesktop.secrets has an owner ($1 = true) or none ($1 = false).
wait_owner() {
  i=0
  until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q "$1"; do
    i=$((i + 1)); [ $i -ge 200 ] && return 1; sleep 0.05
  done
}
answer() { if "$@"; then touch "$dir/keyring-done"; else touch "$dir/keyring-failed"; fi; }
trap 'kill $keyring 2>/dev/null; wait $keyring 2>/dev/null' EXIT
trap 'exit 1' HUP INT TERM
start_keyring
wait_owner true || exit 3
printf %s "$DBUS_SESSION_BUS_ADDRESS" >"$dir/bus.tmp" && mv "$dir/bus.tmp" "$dir/bus"
i=0
while [ ! -e "$dir/stop" ] && [ $i -lt 2400 ]; do
  if [ -e "$dir/kill-keyring" ]; then
    rm -f "$dir/kill-keyring"
    kill -KILL $keyring; wait $keyring
    answer wait_owner false
  fi
  if [ -e "$dir/start-keyring" ]; then
    rm -f "$dir/start-keyring"
    start_keyring
    answer wait_owner true
  fi
  i=$((i + 1)); sleep 0.05
done
)";

    static bool toolsPresent() {
        return std::system("{ command -v dbus-run-session && command -v dbus-send && "
                           "command -v gnome-keyring-daemon && command -v secret-tool; } "
                           ">/dev/null 2>&1") == 0;
    }

    void waitForBus() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const auto busFile = folder_.path() / "bus";
        while (!std::filesystem::exists(busFile)) {
            if (std::chrono::steady_clock::now() > deadline || waitForExit({})) {
                error_ = "the keyring session did not come up: " + log();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::ifstream in(busFile);
        const std::string address(std::istreambuf_iterator<char>(in), {});
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        // The bus goes away before this process ends; by default GLib would exit the process
        // when its session connection closes.
        connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (connection_ == nullptr) {
            error_ = "could not connect to the keyring session bus";
            return;
        }
        g_dbus_connection_set_exit_on_close(connection_, FALSE);
    }

    bool request(const char* name) {
        const auto done = folder_.path() / "keyring-done";
        const auto failed = folder_.path() / "keyring-failed";
        std::filesystem::remove(done);
        std::filesystem::remove(failed);
        std::ofstream(folder_.path() / name) << name;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::filesystem::exists(done)) {
                return true;
            }
            if (std::filesystem::exists(failed)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // True once the session has ended (and been reaped).
    bool waitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    TempFolder folder_;
    pid_t pid_ = -1;
    GDBusConnection* connection_ = nullptr;
    std::optional<std::string> skipReason_;
    std::optional<std::string> error_;
};

} // namespace corvane::test

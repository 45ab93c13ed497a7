#pragma once

#include "TempFolder.h"

#include <gio/gio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

extern char** environ;

namespace corvane::test {

// A private session bus with an unlocked gnome-keyring-daemon on it, run by `dbus-run-session`
// with HOME in a temporary folder. This process talks to it through DBUS_SESSION_BUS_ADDRESS.
// The helper script keeps the daemon running while the file "up" exists; it ends when "stop"
// appears (the destructor) or after two minutes whatever happens, and takes the daemon with it.
class KeyringSession {
public:
    KeyringSession() {
        if (std::system("{ command -v dbus-run-session && command -v gnome-keyring-daemon && "
                        "command -v secret-tool; } >/dev/null 2>&1") != 0) {
            skipReason_ = "dbus-run-session, gnome-keyring-daemon or secret-tool missing";
            return;
        }
        std::ofstream(file("bus.conf")) << busConfigText;
        std::ofstream{file("up")};
        const std::string config = "--config-file=" + file("bus.conf");
        const std::string dir = folder_.path().string();
        const char* argv[] = {"dbus-run-session", config.c_str(), "--",        "sh",   "-c",
                              scriptText,         "session",      dir.c_str(), nullptr};
        if (::posix_spawnp(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
            error_ = "could not start dbus-run-session";
        } else if (!connect() || !setKeyringRunning(true)) {
            error_ = "the keyring session did not come up: " + log();
        }
    }

    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    ~KeyringSession() {
        if (connection_ != nullptr) {
            g_object_unref(connection_);
        }
        if (pid_ > 0) {
            std::ofstream{file("stop")};
        }
        if (!waitUntil([this] { return exited(); }, std::chrono::seconds(10))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Starts a daemon on the same keyring files, or SIGKILLs it, and waits until the bus agrees.
    bool setKeyringRunning(bool running) {
        if (connection_ == nullptr) {
            return false;
        }
        if (running) {
            std::ofstream{file("up")};
        } else {
            std::filesystem::remove(file("up"));
        }
        return waitUntil([&] { return secretsOwned() == running; }, std::chrono::seconds(20));
    }

    // Locks the login collection as a screen lock would, or unlocks it with its password as the
    // user would at a prompt (none can show on this bus).
    bool setCollectionLocked(bool locked) {
        constexpr const char* collection = "/org/freedesktop/secrets/collection/login";
        if (locked) {
            return call("org.freedesktop.Secret.Service", "Lock",
                        g_variant_new_parsed("([%o],)", collection));
        }
        GVariant* opened = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.secrets", "/org/freedesktop/secrets",
            "org.freedesktop.Secret.Service", "OpenSession",
            g_variant_new("(sv)", "plain", g_variant_new_string("")), G_VARIANT_TYPE("(vo)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (opened == nullptr) {
            return false;
        }
        const gchar* sessionPath = nullptr;
        g_variant_get(opened, "(v&o)", nullptr, &sessionPath);
        const bool unlocked = call(
            "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "UnlockWithMasterPassword",
            g_variant_new("(o(o@ay@ays))", collection, sessionPath,
                          g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                          g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "pw", 2, 1),
                          "text/plain"));
        g_variant_unref(opened);
        return unlocked;
    }

    const std::optional<std::string>& skipReason() const { return skipReason_; }
    const std::optional<std::string>& error() const { return error_; }
    std::string log() const {
        std::ifstream in(file("session.log"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    // No service activation on this bus: a keyring that is down stays down (an activated one
    // would run with this process's HOME) until the test starts it again.
    static constexpr const char* busConfigText = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
)";

    static constexpr const char* scriptText = R"(dir=$1
exec >"$dir/session.log" 2>&1
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
mkdir -p -m 700 "$HOME" "$XDG_RUNTIME_DIR"
keyring=
trap 'kill $keyring 2>/dev/null; wait $keyring 2>/dev/null' EXIT
trap 'exit 1' HUP INT TERM
printf %s "$DBUS_SESSION_BUS_ADDRESS" >"$dir/bus.tmp" && mv "$dir/bus.tmp" "$dir/bus"
i=0
while [ ! -e "$dir/stop" ] && [ $i -lt 2400 ]; do
  if [ -e "$dir/up" ] && [ -z "$keyring" ]; then
    printf pw | gnome-keyring-daemon --unlock --components=secrets --foreground &
    keyring=$!
  elif [ ! -e "$dir/up" ] && [ -n "$keyring" ]; then
    kill -KILL $keyring; wait $keyring; keyring=
  fi
  i=$((i + 1)); sleep 0.05
done
)";

    std::string file(const char* name) const { return (folder_.path() / name).string(); }

    static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // True once the session has ended (and been reaped), or was never started.
    bool exited() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
        }
        return pid_ <= 0;
    }

    bool connect() {
        const std::string bus = file("bus");
        if (!waitUntil([&] { return std::filesystem::exists(bus) || exited(); },
                       std::chrono::seconds(20)) ||
            exited()) {
            return false;
        }
        std::ifstream in(bus);
        const std::string address(std::istreambuf_iterator<char>(in), {});
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (connection_ != nullptr) {
            // The bus goes away before this process ends; by default GLib would exit the
            // process when its session connection closes.
            g_dbus_connection_set_exit_on_close(connection_, FALSE);
        }
        return connection_ != nullptr;
    }

    bool call(const char* interface, const char* method, GVariant* arguments) {
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.secrets", "/org/freedesktop/secrets", interface, method,
            arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
        return reply != nullptr;
    }

    bool secretsOwned() {
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
            G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        gboolean owned = FALSE;
        if (reply != nullptr) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        return owned != FALSE;
    }

    TempFolder folder_;
    pid_t pid_ = -1;
    GDBusConnection* connection_ = nullptr;
    std::optional<std::string> skipReason_;
    std::optional<std::string> error_;
};

} // namespace corvane::test

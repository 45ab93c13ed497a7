// SecretServiceStore against a gnome-keyring-daemon on a private session bus, with secret-tool,
// a client of the keyring independent of ours, as the witness. The keyring going away, coming
// back and being locked, and the store chosen by default, are the fault scenarios' to show.
#include "platform/secrets/SecretServiceStore.h"

#include "SecretStoreContract.h"
#include "integration/Processes.h"

namespace corvane {
namespace {

// One keyring for the whole process: GLib and libsecret keep their first session-bus connection.
struct PrivateKeyring {
    QTemporaryDir home;
    QProcess bus, keyring;
    PrivateKeyring() {
        // The keyring's unlock prompt, started by the bus, must find no display to show on.
        qunsetenv("DISPLAY");
        test::start(bus, "dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        qputenv("DBUS_SESSION_BUS_ADDRESS", test::readLine(bus));
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
        test::start(keyring, "sh",
                    {"-c", "printf pw | exec gnome-keyring-daemon --unlock --components=secrets "
                           "--foreground"});
        // Asking the store first would have the bus start a keyring of its own.
        test::run("gdbus wait --session --timeout 20 org.freedesktop.secrets");
    }
    ~PrivateKeyring() {
        test::stop(keyring);
        test::stop(bus);
    }
};

class SecretServiceStoreTest : public testing::Test {
protected:
    void SetUp() override { static PrivateKeyring keyring; }
    SecretServiceStore store;
};

TEST_F(SecretServiceStoreTest, Operations_FollowTheStoreContract) {
    test::expectStoreContract(store, [](const SecretItem& item) {
        return test::run(QString::fromStdString("secret-tool lookup service '" + item.service +
                                                "' account '" + item.account + "'"))
            .toStdString();
    });
}

TEST_F(SecretServiceStoreTest, NamesThatAreNotText_AreRefusedNotTruncated) {
    ASSERT_EQ(store.add({"dev.corvane.test.nul", "a"}, "real"), SecretStatus::success);
    const SecretItem truncated{"dev.corvane.test.nul", std::string("a\0b", 3)};
    EXPECT_EQ(store.copyMatching(truncated).status, SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store.update(truncated, "x"), SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store.remove({"dev.corvane.test.nul", "\xff"}),
              SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store.copyMatching({"dev.corvane.test.nul", "a"}).data, "real");
}

// A locked keyring is neither empty nor writable. Its unlock prompt cannot show here, as when the
// user dismisses it; the fault scenario keyring-locked answers the real prompt both ways.
TEST_F(SecretServiceStoreTest, LockedKeyring_IsNeverTakenForEmpty) {
    const SecretItem item{"dev.corvane.test.locked", "clients"};
    ASSERT_EQ(store.add(item, "{}"), SecretStatus::success);
    test::run("gdbus call --session --dest org.freedesktop.secrets --object-path "
              "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock "
              "\"['/org/freedesktop/secrets/collection/login']\"");
    EXPECT_EQ(store.copyMatching(item).status, SecretServiceStore::locked);
    EXPECT_EQ(store.update(item, "x"), SecretServiceStore::locked);
    EXPECT_EQ(store.remove(item), SecretServiceStore::locked);
}

} // namespace
} // namespace corvane

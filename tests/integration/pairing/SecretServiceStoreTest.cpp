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
        test::start(bus, "dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        qputenv("DBUS_SESSION_BUS_ADDRESS", test::readLine(bus));
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
        test::start(keyring, "gnome-keyring-daemon",
                    {"--unlock", "--components=secrets", "--foreground"});
        keyring.write("pw");
        keyring.closeWriteChannel();
        // Asking the store first would have the bus start a keyring of its own.
        test::spinUntil([] {
            return test::run("dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus"
                             " /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner"
                             " string:org.freedesktop.secrets")
                .contains("true");
        });
    }
    ~PrivateKeyring() {
        test::stop(keyring);
        test::stop(bus);
    }
};

class SecretServiceStoreTest : public testing::Test {
protected:
    void SetUp() override {
        static PrivateKeyring keyring;
        ASSERT_TRUE(SecretServiceStore::available());
    }
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

} // namespace
} // namespace corvane

#include "platform/secrets/FileSecretStore.h"

#include "TempFolder.h"
#include "app/SecretBackends.h"
#include "fakes/FakeSecretStore.h"
#include "platform/secrets/SecretStoreSet.h"
#include "platform/system/QSettingsDefaults.h"
#include "platform/system/SecurityLog.h"
#include "platform/system/SodiumRandom.h"
#include "support/QtEventLoop.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <vector>

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct stat statOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

mode_t modeOf(const fs::path& path) {
    return statOf(path).st_mode & 07777;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

class FileSecretStoreTest : public testing::Test {
protected:
    test::TempFolder temp;
    fs::path folder = temp.path() / "data" / "corvane";
    FileSecretStore store{folder};
    SecretItem item{"dev.corvane.receiver.mac.pairings", "clients"};

    Bytes read(const SecretItem& which) {
        SecretLookup lookup = store.copyMatching(which);
        EXPECT_EQ(lookup.status, SecretStatus::success);
        return lookup.data.value_or("<missing>");
    }
};

TEST_F(FileSecretStoreTest, Operations_FollowTheStoreContract) {
    EXPECT_EQ(store.copyMatching(item).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store.update(item, "x"), SecretStatus::itemNotFound);
    EXPECT_EQ(store.remove(item), SecretStatus::itemNotFound);
    EXPECT_FALSE(fs::exists(store.pathFor(item)));

    ASSERT_EQ(store.add(item, "first"), SecretStatus::success);
    EXPECT_EQ(read(item), "first");
    EXPECT_EQ(store.add(item, "clobber"), EEXIST);
    EXPECT_EQ(read(item), "first");

    for (const Bytes& data : {std::string("second\0!", 8), Bytes(), Bytes(100000, 'z')}) {
        SCOPED_TRACE(data.size());
        const ino_t previous = statOf(store.pathFor(item)).st_ino;
        ASSERT_EQ(store.update(item, data), SecretStatus::success);
        EXPECT_EQ(read(item), data);
        // A new file renamed over the old, not rewritten in place, and nothing left beside it.
        EXPECT_NE(statOf(store.pathFor(item)).st_ino, previous);
        EXPECT_EQ(filesIn(folder), std::vector<fs::path>{store.pathFor(item)});
    }

    EXPECT_EQ(store.remove(item), SecretStatus::success);
    EXPECT_EQ(store.remove(item), SecretStatus::itemNotFound);
    EXPECT_EQ(store.copyMatching(item).status, SecretStatus::itemNotFound);
}

TEST_F(FileSecretStoreTest, Permissions_FolderIsPrivateAndFilesOwnerOnly) {
    const mode_t previous = ::umask(0);
    const int added = store.add(item, "secret");
    ::umask(previous);
    ASSERT_EQ(added, SecretStatus::success);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder.parent_path()), 0700u);
    EXPECT_EQ(modeOf(store.pathFor(item)), 0600u);

    fs::permissions(folder, fs::perms::all);
    ASSERT_EQ(store.update(item, "again"), SecretStatus::success);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(store.pathFor(item)), 0600u);
}

// What a writer killed between creating its temporary file and renaming it leaves behind.
void plantStaleTemporary(const fs::path& folder, const std::string& suffix) {
    std::ofstream(folder / (".pending~" + suffix)) << R"({"client":"old-token"})";
}

TEST_F(FileSecretStoreTest, StaleTemporaries_GoWithTheNextWriteAndWithRemove) {
    const SecretItem other{"dev.corvane.other", "clients"};
    ASSERT_EQ(store.add(other, "kept"), SecretStatus::success);

    plantStaleTemporary(folder, "aB3xYz");
    plantStaleTemporary(folder, "Qq0000");
    ASSERT_EQ(store.add(item, "first"), SecretStatus::success);
    const std::vector<fs::path> files = filesIn(folder);
    EXPECT_EQ(std::set<fs::path>(files.begin(), files.end()),
              (std::set<fs::path>{store.pathFor(item), store.pathFor(other)}));

    plantStaleTemporary(folder, "u7u7u7");
    ASSERT_EQ(store.update(item, "second"), SecretStatus::success);
    EXPECT_EQ(filesIn(folder).size(), 2u);

    // The token in a stale file must not outlive forgetting the item, nor a forget that
    // finds the item already gone.
    plantStaleTemporary(folder, "r3m0v3");
    ASSERT_EQ(store.remove(item), SecretStatus::success);
    plantStaleTemporary(folder, "again1");
    EXPECT_EQ(store.remove(item), SecretStatus::itemNotFound);
    EXPECT_EQ(filesIn(folder), std::vector<fs::path>{store.pathFor(other)});
    EXPECT_EQ(read(other), "kept");
}

TEST_F(FileSecretStoreTest, PlantedSymlink_IsNeitherReadNorWrittenThrough) {
    ASSERT_EQ(store.add(item, "mine"), SecretStatus::success);
    const fs::path target = temp.path() / "elsewhere";
    std::ofstream(target) << "untouched";
    const fs::path path = store.pathFor(item);
    fs::remove(path);
    fs::create_symlink(target, path);

    EXPECT_EQ(store.copyMatching(item).status, ELOOP);
    EXPECT_EQ(store.update(item, "replaced"), SecretStatus::success);
    EXPECT_FALSE(fs::is_symlink(path));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "untouched");
}

TEST_F(FileSecretStoreTest, HostileNames_StayInsideTheFolderAndNeverCollide) {
    const std::vector<SecretItem> items = {{"../../escape", "clients"},
                                           {"/", "/"},
                                           {"..", ".."},
                                           {"", ""},
                                           {"a.b", "c"},
                                           {"a", "b.c"},
                                           {std::string("a\0b", 3), "c"},
                                           {"a", std::string("\0bc", 3)},
                                           {"~pending", "x"},
                                           {"caf\xc3\xa9", "\xff\xfe"}};
    std::set<fs::path> paths;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const fs::path path = store.pathFor(items[i]);
        EXPECT_EQ(path.parent_path(), folder);
        EXPECT_NE(path.filename(), "..");
        paths.insert(path);
        ASSERT_EQ(store.add(items[i], std::to_string(i)), SecretStatus::success) << i;
    }
    EXPECT_EQ(paths.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(read(items[i]), std::to_string(i));
    }
    EXPECT_EQ(filesIn(folder).size(), items.size());
    EXPECT_EQ(filesIn(temp.path()).size(), 1u); // only "data"
}

TEST_F(FileSecretStoreTest, OverlongNames_FailWithAReadableStatus) {
    const SecretItem huge{std::string(400, 's'), "clients"};
    const int status = store.add(huge, "x");
    EXPECT_EQ(status, ENAMETOOLONG);
    const std::optional<std::string> message = store.errorMessage(status);
    ASSERT_TRUE(message.has_value());
    EXPECT_NE(message->find("too long"), std::string::npos) << *message;
    EXPECT_FALSE(store.errorMessage(SecretStatus::itemNotFound).has_value());
}

// Sets (nullptr: unsets) one environment variable until the end of the scope.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        set(name, value);
    }
    ~EnvironmentVariable() { set(name_, old_ ? old_->c_str() : nullptr); }

private:
    static void set(const char* name, const char* value) {
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }

    const char* name_;
    std::optional<std::string> old_;
};

TEST(SecretStoreFactoryTest, Choice_FileAutoWithoutBusAndUnknown) {
    test::TempFolder temp;
    const EnvironmentVariable dataHome("XDG_DATA_HOME", temp.path().c_str());
    const EnvironmentVariable bus("DBUS_SESSION_BUS_ADDRESS",
                                  ("unix:path=" + (temp.path() / "no-bus").string()).c_str());

    for (const char* choice : {"file", "auto", ""}) {
        const auto chosen = makeSecretStore(choice);
        ASSERT_TRUE(chosen.has_value()) << choice << ": " << chosen.error().description();
        const auto* set = dynamic_cast<SecretStoreSet*>(chosen->store.get());
        ASSERT_NE(set, nullptr) << choice;
        const auto* file = dynamic_cast<FileSecretStore*>(set->inUse().get());
        ASSERT_NE(file, nullptr) << choice;
        EXPECT_EQ(file->folder(), temp.path() / "corvane");
        // Only the fallback the user did not ask for is announced, with where the files are.
        EXPECT_EQ(chosen->notice.find(file->folder().string()) != std::string::npos,
                  choice != std::string_view("file"))
            << choice << ": " << chosen->notice;
    }
    const auto unknown = makeSecretStore("keychain");
    ASSERT_FALSE(unknown.has_value());
    EXPECT_NE(unknown.error().description().find("keychain"), std::string::npos);

    const EnvironmentVariable choice("CORVANE_SECRETS", "File");
    EXPECT_FALSE(makeSecretStore().has_value());
}

// The fault scenario file-fallback-forget covers the console's forget and the note it leaves.
TEST_F(FileSecretStoreTest, StoreSet_KeyringInUse_ForgetRemovesALeftoverFileAndNamesWhoFailed) {
    const auto keyring = std::make_shared<test::FakeSecretStore>();
    const auto files = std::make_shared<FileSecretStore>(folder);
    SecretStoreSet desktop(keyring, files, SecretStoreSet::InUse::keyring);
    ASSERT_EQ(desktop.add(item, "paired"), SecretStatus::success);
    ASSERT_EQ(files->add(item, "left behind by a fallback"), SecretStatus::success);
    EXPECT_EQ(desktop.remove(item), SecretStatus::success);
    EXPECT_FALSE(keyring->item(item.service, item.account));
    EXPECT_EQ(files->copyMatching(item).status, SecretStatus::itemNotFound);

    // Statuses of the two stores overlap; a failure is described by the store it came from.
    keyring->removeStatus = EACCES;
    keyring->messages[EACCES] = "The keyring said no";
    EXPECT_EQ(desktop.remove(item), EACCES);
    EXPECT_EQ(desktop.errorMessage(EACCES), "The keyring said no");
}

TEST(SecretStoreFactoryTest, DefaultFolder_FallsBackToHome) {
    const EnvironmentVariable dataHome("XDG_DATA_HOME", "relative/is/ignored");
    const EnvironmentVariable home("HOME", "/home/someone");
    EXPECT_EQ(FileSecretStore::defaultFolder().value(), "/home/someone/.local/share/corvane");
    const EnvironmentVariable noHome("HOME", nullptr);
    EXPECT_FALSE(FileSecretStore::defaultFolder().has_value());
}

TEST(QSettingsDefaultsTest, Strings_PersistUnderXdgConfigHome) {
    test::TempFolder temp;
    const EnvironmentVariable configHome("XDG_CONFIG_HOME", temp.path().c_str());
    {
        QSettingsDefaults defaults;
        EXPECT_FALSE(defaults.string("corvaneHostID").has_value());
        defaults.setString("corvaneHostID", "ABCDEF01-2345-6789-ABCD-EF0123456789");
        defaults.setString("other", "caf\xc3\xa9");
    }
    EXPECT_TRUE(fs::exists(temp.path() / "corvane" / "corvane.ini"));
    const QSettingsDefaults reopened;
    EXPECT_EQ(reopened.string("corvaneHostID"), "ABCDEF01-2345-6789-ABCD-EF0123456789");
    EXPECT_EQ(reopened.string("other"), "caf\xc3\xa9");
}

std::vector<std::string> securityLines;

void keepSecurityLines(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (std::string_view(context.category) == "corvane.security") {
        securityLines.push_back(message.toStdString());
    }
}

TEST(SecurityLogTest, Outcomes_NameThePeer_RunsFromOneHostAreCountedNotRepeated) {
    test::qtApplication();
    securityLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepSecurityLines);
    {
        SecurityLog log;
        for (const char* peer : {"192.0.2.7:50001", "192.0.2.7:50002", "192.0.2.7:50003"}) {
            log.record({ClientEvent::rejected, Transport::tcp, peer});
        }
        log.record({ClientEvent::pairedWithCode, Transport::tcp, "[2001:db8::7]:50004"});
        log.record({ClientEvent::budgetSpent, Transport::bluetooth, "central-a"});
        log.record({ClientEvent::budgetSpent, Transport::bluetooth, "central-a"});
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(securityLines,
              (std::vector<std::string>{
                  "TCP 192.0.2.7:50001 rejected: no right code or token",
                  "TCP 192.0.2.7 rejected: no right code or token: 2 more time(s), the last from "
                  "192.0.2.7:50003",
                  "TCP [2001:db8::7]:50004 paired with the code",
                  "Bluetooth central central-a rejected unread: too many wrong codes, pairing by "
                  "code is paused",
                  "Bluetooth central central-a rejected unread: too many wrong codes, pairing by "
                  "code is paused: 1 more time(s), the last from central-a",
              }));
}

TEST(SodiumRandomTest, Fill_GivesFreshBytesEveryCall) {
    SodiumRandom random;
    std::array<std::uint8_t, 32> first{};
    std::array<std::uint8_t, 32> second{};
    ASSERT_TRUE(random.fill(first));
    ASSERT_TRUE(random.fill(second));
    EXPECT_NE(first, second);
    EXPECT_NE(first, (std::array<std::uint8_t, 32>{}));
    EXPECT_TRUE(random.fill(std::span<std::uint8_t>()));
}

} // namespace
} // namespace corvane

// The backends that keep pairing state on this machine without a daemon: the pairing files and
// the random bytes; and the security log beside them.
#include "platform/secrets/FileSecretStore.h"

#include "SecretStoreContract.h"
#include "app/SecretBackends.h"
#include "platform/system/SecurityLog.h"
#include "platform/system/SodiumRandom.h"
#include "support/QtEventLoop.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <set>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::pathOf;

Bytes contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct stat statOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

std::set<fs::path> filesIn(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

class FileSecretStoreTest : public testing::Test {
protected:
    QTemporaryDir temp;
    fs::path folder = pathOf(temp) / "data" / "corvane";
    FileSecretStore store{folder};
};

TEST_F(FileSecretStoreTest, Operations_FollowTheStoreContract) {
    test::expectStoreContract(
        store, [&](const SecretItem& item) { return contentOf(store.pathFor(item)); });
}

// Private files, never written through a planted link; a forget leaves nothing beside the other
// items, not even the temporary file of a writer killed before its rename, whose token would
// outlive it. That each write replaces the item whole is the SIGKILL fault scenario's.
TEST_F(FileSecretStoreTest, Writes_PrivateAndNeverThroughALink_ForgetLeavesNoStaleCopies) {
    const SecretItem item{"s", "mine"}, other{"s", "other"};
    const mode_t umask = ::umask(0);
    ASSERT_EQ(store.add(other, "kept"), SecretStatus::success);
    ::umask(umask);
    const auto mode = [](const fs::path& path) { return statOf(path).st_mode & 07777; };
    EXPECT_EQ(mode(folder), 0700u);
    EXPECT_EQ(mode(folder.parent_path()), 0700u);
    EXPECT_EQ(mode(store.pathFor(other)), 0600u);
    fs::permissions(folder, fs::perms::all);
    ASSERT_EQ(store.add(item, "first"), SecretStatus::success);
    EXPECT_EQ(mode(folder), 0700u);

    const fs::path elsewhere = pathOf(temp) / "elsewhere";
    std::ofstream(elsewhere) << "untouched";
    fs::remove(store.pathFor(item));
    fs::create_symlink(elsewhere, store.pathFor(item));
    EXPECT_EQ(store.copyMatching(item).status, ELOOP);
    EXPECT_EQ(store.update(item, "replaced"), SecretStatus::success);
    EXPECT_EQ(contentOf(elsewhere), "untouched");
    EXPECT_EQ(contentOf(store.pathFor(item)), "replaced");

    for (const std::int32_t status : {SecretStatus::success, SecretStatus::itemNotFound}) {
        std::ofstream(folder / ".pending~aB3xYz") << "old-token";
        EXPECT_EQ(store.remove(item), status);
    }
    EXPECT_EQ(filesIn(folder), std::set{store.pathFor(other)});
}

TEST_F(FileSecretStoreTest, HostileNames_StayInsideTheFolderApart_OverlongOnesFailReadably) {
    // clang-format off
    const std::vector<SecretItem> items = {
        {"../../escape", "clients"}, {"/", "/"}, {"..", ".."}, {"", ""}, {"a.b", "c"}, {"a", "b.c"},
        {std::string("a\0b", 3), "c"}, {"~pending", "x"}, {"caf\xc3\xa9", "\xff"}};
    // clang-format on
    std::set<fs::path> paths;
    for (std::size_t i = 0; i < items.size(); ++i) {
        paths.insert(store.pathFor(items[i]));
        EXPECT_EQ(store.pathFor(items[i]).parent_path(), folder) << i;
        ASSERT_EQ(store.add(items[i], std::to_string(i)), SecretStatus::success) << i;
    }
    EXPECT_EQ(paths, filesIn(folder));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(store.copyMatching(items[i]).data, std::to_string(i));
    }
    const std::int32_t overlong = store.add({std::string(400, 's'), "clients"}, "x");
    EXPECT_EQ(overlong, ENAMETOOLONG);
    EXPECT_NE(store.errorMessage(overlong).value_or("").find("too long"), std::string::npos);
}

// Which store each choice gives is the scenarios' to show; here, what they do not try.
TEST(SecretStoreFactoryTest, UnknownChoicesFail_FilesGoUnderHomeWithoutAnAbsoluteDataHome) {
    for (const char* unknown : {"keychain", "File"}) {
        const auto refused = makeSecretStore(unknown);
        ASSERT_FALSE(refused.has_value());
        EXPECT_NE(refused.error().description().find(unknown), std::string::npos);
    }
    // Each test runs in a process of its own (and nothing after this one minds).
    qputenv("XDG_DATA_HOME", "relative/is/ignored");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(FileSecretStore::defaultFolder().value(), "/home/someone/.local/share/corvane");
    qunsetenv("HOME");
    EXPECT_FALSE(FileSecretStore::defaultFolder().has_value());
}

TEST(SodiumRandomTest, Fill_GivesFreshBytesEveryCall) {
    std::array<std::uint8_t, 32> first{}, second{};
    ASSERT_TRUE(SodiumRandom().fill(first) && SodiumRandom().fill(second));
    EXPECT_NE(first, second);
}

std::vector<std::string> securityLines;

TEST(SecurityLogTest, Outcomes_NameThePeer_RunsFromOneHostAreCountedNotRepeated) {
    test::qtApplication();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (std::string_view(context.category) == "corvane.security") {
                securityLines.push_back(message.toStdString());
            }
        });
    {
        SecurityLog log;
        for (const char* peer : {"192.0.2.7:50001", "192.0.2.7:50002", "192.0.2.7:50003"}) {
            log.record({ClientEvent::rejected, Transport::tcp, peer});
        }
        log.record({ClientEvent::pairedWithCode, Transport::tcp, "[2001:db8::7]:50004"});
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(securityLines,
              (std::vector<std::string>{
                  "TCP 192.0.2.7:50001 rejected: no right code or token",
                  "TCP 192.0.2.7 rejected: no right code or token: 2 more time(s), the last from "
                  "192.0.2.7:50003",
                  "TCP [2001:db8::7]:50004 paired with the code",
              }));
}

} // namespace
} // namespace corvane

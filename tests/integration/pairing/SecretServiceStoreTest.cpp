#include "platform/secrets/SecretServiceStore.h"

#include "KeyringSession.h"
#include "app/SecretBackends.h"
#include "fakes/FakeUserDefaults.h"
#include "pairing/PairedClients.h"
#include "pairing/PairingKeychain.h"
#include "platform/secrets/SecretStoreSet.h"
#include "platform/system/SodiumRandom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

namespace corvane {
namespace {

// What secret-tool, a client of the keyring independent of ours, finds for the item.
std::string secretToolLookup(std::string_view service, std::string_view account) {
    std::string output;
    const std::string command = "timeout 20 secret-tool lookup service '" + std::string(service) +
                                "' account '" + std::string(account) + "'";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer{};
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
            output.append(buffer.data(), n);
        }
        ::pclose(pipe);
    }
    return output;
}

// One keyring session for the whole process: GLib and libsecret keep their first session-bus
// connection for good, so a second bus could not be reached from here anyway.
test::KeyringSession& keyringSession() {
    static test::KeyringSession session;
    return session;
}

class SecretServiceStoreTest : public testing::Test {
protected:
    void SetUp() override {
        test::KeyringSession& session = keyringSession();
        if (session.skipReason()) {
            GTEST_SKIP() << *session.skipReason();
        }
        ASSERT_FALSE(session.error().has_value()) << *session.error();
        // A test that stopped the keyring and failed before starting it again leaves it down.
        ASSERT_TRUE(session.setKeyringRunning(true)) << session.log();
    }

    std::shared_ptr<SecretServiceStore> store = std::make_shared<SecretServiceStore>();
};

TEST_F(SecretServiceStoreTest, Operations_FollowTheStoreContract) {
    const SecretItem item{"dev.corvane.test.contract", "clients"};
    const SecretItem sibling{"dev.corvane.test.contract", "others"};
    EXPECT_EQ(store->copyMatching(item).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store->update(item, "x"), SecretStatus::itemNotFound);
    EXPECT_EQ(store->copyMatching(item).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store->remove(item), SecretStatus::itemNotFound);

    ASSERT_EQ(store->add(item, "first"), SecretStatus::success);
    ASSERT_EQ(store->add(sibling, "sibling"), SecretStatus::success);
    EXPECT_EQ(store->add(item, "clobber"), SecretServiceStore::duplicateItem);
    EXPECT_TRUE(store->errorMessage(SecretServiceStore::duplicateItem).has_value());
    EXPECT_EQ(store->copyMatching(item).data, "first");

    ASSERT_EQ(store->update(item, "second"), SecretStatus::success);
    EXPECT_EQ(store->copyMatching(item).data, "second");
    EXPECT_EQ(store->copyMatching(sibling).data, "sibling");

    EXPECT_EQ(store->remove(item), SecretStatus::success);
    EXPECT_EQ(store->remove(item), SecretStatus::itemNotFound);
    EXPECT_EQ(store->copyMatching(sibling).data, "sibling");
}

TEST_F(SecretServiceStoreTest, NamesThatAreNotText_AreRefusedNotTruncated) {
    ASSERT_EQ(store->add({"dev.corvane.test.nul", "a"}, "real"), SecretStatus::success);
    const SecretItem truncated{"dev.corvane.test.nul", std::string("a\0b", 3)};
    EXPECT_EQ(store->copyMatching(truncated).status, SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store->update(truncated, "x"), SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store->remove(truncated), SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store->remove({"dev.corvane.test.nul", "\xff"}),
              SecretServiceStore::invalidAttributes);
    EXPECT_EQ(store->copyMatching({"dev.corvane.test.nul", "a"}).data, "real");
}

TEST_F(SecretServiceStoreTest, PairingKeychain_WriteReadReplaceDelete) {
    const PairingKeychain keychain(store);
    const std::string service = "dev.corvane.test.roundtrip";
    const std::pair<const char*, Bytes> payloads[] = {
        {"empty object", "{}"},
        {"tokens", R"({"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D":"x+/="})"},
        {"unicode", "caf\xc3\xa9 \xe2\x80\xa6 \"quoted\"\n"},
        {"embedded nul", std::string("nul\0inside", 10)},
        {"large", Bytes(65536, 'k')}};
    for (const auto& [name, bytes] : payloads) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(keychain.write("placeholder", service, "clients").has_value());
        const auto written = keychain.write(bytes, service, "clients");
        ASSERT_TRUE(written.has_value()) << written.error().description();
        const auto read = keychain.read(service, "clients");
        ASSERT_TRUE(read.has_value()) << read.error().description();
        EXPECT_EQ(read->value_or("<missing>"), bytes);
        EXPECT_EQ(secretToolLookup(service, "clients"), bytes);
        EXPECT_TRUE(keychain.deleteItem(service, "clients").has_value());
        EXPECT_TRUE(keychain.deleteItem(service, "clients").has_value());
        EXPECT_FALSE(keychain.read(service, "clients")->has_value());
    }
}

TEST_F(SecretServiceStoreTest, PairedClients_SurviveARestartAndSecretToolSeesTheTokens) {
    auto defaults = std::make_shared<test::FakeUserDefaults>();
    const PairingStorage storage{store, defaults, std::make_shared<SodiumRandom>()};
    const std::string clientA = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
    const std::string clientB = "abcdef01-2345-4789-abcd-ef0123456789";

    auto registry = PairedClients::create(storage);
    ASSERT_TRUE(registry.has_value()) << registry.error().description();
    const std::string tokenA = registry->pair(clientA).value();
    const std::string tokenB = registry->pair(clientB).value();

    const auto stored = nlohmann::json::parse(
        secretToolLookup(PairedClients::serviceIdentifier, PairedClients::tokensAccount));
    EXPECT_EQ(stored, (nlohmann::json{{clientA, tokenA}, {clientB, tokenB}}));

    auto restarted = PairedClients::create(storage);
    ASSERT_TRUE(restarted.has_value()) << restarted.error().description();
    EXPECT_EQ(restarted->hostID(), registry->hostID());
    EXPECT_TRUE(restarted->accepts(clientA, tokenA));
    EXPECT_TRUE(restarted->accepts(clientB, tokenB));

    ASSERT_TRUE(restarted->forgetAll().has_value());
    EXPECT_EQ(secretToolLookup(PairedClients::serviceIdentifier, PairedClients::tokensAccount), "");
}

TEST_F(SecretServiceStoreTest, KeyringRestart_FailsReadablyThenTheNextCallReachesTheNewDaemon) {
    const SecretItem before{"dev.corvane.test.restart", "before"};
    const SecretItem after{"dev.corvane.test.restart", "after"};
    ASSERT_EQ(store->add(before, "saved"), SecretStatus::success);

    test::KeyringSession& session = keyringSession();
    ASSERT_TRUE(session.setKeyringRunning(false)) << session.log();
    const std::int32_t whileGone = store->add(after, "x");
    EXPECT_NE(whileGone, SecretStatus::success);
    EXPECT_NE(whileGone, SecretStatus::itemNotFound);
    EXPECT_NE(store->remove(before), SecretStatus::success);
    const std::string message = store->errorMessage(whileGone).value_or("");
    EXPECT_TRUE(message.starts_with("The keyring is not running (Secret Service: ")) << message;

    ASSERT_TRUE(session.setKeyringRunning(true)) << session.log();
    EXPECT_EQ(store->add(after, "saved later"), SecretStatus::success);
    EXPECT_EQ(store->copyMatching(after).data, "saved later");
    EXPECT_EQ(store->copyMatching(before).data, "saved");

    // A restart between two calls, with none failing meanwhile: the first call may still meet
    // the old daemon's leftovers, the one after it must not.
    ASSERT_TRUE(session.setKeyringRunning(false)) << session.log();
    ASSERT_TRUE(session.setKeyringRunning(true)) << session.log();
    if (store->remove(after) != SecretStatus::success) {
        EXPECT_EQ(store->remove(after), SecretStatus::success);
    }
    EXPECT_EQ(store->copyMatching(after).status, SecretStatus::itemNotFound);
    EXPECT_EQ(store->remove(before), SecretStatus::success);
}

TEST_F(SecretServiceStoreTest, LockedKeyring_IsNeverEmpty_NothingIsReplacedOrRemovedUntilUnlocked) {
    const SecretItem item{std::string(PairedClients::serviceIdentifier),
                          std::string(PairedClients::tokensAccount)};
    const Bytes stored = R"({"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D":"x+/="})";
    ASSERT_EQ(store->add(item, stored), SecretStatus::success);
    test::KeyringSession& session = keyringSession();
    ASSERT_TRUE(session.setCollectionLocked(true)) << session.log();

    // The unlock prompt cannot show on this bus, just as when the user dismisses it. (The
    // fault scenario keyring-locked answers the real prompt, both ways, at Start and Forget.)
    EXPECT_EQ(store->copyMatching(item).status, SecretServiceStore::locked);
    EXPECT_EQ(store->update(item, "{}"), SecretServiceStore::locked);
    EXPECT_EQ(store->remove(item), SecretServiceStore::locked);

    ASSERT_TRUE(session.setCollectionLocked(false)) << session.log();
    EXPECT_EQ(store->copyMatching(item).data, stored);
    EXPECT_EQ(store->remove(item), SecretStatus::success);
}

TEST_F(SecretServiceStoreTest, Factory_AutoAndExplicitChoiceUseTheSecretService) {
    EXPECT_TRUE(SecretServiceStore::available());
    for (const char* choice : {"auto", "secret-service"}) {
        const auto chosen = makeSecretStore(choice);
        ASSERT_TRUE(chosen.has_value()) << chosen.error().description();
        const auto* set = dynamic_cast<SecretStoreSet*>(chosen->store.get());
        ASSERT_NE(set, nullptr) << choice;
        EXPECT_NE(dynamic_cast<SecretServiceStore*>(set->inUse().get()), nullptr) << choice;
        EXPECT_EQ(chosen->notice, "") << choice;
    }
}

} // namespace
} // namespace corvane

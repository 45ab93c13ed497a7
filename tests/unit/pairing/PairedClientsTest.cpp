#include "pairing/PairedClients.h"

#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSecureRandom.h"
#include "fakes/FakeUserDefaults.h"
#include "pairing/Base64.h"
#include "pairing/TokenMapJson.h"
#include "pairing/Uuid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
namespace {

using test::FakeSecretStore;
using test::FakeSecureRandom;
using test::FakeUserDefaults;

constexpr auto clientA = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
constexpr auto clientB = "11111111-2222-4333-8444-555555555555";

std::string serviceKey() {
    return std::string(PairedClients::serviceIdentifier);
}
std::string accountKey() {
    return std::string(PairedClients::tokensAccount);
}
std::string hostKey() {
    return std::string(PairedClients::hostIDKey);
}

std::string base64Of(std::vector<std::uint8_t> bytes) {
    return encodeBase64(bytes);
}

class PairedClientsTest : public testing::Test {
protected:
    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeSecureRandom> random = std::make_shared<FakeSecureRandom>();

    std::expected<PairedClients, Error> create() {
        return PairedClients::create(PairingStorage{store, defaults, random});
    }

    PairedClients created() {
        auto registry = create();
        EXPECT_TRUE(registry.has_value()) << registry.error().description();
        return std::move(*registry);
    }

    std::optional<Bytes> storedItem() const { return store->item(serviceKey(), accountKey()); }
    void setStoredItem(Bytes bytes) {
        store->items[{serviceKey(), accountKey()}] = std::move(bytes);
    }
};

TEST_F(PairedClientsTest, Create_FreshAccount_StoresUppercaseHostIDThatTheNextStartReads) {
    const PairedClients first = created();
    EXPECT_TRUE(isCanonicalUuid(first.hostID()));
    EXPECT_EQ(first.hostID().find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(first.hostID()[14], '4'); // version 4
    EXPECT_EQ(defaults->values[hostKey()], first.hostID());
    EXPECT_FALSE(first.accepts(clientA, base64Of(std::vector<std::uint8_t>(32, 0))));

    const PairedClients second = created();
    EXPECT_EQ(second.hostID(), first.hostID());
    EXPECT_EQ(defaults->setCalls, 1);
}

TEST_F(PairedClientsTest, Create_StoredLowercaseHostID_IsKeptVerbatim) {
    defaults->values[hostKey()] = "abcdef01-2345-6789-abcd-ef0123456789";
    EXPECT_EQ(created().hostID(), "abcdef01-2345-6789-abcd-ef0123456789");
    EXPECT_EQ(defaults->setCalls, 0);
}

TEST_F(PairedClientsTest, Create_StoredHostIDNotAUuid_IsReplaced) {
    for (const std::string& bad : std::vector<std::string>{
             "", "not a uuid", "{ABCDEF01-2345-6789-ABCD-EF0123456789}",
             "ABCDEF0123456789ABCDEF0123456789", "ABCDEF01-2345-6789-ABCD-EF012345678",
             "ABCDEF01-2345-6789-ABCD-EF01234567890", "GBCDEF01-2345-6789-ABCD-EF0123456789"}) {
        defaults->values[hostKey()] = bad;
        const PairedClients registry = created();
        EXPECT_NE(registry.hostID(), bad);
        EXPECT_TRUE(isCanonicalUuid(registry.hostID()));
        EXPECT_EQ(defaults->values[hostKey()], registry.hostID());
    }
}

TEST_F(PairedClientsTest, Create_KeychainReadFails_FailsAfterStoringNewHostID) {
    store->copyStatus = -25293;
    store->messages[-25293] = "The user name or passphrase you entered is not correct.";
    const auto registry = create();
    ASSERT_FALSE(registry.has_value());
    EXPECT_EQ(registry.error().description(),
              "The user name or passphrase you entered is not correct.");
    EXPECT_TRUE(isCanonicalUuid(defaults->values[hostKey()]));
}

TEST_F(PairedClientsTest, Create_StoredItemNotAnObjectOfStrings_FailsAndLeavesItemUntouched) {
    for (const std::string& bad :
         std::vector<std::string>{"[]", R"({"a":1})", R"({"a":"x","b":null})", "", "{", "null",
                                  "{} {}", "\"text\"", "{\"a\":\"\xff\"}"}) {
        setStoredItem(bad);
        const auto registry = create();
        ASSERT_FALSE(registry.has_value()) << bad;
        EXPECT_FALSE(registry.error().description().empty());
        EXPECT_EQ(storedItem(), bad);
    }
    EXPECT_EQ(store->updateCalls + store->addCalls + store->removeCalls, 0);
}

TEST_F(PairedClientsTest, Create_StoredTokens_AreLoaded) {
    const std::string token = base64Of(std::vector<std::uint8_t>(32, 9));
    setStoredItem(R"({")" + std::string(clientA) + R"(":")" + token + R"("})");
    const PairedClients registry = created();
    EXPECT_TRUE(registry.accepts(clientA, token));
    EXPECT_FALSE(registry.accepts(clientB, token));
}

TEST_F(PairedClientsTest, Create_MissingStorage_FailsInsteadOfCrashing) {
    EXPECT_FALSE(PairedClients::create(PairingStorage{nullptr, defaults, random}).has_value());
}

TEST_F(PairedClientsTest, Pair_InvalidClientID_FailsWithoutTouchingStoreOrRandom) {
    PairedClients registry = created();
    for (const std::string& bad :
         std::vector<std::string>{"", "hello", "0A1B2C3D4E5F4A6B8C7D9E0F1A2B3C4D",
                                  std::string(clientA) + "\n", std::string(clientA).substr(1)}) {
        const auto result = registry.pair(bad);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().description(), "Invalid device identity");
    }
    EXPECT_EQ(random->fillCalls, 0);
    EXPECT_EQ(store->updateCalls + store->addCalls, 0);
}

TEST_F(PairedClientsTest, Pair_RandomUnavailable_FailsAndStoresNothing) {
    PairedClients registry = created();
    random->fails = true;
    const auto result = registry.pair(clientA);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().description(), "Secure random data is unavailable");
    EXPECT_EQ(store->updateCalls + store->addCalls, 0);
}

TEST_F(PairedClientsTest, Pair_Token_IsPaddedBase64OfTheThirtyTwoRandomBytes) {
    PairedClients registry = created();
    std::vector<std::uint8_t> bytes(32);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(0xF0 + i);
    }
    random->script.push_back(bytes);
    const auto token = registry.pair(clientA);
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(token->size(), 44u);
    EXPECT_EQ(token->back(), '=');
    EXPECT_EQ(*token, base64Of(bytes));
    EXPECT_EQ(decodeTokenMap(*storedItem()).value(), (TokenMap{{clientA, *token}}));
}

TEST_F(PairedClientsTest, Pair_Twice_GivesDifferentTokensAndOnlyTheSecondIsAccepted) {
    PairedClients registry = created();
    const std::string first = registry.pair(clientA).value();
    const std::string second = registry.pair(clientA).value();
    EXPECT_NE(first, second);
    EXPECT_FALSE(registry.accepts(clientA, first));
    EXPECT_TRUE(registry.accepts(clientA, second));
    EXPECT_EQ(decodeTokenMap(*storedItem())->size(), 1u);
}

TEST_F(PairedClientsTest, Pair_WriteFails_LeavesMapAndStoredItemAsTheyWere) {
    PairedClients registry = created();
    const std::string token = registry.pair(clientA).value();
    const Bytes before = *storedItem();

    store->updateStatus = -61;
    store->messages[-61] = "Write permissions error.";
    const auto result = registry.pair(clientA);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().description(), "Write permissions error.");
    EXPECT_FALSE(registry.pair(clientB).has_value());

    EXPECT_EQ(storedItem(), before);
    EXPECT_TRUE(registry.accepts(clientA, token));
    EXPECT_FALSE(registry.accepts(clientB, base64Of(std::vector<std::uint8_t>(32, 0))));
    EXPECT_EQ(store->addCalls, 1); // only the very first write added the item
}

TEST_F(PairedClientsTest, Pair_AddFailsOnFirstWrite_NothingIsPaired) {
    PairedClients registry = created();
    store->addStatus = 28;
    random->script.push_back(std::vector<std::uint8_t>(32, 1));
    ASSERT_FALSE(registry.pair(clientA).has_value());
    EXPECT_FALSE(storedItem().has_value());
    EXPECT_FALSE(registry.accepts(clientA, base64Of(std::vector<std::uint8_t>(32, 1))));
}

TEST_F(PairedClientsTest, Pair_StoredTokens_SurviveARestart) {
    std::string tokenA;
    std::string tokenB;
    {
        PairedClients registry = created();
        tokenA = registry.pair(clientA).value();
        tokenB = registry.pair(clientB).value();
    }
    const PairedClients restarted = created();
    EXPECT_TRUE(restarted.accepts(clientA, tokenA));
    EXPECT_TRUE(restarted.accepts(clientB, tokenB));
    EXPECT_FALSE(restarted.accepts(clientA, tokenB));
}

TEST_F(PairedClientsTest, Accepts_OnlyTheExactTokenOfTheExactClientID) {
    PairedClients registry = created();
    const std::vector<std::uint8_t> bytes(32, 0x5A);
    random->script.push_back(bytes);
    const std::string token = registry.pair(clientA).value();
    EXPECT_TRUE(registry.accepts(clientA, token));

    std::string flipped = token;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0x5A);
    const std::vector<std::uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    for (const std::string& bad : std::vector<std::string>{
             std::string(), flipped, token.substr(0, 43), token + "=", token + "\n", " " + token,
             token.substr(0, 20) + "*" + token.substr(21), base64Of(longer), base64Of(shorter)}) {
        EXPECT_FALSE(registry.accepts(clientA, bad)) << bad;
    }
    std::string lower = clientA;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const std::string& other : std::vector<std::string>{clientB, lower, "not-a-uuid"}) {
        EXPECT_FALSE(registry.accepts(other, token)) << other;
    }
}

TEST_F(PairedClientsTest, Accepts_StoredTokenThatIsNot32Bytes_IsNeverAccepted) {
    const std::string shortToken = base64Of(std::vector<std::uint8_t>(31, 3));
    setStoredItem(R"({")" + std::string(clientA) + R"(":")" + shortToken + R"(",")" +
                  std::string(clientB) + R"(":"not base64!"})");
    const PairedClients registry = created();
    EXPECT_FALSE(registry.accepts(clientA, shortToken));
    EXPECT_FALSE(registry.accepts(clientB, "not base64!"));
}

TEST_F(PairedClientsTest, ForgetAll_RemovesEveryPairingAndKeepsHostID) {
    PairedClients registry = created();
    const std::string hostID = registry.hostID();
    const std::string tokenA = registry.pair(clientA).value();
    const std::string tokenB = registry.pair(clientB).value();

    ASSERT_TRUE(registry.forgetAll().has_value());
    EXPECT_FALSE(storedItem().has_value());
    EXPECT_FALSE(registry.accepts(clientA, tokenA));
    EXPECT_FALSE(registry.accepts(clientB, tokenB));
    EXPECT_EQ(registry.hostID(), hostID);
    EXPECT_EQ(defaults->values[hostKey()], hostID);
    EXPECT_TRUE(registry.forgetAll().has_value());
}

TEST_F(PairedClientsTest, ForgetAll_DeleteFails_KeepsTokens) {
    PairedClients registry = created();
    const std::string token = registry.pair(clientA).value();
    store->removeStatus = -25244;
    const auto result = registry.forgetAll();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().description(), "Keychain error -25244");
    EXPECT_TRUE(registry.accepts(clientA, token));
    EXPECT_TRUE(storedItem().has_value());
}

} // namespace
} // namespace corvane

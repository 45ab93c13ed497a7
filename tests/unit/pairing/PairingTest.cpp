#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSecureRandom.h"
#include "fakes/FakeUserDefaults.h"
#include "pairing/Base64.h"
#include "pairing/PairedClients.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

namespace corvane {
namespace {

const std::string clientA = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const std::string clientB = "11111111-2222-4333-8444-555555555555";
// Where earlier runs left their state; these names must never change.
const std::string service = "dev.corvane.receiver.mac.pairings";
const std::string account = "clients";
const std::string hostKey = "corvaneHostID";

std::string base64Counting(std::uint8_t first, std::size_t length = 32) {
    std::vector<std::uint8_t> bytes(length);
    std::iota(bytes.begin(), bytes.end(), first);
    return encodeBase64(bytes);
}

template<typename Result>
std::string failure(const Result& result) {
    return result ? "no failure" : result.error().description();
}

class Pairing : public testing::Test {
protected:
    std::shared_ptr<test::FakeSecretStore> store = std::make_shared<test::FakeSecretStore>();
    std::shared_ptr<test::FakeUserDefaults> defaults = std::make_shared<test::FakeUserDefaults>();
    std::shared_ptr<test::FakeSecureRandom> random = std::make_shared<test::FakeSecureRandom>();

    std::expected<PairedClients, Error> create() const {
        return PairedClients::create({store, defaults, random});
    }
    PairedClients created() const { return create().value(); }
    std::optional<Bytes> item() const { return store->item(service, account); }
    void setItem(const Bytes& json) { store->items[{service, account}] = json; }
    // The token that the next pairing issues.
    std::string nextToken() const { return base64Counting(random->next); }
};

TEST_F(Pairing, HostID_MadeOnceAsUppercaseVersion4_ThenReadBackVerbatim) {
    const std::string made = created().hostID();
    const std::regex uuid4("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    EXPECT_TRUE(std::regex_match(made, uuid4)) << made;
    EXPECT_EQ(defaults->values[hostKey], made);
    EXPECT_EQ(created().hostID(), made);
    defaults->values[hostKey] = "abcdef01-2345-6789-abcd-ef0123456789";
    EXPECT_EQ(created().hostID(), "abcdef01-2345-6789-abcd-ef0123456789");
}

// One rule decides what a UUID is: for the stored host ID and for every client ID.
TEST_F(Pairing, TextThatIsNotACanonicalUuid_IsNeitherAHostIDNorAClient) {
    const std::string lowerA = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    PairedClients registry = created();
    const std::string token = registry.pair(lowerA).value();
    for (const std::string& bad : std::vector<std::string>{
             "", "not a uuid", "{BCDEF01-2345-6789-ABCD-EF012345678}",
             "ABCDEF0123456789ABCDEF0123456789", "ABCDEF01-2345-6789-ABCD-EF012345678",
             "ABCDEF01-2345-6789-ABCD-EF01234567890", "GBCDEF01-2345-6789-ABCD-EF0123456789",
             "ABCDEF012-345-6789-ABCD-EF0123456789", "ABCDEF01-2345-6789-ABCD_EF0123456789",
             " BCDEF01-2345-6789-ABCD-EF0123456789", lowerA + "\n", lowerA.substr(1),
             std::string("ABCDEF01-2345-6789-ABCD-EF012345678\0", 36)}) {
        defaults->values[hostKey] = bad;
        const std::string replaced = created().hostID();
        EXPECT_NE(replaced, bad);
        EXPECT_EQ(defaults->values[hostKey], replaced);
        EXPECT_EQ(failure(registry.pair(bad)), "Invalid device identity");
        EXPECT_FALSE(registry.accepts(bad, token));
    }
    EXPECT_TRUE(registry.accepts(lowerA, token));
    EXPECT_FALSE(registry.accepts(clientA, token))
        << "the same UUID in other letters is another key";
}

TEST_F(Pairing, Create_FailsOnStoreErrorsAndUnreadableItems_LeavingThemAlone) {
    store->copyStatus = -25293;
    store->messages[-25293] = "The keyring is locked";
    EXPECT_EQ(failure(create()), "The keyring is locked");
    EXPECT_TRUE(defaults->values.contains(hostKey)) << "stored before the keychain was read";
    store->copyStatus.reset();
    store->copyWithoutData = true;
    EXPECT_EQ(failure(create()), "Keychain error 0");
    store->copyWithoutData = false;
    for (const std::string bad : {"[]", R"({"a":1})", R"({"a":"x","b":null})", "", "{", "null",
                                  "{} {}", "\"text\"", "{\"a\":\"\xff\"}"}) {
        setItem(bad);
        EXPECT_FALSE(create()) << bad;
        EXPECT_EQ(item(), bad);
    }
    // The receiver can still forget an item it cannot read.
    EXPECT_TRUE(PairedClients::forgetStored({store, defaults, random}));
    EXPECT_FALSE(item());
    EXPECT_FALSE(PairedClients::create({nullptr, defaults, random}));
    EXPECT_FALSE(PairedClients::forgetStored({}));
}

TEST_F(Pairing, Pair_IssuesBase64OfThirtyTwoRandomBytes_AndOnlyTheLatestTokenCounts) {
    // Left by an earlier run in another JSON spelling, with a repeated key and one of no client.
    const std::string old = encodeBase64(std::vector<std::uint8_t>(32, 0xFF));
    setItem("{\n \"" + clientB + R"(" : "x", "odd \"key\"\n\u0001\\":"", ")" + clientB + R"(":"\)" +
            old + "\" } ");
    PairedClients registry = created();
    const std::string first = registry.pair(clientA).value();
    EXPECT_EQ(first, "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=");
    const std::string second = registry.pair(clientA).value();
    EXPECT_FALSE(registry.accepts(clientA, first));
    EXPECT_TRUE(registry.accepts(clientA, second));
    const PairedClients restarted = created();
    EXPECT_FALSE(restarted.accepts(clientA, first));
    EXPECT_TRUE(restarted.accepts(clientA, second));
    EXPECT_TRUE(restarted.accepts(clientB, old));
    EXPECT_FALSE(restarted.accepts(clientB, second));
}

TEST_F(Pairing, Pair_Failures_LeaveTokensAndItemAsTheyWere) {
    PairedClients registry = created();
    random->fails = true;
    EXPECT_EQ(failure(registry.pair(clientA)), "Secure random data is unavailable");
    random->fails = false;
    std::string lost = nextToken();
    store->addStatus = 28;
    EXPECT_EQ(failure(registry.pair(clientA)), "Keychain error 28");
    EXPECT_FALSE(item());
    EXPECT_FALSE(registry.accepts(clientA, lost));
    store->addStatus.reset();
    const std::string token = registry.pair(clientA).value();
    const Bytes before = *item();
    // Had an add been tried after this update failure, it would have reported a duplicate.
    store->updateStatus = -61;
    store->messages[-61] = "Write permissions error.";
    lost = nextToken();
    EXPECT_EQ(failure(registry.pair(clientB)), "Write permissions error.");
    EXPECT_EQ(item(), before);
    EXPECT_FALSE(registry.accepts(clientB, lost));
    EXPECT_TRUE(registry.accepts(clientA, token));
}

TEST_F(Pairing, Accepts_OnlyTheExactThirtyTwoByteTokenOfTheExactClient) {
    PairedClients registry = created();
    const std::string token = registry.pair(clientA).value();
    std::string flipped = token;
    flipped[10] = 'Z';
    std::string loosePadding = token;
    loosePadding[42] = static_cast<char>(loosePadding[42] + 1); // same bytes, non-zero spare bits
    for (const std::string& bad :
         {std::string(), flipped, loosePadding, token.substr(0, 43), token + "=", token + "\n",
          " " + token, token.substr(0, 20) + "*" + token.substr(21), base64Counting(0, 33),
          base64Counting(0, 31)}) {
        EXPECT_FALSE(registry.accepts(clientA, bad)) << bad;
    }
    setItem(R"({")" + clientA + R"(":")" + base64Counting(0, 31) + R"(",")" + clientB +
            R"(":"not base64!"})");
    const PairedClients stored = created();
    EXPECT_FALSE(stored.accepts(clientA, base64Counting(0, 31)));
    EXPECT_FALSE(stored.accepts(clientB, "not base64!"));
}

TEST_F(Pairing, ForgetAll_RemovesEveryPairingButKeepsTheHostID_UnlessTheStoreFails) {
    PairedClients registry = created();
    const std::string hostID = registry.hostID();
    const std::string token = registry.pair(clientA).value();
    store->removeStatus = -25244;
    store->messages[-25244] = "";
    EXPECT_EQ(failure(registry.forgetAll()), "Keychain error -25244");
    EXPECT_TRUE(registry.accepts(clientA, token));
    store->removeStatus.reset();
    EXPECT_TRUE(registry.forgetAll());
    EXPECT_FALSE(item());
    EXPECT_FALSE(registry.accepts(clientA, token));
    EXPECT_EQ(registry.hostID(), hostID);
    EXPECT_EQ(created().hostID(), hostID);
    EXPECT_TRUE(registry.forgetAll()) << "nothing left to delete is no failure";
}

} // namespace
} // namespace corvane

#include "pairing/PairingKeychain.h"

#include "fakes/FakeSecretStore.h"

#include <gtest/gtest.h>

#include <memory>

namespace corvane {
namespace {

using test::FakeSecretStore;

constexpr auto service = "dev.example.mac.pairings";
constexpr auto account = "clients";

class PairingKeychainTest : public testing::Test {
protected:
    std::shared_ptr<FakeSecretStore> store = std::make_shared<FakeSecretStore>();
    PairingKeychain keychain{store};
};

TEST_F(PairingKeychainTest, Read_NeverWritten_ReturnsNoValueAndNoError) {
    const auto result = keychain.read(service, account);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->has_value());
}

TEST_F(PairingKeychainTest, Write_FirstThenSecond_AddsOnceThenReplacesThroughUpdate) {
    ASSERT_TRUE(keychain.write("one", service, account));
    EXPECT_EQ(store->updateCalls, 1);
    EXPECT_EQ(store->addCalls, 1);

    ASSERT_TRUE(keychain.write(std::string("two\0bytes", 9), service, account));
    EXPECT_EQ(store->updateCalls, 2);
    EXPECT_EQ(store->addCalls, 1);
    EXPECT_EQ(store->items.size(), 1u);

    const auto result = keychain.read(service, account);
    ASSERT_TRUE(result.has_value() && result->has_value());
    EXPECT_EQ(**result, std::string("two\0bytes", 9));
}

TEST_F(PairingKeychainTest, Write_UpdateFailsWithOtherStatus_ReportsItAndTriesNoAdd) {
    store->items[{service, account}] = "old";
    store->updateStatus = -25308;
    const auto result = keychain.write("new", service, account);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().status(), -25308);
    EXPECT_EQ(store->addCalls, 0);
    EXPECT_EQ(store->item(service, account), "old");
}

TEST_F(PairingKeychainTest, Write_AddFails_ReportsAddStatus) {
    store->addStatus = 7;
    const auto result = keychain.write("new", service, account);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().status(), 7);
    EXPECT_TRUE(store->items.empty());
}

TEST_F(PairingKeychainTest, Read_SuccessWithoutBytes_IsErrorWithStatusZero) {
    store->copyWithoutData = true;
    const auto result = keychain.read(service, account);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().status(), 0);
    EXPECT_EQ(result.error().description(), "Keychain error 0");
}

TEST_F(PairingKeychainTest, Delete_MissingOrTwice_Succeeds) {
    store->items[{service, account}] = "data";
    EXPECT_TRUE(keychain.deleteItem(service, account));
    EXPECT_TRUE(keychain.deleteItem(service, account));
    EXPECT_TRUE(store->items.empty());
}

TEST_F(PairingKeychainTest, Delete_Failure_IsReportedAndItemStays) {
    store->items[{service, account}] = "data";
    store->removeStatus = 13;
    const auto result = keychain.deleteItem(service, account);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().status(), 13);
    EXPECT_EQ(store->item(service, account), "data");
}

TEST_F(PairingKeychainTest, Read_StoreFailure_CarriesStatusAndStoreTextOrDecimalFallback) {
    store->items[{service, account}] = "data";
    store->messages[5] = "The keyring is locked";
    store->messages[6] = "";
    store->copyStatus = 5;
    EXPECT_EQ(keychain.read(service, account).error().description(), "The keyring is locked");
    store->copyStatus = 6;
    EXPECT_EQ(keychain.read(service, account).error().description(), "Keychain error 6");
    store->copyStatus = -67671;
    const auto result = keychain.read(service, account);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().status(), -67671);
    EXPECT_EQ(result.error().description(), "Keychain error -67671");
    EXPECT_EQ(Error(result.error()).description(), "Keychain error -67671");
}

TEST_F(PairingKeychainTest, Items_AreKeyedByServiceAndAccount) {
    ASSERT_TRUE(keychain.write("a", service, account));
    ASSERT_TRUE(keychain.write("b", service, "other"));
    ASSERT_TRUE(keychain.write("c", "other.service", account));
    EXPECT_EQ(store->items.size(), 3u);
    EXPECT_EQ(keychain.read(service, account)->value(), "a");
}

} // namespace
} // namespace corvane

#include "ReceiverHarness.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {
namespace {

using Kind = TouchMessage::Kind;

const std::string tokensService(PairedClients::serviceIdentifier);
const std::string tokensAccount(PairedClients::tokensAccount);

class ReceiverHandshakeTest : public ::testing::Test, protected ReceiverHarness {
protected:
    void SetUp() override { startReady(); }

    // Pairs the harness's client with the current code and returns its token.
    std::string pairClient() {
        auto connection = connect();
        deliver(*connection, pairingHello(receiver->code()));
        const auto sent = replies(*connection);
        EXPECT_EQ(sent.size(), 1u);
        EXPECT_TRUE(sent.at(0).token);
        drop(*connection);
        return sent.at(0).token.value_or("");
    }
};

TEST_F(ReceiverHandshakeTest, CodeOnly_AcceptedWithHostIDAndNothingStored) {
    auto connection = connect();
    deliver(*connection, helloWithCode(receiver->code()));
    TouchMessage expected;
    expected.kind = Kind::accepted;
    expected.hostID = hostID();
    EXPECT_EQ(replies(*connection), (std::vector{expected}));
    EXPECT_EQ(receiver->status(), "Touch device connected");
    EXPECT_FALSE(secrets->item(tokensService, tokensAccount));
}

TEST_F(ReceiverHandshakeTest, CodeAndClientID_PairsAndReplyCarriesTokenButNoEcho) {
    const std::string code = receiver->code();
    auto connection = connect();
    deliver(*connection, pairingHello(code));
    const auto sent = replies(*connection);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, Kind::accepted);
    EXPECT_EQ(sent[0].hostID, listener()->service()->txtRecord.at("id"));
    ASSERT_TRUE(sent[0].token);
    EXPECT_EQ(sent[0].token->size(), 44u);
    EXPECT_FALSE(sent[0].clientID);
    EXPECT_FALSE(sent[0].code);
    EXPECT_EQ(receiver->code(), code) << "acceptance does not change the code";
    EXPECT_TRUE(secrets->item(tokensService, tokensAccount));
}

TEST_F(ReceiverHandshakeTest, SavedToken_WinsOverWrongCodeAndGetsNoNewToken) {
    const std::string token = pairClient();
    auto connection = connect();
    deliver(*connection, tokenHello(token, wrongCode()));
    const auto sent = replies(*connection);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, Kind::accepted);
    EXPECT_FALSE(sent[0].token);
}

TEST_F(ReceiverHandshakeTest, StaleTokenWithRightCode_Repairs_AndOnlyNewTokenWorks) {
    const std::string oldToken = pairClient();
    auto connection = connect();
    deliver(*connection,
            tokenHello("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=", receiver->code()));
    const auto sent = replies(*connection);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_TRUE(sent[0].token);
    const std::string newToken = *sent[0].token;
    EXPECT_NE(newToken, oldToken);
    drop(*connection);

    auto withOld = connect();
    deliver(*withOld, tokenHello(oldToken));
    EXPECT_EQ(replies(*withOld).at(0).kind, Kind::rejected);
    drop(*withOld);
    auto withNew = connect();
    deliver(*withNew, tokenHello(newToken));
    EXPECT_EQ(replies(*withNew).at(0).kind, Kind::accepted);
}

TEST_F(ReceiverHandshakeTest, HellosThatMustBeRejected) {
    using Builder = std::function<std::string(const std::string&)>;
    const std::vector<Builder> hellos = {
        [&](const std::string& code) { return helloWithCode(code + " "); },
        [&](const std::string& code) { return helloWithCode(" " + code); },
        [&](const std::string&) { return helloWithCode(wrongCode()); },
        [&](const std::string&) { return std::string("{\"kind\":\"hello\"}\n"); },
        [&](const std::string&) { return tokenHello("AAAA"); },
        [&](const std::string&) { return std::string("{\"kind\":\"hello\",\"token\":\"A\"}\n"); },
    };
    for (std::size_t i = 0; i < hellos.size(); ++i) {
        auto connection = connect();
        deliver(*connection, hellos[i](receiver->code()));
        EXPECT_EQ(connection->sent(), (std::vector<Bytes>{"{\"kind\":\"rejected\"}\n"})) << i;
        EXPECT_EQ(receiver->status(), "Touch device connecting…") << i;
        EXPECT_EQ(connection->cancelCount(), 0) << i;
        drop(*connection);
    }
}

TEST_F(ReceiverHandshakeTest, ThreeWrongCodes_ThreeRejectionsThenDisconnectAndNewCode) {
    auto connection = connect();
    const std::string code = receiver->code();
    const std::string wrong = helloWithCode(wrongCode());
    deliver(*connection, wrong + wrong + wrong + helloWithCode(code));
    EXPECT_EQ(connection->sent(), std::vector<Bytes>(3, "{\"kind\":\"rejected\"}\n"));
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_NE(receiver->code(), code);
    EXPECT_EQ(receiver->status(), "Ready for pairing");

    // The new code works on the next connection, whose count starts again.
    clock->advance(PairingBudget::interval * 2);
    auto next = connect();
    deliver(*next, helloWithCode(wrongCode()) + helloWithCode(wrongCode()) +
                       helloWithCode(receiver->code()));
    const auto sent = replies(*next);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].kind, Kind::accepted);
    EXPECT_EQ(receiver->status(), "Touch device connected");
}

TEST_F(ReceiverHandshakeTest, FailedPairingWrite_LeavesStorageAndRejects) {
    const std::string token = pairClient();
    const auto stored = secrets->item(tokensService, tokensAccount);
    secrets->updateStatus = -34;
    secrets->addStatus = -34;
    secrets->messages[-34] = "The disk is full.";
    auto connection = connect();
    deliver(*connection, pairingHello(receiver->code()));
    EXPECT_EQ(connection->sent(), (std::vector<Bytes>{"{\"kind\":\"rejected\"}\n"}));
    EXPECT_EQ(receiver->status(), "Could not save pairing: The disk is full.");
    EXPECT_EQ(secrets->item(tokensService, tokensAccount), stored);
    // The earlier pairing still stands.
    deliver(*connection, tokenHello(token));
    EXPECT_EQ(replies(*connection).back().kind, Kind::accepted);
}

TEST_F(ReceiverHandshakeTest, ForgetWhileRunning_RestartsWithNewCodeAndRevokesTokens) {
    const std::string token = pairClient();
    auto connection = connectAuthenticated();
    const std::string code = receiver->code();
    receiver->forgetPairedDevices();
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_TRUE(receiver->isRunning());
    EXPECT_EQ(receiver->status(), "Starting receiver…");
    EXPECT_NE(receiver->code(), code);
    ASSERT_EQ(listeners->listeners.size(), 2u);
    listener()->reportState(ListenerState::ready);
    run();
    EXPECT_EQ(receiver->status(), "Ready for pairing");

    auto next = connect();
    deliver(*next, tokenHello(token));
    EXPECT_EQ(replies(*next).at(0).kind, Kind::rejected);
    deliver(*next, tokenHello(token, receiver->code()));
    EXPECT_EQ(replies(*next).at(1).kind, Kind::accepted);
}

TEST_F(ReceiverHandshakeTest, ForgetWhileStopped_DeletesTheItemUnreadSoACorruptOneCanGo) {
    pairClient();
    receiver->stop();
    secrets->items[{tokensService, tokensAccount}] = "{\"broken";
    receiver->start();
    EXPECT_TRUE(receiver->status().starts_with("Pairing storage unavailable: Stored pairings"));

    receiver->forgetPairedDevices();
    EXPECT_EQ(receiver->status(), "Paired devices forgotten");
    EXPECT_EQ(receiver->code(), "");
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_FALSE(secrets->item(tokensService, tokensAccount));
    receiver->start();
    EXPECT_TRUE(receiver->isRunning());
}

TEST_F(ReceiverHandshakeTest, ForgetFailure_ReportsAndKeepsRunning) {
    pairClient();
    const std::string code = receiver->code();
    secrets->removeStatus = -25291;
    secrets->messages[-25291] = "No keychain is available.";
    receiver->forgetPairedDevices();
    EXPECT_EQ(receiver->status(), "Could not forget devices: No keychain is available.");
    EXPECT_TRUE(receiver->isRunning());
    EXPECT_EQ(receiver->code(), code);

    receiver->stop();
    receiver->forgetPairedDevices();
    EXPECT_EQ(receiver->status(), "Could not forget devices: No keychain is available.");
}

TEST_F(ReceiverHandshakeTest, Activity_RecordsEachDecisionAndDepartureWithThePeerButNoSecret) {
    const std::string token = pairClient();
    auto connection = connect();
    auto second = connect();
    deliver(*connection, helloWithCode(wrongCode()));
    deliver(*connection, tokenHello(token));
    drop(*connection);
    deliver(*connect(), helloWithCode(receiver->code()));

    const std::string peer = "192.0.2.7:50412";
    using enum ClientEvent;
    const std::vector<ClientActivity> expected{
        {pairedWithCode, Transport::tcp, peer},    {left, Transport::tcp, peer},
        {refused, Transport::tcp, peer},           {rejected, Transport::tcp, peer},
        {admittedWithToken, Transport::tcp, peer}, {left, Transport::tcp, peer},
        {admittedWithCode, Transport::tcp, peer},
    };
    EXPECT_EQ(activity->recorded, expected);
}

} // namespace
} // namespace corvane::test

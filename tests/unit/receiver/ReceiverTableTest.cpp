// Plays each row of tests/data/receiver-clients.txt (its header explains the columns) against a
// started receiver on fakes, and compares what the phones, the desktop and the window saw.

#include "ReceiverHarness.h"
#include "protocol/TouchMessageDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

namespace corvane::test {
namespace {

// Adds `word` to a space-separated list.
void add(std::string& list, const std::string& word) {
    list += (list.empty() ? "" : " ") + word;
}

const std::map<char, std::string> centrals{{'A', "0F0E3C7A-1D2B-4C55-8E6F-7A8B9C0D1E2F"},
                                           {'B', "5B4A3928-1706-4F5E-9D8C-7B6A59483726"}};
const std::string clientID = "6A1F0C55-3B3E-4D8A-9C1E-0F5E2B7A9D41";

std::string eventName(const RecordingEventSink::Entry& entry) {
    static const std::map<MouseEventType, std::string> mouse{
        {MouseEventType::leftMouseDown, "down"},
        {MouseEventType::leftMouseUp, "up"},
        {MouseEventType::mouseMoved, "move"}};
    const auto* event = std::get_if<MouseEvent>(&entry.event.body);
    std::string text = entry.call == RecordingEventSink::Call::hold ? "hold"
                       : event                                      ? mouse.at(event->type)
                                                                    : "other";
    return text + ((entry.event.flags & EventFlag::command) != 0 ? "+command" : "");
}

class Scenario : public ReceiverHarness {
public:
    void play(const std::string& steps) {
        for (const auto& step : split(steps, " ; ")) {
            if (!step.empty()) {
                perform(step);
            }
            run();
            collectReplies();
        }
    }

    // What happened so far was only the way to the row's starting point.
    void mark() {
        for (const auto& [name, connection] : connections) {
            cancelsBefore[name] = connection->cancels;
        }
        replies.clear();
        events->clear();
        activity->recorded.clear();
        codeBefore = receiver->code();
    }

    void check(const std::string& expected) {
        std::map<std::string, std::string> seen{{"replies", ""}, {"ended", ""}, {"events", ""}};
        std::map<std::string, std::string> wanted = seen;
        for (const auto& [where, said] : replies) {
            for (const auto& reply : said) {
                add(seen["replies"], where + ":" + reply);
            }
        }
        for (const auto& [name, connection] : connections) {
            if (connection->cancels > cancelsBefore[name]) {
                add(seen["ended"], name + (connection->starts == 0 ? "!" : ""));
            }
        }
        for (const auto& entry : events->entries) {
            if (entry.call != RecordingEventSink::Call::create) {
                add(seen["events"], eventName(entry));
            }
        }
        for (const auto& record : activity->recorded) {
            add(seen["activity"], name(record));
        }
        seen["status"] = receiver->status();
        seen["pairing"] = receiver->pairingStatus();
        seen["code"] = receiver->code() == codeBefore ? "same"
                       : receiver->code().empty()     ? ""
                                                      : "new";
        seen["stored"] = secrets->items.empty() ? "no" : "yes";
        seen["running"] = receiver->isRunning() ? "yes" : "no";
        seen["access"] = receiver->hasAccessibility() ? "yes" : "no";
        for (const auto& entry : split(expected, " ; ")) {
            const auto equals = entry.find('=');
            wanted[entry.substr(0, equals)] =
                equals == std::string::npos ? "?" : entry.substr(equals + 1);
        }
        for (const auto& [key, value] : wanted) {
            EXPECT_TRUE(seen.contains(key)) << "no such column: " << key;
            // A trailing * stands for text that comes from a library.
            const bool prefix = value.ends_with('*');
            EXPECT_EQ(prefix ? seen[key].substr(0, value.size() - 1) + "*" : seen[key], value)
                << key;
        }
    }

private:
    void perform(const std::string& step) {
        static const std::regex toConnection(R"((c\d): ?(.*?)(<end>|<error>)?)");
        static const std::regex toCentral(R"(([AB]): ?(.*))");
        std::smatch match;
        if (std::regex_match(step, match, toConnection)) {
            connection(match[1]).deliver(ReceivedChunk{
                expand(match[2]), match[3] == "<end>",
                match[3] == "<error>" ? std::optional(Error("Connection reset")) : std::nullopt});
        } else if (std::regex_match(step, match, toCentral)) {
            peripheral().write(centrals.at(step[0]),
                               BluetoothUUID(TouchService::bluetoothCommandUUID), expand(match[2]));
        } else if (step[0] == '+' || step[0] == '-') {
            const BluetoothUUID status(TouchService::bluetoothStatusUUID);
            step[0] == '+' ? peripheral().subscribe(centrals.at(step[1]), status)
                           : peripheral().unsubscribe(centrals.at(step[1]), status);
        } else if (step.starts_with("wait ")) {
            clock->advance(std::chrono::milliseconds(std::stoi(step.substr(5))));
        } else if (step == "storage full") {
            secrets->addStatus = secrets->updateStatus = -34;
            secrets->messages[-34] = "The disk is full.";
        } else if (step == "no keychain") {
            secrets->removeStatus = -25291;
            secrets->messages[-25291] = "No keychain is available.";
        } else if (step == "damaged") {
            secrets->items[{std::string(PairedClients::serviceIdentifier),
                            std::string(PairedClients::tokensAccount)}] = "{";
        } else {
            const std::map<std::string, std::function<void()>> commands{
                {"stop", [this] { receiver->stop(); }},
                {"start", [this] { receiver->start(); }},
                {"ready", [this] { listener()->reportState(ListenerState::ready); }},
                {"forget", [this] { receiver->forgetPairedDevices(); }},
                {"untrusted", [this] { trust->trusted = false; }},
                {"trusted", [this] { trust->trusted = true; }},
                {"grant when asked", [this] { trust->trustedAfterRequest = true; }},
                {"granted", [this] { trust->report(true); }},
                {"declined", [this] { trust->report(false); }},
                {"random fails", [this] { codeRandom->fails = true; }},
                {"port taken", [this] { listeners->failure = Error("Address already in use"); }}};
            ASSERT_TRUE(commands.contains(step)) << "no such step: " << step;
            commands.at(step)();
        }
    }

    // The newest token handed out, or the one before.
    std::string token(std::size_t back) const {
        return tokens.size() > back ? tokens[tokens.size() - 1 - back] : "";
    }

    FakeConnection& connection(const std::string& name) {
        auto& slot = connections[name];
        if (!slot) {
            slot = connect();
        }
        return *slot;
    }

    // The row's shorthands: whole lines ($move) and values ($code) as they stand at this step.
    std::string expand(std::string text) const {
        const std::string wrong = wrongCode();
        const std::map<std::string, std::string> words{
            {"code", receiver->code()},
            {"wrongcode", wrong},
            {"id", clientID},
            {"tok", token(0)},
            {"oldtok", token(1)},
            {"stale", std::string(43, 'A') + "="},
            {"hello", helloWithCode(receiver->code())},
            {"wrong", helloWithCode(wrong)},
            {"pair", R"({"kind":"hello","code":")" + receiver->code() + R"(","clientID":")" +
                         clientID + "\"}\n"},
            {"token",
             R"({"kind":"hello","clientID":")" + clientID + R"(","token":")" + token(0) + "\"}\n"},
            {"move", "{\"kind\":\"move\",\"dx\":1,\"dy\":0}\n"},
            {"down", "{\"kind\":\"buttonDown\"}\n"},
            {"click", "{\"kind\":\"click\"}\n"},
            {"command", "{\"kind\":\"modifiers\",\"modifiers\":4}\n"}};
        static const std::regex word(R"(\$([a-z]+)(\d*)|\\n|\\r)");
        std::string result;
        auto at = text.cbegin();
        for (std::sregex_iterator it(text.begin(), text.end(), word), end; it != end; ++it) {
            result.append(at, (*it)[0].first);
            const std::string found = (*it)[0];
            if (found == "\\n" || found == "\\r") {
                result += found == "\\n" ? '\n' : '\r';
            } else if ((*it)[1] == "pad") {
                result.append(std::stoul((*it)[2]), ' ');
            } else {
                result += words.at((*it)[1]);
            }
            at = (*it)[0].second;
        }
        return result.append(at, text.cend());
    }

    // Every reply that reached a phone since the last look, in order, by connection or central.
    void collectReplies() {
        for (const auto& [name, connection] : connections) {
            for (auto& seen = sentSeen[name]; seen < connection->sent.size(); ++seen) {
                const Bytes& line = connection->sent[seen];
                const auto reply = TouchMessageDecoder().decode(line.substr(0, line.size() - 1));
                replies[name].push_back(reply && line.back() == '\n' ? describe(*reply) : line);
            }
        }
        for (auto& manager : peripherals->managers) {
            for (auto& update : std::exchange(manager->updates, {})) {
                notified[update.central] += update.value;
            }
        }
        for (const auto& [letter, central] : centrals) {
            Bytes& bytes = notified[central];
            for (auto end = bytes.find('\n'); end != Bytes::npos; end = bytes.find('\n')) {
                const auto reply = TouchMessageDecoder().decode(bytes.substr(0, end));
                replies[std::string(1, letter)].push_back(reply ? describe(*reply) : "garbled");
                bytes.erase(0, end + 1);
            }
        }
    }

    // A reply by what matters to the phone; the token it carries is kept for later rows' steps.
    std::string describe(const TouchMessage& reply) {
        TouchMessage expected;
        expected.kind = reply.kind;
        if (reply.kind == TouchMessage::Kind::accepted) {
            expected.hostID = listener()->service->txtRecord.at("id");
            expected.token = reply.token;
        }
        if (reply != expected || (reply.token && reply.token->size() != 44)) {
            return "unexpected" + reply.line().value_or("");
        }
        if (reply.token) {
            tokens.push_back(*reply.token);
        }
        return std::string(rawValue(reply.kind)) + (reply.token ? "+token" : "");
    }

    static std::string name(const ClientActivity& record) {
        static const char* const names[] = {"refused",
                                            "pairedWithCode",
                                            "admittedWithCode",
                                            "admittedWithToken",
                                            "rejected",
                                            "budgetSpent",
                                            "left"};
        std::string where = "c";
        for (const auto& [letter, central] : centrals) {
            where = central == record.peer ? std::string(1, letter) : where;
        }
        return names[static_cast<int>(record.event)] + ("@" + where);
    }

    std::map<std::string, std::shared_ptr<FakeConnection>> connections;
    std::map<std::string, std::size_t> sentSeen;
    std::map<CentralID, Bytes> notified;
    std::map<std::string, std::vector<std::string>> replies;
    std::map<std::string, int> cancelsBefore;
    // Every token handed out, oldest first.
    std::vector<std::string> tokens;
    std::string codeBefore;
};

class ReceiverTable : public ::testing::TestWithParam<Row> {};

TEST_P(ReceiverTable, RowHolds) {
    const auto& columns = GetParam().columns;
    ASSERT_EQ(columns.size(), 3u);
    Scenario scenario;
    scenario.startReady();
    scenario.peripheral().reportState(PeripheralState::poweredOn);
    scenario.peripheral().reportServiceAdded();
    scenario.play(columns[0]);
    scenario.mark();
    scenario.play(columns[1]);
    scenario.check(columns[2]);
}

INSTANTIATE_TEST_SUITE_P(Clients, ReceiverTable,
                         ::testing::ValuesIn(readRows(CORVANE_TEST_DATA "/receiver-clients.txt")),
                         [](const auto& row) { return "line" + std::to_string(row.param.line); });

} // namespace
} // namespace corvane::test

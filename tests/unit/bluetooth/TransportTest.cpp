#include "bluetooth/BluetoothTouchReceiver.h"
#include "fakes/bluetooth/FakePeripheralManager.h"
#include "protocol/TouchService.h"
#include "unit/ScriptFile.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
namespace {

const BluetoothUUID command{TouchService::bluetoothCommandUUID};
const BluetoothUUID status{TouchService::bluetoothStatusUUID};

// What every message is answered with: "none", "stop" (which also stops the transport),
// "infinite" (a reply that cannot be encoded) or a protocol line.
std::optional<TouchMessage> replyFor(const std::string& reply, BluetoothTouchReceiver& transport) {
    if (reply == "stop") {
        transport.stop();
    }
    const bool plain = reply == "stop" || reply == "infinite";
    auto message = TouchMessageDecoder().decode(plain ? R"({"kind":"rejected"})" : reply);
    if (reply == "infinite") {
        message->dx = std::numeric_limits<double>::infinity();
    }
    return reply == "none" ? std::nullopt : std::optional(message.value());
}

// CENTRAL[@OFFSET][/status] VALUE, where "(none)" is no value and N*C is N bytes C.
WriteRequest request(const std::string& text, std::uint64_t id) {
    const std::string who = text.substr(0, text.find(' '));
    const std::string value = text.substr(who.size() + 1);
    const auto at = who.find('@');
    const bool repeated = value.size() > 2 && value[value.size() - 2] == '*';
    return WriteRequest{
        .id = id,
        .characteristic = who.ends_with("/status") ? status : command,
        .offset = at == std::string::npos ? 0 : std::stoul(who.substr(at + 1)),
        .value = value == "(none)"
                     ? std::nullopt
                     : std::optional(repeated ? Bytes(std::stoul(value), value.back()) : value),
        .central = who.substr(0, who.find_first_of("@/")),
    };
}

// A report from the manager, or a change in how its stack behaves.
void perform(const std::string& step, fakes::FakePeripheralManagerFactory& factory) {
    const bool old = step.starts_with("old ");
    std::istringstream words(old ? step.substr(4) : step);
    std::string verb;
    std::string argument;
    words >> verb >> argument;
    const std::string rest = words.str().substr(std::min(words.str().size(), verb.size() + 1));
    auto& manager = *factory.managers.at(factory.managers.size() - (old ? 2 : 1));
    const auto error = verb.ends_with(':') ? std::optional(Error(rest)) : std::nullopt;
    const auto& characteristic = rest.ends_with(" command") ? command : status;
    if (verb == "state") {
        manager.reportState(static_cast<PeripheralState>(std::stoi(argument)));
    } else if (verb.starts_with("added")) {
        manager.reportServiceAdded(error);
    } else if (verb.starts_with("advertising")) {
        manager.reportAdvertisingStarted(error);
    } else if (verb == "subscribe") {
        manager.subscribe(argument, characteristic);
    } else if (verb == "unsubscribe") {
        manager.unsubscribe(argument, characteristic);
    } else if (verb == "write") {
        std::vector<WriteRequest> requests;
        for (std::size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 3) {
            bar = rest.find(" | ", from);
            requests.push_back(request(rest.substr(from, bar - from), manager.nextRequestId++));
        }
        manager.write(requests);
    } else if (verb == "mtu") {
        words >> manager.maximumLengths[argument];
    } else if (verb == "capacity") {
        manager.capacity = argument == "none" ? std::nullopt : std::optional(std::stoul(argument));
    } else if (verb == "ready") {
        manager.reportReady();
    } else {
        FAIL() << "unknown step: " << step;
    }
}

std::string named(std::string line) {
    for (const auto& [uuid, name] : {std::pair{TouchService::bluetoothServiceUUID, "service"},
                                     std::pair{TouchService::bluetoothCommandUUID, "command"},
                                     std::pair{TouchService::bluetoothStatusUUID, "status"}}) {
        for (auto at = line.find(uuid); at != std::string::npos; at = line.find(uuid)) {
            line.replace(at, uuid.size(), name);
        }
    }
    return line;
}

TEST(BluetoothTransport, FollowsItsManagerAndServesOneCentral) {
    test::runScript("bluetooth/transport.txt", [] {
        auto factory = std::make_shared<fakes::FakePeripheralManagerFactory>();
        auto transport = BluetoothTouchReceiver::create(factory);
        auto reply = std::make_shared<std::string>("none");
        auto log = factory->log;
        transport->onStatus = [log](const std::string& text) { log->push_back("status: " + text); };
        transport->onDisconnect = [log](const CentralID& id) {
            log->push_back("disconnect " + id);
        };
        transport->onMessage = [log, reply, weak = std::weak_ptr(transport)](
                                   const TouchMessage& message, const CentralID& central) {
            const Bytes line = message.line().value();
            log->push_back("message " + central + ": " + line.substr(0, line.size() - 1));
            return replyFor(*reply, *weak.lock());
        };
        return [=](const std::string& step) {
            log->clear();
            if (step == "start" || step == "stop") {
                step == "start" ? transport->start() : transport->stop();
            } else if (step.starts_with("reply ")) {
                *reply = step.substr(6);
            } else if (step == "managers") {
                log->push_back("managers: " + std::to_string(factory->managers.size()));
            } else if (step == "advertise" || step.starts_with("serve ")) {
                // Brought that far, quietly: started, powered on, published (and subscribed).
                transport->start();
                for (const std::string part : {"state 5", "added"}) {
                    perform(part, *factory);
                }
                if (step != "advertise") {
                    perform("subscribe " + step.substr(6), *factory);
                }
                log->clear();
            } else {
                perform(step, *factory);
            }
            std::vector<std::string> produced;
            for (const auto& line : *log) {
                produced.push_back(named(line));
            }
            return produced;
        };
    });
}

// Stacks spell one UUID in either letter case, and the standard ones in 16 or 32 bits.
TEST(BluetoothUUID, SpellingsOfOneUUIDAreEqual) {
    EXPECT_EQ(BluetoothUUID("b9f74ee8-3e8b-4a7e-a02d-e09d960df302"), command);
    EXPECT_EQ(BluetoothUUID("2902").text(), "00002902-0000-1000-8000-00805F9B34FB");
    EXPECT_EQ(BluetoothUUID("0000180f"), BluetoothUUID("0000180F-0000-1000-8000-00805f9b34fb"));
    EXPECT_EQ(BluetoothUUID("zz02").text(), "ZZ02") << "not hex: kept as it is";
}

} // namespace
} // namespace corvane

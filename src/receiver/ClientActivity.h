#pragma once

#include <string>

namespace corvane {

enum class Transport { tcp, bluetooth };

// What became of one phone's attempt to be admitted, or that an admitted phone's stay ended.
enum class ClientEvent {
    // Another phone holds the slot: the newcomer was turned away at once.
    refused,
    // The right code and a client identity: a new pairing, and a token went to the phone.
    pairedWithCode,
    // The right code without a client identity: admitted, nothing stored.
    admittedWithCode,
    // A paired phone came back with its token.
    admittedWithToken,
    // A hello that was not accepted.
    rejected,
    // A hello with a code that was not compared, because too many wrong codes came before it;
    // answered like a wrong code.
    budgetSpent,
    // An admitted phone's stay ended, whatever ended it.
    left,
};

// Never carries a token or a code: what is recorded may end up in the journal.
struct ClientActivity {
    ClientEvent event = ClientEvent::refused;
    Transport transport = Transport::tcp;
    // The TCP peer's address and port, or the Bluetooth central's identifier.
    std::string peer;

    bool operator==(const ClientActivity&) const = default;
};

// Hears about every admission decision and every departure, as they happen.
class ClientActivityLog {
public:
    virtual ~ClientActivityLog() = default;

    virtual void record(const ClientActivity& activity) = 0;
};

} // namespace corvane

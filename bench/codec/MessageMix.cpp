#include "MessageMix.h"

#include <random>

namespace corvane {
namespace {

using Kind = TouchMessage::Kind;

// Touch deltas come in thirds of a point (3x screens) scaled by a sensitivity, so most of them
// print with many digits, as the phone's encoder writes them.
double delta(std::mt19937& random) {
    std::uniform_int_distribution<int> thirds(-45, 45);
    return thirds(random) / 3.0 * 1.35;
}

TouchMessage make(Kind kind) {
    TouchMessage message;
    message.kind = kind;
    return message;
}

TouchMessage pick(std::mt19937& random) {
    std::uniform_int_distribution<int> percent(0, 99);
    const int roll = percent(random);
    if (roll < 80) {
        TouchMessage move = make(Kind::move);
        move.dx = delta(random);
        move.dy = delta(random);
        return move;
    }
    if (roll < 88) {
        TouchMessage scroll = make(Kind::scroll);
        scroll.dx = 0.0;
        scroll.dy = delta(random);
        return scroll;
    }
    if (roll < 93) {
        return make(roll < 91 ? Kind::click : Kind::rightClick);
    }
    if (roll < 96) {
        TouchMessage key = make(Kind::key);
        key.key = roll == 93 ? "undo" : roll == 94 ? "playPause" : "missionControl";
        return key;
    }
    if (roll < 98) {
        TouchMessage modifiers = make(Kind::modifiers);
        modifiers.modifiers = roll == 96 ? 4 : 0;
        return modifiers;
    }
    TouchMessage zoom = make(roll == 98 ? Kind::zoom : Kind::navigate);
    zoom.value = roll == 98 ? 0.0625 : -1.0;
    return zoom;
}

TouchMessage hello() {
    TouchMessage message = make(Kind::hello);
    message.code = "042133";
    message.clientID = "5B0D7E3C-2F4A-4B1E-9C7D-8A6F3E2D1C0B";
    message.token = "q3Jx0v9wM2yP1kT8sL5nR7dF4gH6jK0aZ2xC4vB6nM8=";
    return message;
}

} // namespace

MessageMix MessageMix::realistic(std::size_t count, std::uint32_t seed) {
    MessageMix mix;
    std::mt19937 random(seed);
    mix.messages_.push_back(hello());
    while (mix.messages_.size() < count) {
        mix.messages_.push_back(pick(random));
    }
    for (const TouchMessage& message : mix.messages_) {
        std::string json;
        encodeJson(message, json);
        mix.lines_.push_back(std::move(json));
    }
    return mix;
}

} // namespace corvane

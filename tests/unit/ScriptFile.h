#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

// Runs one step of a case and tells what it produced, one line per output.
using ScriptStep = std::function<std::vector<std::string>(const std::string& step)>;

// "%XX" is the byte with the hex code XX, so that scripts can hold any byte.
inline std::string unescapeScript(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '%' && i + 2 < text.size();
        bytes += escape
                     ? static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16))
                     : text[i];
        i += escape ? 2 : 0;
    }
    return bytes;
}

// Runs the script tests/data/<name>. A line starting with "#" begins a case (and says what it
// shows); `newCase` gives the stepper for it. Other unindented lines are steps; the indented lines
// after a step, or its text after " => ", are everything the step must produce, in order.
inline void runScript(const std::string& name, const std::function<ScriptStep()>& newCase) {
    std::ifstream file(std::string(CORVANE_TEST_DATA "/") + name);
    ASSERT_TRUE(file.is_open()) << name;
    ScriptStep step;
    std::string line;
    std::string where;
    std::vector<std::string> expected;
    std::vector<std::string> produced;
    const auto settle = [&] {
        EXPECT_EQ(produced, expected) << where;
        expected.clear();
        produced.clear();
    };
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.starts_with('#')) {
            settle();
            step = newCase();
        } else if (line.starts_with("  ")) {
            expected.push_back(unescapeScript(line.substr(line.find_first_not_of(' '))));
        } else if (!line.empty()) {
            settle();
            ASSERT_TRUE(step) << name << " must start with a case";
            where = name + ":" + std::to_string(number) + ": " + line;
            const auto arrow = line.find(" => ");
            const std::string text = line.substr(0, arrow);
            produced = step(unescapeScript(text.substr(0, text.find_last_not_of(' ') + 1)));
            if (arrow != std::string::npos) {
                expected.push_back(unescapeScript(line.substr(arrow + 4)));
            }
        }
    }
    settle();
}

} // namespace corvane::test

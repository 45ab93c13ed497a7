#include "app/window/AutostartEntry.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

namespace corvane {
namespace {

// The Exec value a desktop entry parser turns back into the program's path: quoted where the
// path holds a reserved character, with the string escapes on top.
TEST(AutostartEntryTest, ExecLine_QuotesWhatTheDesktopEntryFormatReserves) {
    const std::vector<std::pair<QString, QString>> cases{
        {"/usr/bin/corvane", "/usr/bin/corvane --background"},
        {"/opt/My Apps/corvane", "\"/opt/My Apps/corvane\" --background"},
        {"/home/a$b/corvane", "\"/home/a\\\\$b/corvane\" --background"},
        {"/home/a\\b/corvane", "\"/home/a\\\\\\\\b/corvane\" --background"},
        {"/home/100%/corvane", "/home/100%%/corvane --background"},
    };
    for (const auto& [program, expected] : cases) {
        EXPECT_EQ(AutostartEntry::execLine(program).toStdString(), expected.toStdString());
    }
}

// A desktop's settings switch an entry off with Hidden=true instead of removing it.
TEST(AutostartEntryTest, IsEnabled_NotWhenTheDesktopHidesTheEntry) {
    QTemporaryDir folder;
    const AutostartEntry entry(folder.path() + "/autostart", "/usr/bin/corvane");
    ASSERT_TRUE(entry.enable().has_value());
    EXPECT_TRUE(entry.isEnabled());
    std::ofstream(entry.path().toStdString(), std::ios::app) << "Hidden=true\n";
    EXPECT_FALSE(entry.isEnabled());
}

} // namespace
} // namespace corvane

#include "input/SyntheticEvent.h"
#include "platform/inputmap/KeyTable.h"
#include "platform/inputmap/ModifierKeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(KeyTable, ShortcutKeys_MapToKernelKeysOfTheSamePosition) {
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::z), 44);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::equal), 13);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::minus), 12);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::space), 57);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::escape), 1);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::leftArrow), 105);
    EXPECT_EQ(KeyTable::linuxKey(VirtualKey::rightArrow), 106);
}

TEST(KeyTable, KeysOutsideTheTable_MapToNothing) {
    // 0 is A and 7 is X on the original layout: close neighbours of table entries.
    EXPECT_EQ(KeyTable::linuxKey(0), std::nullopt);
    EXPECT_EQ(KeyTable::linuxKey(7), std::nullopt);
    EXPECT_EQ(KeyTable::linuxKey(125), std::nullopt);
    EXPECT_EQ(KeyTable::linuxKey(0xFFFF), std::nullopt);
}

TEST(ModifierKeys, EachFlag_MapsToItsLinuxModifier) {
    EXPECT_THAT(ModifierKeys::pressOrder(EventFlag::shift), ElementsAre(LinuxKey::leftShift));
    EXPECT_THAT(ModifierKeys::pressOrder(EventFlag::option), ElementsAre(LinuxKey::leftAlt));
    EXPECT_THAT(ModifierKeys::pressOrder(EventFlag::command), ElementsAre(LinuxKey::leftCtrl));
    EXPECT_THAT(ModifierKeys::pressOrder(EventFlag::control), ElementsAre(LinuxKey::leftMeta));
}

TEST(ModifierKeys, AllFlags_PressInFixedOrderAndReleaseInReverse) {
    const EventFlags all =
        EventFlag::shift | EventFlag::control | EventFlag::option | EventFlag::command;
    EXPECT_THAT(ModifierKeys::pressOrder(all), ElementsAre(LinuxKey::leftShift, LinuxKey::leftAlt,
                                                           LinuxKey::leftCtrl, LinuxKey::leftMeta));
    EXPECT_THAT(ModifierKeys::releaseOrder(all),
                ElementsAre(LinuxKey::leftMeta, LinuxKey::leftCtrl, LinuxKey::leftAlt,
                            LinuxKey::leftShift));
}

TEST(ModifierKeys, NoFlagsOrUnknownBits_PressNothing) {
    EXPECT_THAT(ModifierKeys::pressOrder(0), IsEmpty());
    EXPECT_THAT(ModifierKeys::pressOrder(0x1 | 0x10000 | 0x200000 | (EventFlags{1} << 63)),
                IsEmpty());
}

} // namespace
} // namespace corvane

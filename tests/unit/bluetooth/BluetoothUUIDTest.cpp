#include "bluetooth/BluetoothUUID.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(BluetoothUUID, SpellingsOfOneUUIDCompareEqual_OthersDoNot) {
    EXPECT_EQ(BluetoothUUID("b9f74ee8-3e8b-4a7e-a02d-e09d960df302"),
              BluetoothUUID("B9F74EE8-3E8B-4A7E-A02D-E09D960DF302"));
    EXPECT_EQ(BluetoothUUID("2902").text(), "00002902-0000-1000-8000-00805F9B34FB");
    EXPECT_EQ(BluetoothUUID("0000180f"), BluetoothUUID("0000180F-0000-1000-8000-00805f9b34fb"));
    EXPECT_NE(BluetoothUUID("B9F74EE8-3E8B-4A7E-A02D-E09D960DF302"),
              BluetoothUUID("B9F74EE8-3E8B-4A7E-A02D-E09D960DF303"));
    EXPECT_EQ(BluetoothUUID("zz02").text(), "ZZ02") << "not hex: kept as given";
}

} // namespace
} // namespace corvane

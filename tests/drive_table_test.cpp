// The shared drive table.
#include <gtest/gtest.h>

#include <cstring>

#include "discovery/drive_table.h"

namespace tamro::test {
namespace {

bool AllZero(const DriveSlot& s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
    return std::all_of(p, p + sizeof s, [](std::uint8_t b) { return b == 0; });
}

TEST(DriveTableTest, HoldsSevenSlotsWithRoomForEveryList) {
    EXPECT_EQ(DriveTable.size(), 7u);
    DriveSlot s{};
    EXPECT_EQ(sizeof s.smartLogEntries, 90u * 80u);
    EXPECT_EQ(sizeof s.readErrors, 100u * 58u);
    EXPECT_EQ(sizeof s.otherErrors, 100u * 58u);
    EXPECT_EQ(sizeof s.retest[0].message, 64u);
    EXPECT_EQ(sizeof s.serialNumber, 24u);
    EXPECT_EQ(sizeof s.lastError, 64u);
}

TEST(DriveTableTest, ClearZeroesEverySlotCompletely) {
    for (DriveSlot& s : DriveTable) {
        std::memset(&s, 0xA5, sizeof s);
    }
    ClearDriveTable();
    for (const DriveSlot& s : DriveTable) EXPECT_TRUE(AllZero(s));
}

TEST(DriveTableTest, CurrentDriveFollowsCurrentSlotAndNeverLeavesTheTable) {
    for (int i = 0; i < kSlotCount; ++i) {
        currentSlot = i;
        EXPECT_EQ(&CurrentDrive(), &DriveTable[static_cast<std::size_t>(i)]);
    }
    for (int outside : {7, -1, 1000}) {
        currentSlot = outside;
        DriveSlot& spare = CurrentDrive();
        EXPECT_TRUE(&spare < DriveTable.data() || &spare >= DriveTable.data() + kSlotCount);
    }
    currentSlot = 0;
}

TEST(DriveTableTest, FlagBitsAndKindsKeepTheirValues) {
    EXPECT_EQ(kFlagIdentity | kFlagPlistValid | kFlagGlistValid | kFlagTestsFailed | kFlagLogUnusable, 0x1Fu);
    EXPECT_EQ(kFlagFail | kFlagPass | kFlagNoJudge, 0xE0u);
    EXPECT_EQ(kFlagQuick | kFlagStandard | kFlagExtended, 0x7000u);
    EXPECT_EQ(kLogUnreadableAtScan, 9);
    EXPECT_EQ(kVendorUnsupported, 255);
}

}  // namespace
}  // namespace tamro::test

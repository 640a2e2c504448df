// The write procedures: Random Seek Write and the 100MB writes of both
// sides, with their own error rules.
#include "surface_fixture.h"

namespace tamro::test {
namespace {

using Extent = std::pair<std::uint32_t, std::uint32_t>;
using ui::ControlId;

class SurfaceWrites : public Diagnostics {
protected:
    void SetUp() override {
        Diagnostics::SetUp();
        writePermitted = 1;
    }

    // The writes of 128 blocks from `first`, the last one cut to end at `last`.
    static std::vector<Extent> Chunks(std::uint32_t first, std::uint32_t last) {
        std::vector<Extent> out;
        for (std::uint64_t lba = first; lba <= last; lba += 128)
            out.emplace_back(static_cast<std::uint32_t>(lba),
                             static_cast<std::uint32_t>(std::min<std::uint64_t>(128, last + 1 - lba)));
        return out;
    }
};

TEST_F(SurfaceWrites, AStandardRunWithWritesHalvesTheReadsAndWritesAsManyAfterThem) {
    Mode(TestMode::Standard);
    // A recovered error with ASC 17h on the first write still goes to the
    // other errors: the write procedures do not split by ASC.
    FaultOn(kOpWrite, 0, 1, 0x17, 0);
    TransportFault(kOpWrite, 1);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);

    EXPECT_EQ(Extents(kOpRead).size(), 20000u);
    EXPECT_EQ(Extents(kOpWrite).size(), 2u);
    EXPECT_EQ(Extents(kOpSeek).size(), 0u);
    ASSERT_EQ(Slot().otherErrorCount, 1);
    EXPECT_EQ(Slot().readErrorCount, 0);
    EXPECT_EQ(Slot().otherErrors[0].senseData[12], 0x17);
    EXPECT_EQ(Slot().otherErrors[0].failedCdb[0], kOpWrite);
    EXPECT_EQ(Slot().blocksRead, 20000u * 16);
    EXPECT_EQ(Slot().blocksWritten, 16u);
    EXPECT_EQ(Slot().seekCount, 20001u);
    EXPECT_STREQ(Slot().comment, "Write(10): Selection timeout.");
    EXPECT_EQ(Caption(ControlId::DCONF).rfind("** Random Seek Write **  LBA=", 0), 0u);
}

TEST_F(SurfaceWrites, TheThirdRecoveredWriteErrorFailsTheDriveAndCountsTheBlocksBeforeIt) {
    Mode(TestMode::Standard);
    FaultOn(kOpWrite, 0, 1, 0x0C, 0);
    FaultOn(kOpWrite, 1, 1, 0x0C, 0);
    // Information 0 lies before any random start: nothing is counted for the
    // failed write, not four thousand million blocks.
    FaultOn(kOpWrite, 2, 1, 0x0C, 0);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");
    EXPECT_EQ(Slot().otherErrorCount, 3);
    EXPECT_EQ(Slot().blocksWritten, 32u);

    // A MEDIUM ERROR on a write is a hard error, not an error rate: the
    // writes make no sense key 3 test.
    Slot().otherErrorCount = 0;
    sim_clear_faults();
    FaultOn(kOpWrite, 0, 3, 0x0C, 0);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_STREQ(Slot().comment, "Hard error was detected.");
    EXPECT_EQ(Slot().otherErrorCount, 1);
}

TEST_F(SurfaceWrites, AnExtendedRunWritesTheOuterAndInnerHundredMegabytes) {
    UseDisk(200000, 512);
    Mode(TestMode::Extended);
    // The sixth write of the outer side meets a recovered error, tolerated.
    FaultOn(kOpWrite, 20000 + 5, 1, 0x17, 5 * 128 + 7);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);

    EXPECT_EQ(Extents(kOpVerify), (std::vector<Extent>{{0, 61440}, {61440, 61440}, {122880, 61440}, {184320, 15681}}));
    const auto writes = Extents(kOpWrite);
    ASSERT_EQ(writes.size(), 20000u + 1563 + 1563);
    const std::vector<Extent> outer(writes.begin() + 20000, writes.begin() + 21563);
    const std::vector<Extent> inner(writes.begin() + 21563, writes.end());
    // LBA 0 through 200000 in 1563 writes, the last of 65 blocks; on a drive
    // this small the inner side starts at LBA 0 too.
    EXPECT_EQ(outer, Chunks(0, 200000));
    EXPECT_EQ(outer.back(), (Extent{199936, 65}));
    EXPECT_EQ(inner, outer);
    for (const auto& e : Trace()) {
        if (e.cdb[0] == kOpWrite) {
            ASSERT_EQ(e.buf_len, Count(e) * 512) << Lba(e);
        }
    }

    EXPECT_EQ(Slot().blocksRead, 200001u + 20000 * 16);
    EXPECT_EQ(Slot().blocksWritten, 20000u * 16 + 2 * 200001);
    EXPECT_EQ(Slot().seekCount, 20000u + 20000 + 45000 + 2 * 1563);
    EXPECT_EQ(Slot().otherErrorCount, 1);
    EXPECT_STREQ(Slot().comment, "Error: Seq.Write: Check Condition.");
    EXPECT_EQ(Slot().errorKind, kCheckCondition);
    EXPECT_EQ(Slot().runFlags, static_cast<std::uint32_t>(kFlagExtended));
    // Seven procedures of 1000 / 8; the eighth share is the hit check's.
    EXPECT_EQ(Position(ControlId::PBar), 875);
    EXPECT_EQ(Position(ControlId::TBar), 1000);
    EXPECT_EQ(Caption(ControlId::DCONF), "** Write 100MB of inner side **  LBA=   30D00    ");
}

TEST_F(SurfaceWrites, OnALargerDriveTheInnerSideEndsAtTheLastLba) {
    UseDisk(1000000, 512);
    Mode(TestMode::Extended);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    const auto writes = Extents(kOpWrite);
    ASSERT_EQ(writes.size(), 20000u + 1563 + 1563);
    EXPECT_EQ(std::vector<Extent>(writes.begin() + 20000, writes.begin() + 21563), Chunks(0, 200000));
    EXPECT_EQ(std::vector<Extent>(writes.begin() + 21563, writes.end()), Chunks(800000, 1000000));
    EXPECT_EQ(Extents(kOpVerify).back(), (Extent{983040, 16961}));
    EXPECT_EQ(Slot().blocksRead, 1000001u + 20000 * 16);
    EXPECT_EQ(Slot().errorKind, 0);
}

TEST_F(SurfaceWrites, ADriveOfFewerThan128BlocksIsWrittenInOneStepEachSide) {
    // 101 blocks of 4 KiB in one write: more than the 256 KiB buffer held.
    UseDisk(100, 4096);
    Mode(TestMode::Extended);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    const auto writes = Extents(kOpWrite);
    ASSERT_EQ(writes.size(), 20002u);
    EXPECT_EQ(writes[20000], (Extent{0, 101}));
    EXPECT_EQ(writes[20001], (Extent{0, 101}));
    EXPECT_EQ(Trace().back().buf_len, 101u * 4096);
    EXPECT_EQ(Extents(kOpVerify), (std::vector<Extent>{{0, 100}, {100, 1}}));
    for (const auto& [lba, count] : Extents(kOpRead)) ASSERT_LE(lba + count, 101u);
    EXPECT_EQ(Slot().blocksWritten, 20000u * 16 + 2 * 101);
    EXPECT_EQ(Position(ControlId::PBar), 875);
}

}  // namespace
}  // namespace tamro::test

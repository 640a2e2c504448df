// RunSurfaceTests: the entry rules, the START/STOP cycles, Sequential Verify
// and a whole Standard run with its status line and progress.
#include <cstdio>

#include "surface_fixture.h"

namespace tamro::test {
namespace {

using ui::ControlId;

class SurfaceTests : public Diagnostics {};

TEST_F(SurfaceTests, QuickModeSendsNothingAndOnlyMarksTheMode) {
    Mode(TestMode::Quick);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(Slot().runFlags, static_cast<std::uint32_t>(kFlagQuick));
    EXPECT_EQ(Slot().errorKind, 0);
    EXPECT_EQ(Position(ControlId::PBar), 0);
}

TEST_F(SurfaceTests, TheReadErrorLimitGrowsWithTheDriveSize) {
    Mode(TestMode::Quick);  // the limits are set at entry in every mode
    const std::pair<std::uint32_t, std::int32_t> cases[] = {
        {1, 4}, {0x01000000, 4}, {0x01000001, 7}, {0x02000000, 7}, {0x02000001, 14}, {0x03000001, 21},
        {0x04000000, 21}, {0x04000001, 28}, {0x07FFFFFF, 28}, {0x08000000, 28}, {0x08000001, 56},
        {0xFFFFFFFF, 56}};
    for (const auto& [lastLba, limit] : cases) {
        Slot().lastLba = lastLba;
        readErrorLimit = -1;
        otherErrorLimit = -1;
        EXPECT_EQ(RunSurfaceTests(0, 0), 0);
        EXPECT_EQ(readErrorLimit, limit) << std::hex << lastLba;
        EXPECT_EQ(otherErrorLimit, 2);
    }
    // A one-block drive keeps the previous drive's read limit.
    EXPECT_EQ(ReadErrorLimitFor(0, 21), 21);
    // A drive marked 9 is tested with 99 for both; the next drive of the run
    // gets its own limits again, or the run driver would take it for one.
    Slot().errorKind = kLogUnreadableAtScan;
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    EXPECT_EQ(readErrorLimit, 99);
    EXPECT_EQ(otherErrorLimit, 99);
    Slot().errorKind = kLogNotSupported;
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    EXPECT_EQ(otherErrorLimit, 2);
}

TEST_F(SurfaceTests, AOneBlockDriveFailsWithAReasonAndIsSentNothing) {
    UseDisk(0, 512);
    for (TestMode mode : {TestMode::Standard, TestMode::Extended}) {
        Mode(mode);
        Slot().errorKind = 0;
        EXPECT_EQ(RunSurfaceTests(0, 0), -1);
        EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
        EXPECT_STREQ(Slot().comment, kDriveTooSmall);
    }
    EXPECT_EQ(Slot().runFlags, static_cast<std::uint32_t>(kFlagStandard | kFlagExtended));
    EXPECT_EQ(sim_trace_count(), 0u);
    Mode(TestMode::Quick);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
}

// ---- START/STOP ----------------------------------------------------------

TEST_F(SurfaceTests, BlocksReadPast32BitsAreCountedWhole) {
    UseDisk(0xFFFFFFFEu, 512);
    Mode(TestMode::Extended);
    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    EXPECT_EQ(Slot().blocksRead, 0xFFFFFFFFull + 40000 * 16);
    EXPECT_EQ(Slot().seekCount, 40000u + 45000);
}

TEST_F(SurfaceTests, AStopFailingInTheSecondCycleClosesFactoryModeAndSendsNoStart) {
    Mode(TestMode::Extended);
    FaultOn(kOpStartStop, 2, 4, 0x44, 0, false);
    BarRecorder bars;
    bars.Attach();

    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(Opcodes(), (std::vector<std::uint8_t>{kOpFactory, kOpStartStop, kOpStartStop, kOpFactory,
                                                    kOpFactory, kOpStartStop, kOpFactory}));
    const auto trace = Trace();
    EXPECT_EQ(trace[1].cdb[4], 0);  // stop
    EXPECT_EQ(trace[2].cdb[4], 1);  // start
    EXPECT_EQ(trace[5].cdb[4], 0);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    EXPECT_STREQ(Slot().comment, "Error: Stop Unit: Check Condition.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    ASSERT_EQ(Slot().otherErrorCount, 1);
    EXPECT_EQ(Slot().otherErrors[0].failedCdb[0], kOpStartStop);
    EXPECT_EQ(Slot().otherErrors[0].senseData[12], 0x44);
    EXPECT_EQ(Caption(ControlId::DCONF), "** START/STOP **  02cycle               ");
    // One procedure's share of a read-only Extended run is 1000 / 5; a cycle
    // is a fifth of it, and the failed procedure's share is not completed.
    EXPECT_EQ(bars.total, (std::vector<int>{40, 80}));
    EXPECT_EQ(bars.test, (std::vector<int>{100, 200, 300}));
}

// ---- Sequential Verify -----------------------------------------------------

class SequentialVerify : public Diagnostics {
protected:
    void SetUp() override {
        Diagnostics::SetUp();
        UseDisk(100000, 512);
        Mode(TestMode::Extended);
        TransportFault(kOpRead, 0);  // ends the run where the random reads begin
    }
};

TEST_F(SequentialVerify, ChunksOfF000hEndExactlyAtTheLastLba) {
    BarRecorder bars;
    bars.Attach();
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);

    std::vector<std::uint8_t> expected;
    for (int c = 0; c < 5; ++c) expected.insert(expected.end(), {kOpFactory, kOpStartStop, kOpStartStop, kOpFactory});
    expected.insert(expected.end(), {kOpVerify, kOpVerify, kOpRead});
    EXPECT_EQ(Opcodes(), expected);
    using Extent = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Extents(kOpVerify), (std::vector<Extent>{{0, 61440}, {61440, 38561}}));
    EXPECT_EQ(Slot().blocksRead, 100001u);
    EXPECT_STREQ(Slot().comment, "Read(10): Selection timeout.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    // 100000 / 61440 = 1 step, so the second chunk overshoots into the next
    // share until the procedure completes at start + 200.
    EXPECT_EQ(bars.total, (std::vector<int>{40, 80, 120, 160, 200, 400, 600, 400}));
    EXPECT_EQ(bars.test, (std::vector<int>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 0, 1000, 0}));
}

TEST_F(SequentialVerify, AMediumErrorOnTheFirstChunkFailsTheDriveEvenUnderTheLimits) {
    MediaFault(kOpVerify, 5000, 5000, 3, 0x11);

    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(Opcodes().back(), kOpVerify);
    EXPECT_EQ(Extents(kOpVerify).size(), 1u);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    EXPECT_EQ(Slot().readErrorCount, 1);
    EXPECT_EQ(Slot().blocksRead, 5000u);  // the error LBA
}

TEST_F(SequentialVerify, ARecoveredErrorResumesRightAfterItSoNoBlockGoesUnverified) {
    MediaFault(kOpVerify, 30000, 30000, 1, 0x18, true, 1);

    EXPECT_EQ(RunSurfaceTests(0, 0), -1);  // the read fault still ends the run
    using Extent = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Extents(kOpVerify), (std::vector<Extent>{{0, 61440}, {30001, 61440}, {91441, 8560}}));
    EXPECT_EQ(Slot().blocksRead, 100001u);
    ASSERT_EQ(Slot().readErrorCount, 1);
    EXPECT_EQ(Slot().readErrors[0].failedCdb[0], kOpVerify);
}

TEST_F(SequentialVerify, ARecoveredErrorWithoutValidInformationResumesAtTheChunkEnd) {
    FaultOn(kOpVerify, 0, 1, 0x18, 0, false);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    using Extent = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Extents(kOpVerify), (std::vector<Extent>{{0, 61440}, {61440, 38561}}));
    EXPECT_EQ(Slot().readErrorCount, 1);
}

// ---- A whole Standard run ------------------------------------------------

// What DCONF showed at each repaint, with the number of commands sent by then.
struct RepaintRecorder {
    std::vector<std::pair<std::size_t, std::string>> shown;
    void Attach() {
        shown.reserve(90000);
        ui::Form().SetChangeListener([this](bool urgent) {
            if (urgent) shown.emplace_back(sim_trace_count(), ui::Form().Caption(ControlId::DCONF));
        });
    }
};

std::string Label(const char* format, std::uint32_t lba) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long>(lba));
    return text;
}

TEST_F(SurfaceTests, AStandardRunToleratesARecoveredReadErrorAndAnnouncesEveryCommand) {
    Mode(TestMode::Standard);
    // The third read: 10982 * 999999 / 32767 = 335153.9.
    FaultOn(kOpRead, 2, 1, 0x18, 335153 + 4);
    RepaintRecorder repaints;
    repaints.Attach();

    EXPECT_EQ(RunSurfaceTests(0, 0), 0);
    EXPECT_STREQ(Slot().comment, "Error: Rand.Read: Check Condition.");
    EXPECT_EQ(Slot().errorKind, kCheckCondition);
    ASSERT_EQ(Slot().readErrorCount, 1);
    EXPECT_EQ(Slot().otherErrorCount, 0);
    const ErrorRecord& record = Slot().readErrors[0];
    EXPECT_EQ(record.senseData[12], 0x18);
    EXPECT_EQ(record.failedCdb[0], kOpRead);
    EXPECT_EQ(Be32(record.failedCdb + 2), 335153u);
    EXPECT_EQ(Slot().blocksRead, 40000u * 16);
    EXPECT_EQ(Slot().seekCount, 85000u);
    EXPECT_EQ(Slot().blocksWritten, 0u);
    EXPECT_EQ(Slot().runFlags, static_cast<std::uint32_t>(kFlagStandard));

    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 85000u);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        const bool read = i < 40000;
        ASSERT_EQ(trace[i].cdb[0], read ? kOpRead : kOpSeek) << i;
        if (read) {
            ASSERT_EQ(Count(trace[i]), 16u);
            ASSERT_EQ(trace[i].buf_len, 16u * 512);
            ASSERT_LE(Lba(trace[i]), 999999u - 15);
        }
    }
    // Each command's label was on the status line, repainted, before it went out.
    EXPECT_EQ(repaints.shown.front(), (std::pair<std::size_t, std::string>{0, "** Random Seek Read **  LBA=    293F    "}));
    std::size_t r = 0;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        while (r + 1 < repaints.shown.size() && repaints.shown[r + 1].first <= i) ++r;
        ASSERT_EQ(repaints.shown[r].first, i);
        const char* format = i < 40000 ? "** Random Seek Read **  LBA=%8lX    " : "** Random Seek **  LBA=%8lX    ";
        ASSERT_EQ(repaints.shown[r].second, Label(format, Lba(trace[i]))) << i;
    }
    // 1000 / 3 per procedure, two procedures; the hit check's third stays open.
    EXPECT_EQ(Position(ControlId::PBar), 666);
    EXPECT_EQ(Caption(ControlId::PBarLabel), " 66");
    EXPECT_EQ(Position(ControlId::TBar), 45000 * 222 / 10000);
    EXPECT_EQ(Caption(ControlId::TBarLabel), " 99");
}

TEST_F(SurfaceTests, TheShareIsCutAmongTheSelectedDrivesFromTheDriveStart) {
    Mode(TestMode::Standard);
    selectedCount = 3;
    SetBar(Bar::Total, 333);  // the second of three drives
    TransportFault(kOpSeek, 0);
    BarRecorder bars;
    bars.Attach();
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    // (1000 / 3) / 3 = 111 per procedure, 1110000 in fixed point; a read's
    // step is 1110000 / 40000 = 27, so the reads reach 333 + 108 and only the
    // procedure's completion brings the bar to 333 + 111. The seeks' first
    // step adds less than 1.
    std::vector<int> expected;
    for (int p = 334; p <= 441; ++p) expected.push_back(p);
    expected.push_back(444);
    EXPECT_EQ(bars.total, expected);
    EXPECT_EQ(Position(ControlId::PBar), 444);
}

}  // namespace
}  // namespace tamro::test

// How the random reads and seeks judge failed commands: the lists, the
// limits, the reasons, the counters, and the clamp of a random LBA.
#include "surface_fixture.h"

namespace tamro::test {
namespace {

// The first random LBAs on the fixture's drive (last LBA 999999), by hand:
// trunc(x * 999999 / 32767) for x = 346, 130, 10982, 1090, 11656.
constexpr std::uint32_t kRead1 = 10559, kRead2 = 3967, kRead3 = 335153, kRead4 = 33265, kRead5 = 355723;

class SurfaceErrors : public Diagnostics {
protected:
    void SetUp() override {
        Diagnostics::SetUp();
        Mode(TestMode::Standard);
    }
};

TEST_F(SurfaceErrors, AHardErrorOnAReadFailsTheDriveAtOnce) {
    FaultOn(kOpRead, 0, 4, 0x44, kRead1);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(sim_trace_count(), 1u);
    EXPECT_STREQ(Slot().comment, "Hard error was detected.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    EXPECT_EQ(Slot().otherErrorCount, 1);  // ASC 44h is not a read-type error
    EXPECT_EQ(Slot().readErrorCount, 0);
    EXPECT_EQ(Slot().blocksRead, 0u);
    EXPECT_EQ(Slot().seekCount, 0u);
}

TEST_F(SurfaceErrors, TheThirdToleratedOtherErrorFailsTheDrive) {
    FaultOn(kOpRead, 0, 1, 0x15, kRead1);
    FaultOn(kOpRead, 1, 1, 0x15, kRead2);
    FaultOn(kOpRead, 2, 1, 0x15, kRead3 + 5);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(sim_trace_count(), 3u);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    EXPECT_EQ(Slot().otherErrorCount, 3);
    EXPECT_EQ(Slot().readErrorCount, 0);
    // Two whole reads, then the five blocks before the third one's error.
    EXPECT_EQ(Slot().blocksRead, 2u * 16 + 5);
    EXPECT_EQ(Slot().seekCount, 2u);
}

TEST_F(SurfaceErrors, TheFifthReadTypeErrorFailsTheDrive) {
    const std::uint32_t lbas[] = {kRead1, kRead2, kRead3, kRead4, kRead5};
    const std::uint8_t ascs[] = {0x11, 0x13, 0x17, 0x18, 0x11};
    for (unsigned i = 0; i < 5; ++i) FaultOn(kOpRead, i, 1, ascs[i], lbas[i]);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(sim_trace_count(), 5u);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");
    EXPECT_EQ(Slot().readErrorCount, 5);
    EXPECT_EQ(Slot().otherErrorCount, 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Slot().readErrors[i].senseData[12], ascs[i]);
        EXPECT_EQ(Be32(Slot().readErrors[i].failedCdb + 2), lbas[i]);
    }
    EXPECT_EQ(Slot().blocksRead, 4u * 16);
}

TEST_F(SurfaceErrors, ADriveMarkedNineToleratesWhatWouldFailAnother) {
    Slot().errorKind = kLogUnreadableAtScan;
    FaultOn(kOpRead, 0, 1, 0x18, 0, false, 5);
    TransportFault(kOpRead, 9);  // ends the run at the tenth read

    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_EQ(sim_trace_count(), 10u);
    EXPECT_EQ(Slot().readErrorCount, 5);
    EXPECT_STREQ(Slot().comment, "Read(10): Selection timeout.");
    EXPECT_EQ(otherErrorLimit, 99);  // still there for the run driver to see
    EXPECT_EQ(readErrorLimit, 99);
}

TEST_F(SurfaceErrors, AFullListIsNeverWrittenPastItsEnd) {
    Slot().errorKind = kLogUnreadableAtScan;  // limits 99: the hundredth record is the last
    Slot().readErrorCount = kErrorListCapacity;
    Slot().readErrors[kErrorListCapacity - 1].senseData[0] = 0x5A;
    FaultOn(kOpRead, 0, 1, 0x18, kRead1);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");
    EXPECT_EQ(Slot().readErrorCount, kErrorListCapacity);
    EXPECT_EQ(Slot().readErrors[kErrorListCapacity - 1].senseData[0], 0x5A);
    EXPECT_EQ(Slot().otherErrorCount, 0);  // the field right after the list
}

TEST_F(SurfaceErrors, ARandomReadNearTheEndIsPulledBackButASeekIsNot) {
    // x = 32765 is the 5951st output: 32765 * 150000 / 32767 = 149990.8, which
    // is the last LBA - 10, so that read starts at the last LBA - 15.
    UseDisk(150000, 512);
    TransportFault(kOpRead, 5951);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    const auto reads = Lbas(kOpRead);
    ASSERT_EQ(reads.size(), 5952u);
    EXPECT_EQ(reads[5950], 149985u);
    for (std::uint32_t lba : reads) ASSERT_LE(lba, 149985u);

    // x = 32762 is the 40123rd output, the 123rd seek's of a read-only run:
    // 32762 * 60000 / 32767 = 59990.8, sought as drawn.
    UseDisk(60000, 512);
    ResetRunRandom();
    FaultOn(kOpSeek, 123, 2, 0x04, 0, false);
    Slot().errorKind = 0;
    Slot().blocksRead = Slot().seekCount = 0;
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    const auto seeks = Lbas(kOpSeek);
    ASSERT_EQ(seeks.size(), 124u);
    EXPECT_EQ(seeks[122], 59990u);
    EXPECT_STREQ(Slot().comment, "Error: Rand.Seek: Check Condition.");
    EXPECT_EQ(Slot().errorKind, kSurfaceTestFailed);
    ASSERT_EQ(Slot().otherErrorCount, 1);
    EXPECT_EQ(Slot().otherErrors[0].failedCdb[0], kOpSeek);
    EXPECT_EQ(Slot().seekCount, 40000u + 123);
}

TEST_F(SurfaceErrors, ADriveOfFewerThanSixteenBlocksIsReadWholeFromLbaZero) {
    UseDisk(9, 512);
    TransportFault(kOpRead, 4);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    using Extent = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(Extents(kOpRead), (std::vector<Extent>(5, {0, 10})));
    EXPECT_EQ(Slot().blocksRead, 40u);
    EXPECT_EQ(Slot().seekCount, 4u);
}

TEST_F(SurfaceErrors, ReadsOfLargeBlocksGetABufferOfTheirSize) {
    // 16 blocks of 32 KiB are twice the 256 KiB the procedures were laid out
    // for; the drive fills all of them before it reports the error.
    UseDisk(999999, 32768);
    SimFault f;
    sim_fault_init(&f);
    f.opcode = kOpRead;
    f.times = 1;
    f.sense_key = 3;
    f.asc = 0x11;
    f.execute = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &f), 0);
    EXPECT_EQ(RunSurfaceTests(0, 0), -1);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].buf_len, 16u * 32768);
    EXPECT_STREQ(Slot().comment, "This error rate is out of spec.");

    EXPECT_EQ(SurfaceBufferBytes(512, true), 262144u);
    EXPECT_EQ(SurfaceBufferBytes(2048, true), 262144u);
    EXPECT_GE(SurfaceBufferBytes(4096, true), 128u * 4096);
    EXPECT_GE(SurfaceBufferBytes(32768, false), 16u * 32768);
    EXPECT_GE(SurfaceBufferBytes(65535, true), 128u * 65535);
}

}  // namespace
}  // namespace tamro::test

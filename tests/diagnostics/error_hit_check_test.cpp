// ErrorHitCheck: which logged errors are re-tested and how, what each entry's
// outcome holds, the check's verdict and its progress.
#include <cstring>

#include "diagnostics/error_hit_check.h"
#include "surface_fixture.h"

namespace tamro::test {
namespace {

using ui::ControlId;

class HitCheck : public Diagnostics {
protected:
    void SetUp() override {
        Diagnostics::SetUp();
        Mode(TestMode::Quick);
        Slot().logLayout = 2;
    }

    // Log entry `index` as the drive recorded it: two time stamps, then
    // fixed-format sense.
    static void Entry(int index, std::uint8_t key, std::uint8_t asc, std::uint32_t lba, bool valid = true,
                      std::uint8_t head = 0) {
        std::uint8_t* e = Slot().smartLogEntries[index];
        std::memset(e, 0, 80);
        e[0] = 0x11;  // time stamps, not read by the check
        e[4] = 0x22;
        std::uint8_t* sense = e + 8;
        sense[0] = valid ? 0xF0 : 0x70;
        sense[2] = key;
        sense[3] = static_cast<std::uint8_t>(lba >> 24);
        sense[4] = static_cast<std::uint8_t>(lba >> 16);
        sense[5] = static_cast<std::uint8_t>(lba >> 8);
        sense[6] = static_cast<std::uint8_t>(lba);
        sense[7] = 40;
        sense[12] = asc;
        sense[43] = head;
    }

    static const RetestResult& Out(int index) { return Slot().retest[index]; }

    static bool Untouched(const RetestResult& r) {
        static const RetestResult zero{};
        return std::memcmp(&r, &zero, sizeof r) == 0;
    }

    static std::vector<std::uint8_t> Repeat(std::vector<std::uint8_t> pair, int times) {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < times; ++i) out.insert(out.end(), pair.begin(), pair.end());
        return out;
    }
};

TEST_F(HitCheck, ALayoutOneDriveHasFourEntriesThatReadCleanlyTenTimesEach) {
    Slot().logLayout = 1;
    for (int i = 0; i < 5; ++i) Entry(i, 3, 0x11, 100u * (i + 1));  // the fifth lies past layout 1's four
    BarRecorder bars;
    bars.Attach();

    EXPECT_EQ(ErrorHitCheck(0, 0), 0);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t lba : {100u, 200u, 300u, 400u}) expected.insert(expected.end(), 10, lba);
    EXPECT_EQ(Lbas(kOpRead), expected);
    for (const auto& e : Trace()) {
        ASSERT_EQ(Count(e), 1u);
        ASSERT_EQ(e.buf_len, 512u);
    }
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Untouched(Out(i))) << i;
    EXPECT_EQ(Slot().errorKind, 0);
    // Quick mode: the check is the drive's only procedure and has all of its
    // share; each of the four entries advances TBar by 250.
    EXPECT_EQ(bars.test, (std::vector<int>{250, 500, 750, 1000}));
    EXPECT_EQ(bars.total, (std::vector<int>{250, 500, 750, 1000}));
    EXPECT_EQ(Caption(ControlId::TBarLabel), "100");
}

TEST_F(HitCheck, OnlyEntriesWithAUsableLbaWithinTheDriveAreSent) {
    const std::uint32_t lastLba = Slot().lastLba;
    Entry(0, 3, 0x11, 500, false);       // VALID clear: no LBA to trust
    Entry(1, 3, 0x31, 600, false);       // ASC 31h carries its LBA without VALID
    Entry(2, 3, 0x11, lastLba);          // the last block is on the drive
    Entry(3, 3, 0x11, lastLba + 1);      // one past it is not
    EXPECT_EQ(ErrorHitCheck(0, 0), 0);

    std::vector<std::uint32_t> expected(10, 600);
    expected.insert(expected.end(), 10, lastLba);
    EXPECT_EQ(Lbas(kOpRead), expected);
    EXPECT_EQ(Out(0).flag, 0xFF);
    EXPECT_EQ(Out(0).status, 0xFF);
    EXPECT_TRUE(Untouched(Out(1)));
    EXPECT_TRUE(Untouched(Out(2)));
    EXPECT_EQ(Out(3).flag, 0xFF);
    EXPECT_EQ(Out(3).status, 0xFE);
    EXPECT_EQ(Out(3).message[0], '\0');
}

TEST_F(HitCheck, AWriteFaultOnAReadOnlyRunWritesOnlyTheReservedAreaInFactoryMode) {
    Entry(0, 4, 0x03, 1234, true, 5);
    EXPECT_EQ(ErrorHitCheck(0, 0), 0);

    std::vector<std::uint8_t> expected{kOpFactory};
    const auto attempts = Repeat({kOpWriteSpecial, kOpRezero}, 10);
    expected.insert(expected.end(), attempts.begin(), attempts.end());
    expected.push_back(kOpFactory);
    EXPECT_EQ(Opcodes(), expected);
    const auto trace = Trace();
    EXPECT_EQ(Cdb(trace[1]), (std::vector<std::uint8_t>{0xFA, 0x00, 0xFF, 0xDB, 0x05, 0xD0, 0x00, 0x10, 0x00, 0x00}));
    EXPECT_EQ(trace[1].buf_len, 8192u);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    EXPECT_TRUE(Untouched(Out(0)));
}

TEST_F(HitCheck, AWriteFaultWithWritesPermittedRewritesTheLoggedBlocks) {
    writePermitted = 1;
    const std::uint32_t lastLba = Slot().lastLba;
    MediaFault(kOpWrite, 4000, 4000, 4, 0x03);
    Entry(0, 4, 0x03, 1234);
    Entry(1, 4, 0x03, lastLba - 3);  // only four blocks left on the drive
    Entry(2, 4, 0x03, 4000);         // fails again: no Rezero(6) after it
    EXPECT_EQ(ErrorHitCheck(0, 0), -1);
    EXPECT_EQ(Slot().errorKind, kLoggedErrorReproduced);
    auto expected = Repeat({kOpWrite, kOpRezero}, 20);
    expected.push_back(kOpWrite);
    EXPECT_EQ(Opcodes(), expected);
    using Extent = std::pair<std::uint32_t, std::uint32_t>;
    const auto writes = Extents(kOpWrite);
    EXPECT_EQ(writes[0], (Extent{1234, 16}));
    EXPECT_EQ(writes[10], (Extent{lastLba - 3, 4}));
    EXPECT_EQ(writes[20], (Extent{4000, 16}));
    EXPECT_EQ(Trace().front().buf_len, 16u * 512);
    EXPECT_TRUE(Untouched(Out(0)));
    EXPECT_TRUE(Untouched(Out(1)));
    EXPECT_EQ(Out(2).sense[2] & 0x0F, 4);
    EXPECT_EQ(Out(2).sense[12], 0x03);
    EXPECT_EQ(Out(2).flag, 0);
}

TEST_F(HitCheck, AFailedWriteSpecialOrRezeroEndsTheAttemptsAndFactoryModeIsClosed) {
    FaultOn(kOpWriteSpecial, 0, 4, 0x03, 0, false);
    FaultOn(kOpRezero, 0, 4, 0x44, 0, false);
    Entry(0, 4, 0x03, 1234, true, 2);
    Entry(1, 4, 0x03, 1234, true, 2);
    EXPECT_EQ(ErrorHitCheck(0, 0), -1);
    EXPECT_EQ(Opcodes(), (std::vector<std::uint8_t>{kOpFactory, kOpWriteSpecial, kOpFactory,  //
                                                    kOpFactory, kOpWriteSpecial, kOpRezero, kOpFactory}));
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    // The write's sense is kept; the Rezero(6) is reported by its message
    // even after a CHECK CONDITION.
    EXPECT_EQ(Out(0).sense[12], 0x03);
    EXPECT_EQ(Out(0).flag, 0);
    EXPECT_EQ(Out(1).flag, 0xFF);
    EXPECT_EQ(Out(1).status, kCheckCondition);
    EXPECT_STREQ(Out(1).message, "Error: Rezero(6): Check Condition.");
    EXPECT_EQ(Out(1).sense[0], 0);
}

TEST_F(HitCheck, AReReadThatFailsKeepsItsSenseOrItsTransportMessage) {
    TransportFault(kOpRead, 3);
    MediaFault(kOpRead, 2500, 2500, 3, 0x11);
    Entry(0, 1, 0x18, 2000);
    Entry(1, 3, 0x11, 2500);
    Entry(2, 3, 0x11, 3000);
    EXPECT_EQ(ErrorHitCheck(0, 0), -1);
    EXPECT_EQ(Slot().errorKind, kLoggedErrorReproduced);
    std::vector<std::uint32_t> expected(4, 2000);
    expected.push_back(2500);
    expected.insert(expected.end(), 10, 3000);
    EXPECT_EQ(Lbas(kOpRead), expected);
    EXPECT_EQ(Out(0).flag, 0xFF);
    EXPECT_EQ(Out(0).status, kTransportError);
    EXPECT_STREQ(Out(0).message, "Read(10): Selection timeout.");
    EXPECT_EQ(Out(1).flag, 0);
    EXPECT_EQ(Out(1).sense[2] & 0x0F, 3);
    EXPECT_EQ(Out(1).sense[12], 0x11);
    EXPECT_EQ(Out(1).message[0], '\0');
    EXPECT_TRUE(Untouched(Out(2)));
}

TEST_F(HitCheck, AnUnknownLogLayoutHasNoEntriesToCheck) {
    Slot().logLayout = 255;
    selectedCount = 0;  // not a run's value, but no reason to divide by it
    Entry(0, 3, 0x11, 100);
    EXPECT_EQ(ErrorHitCheck(0, 0), 0);
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(Position(ControlId::PBar), 1000);
    // A slot that entered the check already marked still fails it.
    Slot().errorKind = kCheckCondition;
    EXPECT_EQ(ErrorHitCheck(0, 0), -1);
    EXPECT_EQ(Slot().errorKind, kLoggedErrorReproduced);
    EXPECT_EQ(LogEntryCount(0), 0);
    EXPECT_EQ(LogEntryCount(3), 90);
}

TEST_F(HitCheck, TheShareFollowsTheModeAndTheDriveStart) {
    Mode(TestMode::Standard);  // read only: a third of the drive's part
    selectedCount = 2;
    SetBar(Bar::Total, 500);
    BarRecorder bars;
    bars.Attach();
    EXPECT_EQ(ErrorHitCheck(0, 0), 0);
    // (1000 / 2) / 3 = 166; 166 / 90 = 1 per entry, then the whole share.
    ASSERT_EQ(bars.total.size(), 91u);
    EXPECT_EQ(bars.total[0], 501);
    EXPECT_EQ(bars.total[89], 590);
    EXPECT_EQ(bars.total[90], 666);
    EXPECT_EQ(bars.test.front(), 11);  // 1000 / 90 = 11 per entry
    EXPECT_EQ(bars.test.back(), 990);
}

}  // namespace
}  // namespace tamro::test

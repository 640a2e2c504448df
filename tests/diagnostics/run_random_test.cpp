// The run's random generator and the LBA draw: the same sequence in every
// run, one sequence across the drives of a run.
#include <thread>

#include "surface_fixture.h"

namespace tamro::test {
namespace {

// The first outputs from state 1, worked out by hand from
// s' = s * 22695477 + 1 mod 2^32, x = (s' >> 16) & 7FFFh:
// s1 = 22695478 -> 346; s2 = 22695478 * 22695477 + 1 mod 2^32 -> 130; ...
constexpr std::uint32_t kFirstOutputs[] = {346, 130, 10982, 1090, 11656, 7117};
// trunc(x * 999999 / 32767) for those: 346 * 999999 / 32767 = 10559.39,
// 130 * 999999 / 32767 = 3967.40, 10982 * 999999 / 32767 = 335153.94, ...
const std::vector<std::uint32_t> kFirstLbas = {10559, 3967, 335153, 33265, 355723, 217200};

TEST(RunRandom, EveryThreadStartsFromStateOneAndAResetStartsAgain) {
    ResetRunRandom();
    for (std::uint32_t x : kFirstOutputs) EXPECT_EQ(NextRunRandom(), x);
    std::uint32_t onAnotherThread = 0;
    std::thread([&] { onAnotherThread = NextRunRandom(); }).join();
    EXPECT_EQ(onAnotherThread, kFirstOutputs[0]);
    ResetRunRandom();
    EXPECT_EQ(NextRunRandom(), kFirstOutputs[0]);
}

TEST(RunRandom, TheDrawScalesZeroToTheLastLbaAndTruncates) {
    EXPECT_EQ(ScaleRandomLba(0, 999999), 0u);
    EXPECT_EQ(ScaleRandomLba(32767, 999999), 999999u);
    EXPECT_EQ(ScaleRandomLba(32767, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ScaleRandomLba(16383, 999999), 499984u);   // 499984.24
    EXPECT_EQ(ScaleRandomLba(32765, 150000), 149990u);   // 149990.84
}

class RunRandomOnTheBus : public Diagnostics {
protected:
    // The LBAs of the first `reads` reads of a Standard run; the next read
    // ends it.
    static std::vector<std::uint32_t> FirstReads(unsigned reads) {
        sim_clear_faults();
        sim_trace_clear();
        TransportFault(kOpRead, reads);
        EXPECT_EQ(RunSurfaceTests(0, 0), -1);
        auto lbas = Lbas(kOpRead);
        lbas.resize(reads);
        return lbas;
    }
};

TEST_F(RunRandomOnTheBus, TwoRunsDrawTheSameLbasAndTheDrivesOfARunShareOneSequence) {
    Mode(TestMode::Standard);
    EXPECT_EQ(FirstReads(6), kFirstLbas);
    ResetRunRandom();  // the next run's worker
    EXPECT_EQ(FirstReads(3), std::vector<std::uint32_t>(kFirstLbas.begin(), kFirstLbas.begin() + 3));
    // The next drive of the same run: three good reads and a failing one
    // drew four outputs, so it goes on with the fifth.
    EXPECT_EQ(FirstReads(1), std::vector<std::uint32_t>{kFirstLbas[4]});
}

}  // namespace
}  // namespace tamro::test

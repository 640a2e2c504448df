// The record a judged drive leaves for the front ends: the slot as judged,
// whatever the log writer's own commands do to the live slot afterwards, and
// the procedures and times the run noted beside it.
#include <memory>
#include <mutex>

#include "reports/drive_report.h"
#include "run_fixture.h"

namespace tamro::test {
namespace {

// Passes everything on to the window's model and keeps the records.
class Recorder final : public EngineObserver {
public:
    explicit Recorder(EngineObserver& next) : next_(next) {}
    EngineObserver& Next() const { return next_; }
    void Status(int s, std::string_view t, Tone c, bool p) override { next_.Status(s, t, c, p); }
    void Judge(int s, std::string_view t, Tone c, bool p) override { next_.Judge(s, t, c, p); }
    void Progress(int s, Bar b, int p, bool l) override { next_.Progress(s, b, p, l); }
    void LogWritten(int s, const std::string& p) override { next_.LogWritten(s, p); }
    void ListReset(bool h) override { next_.ListReset(h); }
    void DriveLine(int s, std::string_view t, Tone c) override { next_.DriveLine(s, t, c); }
    void Selectable(int s, bool t) override { next_.Selectable(s, t); }
    void ScanFailure(std::string_view t) override { next_.ScanFailure(t); }
    void ScanEnded(bool ok) override { next_.ScanEnded(ok); }
    void Alarm(std::string_view t) override { next_.Alarm(t); }
    void WorkFinished(Work w) override { next_.WorkFinished(w); }
    void DriveReported(const std::shared_ptr<const DriveReport>& r) override {
        std::lock_guard lock(mutex_);
        reports_.push_back(r);
    }
    std::vector<std::shared_ptr<const DriveReport>> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    EngineObserver& next_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<const DriveReport>> reports_;
};

class DriveRecord : public RunBus {
protected:
    void SetUp() override {
        RunBus::SetUp();  // attaches the window's model
        recorder = std::make_unique<Recorder>(Observer());
        SetFrontEnd(*recorder, Choices());
    }
    void TearDown() override {
        SetFrontEnd(recorder->Next(), Choices());
        RunBus::TearDown();
    }
    std::unique_ptr<Recorder> recorder;
};

TEST_F(DriveRecord, IsTheSlotAsJudgedNotAsTheLogWriterLeftIt) {
    SimDiskConfig c = Disk("REC00000");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    SimFault select = NextFault(0x15);  // the first Mode Select
    select.sense_key = 5;
    select.asc = 0x26;
    ASSERT_EQ(sim_add_fault(0, 0, &select), 0);
    SimFault page = NextFault(0xFD);  // the SMART page's GetLog(10), after the run's own
    page.skip = 1;
    page.sense_key = 3;
    ASSERT_EQ(sim_add_fault(0, 0, &page), 0);
    ASSERT_EQ(Runthread::Execute(), Runthread::Outcome::Finished);

    EXPECT_STREQ(DriveTable[0].lastError, "Error: GetLog(10): Check Condition.");  // the live slot moved on
    const auto reports = recorder->Reports();
    ASSERT_EQ(reports.size(), 1u);
    const DriveReport& r = *reports[0];
    EXPECT_STREQ(r.judged.lastError, "Error: Mode Select: Check Condition.");
    EXPECT_EQ(r.judged.senseData[12], 0x26);
    EXPECT_TRUE(Has(Log("REC00000"), "<<< Error: Mode Select: Check Condition. >>>"));
    ASSERT_TRUE(r.smartPage);
    EXPECT_FALSE(r.smartPage->logRead);  // the page shows zeros, and says why
    EXPECT_FALSE(r.logRetested);
    EXPECT_EQ(r.logPath, (fs::current_path() / "REC00000.log").string());
    ASSERT_TRUE(r.stoppedAt && r.startedAt);
    EXPECT_LE(*r.startedAt, *r.stoppedAt);
}

TEST_F(DriveRecord, NotesEachProcedureAndTheLogThatCouldNotBeWritten) {
    SimDiskConfig c = Disk("REC00001");
    sim_add_disk(0, 0, &c);
    Standard();
    ScanAndShow();
    fs::create_directories("REC00001.log");  // a folder where the log should go
    EXPECT_EQ(Runthread::Execute(), Runthread::Outcome::Stopped);
    const auto reports = recorder->Reports();
    ASSERT_EQ(reports.size(), 1u);
    const DriveReport& r = *reports[0];
    EXPECT_TRUE(r.logPath.empty());
    EXPECT_EQ(r.logError, "Cannot open file REC00001.log");
    EXPECT_TRUE(r.logRetested);
    ASSERT_EQ(r.procedures.size(), 2u);
    EXPECT_EQ(r.procedures[0].name, "Random Seek Read");
    EXPECT_EQ(r.procedures[1].name, "Random Seek");
    std::uint64_t read = 0, seeks = 0;
    for (const ProcedureOutcome& p : r.procedures) {
        EXPECT_TRUE(p.completed);
        read += p.blocksRead;
        seeks += p.seeks;
    }
    EXPECT_EQ(read, r.judged.blocksRead);  // each block counted by exactly one procedure
    EXPECT_EQ(seeks, r.judged.seekCount);
    EXPECT_GT(r.procedures[0].blocksRead, 0u);
}

}  // namespace
}  // namespace tamro::test

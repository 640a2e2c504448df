// The program's start-up on the simulated bus, with the real window
// (offscreen): the wait notice over the disclaimer, then ACCEPT and CANCEL,
// or the alarm when the scan fails.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include "discovery/drive_table.h"
#include "platform/time_text.h"
#include "sim_control.h"
#include "transport/aspi.h"
#include "ui/main_window.h"
#include "ui/qt/form_view.h"

namespace tamro::ui {
namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        Form().Reset();
        sim_reset_default();
        sim_set_service_time_us(0);
        InstallHandlers();
        view = std::make_unique<qt::FormView>();
        view->show();
    }
    void TearDown() override {
        // Let a scan still running finish before the next test rebuilds the bus.
        WaitFor([] { return Form().IsEnabled(ControlId::accept) || Form().IsEnabled(ControlId::OK); });
        view.reset();
        sim_set_support_status(SS_COMP);
    }
    bool Showing(ControlId id) const { return view->Widget(id)->isVisible(); }
    bool Enabled(ControlId id) const { return view->Widget(id)->isEnabled(); }

    std::unique_ptr<qt::FormView> view;
};

TEST_F(StartUp, ShowsTheWaitNoticeThenTheDisclaimer) {
    sim_set_service_time_us(2000);  // slow enough to see the notice
    ConstructForm();
    view->Flush();
    EXPECT_TRUE(Showing(ControlId::ALARM));
    EXPECT_TRUE(Showing(ControlId::WAIT));
    EXPECT_FALSE(Showing(ControlId::error));
    EXPECT_TRUE(Showing(ControlId::disclaimer));
    EXPECT_TRUE(Showing(ControlId::accept));
    EXPECT_FALSE(Enabled(ControlId::accept));
    EXPECT_FALSE(Enabled(ControlId::cancel));
    EXPECT_FALSE(Enabled(ControlId::OK));
    for (ControlId hidden : {ControlId::info, ControlId::connect, ControlId::RETEST, ControlId::EXIT, ControlId::TEST})
        EXPECT_FALSE(Showing(hidden)) << ControlName(hidden);
    EXPECT_EQ(Form().Caption(ControlId::WAIT), "Scaning new drives now, Please wait.");
    EXPECT_EQ(Form().Caption(ControlId::titlename), "TAMRO (Halcyon SCSI Diagnostic Tool)  Version 1.4");
    EXPECT_EQ(Form().Caption(ControlId::Label1), "     DISCLAIMER" + std::string(25, ' '));
    EXPECT_EQ(Form().Caption(ControlId::date), DateText(platform::LocalCalendarTime()));
    for (ControlId line : {ControlId::Label2, ControlId::Label6, ControlId::Label10})
        EXPECT_EQ(Form().Caption(line).substr(0, 2), "  ");
    EXPECT_EQ(Form().Caption(ControlId::Label11), "  damages.");

    ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::accept); }));
    view->Flush();
    EXPECT_FALSE(Showing(ControlId::ALARM));
    EXPECT_TRUE(Enabled(ControlId::accept));
    EXPECT_TRUE(Enabled(ControlId::cancel));
    // Seven of the default bus's disks fill the table.
    EXPECT_EQ(driveCount, 7);
}

TEST_F(StartUp, CancelUnderTheDisclaimerClosesTheWindow) {
    ConstructForm();
    ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::accept); }));
    view->Flush();
    QTest::mouseClick(view->Widget(ControlId::cancel), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([this] { return !view->isVisible(); }));
}

TEST_F(StartUp, AFailedScanShowsTheAlarmAndOkEnds) {
    sim_set_support_status(0x00);
    ConstructForm();
    ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::OK); }));
    view->Flush();
    EXPECT_TRUE(Showing(ControlId::ALARM));
    EXPECT_TRUE(Showing(ControlId::error));
    EXPECT_FALSE(Showing(ControlId::WAIT));
    EXPECT_EQ(Form().Caption(ControlId::error), kAspiInitError);
    EXPECT_FALSE(Enabled(ControlId::accept));
    QTest::mouseClick(view->Widget(ControlId::OK), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([this] { return !view->isVisible(); }));
}

TEST(DateTextTest, MonthDayYearWithoutLeadingZeros) {
    std::tm t{};
    t.tm_year = 2001 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    EXPECT_EQ(DateText(t), "3/7/2001");
    t.tm_mon = 11;
    t.tm_mday = 31;
    EXPECT_EQ(DateText(t), "12/31/2001");
}

}  // namespace
}  // namespace tamro::ui

// The operator's journeys through the real window (offscreen) on the
// simulator's default bus: every click goes through the widgets.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "platform/folders.h"
#include "reports/drive_log.h"
#include "ui/qt/form_view.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class Journey : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        view = std::make_unique<ui::qt::FormView>();  // installs the real file dialog
        view->show();
    }
    void TearDown() override {
        view.reset();
        WindowTest::TearDown();
    }

    void StartWindow() {
        ui::ConstructForm();
        ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::accept); }));
        view->Flush();
    }

    QWidget* Widget(ControlId id) const { return view->Widget(id); }
    bool Seen(ControlId id) const { return Widget(id)->isVisible(); }

    void Press(ControlId id) {
        view->Flush();
        QWidget* w = Widget(id);
        ASSERT_TRUE(w->isVisible() && w->isEnabled()) << ui::ControlName(id) << " cannot be clicked";
        QPoint at = w->rect().center();
        if (auto* box = qobject_cast<QCheckBox*>(w)) {
            QStyleOptionButton option;
            option.initFrom(box);
            at = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box).center();
        }
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
        view->Flush();
    }

    // The keyboard: what has the focus, a key pressed there, Tab until a control.
    std::optional<ControlId> Focused() const {
        for (std::size_t i = 0; i < ui::kControlCount; ++i)
            if (QApplication::focusWidget() != nullptr && Widget(ui::ControlAt(i)) == QApplication::focusWidget())
                return ui::ControlAt(i);
        return std::nullopt;
    }
    void Key(Qt::Key key) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : view.get(), key);
        view->Flush();
    }
    void TabTo(ControlId id) {
        for (int i = 0; i < 60 && Focused() != id; ++i) Key(Qt::Key_Tab);
        ASSERT_EQ(Focused(), id) << ui::ControlName(id) << " is not reached by Tab";
    }

    QString Text(ControlId id) const { return qobject_cast<QLabel*>(Widget(id))->text(); }
    bool Ticked(ControlId id) const { return qobject_cast<QCheckBox*>(Widget(id))->isChecked(); }

    // Answers the next file dialog: the path to choose, or nothing to cancel.
    void AnswerFileDialog(std::optional<std::string> path) {
        QTimer::singleShot(0, [this, path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seenTitle = dialog->windowTitle().toStdString();
            seenFolder = dialog->directory().absolutePath().toStdString();
            seenFilters = dialog->nameFilters();
            if (path) {
                dialog->selectFile(QString::fromStdString(*path));
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
    }

    std::unique_ptr<ui::qt::FormView> view;
    std::string seenTitle, seenFolder;
    QStringList seenFilters;
};

TEST_F(Journey, QuickRunVerdictsLogsAndTheViewer) {
    StartWindow();
    Press(ControlId::accept);
    EXPECT_TRUE(Seen(ControlId::connect));
    EXPECT_FALSE(Seen(ControlId::disclaimer));
    Press(ControlId::SmtTest);
    EXPECT_TRUE(Ticked(ControlId::SmtTest));
    EXPECT_FALSE(Ticked(ControlId::StdTest));
    std::vector<int> ticked;
    for (int n = 0; n < kSlotCount; ++n)
        if (Ticked(kSelect[n])) ticked.push_back(n);
    ASSERT_GE(ticked.size(), 3u);
    Press(ControlId::Button4);
    EXPECT_TRUE(Seen(ControlId::EXIT));
    ASSERT_TRUE(WaitFor(RunEnded));
    view->Flush();
    EXPECT_TRUE(Widget(ControlId::TEST)->isEnabled());

    for (int n : ticked) {
        EXPECT_TRUE(Widget(kLogButton[n])->isEnabled());
        const QString verdict = Text(kJudge[n]);
        EXPECT_TRUE(verdict.contains("PASS") || verdict.contains("FAIL") || verdict.contains("NO Judge"))
            << verdict.toStdString();
        EXPECT_TRUE(std::filesystem::exists(LogFileName(DriveTable[static_cast<std::size_t>(n)].serialNumber)));
    }

    Press(ControlId::ID0);
    const auto opened = viewer.Take();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], LogFileName(DriveTable[0].serialNumber));
    EXPECT_FALSE(qobject_cast<QRadioButton*>(Widget(ControlId::ID0))->isChecked());
}

// The same run with key presses only: Enter, Space, Tab and Escape.
TEST_F(Journey, KeyboardOnlyQuickRun) {
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    StartWindow();
    EXPECT_EQ(Focused(), ControlId::accept);
    Key(Qt::Key_Return);
    ASSERT_TRUE(Seen(ControlId::connect));

    // The first drive that can be chosen has the focus; Space unticks and ticks it.
    std::vector<int> ticked;
    for (int n = 0; n < kSlotCount; ++n)
        if (Ticked(kSelect[n])) ticked.push_back(n);
    ASSERT_FALSE(ticked.empty());
    const int first = ticked.front();
    EXPECT_EQ(Focused(), kSelect[first]);
    Key(Qt::Key_Space);
    EXPECT_FALSE(Ticked(kSelect[first]));
    EXPECT_EQ(Text(kJudge[first]), "------ ");
    Key(Qt::Key_Space);
    EXPECT_TRUE(Ticked(kSelect[first]));

    TabTo(ControlId::SmtTest);
    Key(Qt::Key_Space);
    EXPECT_TRUE(Ticked(ControlId::SmtTest));

    // The write question starts on CANCEL: an unintended Enter permits nothing,
    // and Escape answers CANCEL.
    TabTo(ControlId::WrtPermit);
    Key(Qt::Key_Space);
    ASSERT_TRUE(Seen(ControlId::WtComfirm));
    EXPECT_EQ(Focused(), ControlId::WtNG);
    Key(Qt::Key_Return);
    EXPECT_FALSE(Seen(ControlId::WtComfirm));
    EXPECT_EQ(writePermitted, 0);
    TabTo(ControlId::WrtPermit);
    Key(Qt::Key_Space);
    ASSERT_TRUE(Seen(ControlId::WtComfirm));
    Key(Qt::Key_Escape);
    EXPECT_FALSE(Seen(ControlId::WtComfirm));
    EXPECT_TRUE(Ticked(ControlId::ReadOnly));
    EXPECT_EQ(writePermitted, 0);

    TabTo(ControlId::Button4);
    Key(Qt::Key_Return);
    EXPECT_NE(Focused(), ControlId::EXIT);  // a second Enter must not end the program
    Key(Qt::Key_Return);
    ASSERT_TRUE(WaitFor(RunEnded));
    view->Flush();
    EXPECT_EQ(Focused(), ControlId::TEST);  // never EXIT
    for (int n : ticked) EXPECT_FALSE(Text(kJudge[n]).isEmpty()) << n;

    // A log button opens the log with Space or Enter and keeps the focus.
    TabTo(kLogButton[first]);
    Key(Qt::Key_Space);
    Key(Qt::Key_Return);
    EXPECT_EQ(viewer.Take().size(), 2u);
    EXPECT_EQ(Focused(), kLogButton[first]);

    TabTo(ControlId::TEST);
    Key(Qt::Key_Return);
    ASSERT_TRUE(Seen(ControlId::RETEST));
    EXPECT_EQ(Focused(), ControlId::Button6);  // START, not EXIT
}

TEST_F(Journey, WrtPermitWithCancelThenWithOk) {
    StartWindow();
    Press(ControlId::accept);
    Press(ControlId::WrtPermit);
    EXPECT_TRUE(Seen(ControlId::WtComfirm));
    EXPECT_FALSE(Widget(ControlId::Button4)->isEnabled());
    EXPECT_EQ(writePermitted, 1);
    Press(ControlId::WtNG);
    EXPECT_FALSE(Seen(ControlId::WtComfirm));
    EXPECT_TRUE(Ticked(ControlId::ReadOnly));
    EXPECT_FALSE(Ticked(ControlId::WrtPermit));
    EXPECT_EQ(writePermitted, 0);

    Press(ControlId::WrtPermit);
    Press(ControlId::WtOK);
    EXPECT_FALSE(Seen(ControlId::WtComfirm));
    EXPECT_TRUE(Ticked(ControlId::WrtPermit));
    EXPECT_FALSE(Ticked(ControlId::ReadOnly));
    EXPECT_TRUE(Widget(ControlId::Button4)->isEnabled());
    EXPECT_EQ(writePermitted, 1);
}

TEST_F(Journey, CancelOnTheDriveListThenNewTestStartsANewScan) {
    StartWindow();
    Press(ControlId::accept);
    Press(ControlId::Button1);
    EXPECT_FALSE(Seen(ControlId::Button4));
    EXPECT_TRUE(Seen(ControlId::EXIT));
    Press(ControlId::TEST);
    EXPECT_TRUE(Seen(ControlId::RETEST));
    EXPECT_EQ(Text(ControlId::RETESTL), "Did you connect new drives for test ?");
    sim_trace_clear();
    Press(ControlId::Button6);
    EXPECT_TRUE(Seen(ControlId::WAIT) || Form().IsEnabled(ControlId::accept));
    ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::accept); }));
    EXPECT_GT(sim_trace_count(), 0u);  // the drives were scanned again
    Press(ControlId::accept);
    EXPECT_TRUE(Seen(ControlId::Button4));
    EXPECT_TRUE(Ticked(ControlId::ID0D));
}

TEST_F(Journey, MicrocodeDownloadThenScan) {
    StartWindow();
    Press(ControlId::accept);
    const std::string image = (std::filesystem::current_path() / "fw.frm").string();
    std::filesystem::copy_file(TAMRO_SAMPLES_DIR "/cv7-sample.frm", image);  // for the CV-7 drives

    AnswerFileDialog(std::nullopt);
    Press(ControlId::DL);
    EXPECT_EQ(seenTitle, "FileOpen");
    EXPECT_EQ(seenFolder, platform::CurrentFolder());
    ASSERT_EQ(seenFilters.size(), 2);
    EXPECT_TRUE(seenFilters[0].contains("*.frm"));
    EXPECT_TRUE(seenFilters[1].contains("*.*"));
    EXPECT_FALSE(Widget(ControlId::Button8)->isEnabled());

    AnswerFileDialog(image);
    Press(ControlId::DL);
    ASSERT_TRUE(Widget(ControlId::Button8)->isEnabled());
    Press(ControlId::Button8);
    ASSERT_TRUE(WaitFor([] { return Form().IsEnabled(ControlId::Button9); }));
    view->Flush();
    EXPECT_EQ(Text(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_TRUE(Text(ControlId::J0).contains("PASS")) << Text(ControlId::J0).toStdString();
    EXPECT_TRUE(Text(ControlId::J1).contains("FAIL")) << Text(ControlId::J1).toStdString();  // a CV-4
    EXPECT_EQ(sim_disk_download_chunk_count(0, 0), 4);
    EXPECT_TRUE(std::filesystem::exists(LogFileName(DriveTable[0].serialNumber)));

    Press(ControlId::Button9);
    EXPECT_TRUE(Widget(ControlId::Button4)->isEnabled());
    EXPECT_FALSE(Widget(ControlId::Button8)->isEnabled());
}

TEST_F(Journey, ScanButtonRefillsTheRows) {
    StartWindow();
    Press(ControlId::accept);
    const QString before = Text(ControlId::id1l);
    ASSERT_TRUE(before.startsWith("HA#0/ID01"));
    sim_clear_bus();
    ASSERT_EQ(sim_add_adapter("SIMASPI", "TEST-HBA", 8, 7), 0);
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    ASSERT_EQ(sim_add_disk(0, 0, &cfg), 0);
    Press(ControlId::Button9);
    EXPECT_TRUE(Text(ControlId::id0l).endsWith("#SIM00000")) << Text(ControlId::id0l).toStdString();
    EXPECT_EQ(Text(ControlId::id1l), "HA#x/IDxx  Non Connection ");
    EXPECT_EQ(Text(ControlId::DCONF), " ");
    EXPECT_TRUE(Widget(ControlId::Button4)->isEnabled());
}

TEST_F(Journey, ExitDuringARunEndsTheWorkAtTheNextCommand) {
    StartWindow();
    Press(ControlId::accept);
    const int stoppedBefore = testing::StoppedCommandThreads();
    sim_set_service_time_us(20000);  // each command long enough to be seen
    Press(ControlId::Button4);
    ASSERT_TRUE(WaitFor(AnyDriveInFactoryMode));
    Press(ControlId::EXIT);
    ASSERT_TRUE(WaitFor([this] { return !view->isVisible(); }));

    ASSERT_TRUE(ui::StopWorkForExit(ui::ExitBound()));
    ASSERT_TRUE(WaitFor([&] { return testing::StoppedCommandThreads() == stoppedBefore + 1; }));
    EXPECT_FALSE(AnyDriveInFactoryMode());
    const std::size_t sent = sim_trace_count();
    QTest::qWait(30);
    EXPECT_EQ(sim_trace_count(), sent);
    EXPECT_FALSE(RunEnded());
}

}  // namespace
}  // namespace tamro::test

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "ui/accessible_names.h"
#include "ui/qt/form_view.h"
#include "ui/window_front_end.h"

namespace tamro::ui::qt {
namespace {

// Runs the event loop until done() holds or the time is up.
template <class Done>
bool WaitUntil(Done done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QColor Ink(QWidget* w) { return w->palette().color(QPalette::Active, QPalette::WindowText); }

class FormViewTest : public testing::Test {
protected:
    void SetUp() override { view = std::make_unique<FormView>(model); }

    void ShowWindow() {
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    // The window as the design has it shows every notice and question, which
    // would hold the keyboard: the drive list alone.
    void ShowDriveListAlone() {
        for (ControlId id : {ControlId::ALARM, ControlId::RETEST, ControlId::WtComfirm, ControlId::disclaimer})
            model.Hide(id);
        view->Flush();
    }

    template <class W>
    W* Get(ControlId id) {
        auto* w = qobject_cast<W*>(view->Widget(id));
        EXPECT_NE(w, nullptr) << ControlName(id);
        return w;
    }

    void ClickCheckBox(ControlId id) {
        auto* box = Get<QCheckBox>(id);
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect clickRect = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
        ASSERT_FALSE(clickRect.isEmpty());
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, clickRect.center());
    }

    WindowModel model;
    std::unique_ptr<FormView> view;
};

TEST_F(FormViewTest, WindowIsFixedTitledAndAtTheTopLeft) {
    ShowWindow();
    EXPECT_EQ(view->size(), QSize(620, 409));
    EXPECT_EQ(view->minimumSize(), QSize(620, 409));
    EXPECT_EQ(view->maximumSize(), QSize(620, 409));
    EXPECT_EQ(view->windowTitle(), "TAMRO");
    EXPECT_EQ(view->font().family(), "Arial");

    const Qt::WindowFlags flags = view->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(view->pos(), QPoint(0, 0));
    EXPECT_EQ(view->frameGeometry().topLeft(), QPoint(0, 0));
}

TEST_F(FormViewTest, EveryControlIsAWidgetCarryingItsName) {
    std::set<QWidget*> distinct;
    for (std::size_t i = 1; i < kControlCount; ++i) {
        const ControlSpec& spec = Spec(ControlAt(i));
        const QString name = QString::fromLatin1(ControlName(spec.id).data(), ControlName(spec.id).size());
        SCOPED_TRACE(name.toStdString());
        QWidget* w = view->Widget(spec.id);
        if (spec.kind == ControlKind::FileDialog) {
            EXPECT_EQ(w, nullptr);
            continue;
        }
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(distinct.insert(w).second);
        EXPECT_EQ(w->objectName(), name);
        EXPECT_NE(w->accessibleDescription(), name);  // never read aloud
        EXPECT_EQ(view->findChild<QWidget*>(name), w);
        // The status line and the bars are gathered into a status bar that
        // lies in their container; each keeps its place there.
        QWidget* parent = w->parentWidget();
        QRect place = w->geometry();
        if (IsInStatusArea(spec.id)) {
            EXPECT_EQ(QAccessible::queryAccessibleInterface(parent)->role(), QAccessible::StatusBar);
            place.translate(parent->pos());
            parent = parent->parentWidget();
        }
        EXPECT_EQ(parent, view->Widget(spec.parent));
        EXPECT_EQ(place, QRect(spec.bounds.x, spec.bounds.y, spec.bounds.width, spec.bounds.height));
        EXPECT_EQ(w->isHidden(), !spec.visible);
        EXPECT_EQ(w->testAttribute(Qt::WA_ForceDisabled), !spec.enabled);

        switch (spec.kind) {
            case ControlKind::Label:
                EXPECT_EQ(qobject_cast<QLabel*>(w)->text().toStdString(), spec.caption);
                break;
            case ControlKind::Button:
                EXPECT_NE(qobject_cast<QPushButton*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QAbstractButton*>(w)->text().toStdString(), spec.caption);
                break;
            case ControlKind::CheckBox:
                ASSERT_NE(qobject_cast<QCheckBox*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QCheckBox*>(w)->isChecked(), spec.checked);
                break;
            case ControlKind::RadioButton:
                EXPECT_NE(qobject_cast<QRadioButton*>(w), nullptr);
                break;
            case ControlKind::ProgressBar:
                ASSERT_NE(qobject_cast<QProgressBar*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QProgressBar*>(w)->maximum(), 1000);
                EXPECT_EQ(qobject_cast<QProgressBar*>(w)->value(), 0);
                break;
            case ControlKind::GroupBox:
                EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title().toStdString(), spec.caption);
                break;
            case ControlKind::Image:
                ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
                EXPECT_EQ(qobject_cast<QLabel*>(w)->pixmap().size(), QSize(105, 52));
                break;
            default:
                EXPECT_NE(qobject_cast<QFrame*>(w), nullptr);
        }
    }
    EXPECT_EQ(Ink(Get<QCheckBox>(ControlId::StdTest)), QColor(0, 128, 0));
    EXPECT_EQ(Ink(Get<QCheckBox>(ControlId::WrtPermit)), QColor(0, 0, 0));
    EXPECT_EQ(Ink(Get<QLabel>(ControlId::DCONF)), QColor(0, 0, 128));
    EXPECT_EQ(Ink(Get<QLabel>(ControlId::Label19)), QColor(128, 0, 0));
}

// What assistive technology reads is what is on the screen, and the control
// names are not read.
TEST_F(FormViewTest, AccessibleNamesAreWhatASightedUserReads) {
    const auto read = [this](ControlId id) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(view->Widget(id));
        return std::pair(a->text(QAccessible::Name).toStdString(), a->role());
    };
    model.SetCaption(ControlId::id2l, "HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2");
    model.SetCaption(ControlId::J2, "PASS");
    model.SetCaption(ControlId::error, "Cannot open file 3EC0A1B2.log\r\n");
    view->Flush();
    EXPECT_EQ(read(ControlId::TForm1).first, "TAMRO");
    EXPECT_EQ(read(ControlId::Button4), std::pair(std::string("RUN."), QAccessible::Button));
    EXPECT_EQ(read(ControlId::SmtTest), std::pair(std::string("Quick"), QAccessible::CheckBox));
    EXPECT_EQ(read(ControlId::ID2D), std::pair(std::string("Select HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2 PASS"),
                                               QAccessible::CheckBox));
    EXPECT_EQ(read(ControlId::ID2), std::pair(std::string("Open log of HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2 PASS"),
                                              QAccessible::RadioButton));
    EXPECT_EQ(read(ControlId::J2).first, "PASS");
    EXPECT_EQ(read(ControlId::error).first, "Cannot open file 3EC0A1B2.log");
    EXPECT_EQ(read(ControlId::PBar).first, "Total Progress");
    EXPECT_EQ(read(ControlId::GroupBox1).first, "Do you permit to issue Write command on all drives ?");

    // Kept current as workers change the texts.
    std::thread([this] {
        model.SetCaption(ControlId::J2, "FAIL");
        model.SetCaption(ControlId::id2l, "HA#x/IDxx  Non Connection ");
    }).join();
    ASSERT_TRUE(WaitUntil([&] { return read(ControlId::J2).first == "FAIL"; }));
    EXPECT_EQ(read(ControlId::ID2D).first, "Select HA#x/IDxx  Non Connection FAIL");
    EXPECT_EQ(read(ControlId::ID2).first, "Open log of HA#x/IDxx  Non Connection FAIL");
    EXPECT_EQ(view->Widget(ControlId::J2)->accessibleDescription(), "");
}

// The notice of drives past the rows, at its longest, fits its place and is
// read as it is shown.
TEST_F(FormViewTest, TheNoticeOfMoreDrivesIsShownWholeAndRead) {
    ShowWindow();
    auto* notice = Get<QLabel>(ControlId::MoreDrives);
    EXPECT_FALSE(notice->isVisible());
    const std::string text = MoreDrivesText(16 * 16 - 7);  // every address the rows leave out
    model.SetCaption(ControlId::MoreDrives, text);
    model.Show(ControlId::MoreDrives);
    view->Flush();
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text().toStdString(), text);
    EXPECT_LE(notice->heightForWidth(notice->width()), notice->height());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(notice)->text(QAccessible::Name).toStdString(), text);
}

// Screen readers take a frame for a window of its own: the window is the one
// frame, its panels are panes.
TEST_F(FormViewTest, TheWindowIsTheOneFrameItsPanelsArePanes) {
    const auto role = [this](ControlId id) { return QAccessible::queryAccessibleInterface(view->Widget(id))->role(); };
    EXPECT_EQ(role(ControlId::TForm1), QAccessible::Window);
    for (ControlId id : {ControlId::Panel2, ControlId::panel, ControlId::connect, ControlId::accept_p,
                         ControlId::HeaderControl1, ControlId::Bevel15})
        EXPECT_EQ(role(id), QAccessible::Pane) << ControlName(id);
}

// The texts of a notice or question that no Tab stop carries are read with
// the control that takes the focus when it appears.
TEST_F(FormViewTest, ScreenTextsAreReadWithTheirFirstControl) {
    const auto described = [this](ControlId id) { return view->Widget(id)->accessibleDescription().toStdString(); };
    model.SetCaption(ControlId::Label1, "     DISCLAIMER          ");
    model.SetCaption(ControlId::Label2, "No warranty");
    model.SetCaption(ControlId::error, "Cannot open file 3EC0A1B2.log\r\n");
    model.SetCaption(ControlId::DCONF, "<< The above indicated drives analysis was finished.>>");
    model.SetProgress(ControlId::PBar, 456);
    view->Flush();
    EXPECT_EQ(described(ControlId::accept), "DISCLAIMER No warranty");
    EXPECT_EQ(described(ControlId::OK), "Cannot open file 3EC0A1B2.log");
    EXPECT_EQ(described(ControlId::WtNG), "Write test selected user data on these disks will be destroyed OK?");
    EXPECT_EQ(described(ControlId::Button6), "Did you connect new drives for test ?");
    // The status line, read on demand, tells the bars beside it.
    EXPECT_EQ(described(ControlId::DCONF), "Total Progress 45 % Test Progress 0 %");
    // The finished status is announced, not repeated when NewTEST takes the focus.
    EXPECT_EQ(described(ControlId::TEST), "");
    EXPECT_EQ(described(ControlId::cancel), "");
}

TEST_F(FormViewTest, TheFocusedControlIsClearlyRinged) {
    ShowWindow();
    ShowDriveListAlone();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* scan = Get<QPushButton>(ControlId::Button9);
    const auto ringPixels = [scan] {
        const QImage image = scan->grab().toImage();
        int ring = 0;
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, 1);
            if (c == QColor(0, 84, 200)) ++ring;  // the ring's own blue
        }
        return ring;
    };
    EXPECT_EQ(ringPixels(), 0);
    scan->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return scan->hasFocus(); }));
    EXPECT_GT(ringPixels(), scan->width() * 3 / 4);  // a line along the whole edge
}

// A question holds the keyboard: Tab and Shift+Tab go round its buttons,
// and a control under it that gets the focus anyhow gives it back.
TEST_F(FormViewTest, AnOpenQuestionHoldsTheKeyboard) {
    ShowWindow();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    for (ControlId id : {ControlId::ALARM, ControlId::RETEST, ControlId::disclaimer}) model.Hide(id);
    model.Enable(ControlId::ID1D);  // a drive under the question
    int toggled = 0;
    model.OnChange(ControlId::ID1D, [&] { ++toggled; });
    view->Flush();
    auto* cancel = Get<QPushButton>(ControlId::WtNG);
    auto* ok = Get<QPushButton>(ControlId::WtOK);
    cancel->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return cancel->hasFocus(); }));
    QTest::keyClick(cancel, Qt::Key_Tab);
    EXPECT_TRUE(ok->hasFocus());
    QTest::keyClick(ok, Qt::Key_Tab);
    EXPECT_TRUE(cancel->hasFocus());
    QTest::keyClick(cancel, Qt::Key_Backtab);
    EXPECT_TRUE(ok->hasFocus());

    auto* box = Get<QCheckBox>(ControlId::ID1D);
    box->setFocus();
    EXPECT_TRUE(cancel->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(toggled, 0);

    model.Hide(ControlId::WtComfirm);
    view->Flush();
    box->setFocus();
    EXPECT_TRUE(box->hasFocus());
}

// The status line is read-only text a listener reaches with Tab; what it
// says and the bars' progress reach listeners at their own pace, the latest
// winning.
TEST_F(FormViewTest, TheStatusLineAndTheBarsAreReadOnDemand) {
    ShowWindow();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    ShowDriveListAlone();
    QAccessibleInterface* line = QAccessible::queryAccessibleInterface(view->Widget(ControlId::DCONF));
    const auto said = [line] { return line->textInterface()->text(0, line->textInterface()->characterCount()); };
    EXPECT_EQ(line->role(), QAccessible::EditableText);
    EXPECT_TRUE(line->state().readOnly);
    EXPECT_TRUE(line->state().focusable);
    EXPECT_EQ(line->text(QAccessible::Name), "");  // its text is said once, as text

    std::thread([this] {
        for (int lba = 0; lba <= 1000; ++lba) {
            model.SetCaption(ControlId::DCONF, "** Random Seek Read **  LBA=" + std::to_string(lba) + "    ");
            model.SetProgress(ControlId::TBar, lba * 2 / 3);
        }
    }).join();
    EXPECT_TRUE(WaitUntil([&] { return said() == "** Random Seek Read **  LBA=1000"; }));
    auto* bar = Get<QProgressBar>(ControlId::TBar);
    EXPECT_TRUE(WaitUntil([&] { return bar->value() == 660; }));  // whole percents
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name), "Test Progress");
    EXPECT_TRUE(WaitUntil([&] { return line->text(QAccessible::Description) == "Total Progress 0 % Test Progress 66 %"; }));

    // Tab stops there while it shows a text, ringed like a button.
    Get<QPushButton>(ControlId::Button9)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->Widget(ControlId::DCONF));
}

// The model's announcements reach the notification one after another: the
// one held back comes when it is due, without anything else waking the view.
TEST_F(FormViewTest, AnnouncementsReachTheNotification) {
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(view.get());
    QAccessibleInterface* notification = nullptr;
    for (int i = 0; i < window->childCount(); ++i)
        if (window->child(i)->role() == QAccessible::Notification) notification = window->child(i);
    ASSERT_NE(notification, nullptr);
    const auto told = [notification] { return notification->text(QAccessible::Name).toStdString(); };

    std::thread([this] { model.Announce({"HA#0/ID01 Random Seek Read", Weight::Step, 0}); }).join();
    EXPECT_TRUE(WaitUntil([&] { return told() == "HA#0/ID01 Random Seek Read"; }));
    std::thread([this] { model.Announce({"HA#0/ID01 PASS", Weight::Kept, 0}); }).join();
    EXPECT_TRUE(WaitUntil([&] { return told() == "HA#0/ID01 PASS"; }, 20000));
}

TEST_F(FormViewTest, WorkerChangesReachTheirWidgets) {
    ShowWindow();
    std::thread worker([this] {
        model.SetCaption(ControlId::error, "Cannot open file 4AB01234.log\r\n", colors::kRed);
        model.Hide(ControlId::WAIT);
        model.Enable(ControlId::OK);
        model.Hide(ControlId::info);
        model.SetProgress(ControlId::PBar, 500);
        model.SetCaption(ControlId::DCONF, "** Now saving test result of the drive. **");
        model.Repaint(ControlId::DCONF);
    });
    worker.join();
    auto* status = Get<QLabel>(ControlId::DCONF);
    ASSERT_TRUE(WaitUntil([&] { return status->text() == "** Now saving test result of the drive. **"; }));
    EXPECT_EQ(Get<QLabel>(ControlId::error)->text(), "Cannot open file 4AB01234.log\n");
    EXPECT_TRUE(Get<QLabel>(ControlId::WAIT)->isHidden());
    EXPECT_TRUE(Get<QPushButton>(ControlId::OK)->isEnabled());
    EXPECT_EQ(Get<QProgressBar>(ControlId::PBar)->value(), 500);
    EXPECT_EQ(Get<QLabel>(ControlId::PBarLabel)->text(), " 50");

    // A hidden panel hides what it holds; their own state stays.
    auto* ext = Get<QCheckBox>(ControlId::ExtTest);
    EXPECT_FALSE(ext->isVisible());
    EXPECT_FALSE(ext->isHidden());
    model.Show(ControlId::info);
    view->Flush();
    EXPECT_TRUE(ext->isVisible());
    EXPECT_FALSE(Get<QPushButton>(ControlId::Button8)->isEnabled());
}

TEST_F(FormViewTest, ABusyWorkerIsCoalescedIntoFewApplies) {
    ShowWindow();
    constexpr int kUpdates = 100000;
    const std::uint64_t before = view->AppliedBatches();
    std::atomic<bool> done{false};
    double workerMs = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] {
        for (int i = 0; i < kUpdates; ++i) {
            model.SetCaption(ControlId::DCONF, "Verify LBA " + std::to_string(i));
            model.SetProgress(ControlId::TBar, i % 1001);
            model.Repaint(ControlId::DCONF);
        }
        workerMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();

    const QString last = "Verify LBA " + QString::number(kUpdates - 1);
    auto* status = Get<QLabel>(ControlId::DCONF);
    ASSERT_TRUE(WaitUntil([&] { return status->text() == last; }));
    const double elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(Get<QLabel>(ControlId::TBarLabel)->text().toStdString(), ProgressText((kUpdates - 1) % 1001));
    // Listeners hear the last position too, in whole percents, at their pace.
    EXPECT_TRUE(WaitUntil([&] { return Get<QProgressBar>(ControlId::TBar)->value() == (kUpdates - 1) % 1001 / 10 * 10; }));

    const std::uint64_t batches = view->AppliedBatches() - before;
    RecordProperty("applies", std::to_string(batches));
    RecordProperty("worker_ms", std::to_string(workerMs));
    EXPECT_GE(batches, 1u);
    // At most one apply per repaint gap (8 ms; a coarse timer may fire a
    // little early), however slow the machine.
    EXPECT_LE(static_cast<double>(batches), 2 + elapsedMs / 7) << elapsedMs << " ms";
}

// A scan run by a handler blocks the event loop; its repaint requests must
// still reach the screen.
TEST_F(FormViewTest, RepaintOnTheWindowThreadPaintsAtOnce) {
    ShowWindow();
    view->Flush();
    QTest::qWait(20);  // past the gap that rate-limits repaints
    model.SetCaption(ControlId::DCONF, "Inquiry(6)");
    model.Repaint(ControlId::DCONF);
    EXPECT_EQ(Get<QLabel>(ControlId::DCONF)->text(), "Inquiry(6)");
}

TEST_F(FormViewTest, ButtonClickReachesItsHandler) {
    ShowWindow();
    int scans = 0, execs = 0;
    std::thread::id ranOn;
    model.OnClick(ControlId::Button9, [&] {
        ++scans;
        ranOn = std::this_thread::get_id();
        model.Disable(ControlId::Button9);
    });
    model.OnClick(ControlId::Button8, [&] { ++execs; });
    QTest::mouseClick(Get<QPushButton>(ControlId::Button9), Qt::LeftButton);
    QTest::mouseClick(Get<QPushButton>(ControlId::Button8), Qt::LeftButton);  // disabled
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(execs, 0);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(Get<QPushButton>(ControlId::Button9)->isEnabled());  // shown before the next input
}

TEST_F(FormViewTest, CheckBoxClickTogglesTheModelAndRunsTheHandlerOnce) {
    ShowWindow();
    int extRuns = 0, stdRuns = 0;
    model.OnChange(ControlId::ExtTest, [&] {
        ++extRuns;
        if (model.IsChecked(ControlId::ExtTest)) model.Uncheck(ControlId::StdTest);
    });
    model.OnChange(ControlId::StdTest, [&] { ++stdRuns; });

    ClickCheckBox(ControlId::ExtTest);
    EXPECT_TRUE(model.IsChecked(ControlId::ExtTest));
    EXPECT_FALSE(model.IsChecked(ControlId::StdTest));
    QTest::qWait(40);  // let any stray signal come back
    EXPECT_EQ(extRuns, 1);
    EXPECT_EQ(stdRuns, 1);
    EXPECT_TRUE(Get<QCheckBox>(ControlId::ExtTest)->isChecked());
    EXPECT_FALSE(Get<QCheckBox>(ControlId::StdTest)->isChecked());

    // The program's change shows on the box without running anything twice.
    std::thread([&] { model.Check(ControlId::StdTest); }).join();
    ASSERT_TRUE(WaitUntil([&] { return Get<QCheckBox>(ControlId::StdTest)->isChecked(); }));
    QTest::qWait(40);
    EXPECT_EQ(stdRuns, 2);
    EXPECT_EQ(extRuns, 1);

    // A box the model refuses to toggle stays as the model has it.
    model.Disable(ControlId::info);
    view->Flush();
    ClickCheckBox(ControlId::ExtTest);
    EXPECT_TRUE(Get<QCheckBox>(ControlId::ExtTest)->isChecked());
    EXPECT_EQ(extRuns, 1);
}

TEST_F(FormViewTest, LogRadioButtonNeverStaysChecked) {
    ShowWindow();
    int opened = 0;
    model.OnClick(ControlId::ID3, [&] {
        ++opened;
        model.Uncheck(ControlId::ID3);
    });
    model.Enable(ControlId::ID3);
    view->Flush();
    auto* radio = Get<QRadioButton>(ControlId::ID3);
    QTest::mouseClick(radio, Qt::LeftButton, Qt::NoModifier, radio->rect().center());
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(model.IsChecked(ControlId::ID3));
    EXPECT_FALSE(radio->isChecked());
}

TEST_F(FormViewTest, FocusRequestMovesTheKeyboardFocus) {
    ShowWindow();
    ShowDriveListAlone();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    std::thread([&] { model.Focus(ControlId::Button9); }).join();
    auto* scan = Get<QPushButton>(ControlId::Button9);
    EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == scan; }));
}

TEST_F(FormViewTest, CloseRequestClosesTheWindowAndReportsIt) {
    ShowWindow();
    int closed = 0;
    model.On(ControlId::TForm1, Event::Closed, [&] { ++closed; });
    std::thread([&] { model.Close(); }).join();
    ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }));
    EXPECT_EQ(closed, 1);
}

TEST_F(FormViewTest, OpenDialogAsksTheOperator) {
    // Answers the dialog once it is up.
    const QString typed = QDir::tempPath() + "/tamro-new.frm";  // need not exist
    const auto answer = [typed](bool accept) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, accept, typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            if (accept) {
                // The operator types a name into the dialog's name field.
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(QFileInfo(typed).fileName());
                if (dialog->selectedFiles().value(0) != typed) return;
            }
            poll->stop();
            poll->deleteLater();
            EXPECT_EQ(dialog->windowTitle(), "FileOpen");
            EXPECT_EQ(dialog->nameFilters(), (QStringList{"*.frm", "*.*"}));
            if (accept) {
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        poll->start(10);
    };
    answer(false);
    EXPECT_FALSE(model.ExecuteOpenDialog(QDir::tempPath().toStdString()).has_value());
    answer(true);
    const std::optional<std::string> chosen = model.ExecuteOpenDialog(QDir::tempPath().toStdString());
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, typed.toStdString());
}

TEST_F(FormViewTest, RendersTheWindowToPng) {
    model.SetCaption(ControlId::titlename, "TAMRO (Halcyon SCSI Diagnostic Tool)  Version 1.4");
    const QString path = QDir::tempPath() + "/tamro-form-view-test.png";
    QFile::remove(path);
    ASSERT_TRUE(RenderToPng(path.toStdString()));  // the live window
    const QImage image(path);
    ASSERT_EQ(image.size(), QSize(620, 409));

    // The green title text is drawn inside its label.
    const ControlSpec& title = Spec(ControlId::title);
    const ControlSpec& name = Spec(ControlId::titlename);
    int green = 0;
    for (int y = 0; y < name.bounds.height; ++y) {
        for (int x = 0; x < name.bounds.width; ++x) {
            const QColor c = image.pixelColor(title.bounds.x + name.bounds.x + x, title.bounds.y + name.bounds.y + y);
            if (c.green() > 80 && c.red() < 90 && c.blue() < 90) ++green;
        }
    }
    EXPECT_GT(green, 100);
    QFile::remove(path);
}

TEST(FormViewEmblem, IsAPictureOfItsOwnSize) {
    const QImage image = DrawEmblem();
    EXPECT_EQ(image.size(), QSize(105, 52));
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_LE(image.colorCount(), 256);
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 10u);
}

}  // namespace
}  // namespace tamro::ui::qt

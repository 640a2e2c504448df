// TForm1 drawn with Qt Widgets from the window model. The view only mirrors
// the model: workers never touch a widget, and the operator's clicks go to
// the model, which runs the handlers.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "ui/window_model.h"

namespace tamro::ui::qt {

class Announcer;
class StatusBar;

class FormView final : public QWidget {
public:
    explicit FormView(WindowModel& model = Form(), QWidget* parent = nullptr);
    ~FormView() override;

    // The widget of a control; the view itself for TForm1, null for controls
    // that are not drawn in the window (OpenDialog1).
    QWidget* Widget(ControlId id) const { return widgets_[IndexOf(id)]; }

    // Applies every pending change of the model now (window thread only).
    void Flush();

    // Flushes that applied at least one control change, for measuring how
    // well a busy worker's changes are coalesced.
    std::uint64_t AppliedBatches() const { return appliedBatches_; }

    // The live window, if one exists.
    static FormView* Instance();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Enter presses the focused button, Escape answers the write question.
    void keyPressEvent(QKeyEvent* event) override;
    // Tab and Shift+Tab, from any control: the model's Tab order.
    bool focusNextPrevChild(bool next) override;

private:
    void Build();
    QWidget* Create(const ControlSpec& spec, QWidget* parent);
    void Apply(ControlId id, const ControlState& state, bool force);
    void Hear(const ControlUpdate& update);
    void Name(ControlId id);  // the accessible name, from what is shown and heard now
    Presence ModelPresence() const;
    std::optional<ControlId> FocusedControl() const;
    void KeepKeysInModalScreen(QWidget* now);
    void OperatorInput(ControlId id);
    void OnModelChanged(bool urgent);  // any thread
    void FlushAt(bool paintNow);
    void FlushSoon();
    void ScheduleFrame(int delayMs);
    std::optional<std::string> ChooseFile(const FileRequest& request);

    WindowModel& model_;
    std::array<QWidget*, kControlCount> widgets_{};
    Announcer* announcer_ = nullptr;  // tells assistive technology the model's announcements
    StatusBar* statusArea_ = nullptr;
    std::array<ControlState, kControlCount> shown_;
    std::array<ControlState, kControlCount> heard_;  // the paced controls as listeners know them
    QTimer frameTimer_;
    QTimer heardTimer_;  // for what the model holds back for listeners
    QMetaObject::Connection focusWatch_;
    QElapsedTimer sinceFlush_;
    std::atomic<bool> wakePosted_{false};
    std::atomic<bool> urgentPosted_{false};
    bool flushing_ = false;
    std::uint64_t appliedBatches_ = 0;
};

// Image1's picture at its own size (105 x 52, 256 colours).
QImage DrawEmblem();

// Saves what the window shows now as a PNG. False when it cannot be written.
bool RenderToPng(FormView& view, const QString& path);
// The same for the live window; false when there is none.
bool RenderToPng(const std::string& path);

}  // namespace tamro::ui::qt

#include "ui/qt/form_view.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyleOption>
#include <QStylePainter>
#include <QThread>

#include <chrono>
#include <mutex>

#include "ui/accessible_names.h"
#include "ui/keyboard.h"

namespace tamro::ui::qt {

// What carries the model's announcements to assistive technology: a
// notification, which screen readers speak each time it is reported shown.
// It stays hidden, so that nothing is drawn and showing a screen repeats
// nothing. Its new name is reported first, so that a reader that keeps
// names does not speak the previous one.
class Announcer final : public QWidget {
public:
    explicit Announcer(QWidget* parent) : QWidget(parent) { hide(); }

    void Announce(const QString& text) {
        text_ = text;
        QAccessibleEvent named(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
    const QString& Text() const { return text_; }

private:
    QString text_;
};

// What gathers the status line and the bars into the window's status bar;
// it draws nothing of its own.
class StatusBar final : public QWidget {
public:
    using QWidget::QWidget;
};

namespace {

// A frame every 16 ms at most for ordinary changes; a repaint request is
// served at once unless the previous flush was less than this long ago.
constexpr int kFrameMs = 16;
constexpr int kMinRepaintGapMs = 8;

FormView* g_instance = nullptr;

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// The model decides the checked state: a click only reports to it.
class ModelCheckBox final : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

class ModelRadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override {}
};

// A log button is a radio button to assistive technology. Qt reports a radio
// button outside an exclusive group as a check box, and an exclusive group
// is a single Tab stop whose arrow keys would open the neighbours' logs; the
// model keeps the group instead, so the role is given here.
class LogButtonAccessible final : public QAccessibleWidget {
public:
    explicit LogButtonAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::RadioButton) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = Button()->isChecked();
        return s;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override {
        if (action == pressAction())
            Button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

// A focused control is ringed in a clear 2-pixel line, whatever the style
// draws for focus itself.
void DrawFocusRing(QPainter* painter, const QRect& area) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(QColor(0, 84, 200), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(area).adjusted(1, 1, -1, -1));
    painter->restore();
}

class FocusRingStyle final : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        const bool ringed = element == CE_PushButton || element == CE_CheckBox || element == CE_RadioButton;
        if (ringed && (option->state & State_HasFocus)) DrawFocusRing(painter, option->rect);
    }
};

// The status line takes the focus from Tab, so that a listener reads it on
// demand, and is ringed while it has it. To assistive technology it is
// read-only text: what it says as listeners last heard it (its accessible
// name, which the view sets at their pace), with the bars' progress as its
// description.
class StatusLine final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    // A label that takes the focus by its own policy or its own focus-in is
    // made a text document, which reports every new text to the
    // accessibility bus: the view gives it the focus, and says so.
    void focusInEvent(QFocusEvent* event) override { QFrame::focusInEvent(event); }

    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(this);
        DrawFocusRing(&painter, rect());
    }
};

// A bar that draws the model's position at once, while assistive technology
// reads the bar's value, which is what listeners have heard: every change of
// a QProgressBar's value is reported to the accessibility bus.
class ModelProgressBar final : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

    void Draw(int position) {
        if (std::exchange(drawn_, position) != position) update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        option.progress = drawn_;
        painter.drawControl(QStyle::CE_ProgressBar, option);
    }

private:
    int drawn_ = 0;
};

// A panel is a plain QFrame, which Qt reports as a frame: screen readers
// take a frame for a top-level window, find it inactive and stay silent. The
// window itself is the one frame; its panels are panes.
class Panel final : public QFrame {
public:
    using QFrame::QFrame;
};

// A container named only by what the view gives it: Qt would name a panel
// inside a group box after the box, and a reader would say the box's caption
// once for each.
class ContainerAccessible final : public QAccessibleWidget {
public:
    ContainerAccessible(QWidget* container, QAccessible::Role role) : QAccessibleWidget(container, role) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? widget()->accessibleName() : QAccessibleWidget::text(t);
    }
};

class AnnouncerAccessible final : public QAccessibleWidget {
public:
    explicit AnnouncerAccessible(Announcer* announcer) : QAccessibleWidget(announcer, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<const Announcer*>(widget())->Text() : QString();
    }
};

class StatusLineAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit StatusLineAccessible(StatusLine* line) : QAccessibleWidget(line, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    // Unnamed, as a text without a label: a reader says its text once.
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? QString() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.focusable = true;
        return s;
    }

    QString text(int startOffset, int endOffset) const override {
        return Heard().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(Heard().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    // A blank name is kept as one blank (see FormView::Name).
    QString Heard() const { return widget()->accessibleName().trimmed(); }
};

// Screen readers keep the states they first read and then learn only that a
// control shows or hides, while Qt reports visible and showing as one: a
// reader that first met the status bar hidden would never take it for
// visible, and its key for the status bar would find none. The status bar,
// never hidden by itself, is reported visible; its showing and hiding with
// the drive list still reach readers as they happen.
class StatusBarAccessible final : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(StatusBar* area) : QAccessibleWidget(area, QAccessible::StatusBar) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? QString() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = false;
        s.offscreen = false;
        return s;
    }
};

QAccessibleInterface* ViewAccessibility(const QString&, QObject* object) {
    if (auto* radio = dynamic_cast<ModelRadioButton*>(object)) return new LogButtonAccessible(radio);
    if (auto* panel = dynamic_cast<Panel*>(object)) return new ContainerAccessible(panel, QAccessible::Pane);
    if (auto* area = dynamic_cast<StatusBar*>(object)) return new StatusBarAccessible(area);
    if (auto* line = dynamic_cast<StatusLine*>(object)) return new StatusLineAccessible(line);
    if (auto* announcer = dynamic_cast<Announcer*>(object)) return new AnnouncerAccessible(announcer);
    if (auto* view = dynamic_cast<FormView*>(object)) return new QAccessibleWidget(view, QAccessible::Window);
    return nullptr;
}

QStyle* FocusRing() {
    static FocusRingStyle* const style = new FocusRingStyle;  // lives as long as the program
    return style;
}

Qt::Alignment ToQt(Align a) {
    switch (a) {
        case Align::Center: return Qt::AlignCenter;
        case Align::Right: return Qt::AlignRight | Qt::AlignVCenter;
        case Align::Left: break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

void ApplyEdge(QFrame* frame, Edge edge) {
    switch (edge) {
        case Edge::None: frame->setFrameStyle(QFrame::NoFrame); break;
        case Edge::Raised: frame->setFrameStyle(QFrame::WinPanel | QFrame::Raised); break;
        case Edge::Lowered: frame->setFrameStyle(QFrame::WinPanel | QFrame::Sunken); break;
    }
}

// Texts arrive with the CR LF line ends the logs use.
QString DisplayText(const std::string& text) {
    QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    s.remove(QLatin1Char('\r'));
    return s;
}

// "desc|pattern|desc|pattern" as Qt's "desc (pattern);;..." list.
QString ToQtFilter(std::string_view filter) {
    const QStringList parts = QString::fromLatin1(filter.data(), static_cast<qsizetype>(filter.size()))
                                  .split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        entries << (parts[i] == parts[i + 1] ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
    }
    return entries.join(";;");
}

}  // namespace

FormView::FormView(WindowModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      model_(model) {
    // Before any widget exists: a widget's interface is made, and kept, as
    // soon as it is first named.
    static std::once_flag accessibility;
    std::call_once(accessibility, [] { QAccessible::installFactory(ViewAccessibility); });
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { FlushAt(false); });
    heardTimer_.setSingleShot(true);
    connect(&heardTimer_, &QTimer::timeout, this, [this] { FlushAt(false); });
    sinceFlush_.start();
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this,
                          [this](QWidget*, QWidget* now) { KeepKeysInModalScreen(now); });

    // Listen first, then read everything: a change made in between is both
    // in the full read and pending, and applying it twice is harmless.
    model_.SetChangeListener([this](bool urgent) { OnModelChanged(urgent); });
    model_.TakeChanges();
    Build();
    model_.SetFileChooser([this](const FileRequest& request) { return ChooseFile(request); });

    move(screen()->geometry().topLeft());
    g_instance = this;
}

FormView::~FormView() {
    disconnect(focusWatch_);  // the widgets go after this, and the focus with them
    if (g_instance == this) g_instance = nullptr;
    model_.SetFileChooser(nullptr);
    model_.SetChangeListener(nullptr);  // waits for a worker's wake in flight
}

FormView* FormView::Instance() { return g_instance; }

void FormView::Build() {
    QFont base(QString::fromLatin1(kDefaultFontFamily.data(), static_cast<qsizetype>(kDefaultFontFamily.size())));
    base.setPixelSize(kDefaultFontPixelSize);
    setFont(base);
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    widgets_[IndexOf(ControlId::TForm1)] = this;

    // The table lists every container before what it holds. The status area
    // lies in the drive list, around the controls it gathers.
    QRect area;
    for (ControlId id : StatusArea()) {
        const Rect r = Spec(id).bounds;
        area |= QRect(r.x, r.y, r.width, r.height);
    }
    for (std::size_t i = 1; i < kControlCount; ++i) {
        const ControlSpec& spec = Spec(ControlAt(i));
        QWidget* parent = widgets_[IndexOf(spec.parent)];
        if (IsInStatusArea(spec.id)) {
            if (statusArea_ == nullptr) {
                statusArea_ = new StatusBar(parent);
                statusArea_->setGeometry(area);
            }
            parent = statusArea_;
        }
        widgets_[i] = Create(spec, parent);
        if (parent == statusArea_) widgets_[i]->move(widgets_[i]->pos() - area.topLeft());
    }

    announcer_ = new Announcer(this);

    const auto states = model_.AllStates();
    heard_ = states;
    for (std::size_t i = 0; i < kControlCount; ++i) Apply(ControlAt(i), states[i], true);
}

QWidget* FormView::Create(const ControlSpec& spec, QWidget* parent) {
    QWidget* w = nullptr;
    const ControlId id = spec.id;
    switch (spec.kind) {
        case ControlKind::Form:
        case ControlKind::FileDialog:
            return nullptr;
        case ControlKind::Panel: {
            auto* frame = new Panel(parent);
            ApplyEdge(frame, spec.edge);
            w = frame;
            break;
        }
        case ControlKind::Header: {
            auto* frame = new Panel(parent);
            frame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
            w = frame;
            break;
        }
        case ControlKind::Bevel: {
            auto* frame = new Panel(parent);
            ApplyEdge(frame, spec.edge);
            frame->setAttribute(Qt::WA_TransparentForMouseEvents);
            w = frame;
            break;
        }
        case ControlKind::GroupBox:
            w = new QGroupBox(parent);
            break;
        case ControlKind::Label: {
            auto* label = id == kStatusLine ? new StatusLine(parent) : new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(ToQt(spec.align));
            label->setWordWrap(spec.wordWrap);
            ApplyEdge(label, spec.edge);
            w = label;
            break;
        }
        case ControlKind::Button:
            w = new QPushButton(parent);
            break;
        case ControlKind::CheckBox:
            w = new ModelCheckBox(parent);
            break;
        case ControlKind::RadioButton: {
            auto* radio = new ModelRadioButton(parent);
            radio->setAutoExclusive(false);  // the model keeps the group
            w = radio;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new ModelProgressBar(parent);
            bar->setTextVisible(false);  // the label beside it shows the value
            w = bar;
            break;
        }
        case ControlKind::Image: {
            auto* label = new QLabel(parent);
            label->setPixmap(QPixmap::fromImage(DrawEmblem()));
            label->setScaledContents(true);
            w = label;
            break;
        }
    }

    const QString name = QString::fromLatin1(ControlName(id).data(), static_cast<qsizetype>(ControlName(id).size()));
    w->setObjectName(name);  // where tools find the control; never read aloud
    w->setGeometry(spec.bounds.x, spec.bounds.y, spec.bounds.width, spec.bounds.height);
    if (spec.color) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, ToQColor(*spec.color));
        w->setPalette(p);
        w->setAutoFillBackground(true);
    }
    if (spec.font.pixelSize != 0 || spec.font.bold || spec.font.italic) {
        QFont f = w->font();
        if (spec.font.pixelSize != 0) f.setPixelSize(spec.font.pixelSize);
        f.setBold(spec.font.bold);
        f.setItalic(spec.font.italic);
        w->setFont(f);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setStyle(FocusRing());
        connect(button, &QAbstractButton::clicked, this, [this, id] { OperatorInput(id); });
        // A click never toggles the box by itself (the model decides), and the
        // view's own changes are made with signals blocked: a toggle that
        // arrives here is the operator's, through assistive technology.
        if (spec.kind == ControlKind::CheckBox)
            connect(button, &QAbstractButton::toggled, this, [this, id] { OperatorInput(id); });
    }
    return w;
}

void FormView::Apply(ControlId id, const ControlState& state, bool force) {
    const std::size_t i = IndexOf(id);
    ControlState& shown = shown_[i];
    QWidget* w = widgets_[i];
    if (w == nullptr) {
        shown = state;
        return;
    }
    const ControlKind kind = Spec(id).kind;
    const QSignalBlocker blocker(w);

    const bool captionChanged = force || shown.caption != state.caption;
    if (captionChanged) {
        const QString text = DisplayText(state.caption);
        switch (kind) {
            case ControlKind::Form: setWindowTitle(text); break;
            case ControlKind::Label: static_cast<QLabel*>(w)->setText(text); break;
            case ControlKind::Button:
            case ControlKind::CheckBox:
            case ControlKind::RadioButton: static_cast<QAbstractButton*>(w)->setText(text); break;
            case ControlKind::GroupBox: static_cast<QGroupBox*>(w)->setTitle(text); break;
            default: break;
        }
    }
    if (force || shown.fontColor != state.fontColor) {
        // Set on every widget, so that no control inherits its container's
        // colour; the disabled group keeps the style's grey.
        QPalette p = w->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            p.setColor(group, QPalette::WindowText, ToQColor(state.fontColor));
            p.setColor(group, QPalette::ButtonText, ToQColor(state.fontColor));
        }
        w->setPalette(p);
    }
    // The window itself is shown and closed by the program's start-up.
    if ((force || shown.visible != state.visible) && kind != ControlKind::Form) w->setVisible(state.visible);
    if (force || shown.enabled != state.enabled) w->setEnabled(state.enabled);
    if ((force || shown.checked != state.checked) &&
        (kind == ControlKind::CheckBox || kind == ControlKind::RadioButton)) {
        static_cast<QAbstractButton*>(w)->setChecked(state.checked);
    }
    if (kind == ControlKind::ProgressBar) {
        auto* bar = static_cast<ModelProgressBar*>(w);
        if (force || shown.maximum != state.maximum) bar->setRange(0, state.maximum);
        if (force) bar->setValue(heard_[i].position);
        bar->Draw(state.position);
    }
    shown = state;
    if (captionChanged) {
        Name(id);
        for (ControlId named : NamedAfter(id)) Name(named);
    }
}

// What listeners are told of a paced control: its name, or its bar's value.
void FormView::Hear(const ControlUpdate& update) {
    const std::size_t i = IndexOf(update.id);
    heard_[i] = update.state;
    if (auto* bar = qobject_cast<QProgressBar*>(widgets_[i])) {
        bar->setValue(update.state.position);
        return;
    }
    Name(update.id);
    for (ControlId named : NamedAfter(update.id)) Name(named);
}

void FormView::Name(ControlId id) {
    QWidget* w = widgets_[IndexOf(id)];
    if (w == nullptr) return;
    const CaptionOf captionOf = [this](ControlId c) {
        return IsPaced(c) ? heard_[IndexOf(c)].caption : shown_[IndexOf(c)].caption;
    };
    const std::string name = AccessibleName(id, captionOf);
    QString text = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    // A label without an accessible name reports each new text by itself; a
    // paced one keeps a blank until listeners are told a text.
    if (text.isEmpty() && IsPaced(id)) text = QStringLiteral(" ");
    if (w->accessibleName() != text) w->setAccessibleName(text);
    const std::string description = AccessibleDescription(id, captionOf);
    const QString told = QString::fromLatin1(description.data(), static_cast<qsizetype>(description.size()));
    if (w->accessibleDescription() != told) w->setAccessibleDescription(told);
}

Presence FormView::ModelPresence() const {
    return {[this](ControlId c) { return model_.IsShowing(c); },
            [this](ControlId c) { return model_.IsEffectivelyEnabled(c); },
            [this](ControlId c) { return shown_[IndexOf(c)].caption; }};
}

bool FormView::focusNextPrevChild(bool next) {
    const auto target = NextTabStop(FocusedControl(), !next, ModelPresence());
    if (!target) return true;  // nothing to move to: the focus stays
    widgets_[IndexOf(*target)]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

// A control a modal screen covers never keeps the focus, whatever put it
// there: the focus goes to the screen's first safe control.
void FormView::KeepKeysInModalScreen(QWidget* now) {
    const auto control = FocusedControl();
    if (now == nullptr || !control || *control == ControlId::TForm1) return;
    const Presence presence = ModelPresence();
    if (KeysReach(*control, presence)) return;
    widgets_[IndexOf(FirstSafeFocus(presence).control)]->setFocus(Qt::OtherFocusReason);
}

std::optional<ControlId> FormView::FocusedControl() const {
    const QWidget* focused = focusWidget();
    if (focused == nullptr) return std::nullopt;
    for (std::size_t i = 0; i < kControlCount; ++i)
        if (widgets_[i] == focused) return ControlAt(i);
    return std::nullopt;
}

void FormView::keyPressEvent(QKeyEvent* event) {
    std::optional<ControlId> press;
    if (!event->isAutoRepeat()) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (const auto focused = FocusedControl(); focused && EnterPresses(*focused)) press = focused;
                break;
            case Qt::Key_Escape: press = EscapeTarget(ModelPresence()); break;
            default: break;
        }
    }
    if (!press) {
        QWidget::keyPressEvent(event);
        return;
    }
    static_cast<QAbstractButton*>(widgets_[IndexOf(*press)])->click();
}

void FormView::OperatorInput(ControlId id) {
    model_.OperatorClick(id);
    // What the handler changed, and the box the model may have refused to
    // toggle, are shown before the next input.
    Flush();
    if (const auto kind = Spec(id).kind; kind == ControlKind::CheckBox || kind == ControlKind::RadioButton) {
        auto* button = static_cast<QAbstractButton*>(widgets_[IndexOf(id)]);
        const QSignalBlocker blocker(button);
        button->setChecked(shown_[IndexOf(id)].checked);
    }
}

void FormView::OnModelChanged(bool urgent) {
    if (QThread::currentThread() == thread()) {
        // A handler or a scan on the window's own thread: the event loop may
        // not run until it ends, so a repaint request paints right here.
        if (urgent && !flushing_ && sinceFlush_.elapsed() >= kMinRepaintGapMs) {
            FlushAt(true);
        } else {
            ScheduleFrame(kFrameMs);
        }
        return;
    }
    std::atomic<bool>& posted = urgent ? urgentPosted_ : wakePosted_;
    if (posted.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, urgent] {
            if (urgent) {
                urgentPosted_.store(false);
                FlushSoon();
            } else {
                wakePosted_.store(false);
                ScheduleFrame(kFrameMs);
            }
        },
        Qt::QueuedConnection);
}

void FormView::ScheduleFrame(int delayMs) {
    if (!frameTimer_.isActive() || frameTimer_.remainingTime() > delayMs) frameTimer_.start(delayMs);
}

void FormView::FlushSoon() {
    const qint64 since = sinceFlush_.elapsed();
    if (since >= kMinRepaintGapMs) {
        FlushAt(false);
    } else {
        ScheduleFrame(static_cast<int>(kMinRepaintGapMs - since));
    }
}

void FormView::Flush() { FlushAt(false); }

void FormView::FlushAt(bool paintNow) {
    if (flushing_) return;
    flushing_ = true;
    frameTimer_.stop();
    Changes changes = model_.TakeChanges();
    sinceFlush_.restart();
    if (!changes.controls.empty()) ++appliedBatches_;
    for (const ControlUpdate& update : changes.controls) {
        Apply(update.id, update.state, false);
        if (paintNow) {
            QWidget* w = widgets_[IndexOf(update.id)];
            if (w != nullptr && w->isVisible()) w->repaint();
        }
    }
    if (changes.focus) {
        // TForm1 is the view itself: the focus on no control.
        if (const auto target = FocusTarget(*changes.focus, FocusedControl(), ModelPresence()))
            widgets_[IndexOf(*target)]->setFocus(Qt::OtherFocusReason);
    }
    // Listeners last: what they are told follows what the focus said.
    for (const ControlUpdate& update : changes.heard) Hear(update);
    if (changes.announcement)
        announcer_->Announce(QString::fromLatin1(changes.announcement->data(),
                                                 static_cast<qsizetype>(changes.announcement->size())));
    if (changes.again) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*changes.again).count();
        heardTimer_.start(static_cast<int>(std::min<long long>(ms, 60000)));
    }
    if (changes.close) {
        // Not from inside a flush: closing runs the model's Closed handler.
        QTimer::singleShot(0, this, [this] { close(); });
    }
    flushing_ = false;
}

void FormView::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    model_.WindowClosed();
}

std::optional<std::string> FormView::ChooseFile(const FileRequest& request) {
    if (QThread::currentThread() != thread()) {
        std::optional<std::string> chosen;
        QMetaObject::invokeMethod(
            this, [&] { chosen = ChooseFile(request); }, Qt::BlockingQueuedConnection);
        return chosen;
    }
    QFileDialog dialog(this, QString::fromLatin1(request.title.data(), static_cast<qsizetype>(request.title.size())),
                       QString::fromLocal8Bit(request.initialFolder.data(),
                                              static_cast<qsizetype>(request.initialFolder.size())),
                       ToQtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toLocal8Bit().toStdString();
}

QImage DrawEmblem() {
    QImage image(kImagePictureWidth, kImagePictureHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, kImagePictureHeight);
    sky.setColorAt(0, QColor(0, 0, 128));
    sky.setColorAt(1, QColor(0, 32, 72));
    p.fillRect(image.rect(), sky);

    // A drive seen from above: casing, platter, spindle and actuator arm.
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(150, 150, 155));
    p.drawRoundedRect(QRectF(4, 4, 44, 44), 4, 4);
    QRadialGradient platter(24, 24, 18, 18, 18);
    platter.setColorAt(0, QColor(245, 245, 250));
    platter.setColorAt(1, QColor(160, 165, 180));
    p.setBrush(platter);
    p.drawEllipse(QPointF(24, 24), 17, 17);
    p.setBrush(QColor(90, 90, 95));
    p.drawEllipse(QPointF(24, 24), 4, 4);
    p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(42, 42), QPointF(30, 17));
    p.setBrush(QColor(40, 40, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(42, 42), 3.5, 3.5);

    // A green trace for a drive that passed.
    p.setPen(QPen(QColor(0, 200, 0), 2));
    QPainterPath trace;
    trace.moveTo(54, 40);
    trace.lineTo(64, 40);
    trace.lineTo(68, 32);
    trace.lineTo(73, 46);
    trace.lineTo(78, 36);
    trace.lineTo(101, 36);
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(50, 4, 54, 22), Qt::AlignCenter,
               QString::fromLatin1(kEmblemText.data(), static_cast<qsizetype>(kEmblemText.size())));
    p.end();
    // A 256-colour picture, as the window description has it.
    return image.convertToFormat(QImage::Format_Indexed8);
}

bool RenderToPng(FormView& view, const QString& path) {
    view.Flush();
    return view.grab().save(path, "PNG");
}

bool RenderToPng(const std::string& path) {
    FormView* view = FormView::Instance();
    return view != nullptr && RenderToPng(*view, QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
}

}  // namespace tamro::ui::qt

#include "viewer/text_viewer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeySequence>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextCursor>
#include <QToolBar>

namespace tamro::viewer {

QString LinesOf(const QByteArray& bytes) {
    // The logs are single-byte English text.
    QString text = QString::fromLatin1(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

TextViewer::TextViewer(const QString& path, QWidget* parent) : QMainWindow(parent) {
    editor_ = new QPlainTextEdit(this);
    editor_->setReadOnly(true);
    editor_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);  // the logs are laid out in columns
    editor_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setCentralWidget(editor_);

    QToolBar* tools = addToolBar(QStringLiteral("Find"));
    tools->setMovable(false);
    findField_ = new QLineEdit(tools);
    findField_->setPlaceholderText(QStringLiteral("Find"));
    findField_->setAccessibleName(QStringLiteral("Find"));
    findField_->setMaximumWidth(240);
    tools->addWidget(findField_);

    QAction* next = tools->addAction(QStringLiteral("Find next"));
    next->setShortcuts({QKeySequence::FindNext, QKeySequence(Qt::Key_F3)});
    QAction* previous = tools->addAction(QStringLiteral("Find previous"));
    previous->setShortcut(QKeySequence::FindPrevious);
    QAction* copy = tools->addAction(QStringLiteral("Copy path"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    // A tool bar's buttons take no focus by themselves: Tab reaches them
    // after the find field, each telling its shortcut.
    for (QAction* action : {next, previous, copy}) {
        tools->widgetForAction(action)->setFocusPolicy(Qt::TabFocus);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text(),
                                                         action->shortcut().toString(QKeySequence::NativeText)));
    }
    auto* focusFind = new QAction(this);
    focusFind->setShortcut(QKeySequence::Find);
    addAction(focusFind);

    const auto find = [this](bool backward) {
        const QString text = findField_->text();
        if (text.isEmpty()) return;
        if (Find(text, backward))
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(QStringLiteral("\"%1\" not found.").arg(text));
    };
    connect(findField_, &QLineEdit::returnPressed, this, [find] { find(false); });
    connect(next, &QAction::triggered, this, [find] { find(false); });
    connect(previous, &QAction::triggered, this, [find] { find(true); });
    connect(copy, &QAction::triggered, this, [this] { CopyPath(); });
    connect(focusFind, &QAction::triggered, this, [this] {
        findField_->setFocus(Qt::ShortcutFocusReason);
        findField_->selectAll();
    });

    Load(path);
    setWindowTitle(fullPath_);
    resize(760, 560);
    editor_->setFocus();
}

void TextViewer::Load(const QString& path) {
    if (path.isEmpty()) {
        fullPath_ = QStringLiteral("TAMRO log viewer");
        editor_->setPlainText(QStringLiteral("No file was given to show."));
        editor_->setAccessibleName(fullPath_);
        return;
    }
    fullPath_ = QFileInfo(path).absoluteFilePath();
    editor_->setAccessibleName(QFileInfo(path).fileName());
    QFile file(path);
    if (QFileInfo(path).isDir()) {
        editor_->setPlainText(QStringLiteral("Cannot read %1: it is a folder.").arg(fullPath_));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        editor_->setPlainText(QStringLiteral("Cannot read %1: %2.").arg(fullPath_, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        editor_->setPlainText(QStringLiteral("Cannot read %1: %2.").arg(fullPath_, file.errorString()));
        return;
    }
    editor_->setPlainText(LinesOf(bytes));
    loaded_ = true;
}

bool TextViewer::Find(const QString& text, bool backward) {
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (editor_->find(text, flags)) return true;
    // Once more from the other end.
    QTextCursor restart = editor_->textCursor();
    const QTextCursor kept = restart;
    restart.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    editor_->setTextCursor(restart);
    if (editor_->find(text, flags)) return true;
    editor_->setTextCursor(kept);
    return false;
}

void TextViewer::CopyPath() {
    QApplication::clipboard()->setText(fullPath_);
    statusBar()->showMessage(QStringLiteral("Path copied."), 3000);
}

}  // namespace tamro::viewer

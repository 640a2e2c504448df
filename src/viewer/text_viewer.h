// The text viewer that the log buttons start: one file, read-only, in a
// fixed-pitch font, with find and the file's full path. It always opens: a
// file it cannot read is said so in its window.
#pragma once

#include <QMainWindow>
#include <QString>

class QLineEdit;
class QPlainTextEdit;

namespace tamro::viewer {

class TextViewer final : public QMainWindow {
public:
    // `path` as given, relative to the current folder or absolute.
    explicit TextViewer(const QString& path, QWidget* parent = nullptr);

    // The full path shown in the title.
    const QString& FullPath() const { return fullPath_; }
    // False when the file could not be read; the window then says why.
    bool Loaded() const { return loaded_; }

    // Selects the next occurrence of `text` after the cursor, from the top
    // again after the last one; false when there is none.
    bool Find(const QString& text, bool backward = false);
    // Puts the full path on the clipboard.
    void CopyPath();

    QPlainTextEdit* Editor() const { return editor_; }
    QLineEdit* FindField() const { return findField_; }

private:
    void Load(const QString& path);

    QString fullPath_;
    bool loaded_ = false;
    QPlainTextEdit* editor_ = nullptr;
    QLineEdit* findField_ = nullptr;
};

// The file's bytes as lines: the logs' CR LF (and a lone CR or LF) end a line.
QString LinesOf(const QByteArray& bytes);

}  // namespace tamro::viewer

// The log viewer: a drive log's lines, its full path, find, and a clear word
// when the file cannot be read.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include <gtest/gtest.h>

#include "viewer/text_viewer.h"

namespace tamro::viewer {
namespace {

class TextViewerTest : public testing::Test {
protected:
    void SetUp() override {
        home = QDir::currentPath();
        folder = QDir::tempPath() + "/tamro-viewer-test-" + QString::number(QCoreApplication::applicationPid());
        QDir().mkpath(folder);
    }
    void TearDown() override {
        QDir::setCurrent(home);
        QDir(folder).removeRecursively();
    }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = folder + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QString home, folder;
};

// Monospaced by its glyphs rather than by the font's own word: fontconfig
// entries without a spacing value make a monospaced font look proportional.
bool EveryGlyphAsWide(const QFont& font) {
    const QFontMetricsF metrics(font);
    const qreal width = metrics.horizontalAdvance(QChar('M'));
    for (const QChar c : QString("il.|* W0m"))
        if (metrics.horizontalAdvance(c) != width) return false;
    return width > 0;
}

TEST_F(TextViewerTest, ShowsTheLogsLinesInAFixedFontUnderItsFullPath) {
    QByteArray log = "       **********\r\n       *  PASS  *\r\n       **********\r\n";
    for (int i = 0; i < 200; ++i) log += "Read(10)  LBA " + QByteArray::number(i) + "\r\n";
    const QString path = Write("HS0A1234.log", log);
    QDir::setCurrent(folder);
    TextViewer viewer("HS0A1234.log");
    viewer.show();

    ASSERT_TRUE(viewer.Loaded());
    EXPECT_EQ(viewer.windowTitle(), QFileInfo(path).absoluteFilePath());
    const QPlainTextEdit* text = viewer.Editor();
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_TRUE(EveryGlyphAsWide(text->font())) << text->font().family().toStdString();
    EXPECT_EQ(text->blockCount(), 204);  // 203 lines and the empty one after the last line end
    EXPECT_EQ(text->document()->findBlockByNumber(1).text(), "       *  PASS  *");
    EXPECT_FALSE(text->toPlainText().contains('\r'));
    EXPECT_GT(text->verticalScrollBar()->maximum(), 0);  // more lines than the window holds

    EXPECT_TRUE(viewer.Find("LBA 150"));
    EXPECT_EQ(text->textCursor().block().text(), "Read(10)  LBA 150");
    EXPECT_TRUE(viewer.Find("PASS"));  // from the top again
    EXPECT_EQ(text->textCursor().blockNumber(), 1);
    EXPECT_FALSE(viewer.Find("FAIL"));
    EXPECT_EQ(text->textCursor().blockNumber(), 1);

    viewer.CopyPath();
    EXPECT_EQ(QApplication::clipboard()->text(), QFileInfo(path).absoluteFilePath());
}

TEST_F(TextViewerTest, AFileThatCannotBeReadIsSaidSo) {
    TextViewer missing(folder + "/NOFILE.log");
    EXPECT_FALSE(missing.Loaded());
    EXPECT_EQ(missing.windowTitle(), folder + "/NOFILE.log");
    EXPECT_TRUE(missing.Editor()->toPlainText().startsWith("Cannot read " + folder + "/NOFILE.log: "))
        << missing.Editor()->toPlainText().toStdString();

    TextViewer folderGiven(folder);
    EXPECT_FALSE(folderGiven.Loaded());
    EXPECT_TRUE(folderGiven.Editor()->toPlainText().startsWith("Cannot read " + folder));
}

// Every button is reached with Tab; Copy path also by its shortcut.
TEST_F(TextViewerTest, CopyPathByTabAndByShortcut) {
    const QString path = Write("K.log", "line\r\n");
    TextViewer viewer(path);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    QApplication::clipboard()->clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QFileInfo(path).absoluteFilePath());

    QApplication::clipboard()->clear();
    QStringList reached;
    for (int i = 0; i < 5 && !reached.contains("Copy path"); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (auto* button = qobject_cast<QToolButton*>(QApplication::focusWidget())) reached << button->text();
    }
    EXPECT_EQ(reached, QStringList({"Find next", "Find previous", "Copy path"}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(QApplication::clipboard()->text(), QFileInfo(path).absoluteFilePath());
}

}  // namespace
}  // namespace tamro::viewer

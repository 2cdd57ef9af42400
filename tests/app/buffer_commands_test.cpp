// The receive text's commands: Save Buffer, font and background setup, and Save Setup carrying
// the font, background and geometry to the next start.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QSplitter>
#include <cmath>

#include "app/paint_strip.h"
#include "app_fixture.h"
#include "settings/settings.h"

namespace dahlo::test {
namespace {

class BufferTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        CreateShownAndActive();
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    void Save(const QString& name) {
        dialogs.files.push_back(name);
        form->menu.saveBuffer->trigger();
    }
};

TEST_F(BufferTest, TheSaveDialogIsAskedForTextFilesInTheWorkingDirectory) {
    form->menu.saveBuffer->trigger();  // cancelled
    ASSERT_EQ(dialogs.requests.size(), 1u);
    const FileDialogRequest& request = dialogs.requests[0];
    EXPECT_EQ(request.title, "Save buffer to file");
    EXPECT_EQ(request.filter, "Text files (*.txt);;All files (*.*)");
    EXPECT_EQ(request.defaultSuffix, "txt");
    EXPECT_EQ(request.directory, ".");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(BufferTest, ClearThenSaveWritesAnEmptyFile) {
    form->menu.clearBuffer->trigger();
    Save(DirPath("empty.txt"));
    EXPECT_EQ(Read(DirPath("empty.txt")), QByteArray());
}

TEST_F(BufferTest, TheTextIsSavedAsHeldWithoutAnythingAdded) {
    // Line breaks only where the text has them: a long line that the window wraps stays one
    // line; a final line break is saved because the text ends with it, nothing else is added.
    const QString longLine = QString("CQ ").repeated(80);
    form->receiveText->setPlainText(longLine + "\n" + QChar(0xA0) + "x\n");  // a no-break space
    ASSERT_GT(form->receiveText->DisplayLines(), 3);
    Save(DirPath("held.txt"));
    EXPECT_EQ(Read(DirPath("held.txt")), longLine.toLatin1() + "\r\n\xA0" + "x\r\n");
}

TEST_F(BufferTest, ANameWithoutExtensionGetsTxt) {
    form->menu.clearBuffer->trigger();
    form->AppendDecodedText(2, "TEST");
    Save(DirPath("log"));
    EXPECT_EQ(Read(DirPath("log.txt")), QByteArray("TEST"));
    EXPECT_FALSE(QFile::exists(DirPath("log")));

    // Also when the dialog hands back the bare name as typed.
    dialogs.addsSuffix = false;
    Save(DirPath("bare"));
    EXPECT_EQ(Read(DirPath("bare.txt")), QByteArray("TEST"));
    EXPECT_FALSE(QFile::exists(DirPath("bare")));
    // A name with an extension of its own is left alone.
    Save(DirPath("notes.log"));
    EXPECT_EQ(Read(DirPath("notes.log")), QByteArray("TEST"));
}

TEST_F(BufferTest, OverwritingAsksFirstAndNoLeavesTheFileAlone) {
    form->menu.clearBuffer->trigger();
    form->AppendDecodedText(2, "NEW");
    Write(DirPath("old.txt"), "OLD CONTENT");
    dialogs.answers.push_back(false);
    Save(DirPath("old.txt"));
    EXPECT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(Read(DirPath("old.txt")), QByteArray("OLD CONTENT"));
    dialogs.answers.push_back(true);
    Save(DirPath("old.txt"));
    EXPECT_EQ(Read(DirPath("old.txt")), QByteArray("NEW"));

    // The same question when the extension is added after a dialog that did not add it.
    dialogs.addsSuffix = false;
    Write(DirPath("kept.txt"), "KEEP");
    dialogs.answers.push_back(false);
    Save(DirPath("kept"));
    EXPECT_EQ(dialogs.questions.size(), 3u);
    EXPECT_EQ(Read(DirPath("kept.txt")), QByteArray("KEEP"));
    EXPECT_FALSE(QFile::exists(DirPath("kept")));
}

TEST_F(BufferTest, AFileThatCannotBeCreatedIsReportedAndTheNextSaveWorks) {
    Write(DirPath("plain"), "I am a file");
    const QString bad = DirPath("plain/out.txt");
    Save(bad);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].second, "Cannot create file " + bad);
    EXPECT_EQ(Read(DirPath("plain")), QByteArray("I am a file"));

    form->menu.clearBuffer->trigger();
    form->AppendDecodedText(2, "OK");
    Save(DirPath("good.txt"));
    EXPECT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(Read(DirPath("good.txt")), QByteArray("OK"));
}

TEST_F(BufferTest, FontDialogGetsTheCurrentFontAndCancelKeepsIt) {
    const QFont before = form->receiveText->font();
    const FontSettings storedBefore = form->receiveTextFont;
    form->menu.fontSetup->trigger();  // cancelled
    ASSERT_EQ(dialogs.offeredFonts.size(), 1u);
    EXPECT_EQ(dialogs.offeredFonts[0], before);
    EXPECT_EQ(form->receiveText->font(), before);
    EXPECT_EQ(form->receiveTextFont, storedBefore);

    QFont chosen("DejaVu Sans Mono");
    chosen.setPointSize(14);
    chosen.setItalic(true);
    chosen.setBold(false);
    dialogs.fonts.push_back(chosen);
    form->menu.fontSetup->trigger();
    EXPECT_EQ(form->receiveText->font().family(), "DejaVu Sans Mono");
    EXPECT_TRUE(form->receiveText->font().italic());
    EXPECT_EQ(form->receiveTextFont.name, "DejaVu Sans Mono");
    EXPECT_EQ(form->receiveTextFont.size, 14);
    EXPECT_EQ(form->receiveTextFont.style, 2);
    // The dialog opens on the font in use next time.
    form->menu.fontSetup->trigger();
    ASSERT_EQ(dialogs.offeredFonts.size(), 3u);
    EXPECT_EQ(dialogs.offeredFonts[2].family(), "DejaVu Sans Mono");
}

TEST_F(BufferTest, AFontGivenInPixelsIsStoredWithAMatchingSize) {
    QFont chosen("DejaVu Sans");
    chosen.setPixelSize(24);
    dialogs.fonts.push_back(chosen);
    form->menu.fontSetup->trigger();
    EXPECT_EQ(form->receiveTextFont.height, -24);
    // The size decides at the next start; it must describe the same font.
    const int dpi = form->receiveText->logicalDpiY();
    EXPECT_EQ(form->receiveTextFont.size, static_cast<int>(std::lround(24 * 72.0 / dpi)));
}

TEST_F(BufferTest, ColourDialogKeepsItsOwnColourAndCancelKeepsTheBackground) {
    const QColor before = form->receiveText->palette().color(QPalette::Base);
    form->menu.backgroundSetup->trigger();  // cancelled
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base), before);
    EXPECT_EQ(form->receiveTextFont.bkgColor, kColorWindow);

    dialogs.colors.push_back(QColor(10, 20, 30));
    form->menu.backgroundSetup->trigger();
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base), QColor(10, 20, 30));
    EXPECT_EQ(form->receiveTextFont.bkgColor, 0x1E140A);

    // The background changes elsewhere; the dialog still opens on its own last colour.
    WriteIni("[RxFont]\nBkgColor=255\n");
    form.reset();
    CreateShownAndActive();  // a new window, the same dialogs object
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base), QColor(255, 0, 0));
    form->menu.backgroundSetup->trigger();  // cancelled
    ASSERT_EQ(dialogs.offeredColors.size(), 3u);
    EXPECT_EQ(dialogs.offeredColors[0], QColor(Qt::black));
    EXPECT_EQ(dialogs.offeredColors[2], QColor(10, 20, 30));
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base), QColor(255, 0, 0));
}

TEST_F(BufferTest, SaveSetupCarriesFontBackgroundAndGeometryToTheNextStart) {
    QFont chosen("DejaVu Serif");
    chosen.setPointSize(13);
    chosen.setBold(false);
    chosen.setUnderline(true);
    chosen.setStrikeOut(true);
    dialogs.fonts.push_back(chosen);
    form->menu.fontSetup->trigger();
    dialogs.colors.push_back(QColor(200, 220, 240));
    form->menu.backgroundSetup->trigger();
    form->move(321, 123);
    form->resize(500, 400);
    form->spectrumSplitter->setSizes({70, form->spectrumSplitter->sizes()[1] - 20});
    form->textSplitter->setSizes({120, form->textSplitter->sizes()[1] - 30});
    QCoreApplication::processEvents();
    const QRect frame = form->frameGeometry();
    const int spectrum = form->spectrumStrip->height();
    const int text = form->receiveText->height();
    ASSERT_EQ(spectrum, 70);
    ASSERT_EQ(text, 120);

    form->menu.saveSetup->trigger();
    EXPECT_TRUE(dialogs.messages.empty());
    form.reset();

    Create();
    EXPECT_NE(form->receiveText->font().family(), "DejaVu Serif");  // not before the activation
    form->show();
    Activate();
    QCoreApplication::processEvents();
    const QFont font = form->receiveText->font();
    EXPECT_EQ(font.family(), "DejaVu Serif");
    EXPECT_EQ(font.pointSize(), 13);
    EXPECT_FALSE(font.bold());
    EXPECT_FALSE(font.italic());
    EXPECT_TRUE(font.underline());
    EXPECT_TRUE(font.strikeOut());
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base), QColor(200, 220, 240));
    EXPECT_EQ(form->frameGeometry(), frame);
    EXPECT_EQ(form->spectrumStrip->height(), spectrum);
    EXPECT_EQ(form->receiveText->height(), text);
}

TEST_F(BufferTest, SystemColoursFollowTheDesktopPalette) {
    form.reset();
    WriteIni("[RxFont]\nColor=-2147483635\nBkgColor=-2147483634\n");  // highlight, its text
    CreateShownAndActive();
    const QPalette desktop = QApplication::palette(form->receiveText);
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Text),
              desktop.color(QPalette::Highlight));
    EXPECT_EQ(form->receiveText->palette().color(QPalette::Base),
              desktop.color(QPalette::HighlightedText));
    // Kept as system colours, not frozen into this desktop's values.
    form->menu.saveSetup->trigger();
    QFile ini(DirPath("DAHLO.INI"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray text = ini.readAll();
    EXPECT_TRUE(text.contains("Color=-2147483635")) << text.toStdString();
    EXPECT_TRUE(text.contains("BkgColor=-2147483634")) << text.toStdString();
}

TEST_F(BufferTest, AFailedSaveSetupIsReportedAndTheNextOneWorks) {
    QDir(DirPath("")).mkdir("DAHLO.INI");  // a directory where the file should go
    form->menu.saveSetup->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].second, "Unable to write to DAHLO.INI");
    QDir(DirPath("")).rmdir("DAHLO.INI");
    form->menu.saveSetup->trigger();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(QFile::exists(DirPath("DAHLO.INI")));
}

}  // namespace
}  // namespace dahlo::test

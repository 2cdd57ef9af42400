// The receive text: the banner, appending decoded text, the line limit and the user's selection.
#include <QFile>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include "app_fixture.h"

namespace dahlo::test {
namespace {

class ReceiveTextTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        CreateShownAndActive();
    }
    QString Text() const { return form->receiveText->toPlainText(); }
    QString FirstLine() const { return form->receiveText->document()->firstBlock().text(); }
    void Append(std::string_view text) { form->AppendDecodedText(2, text); }
    // `count` one-line paragraphs "L0", "L1", ...
    void FillLines(int count) {
        QStringList lines;
        for (int i = 0; i < count; ++i) lines << QString("L%1").arg(i);
        form->receiveText->setPlainText(lines.join('\n'));
    }
};

TEST_F(ReceiveTextTest, StartsWithTheFiveLineBanner) {
    const QStringList lines = Text().split('\n');
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "Dahlo  V1.0");
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_FALSE(lines[2].isEmpty());
    EXPECT_EQ(lines[3], "Use mouse to select sound band and detector ");
    EXPECT_EQ(lines[4], "threshold.");
    Append("e");
    EXPECT_TRUE(Text().startsWith("Dahlo  V1.0\n"));
    EXPECT_TRUE(Text().endsWith("threshold.\ne"));
}

TEST_F(ReceiveTextTest, AppendsCyrillicAndFollowsWithTheCaret) {
    form->menu.clearBuffer->trigger();
    EXPECT_EQ(Text(), "");
    Append("\xE5");
    Append(" ");
    Append("AR");
    EXPECT_EQ(Text(), QString::fromUtf8("е AR"));
    const QTextCursor caret = form->receiveText->textCursor();
    EXPECT_FALSE(caret.hasSelection());
    EXPECT_EQ(caret.position(), Text().size());
}

TEST_F(ReceiveTextTest, TenThousandLinesAreKept) {
    FillLines(10000);
    ASSERT_EQ(form->receiveText->DisplayLines(), 10000);
    Append("x");
    EXPECT_EQ(form->receiveText->DisplayLines(), 10000);
    EXPECT_EQ(FirstLine(), "L0");
    EXPECT_TRUE(Text().endsWith("L9999x"));
}

TEST_F(ReceiveTextTest, OneLineOverTheLimitCutsABatchOfAHundred) {
    FillLines(10001);
    Append("x");
    EXPECT_EQ(form->receiveText->DisplayLines(), 9901);
    EXPECT_EQ(FirstLine(), "L100");
    EXPECT_TRUE(Text().endsWith("L10000x"));
}

TEST_F(ReceiveTextTest, WrappedLinesCountAsDisplayLines) {
    // One long paragraph that the window wraps over several display lines.
    QString words;
    for (int i = 0; i < 60; ++i) words += QString("w%1 ").arg(i, 2, 10, QChar('0'));
    form->receiveText->setPlainText(words);
    const int perParagraph = form->receiveText->DisplayLines();
    ASSERT_GT(perParagraph, 2) << "the receive text is too wide for this test";

    // 10001 display lines: paragraphs of `perParagraph` lines, topped up with short ones.
    const int paragraphs = 10001 / perParagraph;
    QStringList lines;
    for (int i = 0; i < paragraphs; ++i) lines << words;
    for (int i = paragraphs * perParagraph; i < 10001; ++i) lines << "s";
    form->receiveText->setPlainText(lines.join('\n'));
    ASSERT_EQ(form->receiveText->DisplayLines(), 10001);
    ASSERT_EQ(form->receiveText->document()->blockCount(), lines.size());

    Append("x");
    EXPECT_EQ(form->receiveText->DisplayLines(), 9901);
    // A hundred display lines went: whole paragraphs first, then the head of the next one.
    const int cutInto = 100 % perParagraph;
    const QTextLayout* first = form->receiveText->document()->firstBlock().layout();
    EXPECT_EQ(first->lineCount(), cutInto == 0 ? perParagraph : perParagraph - cutInto);
    EXPECT_TRUE(FirstLine().startsWith("w")) << FirstLine().toStdString();
}

TEST_F(ReceiveTextTest, ASelectionStaysWhileTextArrives) {
    QTextCursor select = form->receiveText->textCursor();
    select.setPosition(0);
    select.setPosition(5, QTextCursor::KeepAnchor);  // "Dahlo"
    form->receiveText->setTextCursor(select);
    for (int i = 0; i < 20; ++i) Append("k");
    const QTextCursor after = form->receiveText->textCursor();
    EXPECT_EQ(after.selectionStart(), 0);
    EXPECT_EQ(after.selectionEnd(), 5);
    EXPECT_EQ(after.selectedText(), "Dahlo");
    EXPECT_TRUE(Text().endsWith(QString(20, 'k')));
}

TEST_F(ReceiveTextTest, ASelectionBehindTheCutMovesWithItsText) {
    FillLines(10001);
    const QTextBlock line200 = form->receiveText->document()->findBlockByNumber(200);
    QTextCursor select = form->receiveText->textCursor();
    select.setPosition(line200.position());
    select.setPosition(line200.position() + 4, QTextCursor::KeepAnchor);
    form->receiveText->setTextCursor(select);
    Append("x");
    EXPECT_EQ(form->receiveText->DisplayLines(), 9901);
    EXPECT_EQ(form->receiveText->textCursor().selectedText(), "L200");
    EXPECT_TRUE(Text().endsWith("L10000x"));
}

TEST_F(ReceiveTextTest, SaveBufferWritesWindows1251WithCrLf) {
    form->menu.clearBuffer->trigger();
    Append("\xE5");
    Append(" ");
    Append("k");
    form->receiveText->appendPlainText("next");
    dialogs.files.push_back(DirPath("out.txt"));
    form->menu.saveBuffer->trigger();
    QFile file(DirPath("out.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\xE5 k\r\nnext"));
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].title, "Save buffer to file");
    EXPECT_EQ(dialogs.requests[0].defaultSuffix, "txt");
}

TEST_F(ReceiveTextTest, UserCharsetFromTheMenuMovesTheCheckOnlyOnASuccessfulLoad) {
    {
        QFile empty(DirPath("empty.dlo"));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    }
    form->menu.userCharset->trigger();  // cancelled
    EXPECT_TRUE(form->menu.englishCharset->isChecked());
    dialogs.files.push_back(DirPath("empty.dlo"));
    form->menu.userCharset->trigger();
    EXPECT_TRUE(form->menu.englishCharset->isChecked());
    EXPECT_EQ(form->receiver.charsets.Charset, kEnglish);

    {
        QFile good(DirPath("good.dlo"));
        ASSERT_TRUE(good.open(QIODevice::WriteOnly));
        good.write("-- Z\n");
    }
    dialogs.files.push_back(DirPath("good.dlo"));
    form->menu.userCharset->trigger();
    EXPECT_TRUE(form->menu.userCharset->isChecked());
    EXPECT_FALSE(form->menu.englishCharset->isChecked());
    EXPECT_EQ(form->receiver.charsets.Charset, kUserDefined);
    EXPECT_EQ(form->receiver.charsets.UserCharsetFile, DirPath("good.dlo").toStdString());

    form->menu.russianCharset->trigger();
    EXPECT_EQ(form->receiver.charsets.Charset, kRussian);
    EXPECT_FALSE(form->menu.userCharset->isChecked());
}

TEST_F(ReceiveTextTest, DialogsChosenInsideTheProcessingLoopWaitUntilItReturns) {
    form->receiver.ProcessingActive = true;  // as inside the loop's event pump
    form->menu.saveBuffer->trigger();
    EXPECT_TRUE(dialogs.requests.empty());
    form->receiver.ProcessingActive = false;
    QEvent blockReady(kBlockReadyEvent);
    QCoreApplication::sendEvent(form.get(), &blockReady);
    EXPECT_EQ(dialogs.requests.size(), 1u);
}

}  // namespace
}  // namespace dahlo::test

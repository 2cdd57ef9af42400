// The receive text's popup: a mouse release over a selection opens it with the trimmed word, the
// field items write the word into the logger's file and announce it, Copy copies it.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <tuple>

#include "app_fixture.h"
#include "export/logger_export.h"

namespace dahlo::test {
namespace {

class PopupTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        // Bare export file names live in the configuration directory: keep it in the test's.
        previousXdg_ = qgetenv("XDG_CONFIG_HOME");
        hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", DirPath("config").toUtf8());
        CreateShownAndActive();
        form->receiveText->setPlainText("CQ DE  OK1ABC\nname Jan\n  \n");
    }
    void TearDown() override {
        WindowTest::TearDown();
        if (hadXdg_) {
            qputenv("XDG_CONFIG_HOME", previousXdg_);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }

    void Select(int start, int end) {
        QTextCursor cursor = form->receiveText->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        form->receiveText->setTextCursor(cursor);
    }
    // Selects `word` (its first occurrence) plus `before` and `after` characters around it.
    void SelectWord(const QString& word, int before = 0, int after = 0) {
        const int at = static_cast<int>(form->receiveText->toPlainText().indexOf(word));
        ASSERT_GE(at, 0) << word.toStdString();
        Select(at - before, at + static_cast<int>(word.size()) + after);
    }
    void Release(Qt::MouseButton button = Qt::LeftButton, QPoint at = QPoint(12, 7)) {
        QTest::mouseRelease(form->receiveText->viewport(), button, Qt::NoModifier, at);
    }
    // Selection, release, popup shown.
    void PopupOn(const QString& word, int before = 0, int after = 0) {
        SelectWord(word, before, after);
        const std::size_t shown = popups.size();
        Release();
        ASSERT_EQ(popups.size(), shown + 1);
    }
    QString ExportFile() const { return DirPath("config/loginput.ini"); }
    QByteArray ExportFileBytes() const {
        QFile file(ExportFile());
        // Line endings are the INI writer's business.
        return file.open(QIODevice::ReadOnly) ? file.readAll().replace("\r\n", "\n") : QByteArray();
    }
    std::vector<RecordingBroadcaster::Sent> Keyvox() const {
        std::vector<RecordingBroadcaster::Sent> out;
        for (const auto& sent : broadcaster.sent) {
            if (sent.id == form->keyvoxMessage) out.push_back(sent);
        }
        return out;
    }

  private:
    QByteArray previousXdg_;
    bool hadXdg_ = false;
};

TEST_F(PopupTest, NoSelectionNoMenu) {
    Select(3, 3);
    Release();
    Release(Qt::RightButton);
    EXPECT_TRUE(popups.empty());
    EXPECT_EQ(form->wordMenu->Word(), "");
}

TEST_F(PopupTest, MenuHoldsTheWordAndTheFieldsInOrder) {
    PopupOn("OK1ABC");
    EXPECT_EQ(popups[0].menu, form->wordMenu);
    QStringList items;
    for (QAction* action : form->wordMenu->actions()) {
        items << (action->isSeparator() ? QString("-") : action->text());
    }
    EXPECT_EQ(items, QStringList({"OK1ABC", "-", "Call", "Number", "RST", "Name", "QTH", "QSL via",
                                  "Remarks", "-", "Copy"}));
    EXPECT_EQ(form->wordMenu->title->objectName(), "Title1");
    EXPECT_EQ(form->wordMenu->qslVia->objectName(), "QSLvia1");
}

TEST_F(PopupTest, AnyButtonOpensItAtTheWindowCornerPlusTextPlacePlusPointer) {
    form->move(300, 200);
    const QPoint memoInClient = form->receiveText->mapTo(form->centralWidget(), QPoint(0, 0));
    ASSERT_GT(memoInClient.y(), 0) << "the toolbar and the spectrum lie above the text";
    SelectWord("Jan");
    // A right click: the press keeps the selection, the release opens the menu.
    QTest::mousePress(form->receiveText->viewport(), Qt::RightButton, Qt::NoModifier,
                      QPoint(40, 9));
    Release(Qt::RightButton, QPoint(40, 9));
    EXPECT_EQ(form->wordMenu->Word(), "Jan");
    ASSERT_EQ(popups.size(), 1u);
    const QPoint corner = form->frameGeometry().topLeft();
    EXPECT_EQ(popups[0].screenPos, corner + memoInClient + QPoint(40, 9));
    SelectWord("name");
    Release(Qt::MiddleButton, QPoint(3, 4));
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[1].screenPos, corner + memoInClient + QPoint(3, 4));
}

TEST_F(PopupTest, ADragSelectionOpensTheMenuOnRelease) {
    form->receiveText->setPlainText("ABCDEFGHIJKLMNOP");
    const QRect first = form->receiveText->cursorRect(QTextCursor(form->receiveText->document()));
    const QPoint from(first.left() + 1, first.center().y());
    const QPoint to(from.x() + 60, from.y());
    QTest::mousePress(form->receiveText->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(form->receiveText->viewport(), to);
    QTest::mouseRelease(form->receiveText->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_FALSE(form->wordMenu->Word().isEmpty());
    EXPECT_TRUE(QString("ABCDEFGHIJKLMNOP").startsWith(form->wordMenu->Word()))
        << form->wordMenu->Word().toStdString();
    EXPECT_FALSE(form->receiveText->textCursor().hasSelection());
}

TEST_F(PopupTest, TheWordIsTrimmedAndTheSelectionCollapsesToItsStart) {
    // A leading blank and a trailing line break go; the inner blanks stay.
    PopupOn("DE  OK1ABC", 1, 1);
    EXPECT_EQ(form->wordMenu->Word(), "DE  OK1ABC");
    EXPECT_EQ(form->wordMenu->title->text(), "DE  OK1ABC");
    const QTextCursor after = form->receiveText->textCursor();
    EXPECT_FALSE(after.hasSelection());
    EXPECT_EQ(after.position(), 2);  // the blank before "DE"
    form->wordMenu->call->trigger();
    EXPECT_TRUE(ExportFileBytes().contains("Call=\"DE  OK1ABC\""));
}

TEST_F(PopupTest, AnAmpersandIsShownAsItselfAndExportedOnce) {
    form->receiveText->setPlainText("R&S 599");
    PopupOn("R&S");
    EXPECT_EQ(form->wordMenu->Word(), "R&S");
    EXPECT_EQ(form->wordMenu->title->text(), "R&&S");  // a single '&' would underline the S instead
    form->wordMenu->remarks->trigger();
    EXPECT_TRUE(ExportFileBytes().contains("Note=\"R&S\""));
}

TEST_F(PopupTest, BlanksAndLineBreaksOnlyExportAnEmptyCall) {
    const int at = static_cast<int>(form->receiveText->toPlainText().indexOf("Jan")) + 3;
    Select(at, at + 4);  // "\n  \n"
    Release();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(form->wordMenu->Word(), "");
    form->wordMenu->call->trigger();
    EXPECT_EQ(ExportFileBytes(), QByteArray("[QSO]\nCall=\"\"\n"));
    const auto sent = Keyvox();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].word, 0x0083u);
    EXPECT_EQ(sent[0].lparam, 4);
}

TEST_F(PopupTest, SuccessiveExportsCountAndKeepEveryKey) {
    PopupOn("OK1ABC");
    form->wordMenu->call->trigger();
    PopupOn("Jan");
    form->wordMenu->name->trigger();
    PopupOn("CQ");
    form->wordMenu->call->trigger();
    EXPECT_FALSE(form->receiveText->textCursor().hasSelection());

    const auto sent = Keyvox();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].word, 0x0083u);
    EXPECT_EQ(sent[1].word, 0x0183u);
    EXPECT_EQ(sent[2].word, 0x0283u);
    EXPECT_EQ(sent[0].lparam, 4);
    EXPECT_EQ(sent[1].lparam, 0x80);
    EXPECT_EQ(sent[2].lparam, 4);
    EXPECT_EQ(ExportFileBytes(), QByteArray("[QSO]\nCall=\"CQ\"\nName=\"Jan\"\n"));
}

TEST_F(PopupTest, EachFieldWritesItsKeyAndFlag) {
    const std::vector<std::tuple<QAction*, QByteArray, std::int32_t>> fields = {
        {form->wordMenu->call, "Call", 4},      {form->wordMenu->number, "NumberRcvd", 0x100000},
        {form->wordMenu->rst, "RprtRcvd", 64},  {form->wordMenu->name, "Name", 128},
        {form->wordMenu->qth, "QTH", 256},      {form->wordMenu->qslVia, "QSLVia", 512},
        {form->wordMenu->remarks, "Note", 1024}};
    form->receiveText->setPlainText("w0 w1 w2 w3 w4 w5 w6");
    for (std::size_t i = 0; i < fields.size(); ++i) {
        PopupOn(QString("w%1").arg(i));
        std::get<0>(fields[i])->trigger();
    }
    const auto sent = Keyvox();
    ASSERT_EQ(sent.size(), fields.size());
    const QByteArray file = ExportFileBytes();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto& [item, key, flag] = fields[i];
        EXPECT_TRUE(file.contains(key + "=\"w" + QByteArray::number(static_cast<int>(i)) + "\""))
            << key.toStdString();
        EXPECT_EQ(sent[i].lparam, flag) << key.toStdString();
        EXPECT_EQ(sent[i].word, 0x83u | (static_cast<std::uint32_t>(i) << 8));
    }
}

TEST_F(PopupTest, ChoosingTheTitleSendsAndWritesNothing) {
    PopupOn("OK1ABC");
    const std::size_t before = broadcaster.sent.size();
    form->wordMenu->title->trigger();
    EXPECT_EQ(broadcaster.sent.size(), before);
    EXPECT_FALSE(QFile::exists(ExportFile()));
    EXPECT_FALSE(QFile::exists(DirPath("loginput.ini")));
}

TEST_F(PopupTest, CyrillicIsExportedInWindows1251) {
    form->receiveText->clear();
    form->AppendDecodedText(2, "\xC8\xE2\xE0\xED");  // "Иван"
    PopupOn(QString::fromUtf8("Иван"));
    form->wordMenu->name->trigger();
    EXPECT_EQ(ExportFileBytes(), QByteArray("[QSO]\nName=\"\xC8\xE2\xE0\xED\"\n"));
}

TEST_F(PopupTest, TheExportFileAndSectionComeFromTheSettings) {
    form.reset();
    WriteIni("[Dahlo]\nExportIniFile=" + DirPath("logs/my.ini").toStdString() +
             "\nExportIniSection=Contest\n");
    QDir(DirPath("")).mkdir("logs");
    CreateShownAndActive();
    form->receiveText->setPlainText("OK1ABC");
    PopupOn("OK1ABC");
    form->wordMenu->call->trigger();
    QFile file(DirPath("logs/my.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().replace("\r\n", "\n"), QByteArray("[Contest]\nCall=\"OK1ABC\"\n"));
    EXPECT_FALSE(QFile::exists(ExportFile()));
}

TEST_F(PopupTest, AFailedWriteSaysSoAndSendsNothing) {
    form.reset();
    {
        QFile blocker(DirPath("blocker"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString target = DirPath("blocker/log.ini");  // a directory that is a regular file
    WriteIni("[Dahlo]\nExportIniFile=" + target.toStdString() + "\n");
    CreateShownAndActive();
    form->receiveText->setPlainText("OK1ABC Jan");
    PopupOn("OK1ABC");
    form->wordMenu->call->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].second, "Unable to write to " + target);
    EXPECT_TRUE(Keyvox().empty());
    EXPECT_EQ(form->logger.ExportSequence(), 0u);
}

TEST_F(PopupTest, CopyPutsTheTrimmedWordOnTheClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("old");
    PopupOn("Jan", 0, 1);  // with the line break after it
    form->wordMenu->copy->trigger();
    EXPECT_EQ(clipboard->text(), "Jan");
    EXPECT_FALSE(QFile::exists(ExportFile()));
}

TEST_F(PopupTest, TheRealMenuOpensWithoutBlockingAndItsItemsWork) {
    form.reset();
    popups.clear();
    // The program's own popup: QMenu::popup.
    input = std::make_unique<ScriptedInput>(std::vector<std::int16_t>{});
    MainWindowServices services;
    services.soundInput = input.get();
    services.dialogs = &dialogs;
    services.broadcaster = &broadcaster;
    services.terminate = [] {};
    form = std::make_unique<MainWindow>(std::move(services));
    form->show();
    Activate();
    form->receiveText->setPlainText("OK1ABC");
    SelectWord("OK1ABC");
    Release();
    EXPECT_TRUE(form->wordMenu->isVisible());
    form->wordMenu->call->trigger();
    form->wordMenu->hide();
    EXPECT_TRUE(ExportFileBytes().contains("Call=\"OK1ABC\""));
}

}  // namespace
}  // namespace dahlo::test

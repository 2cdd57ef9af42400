// The desktop dialogs themselves, answered from a timer while they run modally: the colour dialog
// reopens on its own last colour, Cancel keeps what the caller had, the save dialog adds the
// default extension and asks before overwriting, a fatal message box carries the critical icon.
#include "app/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app_fixture.h"

namespace dahlo::test {
namespace {

// Runs `answer` on the first modal dialog of type T that shows up (polling, as the dialog opens
// inside the call under test).
template <typename T>
void AnswerWhenShown(std::function<void(T*)> answer) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        }
    });
    timer->start();
}

TEST(QtDialogsTest, ColourDialogStartsBlackThenFromItsOwnLastColour) {
    QtDialogs dialogs;
    QColor seenAtStart;
    AnswerWhenShown<QColorDialog>([&](QColorDialog* dialog) {
        seenAtStart = dialog->currentColor();
        dialog->setCurrentColor(QColor(1, 2, 3));
        static_cast<QDialog*>(dialog)->accept();
    });
    QColor color(Qt::white);  // what the caller holds does not matter
    ASSERT_TRUE(dialogs.ChooseColor(nullptr, color));
    EXPECT_EQ(seenAtStart, QColor(Qt::black));
    EXPECT_EQ(color, QColor(1, 2, 3));

    AnswerWhenShown<QColorDialog>([&](QColorDialog* dialog) {
        seenAtStart = dialog->currentColor();
        dialog->setCurrentColor(QColor(9, 9, 9));
        dialog->reject();
    });
    QColor kept(Qt::green);
    EXPECT_FALSE(dialogs.ChooseColor(nullptr, kept));
    EXPECT_EQ(seenAtStart, QColor(1, 2, 3));
    EXPECT_EQ(kept, QColor(Qt::green));

    // A cancelled pick is not remembered.
    AnswerWhenShown<QColorDialog>([&](QColorDialog* dialog) {
        seenAtStart = dialog->currentColor();
        dialog->reject();
    });
    EXPECT_FALSE(dialogs.ChooseColor(nullptr, kept));
    EXPECT_EQ(seenAtStart, QColor(1, 2, 3));
}

TEST(QtDialogsTest, FontDialogOpensOnTheGivenFontAndCancelKeepsIt) {
    QtDialogs dialogs;
    QFont font("DejaVu Sans");
    font.setPointSize(17);
    font.setBold(true);
    QFont seen;
    AnswerWhenShown<QFontDialog>([&](QFontDialog* dialog) {
        seen = dialog->currentFont();
        QFont other("DejaVu Serif");
        other.setPointSize(9);
        dialog->setCurrentFont(other);
        dialog->reject();
    });
    EXPECT_FALSE(dialogs.ChooseFont(nullptr, font));
    EXPECT_EQ(seen.pointSize(), 17);
    EXPECT_TRUE(seen.bold());
    EXPECT_EQ(font.family(), "DejaVu Sans");
    EXPECT_EQ(font.pointSize(), 17);
}

// Types a name into the dialog's name field, as the user does.
void TypeName(QFileDialog* dialog, const QString& name) {
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
}

class QtSaveDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    FileDialogRequest Request() const {
        return {"Save buffer to file", dir.path(), "Text files (*.txt);;All files (*.*)", "txt"};
    }
    QTemporaryDir dir;
    QtDialogs dialogs;
};

TEST_F(QtSaveDialogTest, ATypedNameWithoutExtensionComesBackWithTxt) {
    QString title;
    AnswerWhenShown<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        TypeName(dialog, "capture");
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(dialogs.SaveFile(nullptr, Request()), dir.filePath("capture.txt"));
    EXPECT_EQ(title, "Save buffer to file");
}

TEST_F(QtSaveDialogTest, AnExistingFileIsReturnedOnlyAfterYes) {
    {
        QFile existing(dir.filePath("old.txt"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    }
    bool asked = false;
    auto answerWith = [&](QMessageBox::StandardButton button) {
        AnswerWhenShown<QFileDialog>([&, button](QFileDialog* dialog) {
            TypeName(dialog, "old.txt");
            AnswerWhenShown<QMessageBox>([&, button](QMessageBox* box) {
                asked = true;
                box->button(button)->click();
            });
            static_cast<QDialog*>(dialog)->accept();
            // Declined: the dialog stays open for another name; leave it.
            if (dialog->isVisible()) dialog->reject();
        });
    };
    answerWith(QMessageBox::No);
    EXPECT_EQ(dialogs.SaveFile(nullptr, Request()), QString());
    EXPECT_TRUE(asked);

    asked = false;
    answerWith(QMessageBox::Yes);
    EXPECT_EQ(dialogs.SaveFile(nullptr, Request()), dir.filePath("old.txt"));
    EXPECT_TRUE(asked);
}

TEST(QtDialogsTest, FatalMessagesCarryTheCriticalIconOthersTheInformationIcon) {
    QtDialogs dialogs;
    for (const MessageIcon icon : {MessageIcon::kCritical, MessageIcon::kInformation}) {
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        QString caption;
        QString text;
        AnswerWhenShown<QMessageBox>([&](QMessageBox* box) {
            shown = box->icon();
            caption = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        dialogs.ShowMessage(nullptr, "Error", "No sound input device", icon);
        EXPECT_EQ(shown, icon == MessageIcon::kCritical ? QMessageBox::Critical
                                                        : QMessageBox::Information);
        EXPECT_EQ(caption, "Error");
        EXPECT_EQ(text, "No sound input device");
    }
}

}  // namespace
}  // namespace dahlo::test

// The window's key table: toolbar letters with Alt, broadcast codes, and what stays untouched.
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "app_fixture.h"

namespace dahlo::test {
namespace {

// Counts the key presses that reach a widget.
class KeySpy : public QObject {
  public:
    int presses = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Alt && key != Qt::Key_Control && key != Qt::Key_Shift) ++presses;
        return false;
    }
};

class KeyTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        CreateShownAndActive();
        form->receiveText->installEventFilter(&spy);
        ASSERT_EQ(form->focusWidget(), form->receiveText);
        aalCw = broadcaster.IdOf("AAL_CW");
        ASSERT_NE(aalCw, 0u);
    }

    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(form->receiveText, key, modifiers);
    }

    std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const auto& sent : broadcaster.sent) {
            EXPECT_EQ(sent.id, aalCw);
            EXPECT_EQ(sent.lparam, 0);
            codes.push_back(sent.word);
        }
        return codes;
    }

    KeySpy spy;
    std::uint32_t aalCw = 0;
};

TEST_F(KeyTest, FunctionKeysBroadcastTheirNumbers) {
    for (int i = 0; i < 12; ++i) Key(static_cast<Qt::Key>(Qt::Key_F1 + i));
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // Every one but F10 goes on to the focused control.
    EXPECT_EQ(spy.presses, 11);
}

TEST_F(KeyTest, F10IsBroadcastAndSwallowed) {
    Key(Qt::Key_F10);
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{10}));
    EXPECT_EQ(spy.presses, 0);
    EXPECT_TRUE(form->KeyPressed(Qt::Key_F10, Qt::NoModifier));
    EXPECT_FALSE(form->KeyPressed(Qt::Key_F9, Qt::NoModifier));
}

TEST_F(KeyTest, PauseScrollLockAndControlLetters) {
    Key(Qt::Key_Pause);
    Key(Qt::Key_ScrollLock);
    Key(Qt::Key_P, Qt::ControlModifier);
    Key(Qt::Key_T, Qt::ControlModifier);
    Key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{102, 112, 102, 112, 102}));
    EXPECT_FALSE(form->toolbar->onTopButton->isChecked());
}

TEST_F(KeyTest, KeysOutsideTheTableSendNothing) {
    Key(Qt::Key_F1, Qt::ShiftModifier);
    Key(Qt::Key_F1, Qt::ControlModifier);
    Key(Qt::Key_Pause, Qt::ShiftModifier);
    Key(Qt::Key_P);
    Key(Qt::Key_T, Qt::ShiftModifier);
    Key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(broadcaster.sent.empty());
    EXPECT_FALSE(form->toolbar->onTopButton->isChecked());
    EXPECT_FALSE(form->toolbar->autoThresholdButton->isChecked());
}

TEST_F(KeyTest, AltLettersFlipOnceAndRunTheClickAction) {
    Key(Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(form->toolbar->autoThresholdButton->isChecked());
    EXPECT_TRUE(form->receiver.Main().autoThreshold);
    EXPECT_EQ(Panel(3), "Auto");
    Key(Qt::Key_R, Qt::AltModifier);
    EXPECT_FALSE(form->toolbar->autoThresholdButton->isChecked());
    EXPECT_EQ(Panel(3), "0.100");

    Key(Qt::Key_F, Qt::AltModifier);
    EXPECT_FALSE(form->toolbar->afcButton->isChecked());
    EXPECT_FALSE(form->receiver.Main().afcOn);

    Key(Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(form->toolbar->autoGoToMaxButton->isChecked());
    EXPECT_TRUE(form->receiver.Main().autoGoToMax);
    EXPECT_FALSE(form->StaysOnTop());

    EXPECT_TRUE(broadcaster.sent.empty());
    EXPECT_EQ(spy.presses, 0);
}

TEST_F(KeyTest, AltCtrlTIsAltTWithOneFlipAndNoBroadcast) {
    Key(Qt::Key_T, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_TRUE(form->toolbar->onTopButton->isChecked());
    EXPECT_TRUE(form->onTopDown);
    EXPECT_TRUE(form->StaysOnTop());
    EXPECT_TRUE(broadcaster.sent.empty());

    Key(Qt::Key_T, Qt::AltModifier);
    EXPECT_FALSE(form->toolbar->onTopButton->isChecked());
    EXPECT_FALSE(form->StaysOnTop());
}

TEST_F(KeyTest, AltGGoesToTheStrongestPeak) {
    form->receiver.spectrum.PeakHold.fill(0.0);
    form->receiver.spectrum.PeakHold[321] = 5.0;
    Key(Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(form->receiver.Main().CentreBin, 321);
}

TEST_F(KeyTest, MouseClicksOnTogglesMatchTheirKeys) {
    QTest::mouseClick(form->toolbar->autoThresholdButton, Qt::LeftButton);
    EXPECT_TRUE(form->toolbar->autoThresholdButton->isChecked());
    EXPECT_EQ(Panel(3), "Auto");
    QTest::mouseClick(form->toolbar->autoGoToMaxButton, Qt::LeftButton);
    EXPECT_TRUE(form->receiver.Main().autoGoToMax);
    EXPECT_FALSE(form->StaysOnTop());
    QTest::mouseClick(form->toolbar->onTopButton, Qt::LeftButton);
    EXPECT_TRUE(form->StaysOnTop());

    form->toolbar->afcSpeed->stepBy(5);
    EXPECT_EQ(form->receiver.Main().AfcSpeed, 7);
    form->toolbar->afcSpeed->stepBy(200);
    EXPECT_EQ(form->receiver.Main().AfcSpeed, 99);  // no wrap
}

TEST_F(WindowTest, KeysBeforeTheMessagesAreRegisteredSendNothing) {
    Create();
    QTest::keyClick(form->receiveText, Qt::Key_F1);
    EXPECT_TRUE(broadcaster.sent.empty());
}

}  // namespace
}  // namespace dahlo::test

// Start-up order, the first activation and shutdown of the main window.
#include <QAction>
#include <QFrame>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QToolButton>

#include "app/paint_strip.h"
#include "app_fixture.h"
#include "capture/capture.h"
#include "settings/settings.h"

namespace dahlo::test {
namespace {

using Call = ScriptedInput::Call;

// Scripts and the live test find the widgets by these names, whatever the members are called.
TEST_F(WindowTest, EveryControlKeepsItsObjectName) {
    Create();
    const std::vector<std::pair<const char*, QObject*>> named = {
        {"RxForm", form.get()},
        {"Panel1", form->toolbar},
        {"AutoTresholdButton", form->toolbar->autoThresholdButton},
        {"OnTopButton", form->toolbar->onTopButton},
        {"GoToMaxButton", form->toolbar->goToMaxButton},
        {"AutoGoToMaxButton", form->toolbar->autoGoToMaxButton},
        {"AfcUpDown", form->toolbar->afcSpeed},
        {"AfcButton", form->toolbar->afcButton},
        {"Bevel1", form->toolbarBevel},
        {"Splitter1", form->spectrumSplitter},
        {"FFTBox", form->spectrumStrip},
        {"Splitter2", form->textSplitter},
        {"RxMemo", form->receiveText},
        {"PaintBox1", form->scopeStrip},
        {"StatusBar1", form->status},
        {"MainFilterMenu", form->menu.filterWidth},
        {"CwFilterMenu", form->menu.burstFilter},
        {"ClearBuffer1", form->menu.clearBuffer},
        {"SaveBuffer1", form->menu.saveBuffer},
        {"Exit", form->menu.exit},
        {"Narrow1", form->menu.narrowFilter},
        {"Wide1", form->menu.wideFilter},
        {"VeryWide1", form->menu.veryWideFilter},
        {"N100CPM1", form->menu.burstSpeeds.front()},
        {"N5000CPM1", form->menu.burstSpeeds.back()},
        {"EnglishCharset1", form->menu.englishCharset},
        {"RussianCharset1", form->menu.russianCharset},
        {"UserdefinedCharset1", form->menu.userCharset},
        {"FontSetup1", form->menu.fontSetup},
        {"RxWindowBackground1", form->menu.backgroundSetup},
        {"SaveSetup1", form->menu.saveSetup},
        {"Contens1", form->menu.helpContents},
        {"About1", form->menu.about},
        {"PopupMenu1", form->wordMenu},
        {"Call1", form->wordMenu->call},
        {"Remarks1", form->wordMenu->remarks},
        {"Copy1", form->wordMenu->copy},
    };
    for (const auto& [name, object] : named) {
        SCOPED_TRACE(name);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->objectName(), name);
        if (object != form.get()) {
            EXPECT_EQ(form->findChild<QObject*>(name), object);
        }
    }
    EXPECT_EQ(form->toolbar->afcSpeed->findChild<QObject*>("AfcEdit"),
              form->findChild<QObject*>("AfcEdit"));
    EXPECT_NE(form->findChild<QObject*>("AfcEdit"), nullptr);
    EXPECT_EQ(form->findChild<QObject*>("StatusBar1Panel1"), form->status->panels[1]);
}

TEST_F(WindowTest, CreationOpensCaptureButLeavesTheSettingsForTheFirstActivation) {
    WriteIni("[Dahlo]\nCwFilterTreshold=350\nFilterWidth=1\nAfcSpeed=7\n");
    Create();

    // Recording runs before the window is shown or the settings are read.
    EXPECT_EQ(input->CountOf(Call::kStart), 1);
    EXPECT_EQ(form->ring.FreeBuffers.load(), 16);
    EXPECT_FALSE(form->firstActivationDone);
    EXPECT_EQ(Panel(0), "Narrow");
    EXPECT_EQ(Panel(1), "996 Hz");
    EXPECT_EQ(Panel(2), "BF: 5000");
    EXPECT_EQ(Panel(3), "0.001");
    EXPECT_EQ(Panel(4), "---- LPM");
    EXPECT_EQ(Panel(5), "----- WPM");
    EXPECT_EQ(Panel(6), "FrB: 15");
    EXPECT_EQ(Panel(7), "");
    EXPECT_EQ(form->menu.burstFilter->title(), "Burst Filter  (200 LPM)");
    EXPECT_EQ(form->menu.filterWidth->title(), "Main Filter  (Narrow)");
    EXPECT_EQ(form->toolbar->afcSpeed->value(), 2);
    EXPECT_TRUE(broadcaster.names.empty());
    EXPECT_EQ(form->aalCwMessage, 0u);

    Activate();
    EXPECT_TRUE(form->firstActivationDone);
    EXPECT_EQ(Panel(2), "BF: 100");
    EXPECT_EQ(form->menu.burstFilter->title(), "Burst Filter (100 LPM)");
    EXPECT_EQ(Panel(0), "Wide");
    EXPECT_EQ(form->menu.filterWidth->title(), "Main Filter  (Wide)");
    EXPECT_EQ(Panel(3), "0.100");
    EXPECT_EQ(form->toolbar->afcSpeed->value(), 7);
    EXPECT_EQ(form->receiver.Main().AfcSpeed, 7);
    EXPECT_EQ(broadcaster.names, (std::vector<std::string>{"AAL_CW", "Keyvox_Message"}));
    EXPECT_EQ(form->aalCwMessage, broadcaster.IdOf("AAL_CW"));
    EXPECT_EQ(form->keyvoxMessage, broadcaster.IdOf("Keyvox_Message"));
}

TEST_F(WindowTest, WithoutASettingsFileTheDefaultsApply) {
    CreateShownAndActive();
    EXPECT_EQ(Panel(0), "Narrow");
    EXPECT_EQ(Panel(2), "BF: 200");
    EXPECT_EQ(Panel(3), "0.100");
    EXPECT_TRUE(form->toolbar->afcButton->isChecked());
    EXPECT_FALSE(form->toolbar->autoThresholdButton->isChecked());
    EXPECT_FALSE(form->toolbar->onTopButton->isChecked());
    EXPECT_TRUE(form->menu.englishCharset->isChecked());
    EXPECT_EQ(form->receiver.Main().CentreBin, 185);
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 0.1);
    EXPECT_FALSE(form->StaysOnTop());
    EXPECT_EQ(form->windowTitle(), "Valdor Dahlo");
}

class BurstLengthTest : public WindowTest,
                        public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(BurstLengthTest, StoredLengthShowsItsSpeedInCaptionAndPanel) {
    const auto [length, lpm] = GetParam();
    WriteIni("[Dahlo]\r\nCwFilterTreshold=" + std::to_string(length) + "\r\n");
    CreateShownAndActive();
    EXPECT_EQ(form->receiver.Main().CwFilterTreshold, length);
    EXPECT_EQ(form->menu.burstFilter->title(), QString("Burst Filter (%1 LPM)").arg(lpm));
    EXPECT_EQ(Panel(2), QString("BF: %1").arg(lpm));
}

INSTANTIATE_TEST_SUITE_P(Lengths, BurstLengthTest,
                         ::testing::Values(std::pair{175, 200}, std::pair{350, 100},
                                           std::pair{7, 5000}));

TEST_F(WindowTest, OnTopIsSetBeforeShowingAndTheButtonFollowsAtActivation) {
    WriteIni("[Dahlo]\nOnTop=1\n");
    Create();
    EXPECT_TRUE(form->StaysOnTop());
    EXPECT_FALSE(
        form->toolbar->onTopButton->isChecked());  // the button waits for the settings load
    form->show();
    Activate();
    EXPECT_TRUE(form->toolbar->onTopButton->isChecked());
    EXPECT_TRUE(form->onTopDown);
    EXPECT_TRUE(form->StaysOnTop());
}

TEST_F(WindowTest, LoadedTogglesThresholdCentreAndWidthReachTheReceiver) {
    WriteIni(
        "[Dahlo]\nAutoTreshold=1\nAutoGoToMax=1\nAfc=0\nCentreBin=300\nDetectorThreshold=2500\n"
        "FilterWidth=7\n");
    CreateShownAndActive();
    const Channel& state = form->receiver.Main();
    EXPECT_TRUE(state.autoThreshold);
    EXPECT_TRUE(state.autoGoToMax);
    EXPECT_FALSE(state.afcOn);
    EXPECT_EQ(state.CentreBin, 300);
    EXPECT_DOUBLE_EQ(state.DetectorThreshold, 0.25);
    EXPECT_EQ(Panel(3), "Auto");
    EXPECT_EQ(Panel(0), "V.Wide");
    EXPECT_EQ(form->menu.filterWidth->title(), "Main Filter  (Very Wide)");
    EXPECT_EQ(form->receiver.Main().Filter().CurrentRow(), &FilterCoefficientTables(2).Row(300));
}

TEST_F(WindowTest, CharsetFromSettings) {
    {
        QFile file(DirPath("mine.dlo"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(".- X\n");
    }
    WriteIni("[Dahlo]\nCharset=2\nUserCharsetFile=\"mine.dlo\"\n");
    CreateShownAndActive();
    EXPECT_TRUE(form->menu.userCharset->isChecked());
    EXPECT_EQ(form->receiver.charsets.Charset, kUserDefined);
    EXPECT_EQ(form->receiver.charsets.CodeToText(5), "X");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, UnreadableUserCharsetKeepsEnglishThePathAndTheRestOfTheLoad) {
    WriteIni("[Dahlo]\nCharset=2\nUserCharsetFile=missing.dlo\n[RxFont]\nStyle=2\n");
    CreateShownAndActive();
    EXPECT_TRUE(form->menu.englishCharset->isChecked());
    EXPECT_EQ(form->receiver.charsets.Charset, kEnglish);
    EXPECT_EQ(form->receiver.charsets.UserCharsetFile, "missing.dlo");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].second, "Cannot open file missing.dlo");
    EXPECT_EQ(dialogs.messageIcons[0], MessageIcon::kInformation);  // not fatal
    EXPECT_TRUE(form->receiveText->font().italic());  // the font section still came after it
    EXPECT_FALSE(form->receiveText->font().bold());
}

TEST_F(WindowTest, WindowSectionSetsGeometryAndStripHeights) {
    WriteIni("[Window]\nLeft=40\nTop=30\nHeight=400\nWidth=500\nSpectrumHeight=80\nRxHeight=120\n");
    CreateShownAndActive();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->x(), 40);
    EXPECT_EQ(form->y(), 30);
    EXPECT_EQ(form->frameGeometry().width(), 500);
    EXPECT_EQ(form->frameGeometry().height(), 400);
    EXPECT_EQ(form->spectrumStrip->height(), 80);
    EXPECT_EQ(form->receiveText->height(), 120);
}

// The design size and the sizes in the file include the window frame, which Qt's offscreen
// platform gives every top-level window.
TEST_F(WindowTest, DesignAndStoredSizesAreOuterSizes) {
    CreateShownAndActive();
    QCoreApplication::processEvents();
    const QSize frameExtra = form->frameGeometry().size() - form->size();
    if (frameExtra.isEmpty()) GTEST_SKIP() << "this platform draws no window frame";
    EXPECT_EQ(form->frameGeometry().size(), QSize(434, 291));
    EXPECT_EQ(form->size(), QSize(434, 291) - frameExtra);
    form->menu.saveSetup->trigger();
    EXPECT_EQ(LoadSettings("DAHLO.INI").window.width, 434);
    EXPECT_EQ(LoadSettings("DAHLO.INI").window.height, 291);
    form.reset();

    WriteIni("[Window]\nHeight=400\nWidth=500\n");
    CreateShownAndActive();
    QCoreApplication::processEvents();
    form->menu.saveSetup->trigger();
    const WindowSettings saved = LoadSettings("DAHLO.INI").window;
    EXPECT_EQ(saved.width, 500);
    EXPECT_EQ(saved.height, 400);
    EXPECT_EQ(form->size(), QSize(500, 400) - frameExtra);
}

TEST_F(WindowTest, ASecondActivationChangesNothing) {
    WriteIni("[Dahlo]\nCwFilterTreshold=350\n");
    CreateShownAndActive();
    form->toolbar->afcButton->click();  // user changes after start
    form->menu.wideFilter->trigger();
    form->menu.burstSpeeds[8]->trigger();  // 5000 LPM
    WriteIni("[Dahlo]\nCwFilterTreshold=175\nAfc=1\nFilterWidth=0\n");

    Activate();
    EXPECT_FALSE(form->toolbar->afcButton->isChecked());
    EXPECT_EQ(Panel(0), "Wide");
    EXPECT_EQ(Panel(2), "BF: 5000");
    EXPECT_EQ(form->menu.burstFilter->title(), "Burst Filter (5000 LPM)");
    EXPECT_EQ(form->receiver.Main().CwFilterTreshold, 7);
    EXPECT_EQ(broadcaster.names.size(), 2u);
}

TEST_F(WindowTest, ExitTwiceStopsTheInputOnceAndEndsOnce) {
    CreateShownAndActive();
    form->menu.exit->trigger();
    form->menu.exit->trigger();
    EXPECT_EQ(input->CountOf(Call::kStop), 1);
    EXPECT_EQ(input->CountOf(Call::kClose), 1);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(form->ring.CaptureStopping.load());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(WindowTest, ClosingTheWindowStopsOnceAndExitAfterwardsDoesNothing) {
    CreateShownAndActive();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(input->CountOf(Call::kStop), 1);
    form->Exit();
    EXPECT_EQ(input->CountOf(Call::kStop), 1);
    EXPECT_EQ(terminations, 0);
}

TEST_F(WindowTest, NoSoundDeviceIsReportedOnceAndEndsTheProgram) {
    input = std::make_unique<ScriptedInput>();
    input->SetNumDevs(0);
    MainWindowServices services;
    services.soundInput = input.get();
    services.dialogs = &dialogs;
    services.broadcaster = &broadcaster;
    services.terminate = [this] { ++terminations; };
    form = std::make_unique<MainWindow>(std::move(services));
    EXPECT_TRUE(form->Terminated());
    EXPECT_EQ(terminations, 1);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].first, "Error");
    EXPECT_EQ(dialogs.messages[0].second, "No sound input device");
    EXPECT_EQ(dialogs.messageIcons[0], MessageIcon::kCritical);
    EXPECT_EQ(input->CountOf(Call::kOpen), 0);
}

}  // namespace
}  // namespace dahlo::test

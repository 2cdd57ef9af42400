#include "app/main_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <string>

#include "app/about_box.h"
#include "app/help_viewer.h"
#include "app/main_window.h"
#include "app/receive_text.h"
#include "app/settings_controls.h"
#include "receiver/panel_text.h"

namespace dahlo {

namespace {

QAction* Item(QMenu* menu, const char* name, const char* caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

}  // namespace

MainMenu BuildMainMenu(QMenuBar& bar, QObject* owner) {
    MainMenu m;
    bar.setObjectName("MainMenu1");

    QMenu* file = bar.addMenu("File");
    file->setObjectName("File1");
    m.clearBuffer = Item(file, "ClearBuffer1", "Clear Buffer");
    m.saveBuffer = Item(file, "SaveBuffer1", "Save Buffer");
    file->addSeparator();
    m.exit = Item(file, "Exit", "Exit");

    QMenu* setup = bar.addMenu("Setup");
    setup->setObjectName("Setup1");
    m.filterWidth = setup->addMenu("Main Filter  (Narrow)");
    m.filterWidth->setObjectName("MainFilterMenu");
    m.narrowFilter = Item(m.filterWidth, "Narrow1", "Narrow");
    m.wideFilter = Item(m.filterWidth, "Wide1", "Wide");
    m.veryWideFilter = Item(m.filterWidth, "VeryWide1", "Very Wide");
    m.burstFilter = setup->addMenu("Burst Filter  (200 LPM)");
    m.burstFilter->setObjectName("CwFilterMenu");
    for (const BurstSpeedItem& burst : kBurstSpeedItems) {
        m.burstSpeeds.push_back(Item(m.burstFilter, burst.name, burst.caption));
    }
    setup->addSeparator();
    auto* charsets = new QActionGroup(owner);
    charsets->setExclusive(true);
    m.englishCharset = Item(setup, "EnglishCharset1", "English  Charset");
    m.russianCharset = Item(setup, "RussianCharset1", "Russian Charset");
    m.userCharset = Item(setup, "UserdefinedCharset1", "User-defined Charset");
    for (QAction* action : {m.englishCharset, m.russianCharset, m.userCharset}) {
        action->setCheckable(true);
        charsets->addAction(action);
    }
    m.englishCharset->setChecked(true);
    setup->addSeparator();
    m.fontSetup = Item(setup, "FontSetup1", "Rx Window Font Setup");
    m.backgroundSetup = Item(setup, "RxWindowBackground1", "Rx Window Background Setup");
    setup->addSeparator();
    m.saveSetup = Item(setup, "SaveSetup1", "Save Setup");
    setup->addSeparator();
    m.bandView = Item(setup, "BandView1", "Band View");
    m.bandView->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    m.bandView->setShortcutContext(Qt::ApplicationShortcut);  // also from the band view

    QMenu* help = bar.addMenu("Help");
    help->setObjectName("Help1");
    m.helpContents = Item(help, "Contens1", "Contens");
    m.about = Item(help, "About1", "About");
    return m;
}

// ---------------------------------------------------------------- what the items do

void MainWindow::CreateMenus() {
    menu = BuildMainMenu(*menuBar(), this);
    auto on = [this](QAction* action, auto handler) {
        connect(action, &QAction::triggered, this, handler);
    };
    on(menu.clearBuffer, [this] { ClearBuffer(); });
    on(menu.saveBuffer, [this] { SaveBuffer(); });
    on(menu.exit, [this] { Exit(); });
    on(menu.narrowFilter, [this] { SetFilterWidth(kNarrow); });
    on(menu.wideFilter, [this] { SetFilterWidth(kWide); });
    on(menu.veryWideFilter, [this] { SetFilterWidth(kVeryWide); });
    for (std::size_t i = 0; i < menu.burstSpeeds.size(); ++i) {
        const int lpm = kBurstSpeedItems[i].lpm;
        on(menu.burstSpeeds[i], [this, lpm] { SetBurstSpeed(lpm); });
    }
    on(menu.englishCharset, [this] { ChooseEnglishCharset(); });
    on(menu.russianCharset, [this] { ChooseRussianCharset(); });
    on(menu.userCharset, [this] { ChooseUserCharset(); });
    on(menu.fontSetup, [this] { SetUpFont(); });
    on(menu.backgroundSetup, [this] { SetUpBackground(); });
    on(menu.saveSetup, [this] { SaveSetup(); });
    on(menu.bandView, [this] { ShowBandView(); });
    on(menu.helpContents, [this] { ShowHelpContents(); });
    on(menu.about, [this] { ShowAbout(); });
}

void MainWindow::ClearBuffer() {
    receiveText->clear();
}

void MainWindow::SaveBuffer() {
    RunOutsideLoop([this] { receiveText->SaveBuffer(*services_.dialogs, this); });
}

void MainWindow::SetFilterWidth(int mode) {
    receiver.Main().filterTwice = false;  // the band view's, for the station it handed over
    receiver.Main().SetFilterWidth(mode);
    ShowStatus(kPanelFilterWidth, FilterWidthPanel(receiver.Main().FilterWidth));
    menu.filterWidth->setTitle(FilterWidthCaption(receiver.Main().FilterWidth));
}

void MainWindow::SetBurstSpeed(int lpm) {
    receiver.Main().SetBurstSpeed(lpm);
    ShowBurstSpeed();
}

void MainWindow::ChooseEnglishCharset() {
    receiver.charsets.Charset = kEnglish;
    ShowCharset(kEnglish);
}

void MainWindow::ChooseRussianCharset() {
    receiver.charsets.Charset = kRussian;
    ShowCharset(kRussian);
}

void MainWindow::ChooseUserCharset() {
    // The radio group has already moved the check mark; it moves only on a successful load.
    ShowCharset(receiver.charsets.Charset);
    RunOutsideLoop([this] {
        FileDialogRequest request{
            "Open", ".", "Dahlo Charset Files (*.dlo);;Text Files (*.txt);;All Files (*)", "dlo"};
        const QString path = services_.dialogs->OpenFile(this, request);
        if (path.isEmpty()) return;
        std::string error;
        const std::string file = path.toStdString();
        const int loaded = receiver.charsets.ChooseUserCharsetFile(file, error);
        if (loaded == -2) {
            ShowMessage(QString::fromStdString(error));
            return;
        }
        if (loaded == 0) ShowCharset(kUserDefined);  // an empty file changes nothing
    });
}

void MainWindow::SaveSetup() {
    RunOutsideLoop([this] {
        if (saveSetupBusy_) return;
        saveSetupBusy_ = true;
        std::string error;
        if (!SaveSettings(services_.settingsPath, CollectSettings(*this), error)) {
            ShowMessage(QString::fromStdString(error));
        }
        saveSetupBusy_ = false;
    });
}

void MainWindow::ShowHelpContents() {
    RunOutsideLoop([this] { HelpViewer::ShowHelpContents(this, "dahlo.hlp"); });
}

void MainWindow::ShowAbout() {
    RunOutsideLoop([this] { about_->exec(); });
}

void MainWindow::SetUpFont() {
    RunOutsideLoop([this] { receiveText->ChooseFont(*services_.dialogs, this, receiveTextFont); });
}

void MainWindow::SetUpBackground() {
    RunOutsideLoop(
        [this] { receiveText->ChooseBackground(*services_.dialogs, this, receiveTextFont); });
}

}  // namespace dahlo

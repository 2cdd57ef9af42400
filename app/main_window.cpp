#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/about_box.h"
#include "app/cp1251.h"
#include "app/key_table.h"
#include "app/receive_text.h"
#include "app/scope_strip.h"
#include "app/settings_controls.h"
#include "app/spectrum_strip.h"
#include "app/status_bar.h"
#include "app/toolbar.h"
#include "capture/capture.h"
#include "receiver/panel_text.h"

namespace dahlo {

namespace {

constexpr int kStripMinimum = 20;

}  // namespace

std::uint32_t SilentBroadcaster::RegisterMessage(std::string_view name) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == name) return static_cast<std::uint32_t>(i + 1);
    }
    names_.emplace_back(name);
    return static_cast<std::uint32_t>(names_.size());
}

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      logger(services.broadcaster != nullptr ? *services.broadcaster : silentBroadcaster_),
      services_(std::move(services)) {
    if (!services_.popup) {
        services_.popup = [](QMenu& menu, QPoint screenPos) { menu.popup(screenPos); };
    }
    if (!services_.terminate) {
        services_.terminate = [] {
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        };
    }
    setObjectName("RxForm");
    setWindowTitle("Valdor Dahlo");
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    setFont(font);

    CreateToolbar();
    CreateStrips();
    CreateStatusBar();
    CreateMenus();
    CreateWordMenu();
    move(kDesignLeft, kDesignTop);
    resize(kDesignWidth, kDesignHeight);  // the frame is subtracted once it is known

    qApp->installEventFilter(this);  // the key table sees every key first
    StartReceiving();
    about_ = new TAbout(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    StopCapture(ring);
}

// ---------------------------------------------------------------- construction

void MainWindow::CreateToolbar() {
    auto* central = new QWidget(this);
    central->setObjectName("ClientArea");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    toolbar = new Toolbar(central);
    ConnectToolbar();
    column->addWidget(toolbar);
    toolbarBevel = new QFrame(central);
    toolbarBevel->setObjectName("Bevel1");
    toolbarBevel->setFrameShape(QFrame::HLine);
    toolbarBevel->setFrameShadow(QFrame::Sunken);
    toolbarBevel->setFixedHeight(2);
    column->addWidget(toolbarBevel);
    setCentralWidget(central);
}

void MainWindow::ConnectToolbar() {
    // The loop reads the toggles through the main channel; keep it current at every change.
    connect(toolbar->autoThresholdButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().autoThreshold = down; });
    connect(toolbar->onTopButton, &QToolButton::toggled, this,
            [this](bool down) { onTopDown = down; });
    connect(toolbar->autoGoToMaxButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().autoGoToMax = down; });
    connect(toolbar->afcButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().afcOn = down; });
    connect(toolbar->afcSpeed, &QSpinBox::valueChanged, this,
            [this](int value) { receiver.Main().AfcSpeed = value; });
    Channel& channel = receiver.Main();
    channel.autoThreshold = false;
    onTopDown = false;
    channel.autoGoToMax = false;
    channel.afcOn = true;
    channel.AfcSpeed = 2;

    connect(toolbar->autoThresholdButton, &QToolButton::clicked, this,
            [this] { AutoThresholdClicked(); });
    connect(toolbar->onTopButton, &QToolButton::clicked, this, [this] { OnTopClicked(); });
    connect(toolbar->goToMaxButton, &QPushButton::clicked, this, [this] { GoToMax(); });
}

void MainWindow::CreateStrips() {
    auto* column = static_cast<QVBoxLayout*>(centralWidget()->layout());

    // The spectrum splitter moves the spectrum's lower edge and takes the difference from the
    // scope (the inner splitter gives all its stretch to the scope); the text splitter does the
    // same for the text.
    spectrumSplitter = new QSplitter(Qt::Vertical, centralWidget());
    spectrumSplitter->setObjectName("Splitter1");
    spectrumSplitter->setHandleWidth(4);
    spectrumSplitter->setChildrenCollapsible(false);
    spectrumSplitter->setOpaqueResize(true);

    spectrumStrip = new SpectrumStrip(spectrumSplitter);
    spectrumStrip->setMinimumHeight(kStripMinimum);
    spectrumSplitter->addWidget(spectrumStrip);

    textSplitter = new QSplitter(Qt::Vertical, spectrumSplitter);
    textSplitter->setObjectName("Splitter2");
    textSplitter->setHandleWidth(4);
    textSplitter->setChildrenCollapsible(false);
    spectrumSplitter->addWidget(textSplitter);

    CreateReceiveText(textSplitter);

    scopeStrip = new ScopeStrip(textSplitter);
    scopeStrip->setMinimumHeight(kStripMinimum);
    textSplitter->addWidget(scopeStrip);

    spectrumSplitter->setStretchFactor(0, 0);
    spectrumSplitter->setStretchFactor(1, 1);
    textSplitter->setStretchFactor(0, 0);
    textSplitter->setStretchFactor(1, 1);
    spectrumSplitter->setSizes({50, 148});
    textSplitter->setSizes({90, 54});
    column->addWidget(spectrumSplitter, 1);

    auto handler = [this](PaintStrip& strip, PaintStrip::MouseAction action, QPoint pos) {
        StripMouse(strip, static_cast<int>(action), pos);
    };
    spectrumStrip->SetMouseHandler(handler);
    scopeStrip->SetMouseHandler(handler);
    receiveText->setFocus();
}

void MainWindow::CreateReceiveText(QSplitter* splitter) {
    receiveText = new ReceiveText(splitter);
    receiveText->onReleased = [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                     QPoint at) { ReceiveTextReleased(button, modifiers, at); };
    receiveText->setMinimumHeight(kStripMinimum);
    splitter->addWidget(receiveText);
}

void MainWindow::CreateStatusBar() {
    status = new StatusBar(this);
    setStatusBar(status);
}

void MainWindow::CreateWordMenu() {
    wordMenu = new WordMenu(this);
    const auto fields = wordMenu->Fields();
    for (std::size_t i = 0; i < kExportFields.size(); ++i) {
        const ExportFieldInfo& field = kExportFields[i];
        connect(fields[i], &QAction::triggered, this,
                [this, field] { ExportField(field.key, field.flag); });
    }
    connect(wordMenu->copy, &QAction::triggered, this, [this] { wordMenu->CopyWord(); });
}

void MainWindow::StartReceiving() {
    receiver.charsets.Charset = kEnglish;
    receiver.charsets.UserCharsetFile.clear();
    receiver.levels.newest = 0;
    receiver.Main().CentreBin = kDefaultCentreBin;
    receiver.Main().decoder.CharCount = 0;
    exportIniFile = "loginput.ini";
    exportIniSection = "QSO";
    logger.SetExportFile(exportIniFile, exportIniSection);

    // Topmost from the first moment it is shown, before the settings are loaded.
    if (ReadOnTop(services_.settingsPath)) setWindowFlag(Qt::WindowStaysOnTopHint, true);

    receiver.Main().FilterWidth = kNarrow;
    receiver.Main().SelectFilterCoefficients();

    receiveTextFont = FontSettings{};
    ApplyTextFont(receiveTextFont, *receiveText);
    receiveText->setPlainText(
        QString("Dahlo  V1.0\n%1\n%2\nUse mouse to select sound band and detector "
                "\nthreshold.\n")
            .arg(kMakerNotice, kMakerMail));

    if (services_.soundInput != nullptr) {
        OpenCapture(ring, *services_.soundInput, *this, *this,
                    [this] { receiver.PrepareForCapture(); });
    } else {
        ReportFatal(kNoDeviceText, kErrorCaption);
    }

    scopeStrip->ClearPicture();
    spectrumStrip->ClearPicture();
    receiver.levels.Clear();
}

// ---------------------------------------------------------------- events and the loop

bool MainWindow::event(QEvent* event) {
    if (event->type() == kBlockReadyEvent) {
        receiver.ProcessWaitingBlocks();
        if (!receiver.ProcessingActive) RunDeferred();
        return true;
    }
    if (event->type() == QEvent::WindowActivate) Activated();
    return QMainWindow::event(event);
}

void MainWindow::PostBlockReady() {
    QCoreApplication::postEvent(this, new QEvent(kBlockReadyEvent));
}

void MainWindow::PumpMessages() {
    QCoreApplication::processEvents();
}

void MainWindow::RunOutsideLoop(std::function<void()> action) {
    if (!receiver.ProcessingActive) {
        action();
        return;
    }
    deferred_.push_back(std::move(action));
}

void MainWindow::RunDeferred() {
    while (!deferred_.empty()) {
        std::function<void()> action = std::move(deferred_.front());
        deferred_.erase(deferred_.begin());
        action();
    }
}

void MainWindow::Activated() {
    if (firstActivationDone || activating_) return;
    activating_ = true;  // a message box inside the load activates the window again
    ApplySettings(LoadSettings(services_.settingsPath), *this);
    ShowBurstSpeed();
    SetFilterWidth(receiver.Main().FilterWidth);
    if (services_.broadcaster != nullptr) {
        aalCwMessage = services_.broadcaster->RegisterMessage(kAalCwMessageName);
        logger.RegisterMessages();
        keyvoxMessage = logger.KeyvoxMessage();
    }
    firstActivationDone = true;
    activating_ = false;
}

void MainWindow::OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) {
    if (event.channel != 0) {  // the skimmer's
        if (skimmer != nullptr) skimmer->OnChannelEvent(event, cp1251);
        return;
    }
    switch (event.kind) {
        case ChannelEvent::kCharacter:
        case ChannelEvent::kWordSpace:
            AppendDecodedText(event.code, cp1251);
            break;
        case ChannelEvent::kSpeed:
            ShowStatus(kPanelWpm, WpmText(event.wpm));
            ShowStatus(kPanelLpm, LpmText(event.lpm));
            break;
        case ChannelEvent::kRetune:
            break;  // the frequency panel follows with the spectrum
    }
}

void MainWindow::AppendDecodedText(std::uint32_t /*code*/, std::string_view cp1251) {
    receiveText->AppendDecoded(cp1251);
}

void MainWindow::ReportFatal(std::string_view text, std::string_view caption) {
    terminated_ = true;
    if (services_.dialogs != nullptr) {
        services_.dialogs->ShowMessage(this, Cp1251ToQString(caption), Cp1251ToQString(text),
                                       MessageIcon::kCritical);
    }
    services_.terminate();
}

void MainWindow::ShowMessage(const QString& text) {
    services_.dialogs->ShowMessage(this, "Dahlo", text, MessageIcon::kInformation);
}

void MainWindow::ReportError(const QString& text) {
    RunOutsideLoop([this, text] { ShowMessage(text); });
}

// ---------------------------------------------------------------- panels

void MainWindow::ShowStatus(int panel, std::string_view text) {
    status->Show(panel, text);
}

void MainWindow::ShowFreeBuffers(int freeBuffers) {
    ShowStatus(kPanelFreeBuffers, FreeBuffersText(freeBuffers));
}

void MainWindow::ShowThreshold() {
    const Channel& channel = receiver.Main();
    ShowStatus(kPanelThreshold, ThresholdText(channel.autoThreshold, channel.DetectorThreshold));
}

void MainWindow::ShowBurstSpeed() {
    const int length = receiver.Main().CwFilterTreshold;
    ShowStatus(kPanelBurstSpeed, BurstSpeedPanelText(length));
    menu.burstFilter->setTitle(QString::fromStdString(BurstSpeedCaption(length)));
}

void MainWindow::ShowCharset(int charset) {
    (charset == kRussian       ? menu.russianCharset
     : charset == kUserDefined ? menu.userCharset
                               : menu.englishCharset)
        ->setChecked(true);
}

// ---------------------------------------------------------------- strips

void MainWindow::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    // The window's own repaint redraws the scope.
    inPaintEvent_ = true;
    PaintScope();
    inPaintEvent_ = false;
}

void MainWindow::PaintScope() {
    scopeStrip->Paint(receiver.levels, receiver.Main().DetectorThreshold, !inPaintEvent_);
}

void MainWindow::PaintSpectrum() {
    const int centre = receiver.Main().CentreBin;
    if (centre != shownCentreBin) {
        ShowStatus(kPanelFrequency, FrequencyText(centre));
        shownCentreBin = centre;
    }
    spectrumStrip->Paint(receiver.spectrum, centre);
}

void MainWindow::StripMouse(PaintStrip& strip, int action, QPoint pos) {
    if (static_cast<PaintStrip::MouseAction>(action) == PaintStrip::MouseAction::kPress) {
        if (&strip == spectrumStrip) SpectrumPressed(pos.x());
        if (&strip == scopeStrip) ScopePressed(pos.y());
        return;
    }
    // The strip pressed keeps the mouse; the position goes to whichever strip is under it.
    const QPoint inWindow = strip.mapTo(this, pos);
    const QPoint overSpectrum = spectrumStrip->mapFrom(this, inWindow);
    const QPoint overScope = scopeStrip->mapFrom(this, inWindow);
    if (spectrumStrip->rect().contains(overSpectrum)) SpectrumDragged(overSpectrum.x());
    if (scopeStrip->rect().contains(overScope)) ScopeDragged(overScope.y());
}

void MainWindow::SpectrumPressed(int x) {
    SpectrumDragged(x);
}

void MainWindow::SpectrumDragged(int x) {
    receiver.Main().filterTwice = false;  // the band view's, for the station it handed over
    receiver.Main().SetCentreBin(ClampCentreBin(spectrumStrip->BinAt(x)));
}

void MainWindow::ScopePressed(int y) {
    ScopeDragged(y);
}

void MainWindow::ScopeDragged(int y) {
    double threshold = 0.0;
    if (!scopeStrip->ThresholdAt(y, threshold)) return;
    receiver.Main().DetectorThreshold = threshold;
    ShowThreshold();
}

// ---------------------------------------------------------------- toolbar and keys

void MainWindow::AutoThresholdClicked() {
    ShowThreshold();
}

bool MainWindow::StaysOnTop() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void MainWindow::OnTopClicked() {
    const bool wanted = toolbar->onTopButton->isChecked();
    if (StaysOnTop() == wanted) return;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, wanted);  // hides a shown window
    if (wasVisible) show();
}

void MainWindow::GoToMax() {
    receiver.Main().GoToMax(receiver.spectrum);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: every key meant for this window passes here before the focused control
    // sees it. A key that the control leaves alone travels on to its parents, and the native
    // window object sees it too; only the first receiver counts, so each key acts once.
    if (event->type() == QEvent::KeyPress) {
        QWidget* first = focusWidget() != nullptr ? focusWidget() : this;
        if (watched == first) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (KeyPressed(key->key(), key->modifiers())) return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::KeyPressed(int key, Qt::KeyboardModifiers modifiers) {
    const KeyCommand command = CommandForKey(key, modifiers);
    // A toggle flips and runs its click action together, as a mouse click on it does.
    switch (command.kind) {
        case KeyCommand::kNone:
            break;
        case KeyCommand::kFlipAutoGoToMax:
            FlipToggle(toolbar->autoGoToMaxButton);
            break;
        case KeyCommand::kFlipAfc:
            FlipToggle(toolbar->afcButton);
            break;
        case KeyCommand::kGoToMax:
            GoToMax();
            break;
        case KeyCommand::kFlipAutoThreshold:
            FlipToggle(toolbar->autoThresholdButton);
            AutoThresholdClicked();
            break;
        case KeyCommand::kFlipOnTop:
            FlipToggle(toolbar->onTopButton);
            OnTopClicked();
            break;
        case KeyCommand::kBroadcast:
            Broadcast(command.code);
            break;
    }
    return command.swallowed;
}

void MainWindow::FlipToggle(QToolButton* button) {
    button->setChecked(!button->isChecked());
}

void MainWindow::Broadcast(std::uint32_t code) {
    if (services_.broadcaster == nullptr || aalCwMessage == 0) return;  // not registered yet
    services_.broadcaster->Broadcast(aalCwMessage, code, 0);
}

void MainWindow::Exit() {
    if (ring.CaptureStopping.load()) return;
    StopCapture(ring);
    close();
    services_.terminate();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    StopCapture(ring);  // does nothing when already stopping
    event->accept();
}

// ---------------------------------------------------------------- receive text and its popup

void MainWindow::ReceiveTextReleased(Qt::MouseButton /*button*/,
                                     Qt::KeyboardModifiers /*modifiers*/, QPoint at) {
    QString word;
    if (!receiveText->TakeSelectedWord(word)) return;
    wordMenu->SetWord(word);
    // The window's outer corner plus the text's place in the client area plus the pointer: the
    // frame, caption and menu bar are not counted, so the menu opens above left of the pointer.
    const QPoint textInClient = receiveText->mapTo(centralWidget(), QPoint(0, 0));
    services_.popup(*wordMenu, frameGeometry().topLeft() + textInClient + at);
}

void MainWindow::ExportField(const char* key, std::uint32_t flag) {
    std::string error;
    if (!logger.ExportField(key, QStringToCp1251(wordMenu->Word()), flag, error)) {
        ReportError(QString::fromStdString(error));
    }
}

}  // namespace dahlo

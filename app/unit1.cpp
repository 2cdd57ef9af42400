#include "app/unit1.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/about_box.h"
#include "app/cp1251.h"
#include "app/help_viewer.h"
#include "app/paint_strip.h"
#include "capture/capture.h"
#include "receiver/panel_text.h"
#include "receiver/receiver_controls.h"
#include "settings/settings.h"

namespace dahlo {

namespace {

constexpr int kDesignLeft = 255;
constexpr int kDesignTop = 102;
constexpr int kDesignWidth = 434;
constexpr int kDesignHeight = 291;
constexpr int kStripMinimum = 20;

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

struct PanelSpec {
    int width;
    Qt::Alignment alignment;
    const char* text;
};
constexpr std::array<PanelSpec, 8> kPanels = {{
    {50, Qt::AlignCenter, "Narrow"},
    {50, Qt::AlignCenter, "996 Hz"},
    {50, Qt::AlignCenter, "BF: 5000"},
    {50, Qt::AlignCenter, "0.001"},
    {65, Qt::AlignCenter, "---- LPM"},
    {65, Qt::AlignCenter, "----- WPM"},
    {50, Qt::AlignCenter, "FrB: 15"},
    {50, Qt::AlignLeft | Qt::AlignVCenter, ""},
}};

struct BurstItem {
    const char* name;
    const char* caption;
    int lpm;
};
constexpr std::array<BurstItem, 9> kBurstItems = {{
    {"N100CPM1", "100   LPM", 100},
    {"N200CPM1", "200   LPM", 200},
    {"N300CPM1", "300   LPM", 300},
    {"N500CPM1", "500   LPM", 500},
    {"N1000CPM1", "1000 LPM", 1000},
    {"N1500CPM1", "1500 LPM", 1500},
    {"N2500CPM1", "2500 LPM", 2500},
    {"N3000CPM1", "3000 LPM", 3000},
    {"N5000CPM1", "5000 LPM", 5000},
}};

// Row of value `v` on a strip whose bottom row is `h`: h - min(h, trunc(h * v)). Values of 1 or
// more reach the top row; values below 0 fall under the strip.
int StripRow(int h, double v) {
    double t = std::trunc(h * v);
    if (t > h) t = h;
    if (!(t >= -1.0)) t = -1.0;  // also NaN
    return h - static_cast<int>(t);
}

// A colour as the settings file keeps it: 0x00BBGGRR, or 0x80000000 + a system colour index,
// which takes the nearest role of the desktop's palette.
QColor ColorFromSetting(std::int32_t value, const QPalette& palette) {
    const auto bits = static_cast<std::uint32_t>(value);
    if ((bits & 0x80000000u) == 0) {
        return QColor(bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF);
    }
    switch (bits & 0xFF) {
        case 2:   // active caption
        case 13:  // highlight
            return palette.color(QPalette::Highlight);
        case 5:  // window background
            return palette.color(QPalette::Base);
        case 6:   // window frame
        case 21:  // 3-D dark shadow
            return palette.color(QPalette::Shadow);
        case 7:  // menu text
            return palette.color(QPalette::WindowText);
        case 8:  // window text
            return palette.color(QPalette::Text);
        case 9:   // caption text
        case 14:  // highlighted text
            return palette.color(QPalette::HighlightedText);
        case 12:  // application workspace
        case 16:  // button shadow
            return palette.color(QPalette::Dark);
        case 15:  // button face
            return palette.color(QPalette::Button);
        case 17:  // grey (disabled) text
            return palette.color(QPalette::Disabled, QPalette::Text);
        case 18:  // button text
            return palette.color(QPalette::ButtonText);
        case 20:  // button highlight
            return palette.color(QPalette::Light);
        case 22:  // 3-D light
            return palette.color(QPalette::Midlight);
        case 23:  // tool tip text
            return palette.color(QPalette::ToolTipText);
        case 24:  // tool tip background
            return palette.color(QPalette::ToolTipBase);
        default:  // desktop, menus, scroll bars, borders and the rest
            return palette.color(QPalette::Window);
    }
}

std::int32_t ColorToSetting(const QColor& color) {
    const std::uint32_t bits = static_cast<std::uint32_t>(color.red()) |
                               (static_cast<std::uint32_t>(color.green()) << 8) |
                               (static_cast<std::uint32_t>(color.blue()) << 16);
    return static_cast<std::int32_t>(bits);
}

// Mouse releases of the receive text go to the window after the text control has finished the
// selection with them.
class RxMemoEdit final : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<void(QMouseEvent*)> onMouseUp;

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QPlainTextEdit::mouseReleaseEvent(event);
        if (onMouseUp) onMouseUp(event);
    }
};

QToolButton* MakeToggle(QWidget* parent, const char* name, const char* caption, const char* hint,
                        int left, int width) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    // The Alt letter is handled by the key table, which flips and clicks exactly once; the
    // button's own mnemonic would add a second flip.
    button->setShortcut(QKeySequence());
    button->setToolTip(hint);
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    button->setGeometry(left, 0, width, 25);
    return button;
}

}  // namespace

std::uint32_t SilentBroadcaster::RegisterMessage(std::string_view name) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == name) return static_cast<std::uint32_t>(i + 1);
    }
    names_.emplace_back(name);
    return static_cast<std::uint32_t>(names_.size());
}

TRxForm::TRxForm(RxFormServices services, QWidget* parent)
    : QMainWindow(parent),
      Logger(services.broadcaster != nullptr ? *services.broadcaster : silentBroadcaster_),
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
    CreatePopupMenu();
    move(kDesignLeft, kDesignTop);
    resize(kDesignWidth, kDesignHeight);

    qApp->installEventFilter(this);
    FormCreate();
    About = new TAbout(this);
}

TRxForm::~TRxForm() {
    qApp->removeEventFilter(this);
    StopCaptureOnce();
}

void TRxForm::CreateToolbar() {
    auto* central = new QWidget(this);
    central->setObjectName("ClientArea");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel1 = new QWidget(central);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(25);
    AutoTresholdButton = MakeToggle(Panel1, "AutoTresholdButton", "AutoTh&res",
                                    "Auto Detector Threshold On/Off  (Alt-R)", 0, 60);
    OnTopButton =
        MakeToggle(Panel1, "OnTopButton", "On&Top", "Always On Top On/Off (Alt-T)", 60, 60);
    GoToMaxButton = new QPushButton("&GoToMax", Panel1);
    GoToMaxButton->setObjectName("GoToMaxButton");
    GoToMaxButton->setShortcut(QKeySequence());  // Alt+G comes through the key table
    GoToMaxButton->setToolTip("Go To Max Value (Alt-G)");
    GoToMaxButton->setDefault(true);
    GoToMaxButton->setGeometry(129, 0, 60, 25);
    AutoGoToMaxButton = MakeToggle(Panel1, "AutoGoToMaxButton", "&AutoGTM",
                                   "Auto Go To Max Value  On/Off (Alt-A)", 189, 60);
    AfcUpDown = new QSpinBox(Panel1);
    AfcUpDown->setObjectName("AfcUpDown");
    AfcUpDown->setRange(0, kAfcSpeedMax);
    AfcUpDown->setWrapping(false);
    AfcUpDown->setValue(2);
    if (auto* edit = AfcUpDown->findChild<QLineEdit*>()) {
        edit->setObjectName("AfcEdit");
        edit->setReadOnly(true);  // only the arrows change it
    }
    AfcUpDown->setFocusPolicy(Qt::NoFocus);
    AfcUpDown->setToolTip("AFC Speed");
    QFont afcFont = AfcUpDown->font();
    afcFont.setBold(true);
    afcFont.setPixelSize(13);
    AfcUpDown->setFont(afcFont);
    AfcUpDown->setGeometry(258, 0, 40, 25);
    AfcButton =
        MakeToggle(Panel1, "AfcButton", "A&FC", "Auto Frequency Control On/Off (Alt-F)", 298, 35);
    AfcButton->setChecked(true);

    // The loop reads the toggles through the main channel; keep it current at every change.
    connect(AutoTresholdButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().AutoTresholdDown = down; });
    connect(OnTopButton, &QToolButton::toggled, this, [this](bool down) { OnTopDown = down; });
    connect(AutoGoToMaxButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().AutoGoToMaxDown = down; });
    connect(AfcButton, &QToolButton::toggled, this,
            [this](bool down) { receiver.Main().AfcDown = down; });
    connect(AfcUpDown, &QSpinBox::valueChanged, this,
            [this](int value) { receiver.Main().AfcSpeed = value; });
    Channel& channel = receiver.Main();
    channel.AutoTresholdDown = false;
    OnTopDown = false;
    channel.AutoGoToMaxDown = false;
    channel.AfcDown = true;
    channel.AfcSpeed = 2;

    connect(AutoTresholdButton, &QToolButton::clicked, this, [this] { AutoTresholdButtonClick(); });
    connect(OnTopButton, &QToolButton::clicked, this, [this] { OnTopButtonClick(); });
    connect(GoToMaxButton, &QPushButton::clicked, this, [this] { GoToMaxButtonClick(); });

    column->addWidget(Panel1);
    Bevel1 = new QFrame(central);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedHeight(2);
    column->addWidget(Bevel1);
    setCentralWidget(central);
}

void TRxForm::CreateStrips() {
    auto* column = static_cast<QVBoxLayout*>(centralWidget()->layout());

    // Splitter1 moves the spectrum's lower edge and takes the difference from the scope (the
    // inner splitter gives all its stretch to the scope); Splitter2 does the same for the text.
    Splitter1 = new QSplitter(Qt::Vertical, centralWidget());
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(4);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setOpaqueResize(true);

    FFTBox = new PaintStrip(Splitter1);
    FFTBox->setObjectName("FFTBox");
    FFTBox->setMinimumHeight(kStripMinimum);
    Splitter1->addWidget(FFTBox);

    Splitter2 = new QSplitter(Qt::Vertical, Splitter1);
    Splitter2->setObjectName("Splitter2");
    Splitter2->setHandleWidth(4);
    Splitter2->setChildrenCollapsible(false);
    Splitter1->addWidget(Splitter2);

    auto* memo = new RxMemoEdit(Splitter2);
    memo->onMouseUp = [this](QMouseEvent* event) {
        const QPoint pos = event->position().toPoint();
        RxMemoMouseUp(event->button(), event->modifiers(), pos.x(), pos.y());
    };
    RxMemo = memo;
    RxMemo->setObjectName("RxMemo");
    RxMemo->setReadOnly(true);
    RxMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    RxMemo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    RxMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RxMemo->setMinimumHeight(kStripMinimum);
    RxMemo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RxMemo->setContextMenuPolicy(Qt::NoContextMenu);  // PopupMenu1 opens on the release instead
    Splitter2->addWidget(RxMemo);

    PaintBox1 = new PaintStrip(Splitter2);
    PaintBox1->setObjectName("PaintBox1");
    PaintBox1->setMinimumHeight(kStripMinimum);
    QPalette scopePalette = PaintBox1->palette();
    scopePalette.setColor(QPalette::Window, kGreen);
    PaintBox1->setPalette(scopePalette);
    Splitter2->addWidget(PaintBox1);

    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter1->setSizes({50, 148});
    Splitter2->setSizes({90, 54});
    column->addWidget(Splitter1, 1);

    auto handler = [this](PaintStrip& strip, PaintStrip::MouseAction action, QPoint pos) {
        StripMouse(strip, static_cast<int>(action), pos);
    };
    FFTBox->SetMouseHandler(handler);
    PaintBox1->SetMouseHandler(handler);
    RxMemo->setFocus();
}

void TRxForm::CreateStatusBar() {
    auto* bar = new QStatusBar(this);
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(20);
    bar->setToolTip(
        "Main filter bandpass / Main filter frequency / Burst filter max LPM / Detector "
        "threshold / LPM speed / WPM speed / Free buffers");
    // The panels keep their widths and are cut off by a narrow window, rather than making the
    // window wider.
    auto* panels = new QWidget(bar);
    panels->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(panels);
    row->setSizeConstraint(QLayout::SetNoConstraint);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (int i = 0; i < static_cast<int>(kPanels.size()); ++i) {
        auto* label = new QLabel(kPanels[i].text, panels);
        label->setObjectName(QString("StatusBar1Panel%1").arg(i));  // "Panel1" is the toolbar
        label->setFixedWidth(kPanels[i].width);
        label->setAlignment(kPanels[i].alignment);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        row->addWidget(label);
        StatusPanels[i] = label;
    }
    row->addStretch(1);
    bar->addWidget(panels, 1);
    setStatusBar(bar);
}

void TRxForm::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    auto item = [this](QMenu* menu, const char* name, const char* caption, auto handler) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };

    QMenu* file = bar->addMenu("File");
    file->setObjectName("File1");
    ClearBuffer1 = item(file, "ClearBuffer1", "Clear Buffer", [this] { ClearBuffer1Click(); });
    SaveBuffer1 = item(file, "SaveBuffer1", "Save Buffer", [this] { SaveBuffer1Click(); });
    file->addSeparator();
    Exit = item(file, "Exit", "Exit", [this] { ExitClick(); });

    QMenu* setup = bar->addMenu("Setup");
    setup->setObjectName("Setup1");
    MainFilterMenu = setup->addMenu("Main Filter  (Narrow)");
    MainFilterMenu->setObjectName("MainFilterMenu");
    Narrow1 = item(MainFilterMenu, "Narrow1", "Narrow", [this] { SetFilterWidth(kNarrow); });
    Wide1 = item(MainFilterMenu, "Wide1", "Wide", [this] { SetFilterWidth(kWide); });
    VeryWide1 =
        item(MainFilterMenu, "VeryWide1", "Very Wide", [this] { SetFilterWidth(kVeryWide); });
    CwFilterMenu = setup->addMenu("Burst Filter  (200 LPM)");
    CwFilterMenu->setObjectName("CwFilterMenu");
    for (const BurstItem& burst : kBurstItems) {
        const int lpm = burst.lpm;
        BurstSpeedItems.push_back(
            item(CwFilterMenu, burst.name, burst.caption, [this, lpm] { SetBurstSpeed(lpm); }));
    }
    setup->addSeparator();
    auto* charsets = new QActionGroup(this);
    charsets->setExclusive(true);
    EnglishCharset1 =
        item(setup, "EnglishCharset1", "English  Charset", [this] { EnglishCharset1Click(); });
    RussianCharset1 =
        item(setup, "RussianCharset1", "Russian Charset", [this] { RussianCharset1Click(); });
    UserdefinedCharset1 = item(setup, "UserdefinedCharset1", "User-defined Charset",
                               [this] { UserdefinedCharset1Click(); });
    for (QAction* action : {EnglishCharset1, RussianCharset1, UserdefinedCharset1}) {
        action->setCheckable(true);
        charsets->addAction(action);
    }
    EnglishCharset1->setChecked(true);
    setup->addSeparator();
    FontSetup1 = item(setup, "FontSetup1", "Rx Window Font Setup", [this] { FontSetup1Click(); });
    RxWindowBackground1 = item(setup, "RxWindowBackground1", "Rx Window Background Setup",
                               [this] { RxWindowBackground1Click(); });
    setup->addSeparator();
    SaveSetup1 = item(setup, "SaveSetup1", "Save Setup", [this] { SaveSetup1Click(); });

    QMenu* help = bar->addMenu("Help");
    help->setObjectName("Help1");
    Contens1 = item(help, "Contens1", "Contens", [this] { Contens1Click(); });
    About1 = item(help, "About1", "About", [this] { About1Click(); });
}

void TRxForm::CreatePopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Title1 = PopupMenu1->addAction(QString());
    Title1->setObjectName("Title1");  // shows the word; choosing it does nothing
    PopupMenu1->addSeparator();
    std::array<QAction**, kExportFields.size()> items = {&Call1, &Number1, &RST1,    &Name1,
                                                         &QTH1,  &QSLvia1, &Remarks1};
    constexpr std::array<const char*, kExportFields.size()> names = {
        "Call1", "Number1", "RST1", "Name1", "QTH1", "QSLvia1", "Remarks1"};
    for (std::size_t i = 0; i < kExportFields.size(); ++i) {
        const ExportFieldInfo& field = kExportFields[i];
        QAction* action = PopupMenu1->addAction(field.caption);
        action->setObjectName(names[i]);
        connect(action, &QAction::triggered, this,
                [this, field] { ExportField(field.key, field.flag); });
        *items[i] = action;
    }
    PopupMenu1->addSeparator();
    Copy1 = PopupMenu1->addAction("Copy");
    Copy1->setObjectName("Copy1");
    connect(Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
}

void TRxForm::FormCreate() {
    receiver.charsets.Charset = kEnglish;
    receiver.charsets.UserCharsetFile.clear();
    receiver.levels.newest = 0;
    receiver.Main().CentreBin = kDefaultCentreBin;
    receiver.Main().decoder.CharCount = 0;
    ExportIniFile = "loginput.ini";
    ExportIniSection = "QSO";
    Logger.SetExportFile(ExportIniFile, ExportIniSection);

    // Topmost from the first moment it is shown, before the settings are loaded.
    if (ReadOnTop(services_.settingsPath)) setWindowFlag(Qt::WindowStaysOnTopHint, true);

    receiver.Main().FilterWidth = kNarrow;
    receiver.Main().SelectFilterCoefficients();

    RxFontSettings = FontSettings{};
    ApplyRxFont(RxFontSettings);
    RxMemo->setPlainText(QString("Dahlo  V1.0\n%1\n%2\nUse mouse to select sound band and detector "
                                 "\nthreshold.\n")
                             .arg(kMakerNotice, kMakerMail));

    if (services_.soundInput != nullptr) {
        OpenCapture(ring, *services_.soundInput, *this, *this,
                    [this] { receiver.PrepareForCapture(); });
    } else {
        ReportFatal(kNoDeviceText, kErrorCaption);
    }

    ScopeBitmap = QImage(PaintBox1->size(), QImage::Format_RGB32);
    SpectrumBitmap = QImage(FFTBox->size(), QImage::Format_RGB32);
    ScopeBitmap.fill(kWhite);
    SpectrumBitmap.fill(kWhite);
    receiver.levels.Clear();
}

bool TRxForm::event(QEvent* event) {
    if (event->type() == kBlockReadyEvent) {
        receiver.ProcessWaitingBlocks();
        if (!receiver.ProcessingActive) RunDeferred();
        return true;
    }
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QMainWindow::event(event);
}

void TRxForm::PostBlockReady() {
    QCoreApplication::postEvent(this, new QEvent(kBlockReadyEvent));
}

void TRxForm::PumpMessages() {
    QCoreApplication::processEvents();
}

void TRxForm::FormActivate() {
    if (FirstActivationDone || activating_) return;
    activating_ = true;  // a message box inside the load activates the window again
    ApplySettings(LoadSettings(services_.settingsPath));
    ShowBurstSpeed();
    SetFilterWidth(receiver.Main().FilterWidth);
    if (services_.broadcaster != nullptr) {
        AalCwMessage = services_.broadcaster->RegisterMessage(kAalCwMessageName);
        Logger.RegisterMessages();
        KeyvoxMessage = Logger.KeyvoxMessage();
    }
    FirstActivationDone = true;
    activating_ = false;
}

void TRxForm::ApplySettings(const Settings& s) {
    AutoTresholdButton->setChecked(s.autoThreshold);
    OnTopButton->setChecked(s.onTop);  // the on-top state itself follows only a click
    AutoGoToMaxButton->setChecked(s.autoGoToMax);
    AfcButton->setChecked(s.afc);
    AfcUpDown->setValue(s.afcSpeed);
    const ReceiverControls controls = ControlsFromSettings(s);
    ApplyControls(controls, receiver.Main());
    ExportIniFile = s.exportIniFile;
    ExportIniSection = s.exportIniSection;
    Logger.SetExportFile(ExportIniFile, ExportIniSection);

    const WindowSettings& w = s.window;
    const QSize frameExtra = frameGeometry().size() - size();
    if (w.left != -1) move(w.left, y());
    if (w.top != -1) move(x(), w.top);
    if (w.height != -1) resize(width(), std::max(1, w.height - frameExtra.height()));
    if (w.width != -1) resize(std::max(1, w.width - frameExtra.width()), height());
    if (w.spectrumHeight != -1) {
        const int total = Splitter1->sizes().value(0) + Splitter1->sizes().value(1);
        Splitter1->setSizes({w.spectrumHeight, std::max(0, total - w.spectrumHeight)});
    }
    if (w.textHeight != -1) {
        const int total = Splitter2->sizes().value(0) + Splitter2->sizes().value(1);
        Splitter2->setSizes({w.textHeight, std::max(0, total - w.textHeight)});
    }

    std::string error;
    if (ApplyCharsetControls(controls, receiver.charsets, error) == -2) {
        // Cannot be opened: say so, keep English, and finish the load.
        const QString text = QString::fromStdString(error);
        RunOutsideLoop([this, text] { services_.dialogs->ShowMessage(this, "Dahlo", text); });
    }
    SetCharsetChecked(receiver.charsets.Charset);

    RxFontSettings = s.font;
    ApplyRxFont(RxFontSettings);
    ShowThreshold();
}

void TRxForm::ApplyRxFont(const FontSettings& f) {
    QFont font(QString::fromStdString(f.name));
    if (f.height < 0) {
        font.setPixelSize(-f.height);
    } else if (f.height > 0) {
        font.setPixelSize(f.height);
    }
    if (f.size > 0) font.setPointSize(f.size);  // the size decides when both are given
    font.setFixedPitch(f.pitch == 2);
    font.setBold((f.style & 1) != 0);
    font.setItalic((f.style & 2) != 0);
    font.setUnderline((f.style & 4) != 0);
    font.setStrikeOut((f.style & 8) != 0);
    RxMemo->setFont(font);
    QPalette palette = RxMemo->palette();
    const QPalette base = QApplication::palette(RxMemo);
    palette.setColor(QPalette::Text, ColorFromSetting(f.color, base));
    palette.setColor(QPalette::Base, ColorFromSetting(f.bkgColor, base));
    RxMemo->setPalette(palette);
}

void TRxForm::SetCharsetChecked(int charset) {
    (charset == kRussian       ? RussianCharset1
     : charset == kUserDefined ? UserdefinedCharset1
                               : EnglishCharset1)
        ->setChecked(true);
}

void TRxForm::ShowStatus(int panel, std::string_view text) {
    if (panel < 0 || panel >= static_cast<int>(StatusPanels.size())) return;
    StatusPanels[panel]->setText(Cp1251ToQString(text));
}

void TRxForm::OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) {
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

void TRxForm::ShowFreeBuffers(int freeBuffers) {
    ShowStatus(kPanelFreeBuffers, FreeBuffersText(freeBuffers));
}

void TRxForm::ShowThreshold() {
    const Channel& channel = receiver.Main();
    ShowStatus(kPanelThreshold, ThresholdText(channel.AutoTresholdDown, channel.DetectorThreshold));
}

void TRxForm::ShowBurstSpeed() {
    const int length = receiver.Main().CwFilterTreshold;
    ShowStatus(kPanelBurstSpeed, BurstSpeedPanelText(length));
    CwFilterMenu->setTitle(QString::fromStdString(BurstSpeedCaption(length)));
}

void TRxForm::SetBurstSpeed(int lpm) {
    receiver.Main().SetBurstSpeed(lpm);
    ShowBurstSpeed();
}

void TRxForm::SetFilterWidth(int mode) {
    receiver.Main().SetFilterWidth(mode);
    ShowStatus(kPanelFilterWidth, FilterWidthPanel(receiver.Main().FilterWidth));
    MainFilterMenu->setTitle(FilterWidthCaption(receiver.Main().FilterWidth));
}

void TRxForm::AutoTresholdButtonClick() {
    ShowThreshold();
}

bool TRxForm::StaysOnTop() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void TRxForm::OnTopButtonClick() {
    const bool wanted = OnTopButton->isChecked();
    if (StaysOnTop() == wanted) return;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, wanted);  // hides a shown window
    if (wasVisible) show();
}

void TRxForm::GoToMaxButtonClick() {
    receiver.Main().GoToMax(receiver.spectrum);
}

void TRxForm::StopCaptureOnce() {
    StopCapture(ring);
}

void TRxForm::ExitClick() {
    if (ring.CaptureStopping.load()) return;
    StopCapture(ring);
    close();
    services_.terminate();
}

void TRxForm::closeEvent(QCloseEvent* event) {
    StopCapture(ring);  // does nothing when already stopping
    event->accept();
}

void TRxForm::ReportFatal(std::string_view text, std::string_view caption) {
    terminated_ = true;
    if (services_.dialogs != nullptr) {
        services_.dialogs->ShowMessage(this, Cp1251ToQString(caption), Cp1251ToQString(text));
    }
    services_.terminate();
}

// ---------------------------------------------------------------- keys

bool TRxForm::eventFilter(QObject* watched, QEvent* event) {
    // Key preview: every key meant for this window passes here before the focused control
    // sees it. A key that the control leaves alone travels on to its parents, and the native
    // window object sees it too; only the first receiver counts, so each key acts once.
    if (event->type() == QEvent::KeyPress) {
        QWidget* first = focusWidget() != nullptr ? focusWidget() : this;
        if (watched == first) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (FormKeyDown(key->key(), key->modifiers())) return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TRxForm::FlipToggle(QToolButton* button) {
    button->setChecked(!button->isChecked());
}

void TRxForm::Broadcast(std::uint32_t code) {
    if (services_.broadcaster == nullptr || AalCwMessage == 0) return;  // not registered yet
    services_.broadcaster->Broadcast(AalCwMessage, code, 0);
}

bool TRxForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (held & Qt::AltModifier) {
        // Flip and click action together, as a mouse click on the toggle does.
        switch (key) {
            case Qt::Key_A:
                FlipToggle(AutoGoToMaxButton);
                return true;
            case Qt::Key_F:
                FlipToggle(AfcButton);
                return true;
            case Qt::Key_G:
                GoToMaxButtonClick();
                return true;
            case Qt::Key_R:
                FlipToggle(AutoTresholdButton);
                AutoTresholdButtonClick();
                return true;
            case Qt::Key_T:
                FlipToggle(OnTopButton);
                OnTopButtonClick();
                return true;
            default:
                return false;
        }
    }
    if (held & Qt::ControlModifier) {
        if (key == Qt::Key_P) Broadcast(kCodePause);
        if (key == Qt::Key_T) Broadcast(kCodeScrollLock);
        return false;
    }
    if (held != Qt::NoModifier) return false;  // Shift alone
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        Broadcast(static_cast<std::uint32_t>(key - Qt::Key_F1 + 1));
        return key == Qt::Key_F10;  // kept from the menu bar
    }
    if (key == Qt::Key_Pause) Broadcast(kCodePause);
    if (key == Qt::Key_ScrollLock) Broadcast(kCodeScrollLock);
    return false;
}

// ---------------------------------------------------------------- receive text

int TRxForm::MemoDisplayLines() const {
    QTextDocument* doc = RxMemo->document();
    QAbstractTextDocumentLayout* layout = doc->documentLayout();
    int lines = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block.layout()->lineCount() == 0) layout->blockBoundingRect(block);  // lays it out
        lines += std::max(1, block.layout()->lineCount());
    }
    return lines;
}

void TRxForm::DeleteFirstDisplayLines(int count) {
    // Cutting whole display lines off the front leaves the rest wrapped as before, so the batch
    // goes in one edit rather than one relayout per line.
    QTextDocument* doc = RxMemo->document();
    int end = 0;
    QTextBlock block = doc->begin();
    while (count > 0 && block.isValid()) {
        const int lines = std::max(1, block.layout()->lineCount());
        if (count >= lines) {
            count -= lines;
            end = block.position() + block.length();  // with its line break
            block = block.next();
        } else {
            const QTextLine line = block.layout()->lineAt(count - 1);
            end = block.position() + line.textStart() + line.textLength();
            count = 0;
        }
    }
    QTextCursor cursor(doc);
    cursor.setPosition(0);
    cursor.setPosition(std::min(end, doc->characterCount() - 1), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void TRxForm::AppendDecodedText(std::uint32_t /*code*/, std::string_view cp1251) {
    while (MemoDisplayLines() > kMemoLineLimit) DeleteFirstDisplayLines(kMemoTrimBatch);

    QTextCursor cursor = RxMemo->textCursor();
    const int selStart = cursor.selectionStart();
    const int selLength = cursor.selectionEnd() - cursor.selectionStart();

    cursor.movePosition(QTextCursor::End);
    RxMemo->setTextCursor(cursor);
    cursor.insertText(Cp1251ToQString(cp1251));
    if (selLength != 0) {
        cursor.setPosition(selStart);
        cursor.setPosition(selStart + selLength, QTextCursor::KeepAnchor);
    }
    RxMemo->setTextCursor(cursor);
}

void TRxForm::ClearBuffer1Click() {
    RxMemo->clear();
}

std::string TRxForm::MemoTextCp1251() const {
    // The raw text: toPlainText() would also turn no-break spaces (1251 byte 0xA0) into blanks.
    QString text = RxMemo->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return QStringToCp1251(text);
}

void TRxForm::SaveBuffer1Click() {
    RunOutsideLoop([this] {
        if (saveBufferBusy_) return;
        saveBufferBusy_ = true;
        const FileDialogRequest request{"Save buffer to file", ".",
                                        "Text files (*.txt);;All files (*.*)", "txt"};
        QString path = services_.dialogs->SaveFile(this, request);
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
            // Not every file dialog adds the default extension; the overwrite question the
            // dialog asked was then about another name.
            path += ".txt";
            if (QFileInfo::exists(path) &&
                !services_.dialogs->AskYesNo(
                    this, "Save buffer to file",
                    QString("%1 already exists.\nDo you want to replace it?").arg(path))) {
                path.clear();
            }
        }
        if (!path.isEmpty()) {
            const std::string bytes = MemoTextCp1251();  // the text as the dialog closed
            QSaveFile file(path);
            bool ok = file.open(QIODevice::WriteOnly);
            ok = ok && file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                           static_cast<qint64>(bytes.size());
            ok = ok && file.commit();
            if (!ok) {
                services_.dialogs->ShowMessage(this, "Dahlo",
                                               QString("Cannot create file %1").arg(path));
            }
        }
        saveBufferBusy_ = false;
    });
}

void TRxForm::FontSetup1Click() {
    RunOutsideLoop([this] {
        QFont font = RxMemo->font();  // the dialog works on a copy; Cancel leaves it as it was
        if (!services_.dialogs->ChooseFont(this, font)) return;
        RxMemo->setFont(font);
        StoreRxFont(font);
    });
}

void TRxForm::StoreRxFont(const QFont& font) {
    // Height and size describe one font: when the settings are loaded the size decides, so
    // both are kept in step with whichever the dialog gave.
    const int dpi = std::max(1, RxMemo->logicalDpiY());
    if (font.pixelSize() > 0) {
        RxFontSettings.height = -font.pixelSize();
        RxFontSettings.size =
            std::max(1, static_cast<int>(std::lround(font.pixelSize() * 72.0 / dpi)));
    } else if (font.pointSizeF() > 0) {
        RxFontSettings.size = std::max(1, static_cast<int>(std::lround(font.pointSizeF())));
        RxFontSettings.height = -static_cast<int>(std::lround(font.pointSizeF() * dpi / 72.0));
    }
    RxFontSettings.name = font.family().toStdString();
    const bool fixed = QFontInfo(font).fixedPitch();
    if (fixed) {
        RxFontSettings.pitch = 2;
    } else if (RxFontSettings.pitch == 2) {
        RxFontSettings.pitch = 0;
    }
    RxFontSettings.style = (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) |
                           (font.underline() ? 4 : 0) | (font.strikeOut() ? 8 : 0);
}

void TRxForm::RxWindowBackground1Click() {
    RunOutsideLoop([this] {
        QColor color;  // the dialog starts from its own last colour, not from the background
        if (!services_.dialogs->ChooseColor(this, color)) return;
        QPalette palette = RxMemo->palette();
        palette.setColor(QPalette::Base, color);
        RxMemo->setPalette(palette);
        RxFontSettings.bkgColor = ColorToSetting(color);
    });
}

// ---------------------------------------------------------------- popup and export

void TRxForm::RxMemoMouseUp(Qt::MouseButton /*button*/, Qt::KeyboardModifiers /*shift*/, int x,
                            int y) {
    QTextCursor cursor = RxMemo->textCursor();
    if (!cursor.hasSelection()) return;
    QString selected = cursor.selectedText();
    selected.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    selected.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    title1Caption_ = Cp1251ToQString(TrimCaption(QStringToCp1251(selected)));
    QString shown = title1Caption_;
    Title1->setText(shown.replace('&', QStringLiteral("&&")));  // no accelerator letter

    cursor.setPosition(cursor.selectionStart());
    RxMemo->setTextCursor(cursor);
    RxMemo->ensureCursorVisible();

    // The window's outer corner plus the text's place in the client area plus the pointer: the
    // frame, caption and menu bar are not counted, so the menu opens above left of the pointer.
    const QPoint memoInClient = RxMemo->mapTo(centralWidget(), QPoint(0, 0));
    services_.popup(*PopupMenu1, frameGeometry().topLeft() + memoInClient + QPoint(x, y));
}

void TRxForm::ExportField(const char* key, std::uint32_t flag) {
    std::string error;
    if (!Logger.ExportField(key, QStringToCp1251(title1Caption_), flag, error)) {
        const QString text = QString::fromStdString(error);
        RunOutsideLoop([this, text] { services_.dialogs->ShowMessage(this, "Dahlo", text); });
    }
}

void TRxForm::Copy1Click() {
    QGuiApplication::clipboard()->setText(title1Caption_);
}

void TRxForm::SaveSetup1Click() {
    RunOutsideLoop([this] {
        if (saveSetupBusy_) return;
        saveSetupBusy_ = true;
        Settings s;
        s.autoThreshold = AutoTresholdButton->isChecked();
        s.onTop = OnTopButton->isChecked();
        s.autoGoToMax = AutoGoToMaxButton->isChecked();
        s.afc = AfcButton->isChecked();
        s.afcSpeed = AfcUpDown->value();
        s.centreBin = receiver.Main().CentreBin;
        s.threshold = receiver.Main().DetectorThreshold;
        s.cwFilterTreshold = receiver.Main().CwFilterTreshold;
        s.filterWidth = receiver.Main().FilterWidth;
        s.charset = receiver.charsets.Charset;
        s.userCharsetFile = receiver.charsets.UserCharsetFile;
        s.exportIniFile = ExportIniFile;
        s.exportIniSection = ExportIniSection;
        const QRect frame = frameGeometry();
        s.window = {frame.x(),     frame.y(),        frame.height(),
                    frame.width(), FFTBox->height(), RxMemo->height()};
        s.font = RxFontSettings;
        std::string error;
        if (!SaveSettings(services_.settingsPath, s, error)) {
            services_.dialogs->ShowMessage(this, "Dahlo", QString::fromStdString(error));
        }
        saveSetupBusy_ = false;
    });
}

// ---------------------------------------------------------------- charsets

void TRxForm::EnglishCharset1Click() {
    receiver.charsets.Charset = kEnglish;
    SetCharsetChecked(kEnglish);
}

void TRxForm::RussianCharset1Click() {
    receiver.charsets.Charset = kRussian;
    SetCharsetChecked(kRussian);
}

void TRxForm::UserdefinedCharset1Click() {
    // The radio group has already moved the check mark; it moves only on a successful load.
    SetCharsetChecked(receiver.charsets.Charset);
    RunOutsideLoop([this] {
        FileDialogRequest request{
            "Open", ".", "Dahlo Charset Files (*.dlo);;Text Files (*.txt);;All Files (*)", "dlo"};
        const QString path = services_.dialogs->OpenFile(this, request);
        if (path.isEmpty()) return;
        std::string error;
        const std::string file = path.toStdString();
        const int loaded = receiver.charsets.LoadUserCharset(file, error);
        if (loaded == -2) {
            services_.dialogs->ShowMessage(this, "Dahlo", QString::fromStdString(error));
            return;
        }
        if (loaded != 0) return;  // an empty file changes nothing
        receiver.charsets.Charset = kUserDefined;
        receiver.charsets.UserCharsetFile = file;
        SetCharsetChecked(kUserDefined);
    });
}

void TRxForm::Contens1Click() {
    RunOutsideLoop([this] { HelpViewer::ShowHelpContents(this, "dahlo.hlp"); });
}

void TRxForm::About1Click() {
    RunOutsideLoop([this] { About->exec(); });
}

void TRxForm::RunOutsideLoop(std::function<void()> action) {
    if (!receiver.ProcessingActive) {
        action();
        return;
    }
    deferred_.push_back(std::move(action));
}

void TRxForm::RunDeferred() {
    while (!deferred_.empty()) {
        std::function<void()> action = std::move(deferred_.front());
        deferred_.erase(deferred_.begin());
        action();
    }
}

// ---------------------------------------------------------------- displays

void TRxForm::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    // The window's own repaint redraws the scope.
    inPaintEvent_ = true;
    PaintScope();
    inPaintEvent_ = false;
}

void TRxForm::PaintScope() {
    if (scopeBusy_) return;
    scopeBusy_ = true;
    const int w = PaintBox1->width();
    const int hTotal = PaintBox1->height();
    const int h = hTotal - 1;
    if (ScopeBitmap.size() != PaintBox1->size()) {
        ScopeBitmap = QImage(PaintBox1->size(), QImage::Format_RGB32);
        ScopeBitmap.fill(kWhite);
    }
    const QRect area(0, 0, w - 1, hTotal - 1);
    if (!area.isEmpty()) {
        QPainter painter(&ScopeBitmap);
        painter.setClipRect(area);
        painter.fillRect(area, kWhite);
        const LevelHistory& levels = receiver.levels;
        const int j0 =
            ((levels.newest - w + 1) % kLevelHistorySize + kLevelHistorySize) % kLevelHistorySize;
        QPolygon trace;
        trace.reserve(std::max(1, w - 1));
        for (int x = 0; x <= w - 2; ++x) {
            trace << QPoint(x, StripRow(h, levels.values[(j0 + x) % kLevelHistorySize]));
        }
        painter.setPen(QPen(kGreen, 0));
        if (trace.size() > 1) {
            painter.drawPolyline(trace);
        } else {
            painter.drawPoints(trace);
        }
        const int yT = StripRow(h, receiver.Main().DetectorThreshold);
        painter.setPen(QPen(kRed, 0));
        painter.drawLine(1, yT, w - 1, yT);
        painter.end();
        PaintBox1->CopyFrom(ScopeBitmap, area, !inPaintEvent_);
    }
    scopeBusy_ = false;
}

void TRxForm::PaintSpectrum() {
    if (spectrumBusy_) return;
    spectrumBusy_ = true;
    const int w = FFTBox->width();
    const int hTotal = FFTBox->height();
    const int h = hTotal - 1;
    if (SpectrumBitmap.size() != FFTBox->size()) {
        SpectrumBitmap = QImage(FFTBox->size(), QImage::Format_RGB32);
        SpectrumBitmap.fill(kWhite);
    }
    const QRect area(0, 0, w - 1, hTotal - 1);
    SpectrumXOffset = (w - kBinCount) / 2;
    QPainter painter(&SpectrumBitmap);
    painter.setClipRect(area);
    painter.fillRect(area, kWhite);

    const SpectrumState& spectrum = receiver.spectrum;
    auto trace = [&](const std::array<double, kFftLength>& v) {
        QPolygon line;
        if (SpectrumXOffset > 0) {
            for (int k = kFirstBin; k <= kLastBin; ++k) {
                line << QPoint(SpectrumXOffset + k - kFirstBin, StripRow(h, v[k]));
            }
        } else {
            for (int x = 0; x <= w - 1; ++x) {
                line << QPoint(x, StripRow(h, v[kFirstBin - SpectrumXOffset + x]));
            }
        }
        return line;
    };
    painter.setPen(QPen(kGreen, 0));
    painter.drawPolyline(trace(spectrum.PeakHold));
    painter.setPen(QPen(kBlue, 0));
    painter.drawPolyline(trace(spectrum.SmoothedMagnitude));

    const int centre = receiver.Main().CentreBin;
    if (centre != ShownCentreBin) {
        ShowStatus(kPanelFrequency, FrequencyText(centre));
        ShownCentreBin = centre;
    }
    const int xc = centre + SpectrumXOffset - kFirstBin;
    if (xc >= 0 && xc < w) {
        painter.setPen(QPen(kRed, 0));
        painter.drawLine(xc, hTotal - 1, xc, 0);
    }
    painter.end();
    if (!area.isEmpty()) FFTBox->CopyFrom(SpectrumBitmap, area, true);
    spectrumBusy_ = false;
}

void TRxForm::StripMouse(PaintStrip& strip, int action, QPoint pos) {
    if (static_cast<PaintStrip::MouseAction>(action) == PaintStrip::MouseAction::kPress) {
        if (&strip == FFTBox) FFTBoxMouseDown(pos.x());
        if (&strip == PaintBox1) PaintBox1MouseDown(pos.y());
        return;
    }
    // The strip pressed keeps the mouse; the position goes to whichever strip is under it.
    const QPoint inWindow = strip.mapTo(this, pos);
    const QPoint overSpectrum = FFTBox->mapFrom(this, inWindow);
    const QPoint overScope = PaintBox1->mapFrom(this, inWindow);
    if (FFTBox->rect().contains(overSpectrum)) FFTBoxDragOver(overSpectrum.x());
    if (PaintBox1->rect().contains(overScope)) PaintBox1DragOver(overScope.y());
}

void TRxForm::FFTBoxMouseDown(int x) {
    FFTBoxDragOver(x);
}

void TRxForm::FFTBoxDragOver(int x) {
    receiver.Main().SetCentreBin(ClampCentreBin(x - SpectrumXOffset + kFirstBin));
}

void TRxForm::PaintBox1MouseDown(int y) {
    PaintBox1DragOver(y);
}

void TRxForm::PaintBox1DragOver(int y) {
    const int h = PaintBox1->height() - 1;
    if (h <= 0) return;  // a strip one pixel high has no scale
    receiver.Main().DetectorThreshold = static_cast<double>(h - y) / h;
    ShowThreshold();
}

}  // namespace dahlo

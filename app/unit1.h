#pragma once
// The main window: toolbar, spectrum strip, receive text, scope strip, status bar and menus. It
// runs the receiver on its own thread: the capture thread posts one "block ready" event per
// filled buffer and the window hands it to the processing loop, which calls back for text,
// panels, painting and event pumping.

#include <QEvent>
#include <QFont>
#include <QImage>
#include <QMainWindow>
#include <QPoint>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "export/broadcaster.h"
#include "export/logger_export.h"
#include "settings/settings.h"

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QSplitter;
class QToolButton;

namespace dahlo {

class PaintStrip;
class TAbout;

// The capture thread's "block ready" message (WM_APP + 501).
inline constexpr QEvent::Type kBlockReadyEvent = static_cast<QEvent::Type>(0x81F5);

inline constexpr int kMemoLineLimit = 10000;  // display lines kept in the receive text
inline constexpr int kMemoTrimBatch = 100;    // lines cut at a time once over the limit

// Broadcast codes of the key table.
inline constexpr std::uint32_t kCodePause = 102;       // Ctrl+P, Pause
inline constexpr std::uint32_t kCodeScrollLock = 112;  // Ctrl+T, Scroll Lock

struct RxFormServices {
    SoundInput* soundInput = nullptr;  // the capture device; must outlive the window
    Dialogs* dialogs = nullptr;        // must outlive the window
    Broadcaster* broadcaster = nullptr;
    std::string settingsPath = kSettingsFile;  // relative: in the working directory
    // Ends the program (after a fatal message, or File, Exit). Default: quit the event loop.
    std::function<void()> terminate;
    // Opens the receive text's popup menu at a screen point. Default: QMenu::popup, which does
    // not block, so blocks keep being processed while the menu is open.
    std::function<void(QMenu& menu, QPoint screenPos)> popup;
};

// Stands in when the program runs without a message bus: registers names, sends nothing.
class SilentBroadcaster final : public Broadcaster {
  public:
    std::uint32_t RegisterMessage(std::string_view name) override;
    void Broadcast(std::uint32_t, std::uint32_t, std::int32_t) override {}

  private:
    std::vector<std::string> names_;
};

// Status bar panels by index.
enum StatusPanel : int {
    kPanelFilterWidth = 0,
    kPanelFrequency = 1,
    kPanelBurstSpeed = 2,
    kPanelThreshold = 3,
    kPanelLpm = 4,
    kPanelWpm = 5,
    kPanelFreeBuffers = 6,
};

class TRxForm : public QMainWindow, public ReceiverHost, public BlockReadyPoster {
    Q_OBJECT

  public:
    explicit TRxForm(RxFormServices services, QWidget* parent = nullptr);
    ~TRxForm() override;
    TRxForm(const TRxForm&) = delete;
    TRxForm& operator=(const TRxForm&) = delete;

    // --- controls, named as their objectName ---
    QWidget* Panel1 = nullptr;
    QToolButton* AutoTresholdButton = nullptr;
    QToolButton* OnTopButton = nullptr;
    QPushButton* GoToMaxButton = nullptr;
    QToolButton* AutoGoToMaxButton = nullptr;
    QSpinBox* AfcUpDown = nullptr;  // its edit is AfcEdit
    QToolButton* AfcButton = nullptr;
    QFrame* Bevel1 = nullptr;
    PaintStrip* FFTBox = nullptr;
    QSplitter* Splitter1 = nullptr;  // FFTBox above, the rest below
    QPlainTextEdit* RxMemo = nullptr;
    QSplitter* Splitter2 = nullptr;  // RxMemo above, PaintBox1 below
    PaintStrip* PaintBox1 = nullptr;
    std::array<QLabel*, 8> StatusPanels{};

    QMenu* MainFilterMenu = nullptr;
    QMenu* CwFilterMenu = nullptr;
    QAction* ClearBuffer1 = nullptr;
    QAction* SaveBuffer1 = nullptr;
    QAction* Exit = nullptr;
    QAction* Narrow1 = nullptr;
    QAction* Wide1 = nullptr;
    QAction* VeryWide1 = nullptr;
    std::vector<QAction*> BurstSpeedItems;  // N100CPM1 .. N5000CPM1
    QAction* EnglishCharset1 = nullptr;
    QAction* RussianCharset1 = nullptr;
    QAction* UserdefinedCharset1 = nullptr;
    QAction* FontSetup1 = nullptr;
    QAction* RxWindowBackground1 = nullptr;
    QAction* SaveSetup1 = nullptr;
    QAction* Contens1 = nullptr;
    QAction* About1 = nullptr;

    // The receive text's popup: Title1 shows the selected word, the field items export it,
    // Copy1 copies it.
    QMenu* PopupMenu1 = nullptr;
    QAction* Title1 = nullptr;
    QAction* Call1 = nullptr;
    QAction* Number1 = nullptr;
    QAction* RST1 = nullptr;
    QAction* Name1 = nullptr;
    QAction* QTH1 = nullptr;
    QAction* QSLvia1 = nullptr;
    QAction* Remarks1 = nullptr;
    QAction* Copy1 = nullptr;

    // --- the receiver and what the window holds besides its controls ---
    CaptureRing ring;
    BlockPump receiver{ring, *this};
    bool OnTopDown = false;
    std::uint32_t AalCwMessage = 0;
    std::uint32_t KeyvoxMessage = 0;
    bool FirstActivationDone = false;
    int SpectrumXOffset = 0;
    int ShownCentreBin = 10000;
    QImage ScopeBitmap;
    QImage SpectrumBitmap;
    std::string ExportIniFile = "loginput.ini";
    std::string ExportIniSection = "QSO";
    FontSettings RxFontSettings;  // the receive text's font as the settings file keeps it
    LoggerExport Logger;          // writes the export file and sends "Keyvox_Message"

    // --- handlers ---
    void FormActivate();
    // The window-level key table; true when the key is swallowed.
    bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void AutoTresholdButtonClick();
    void OnTopButtonClick();
    void GoToMaxButtonClick();
    void ExitClick();
    void SetFilterWidth(int mode);
    void SetBurstSpeed(int lpm);
    void ShowBurstSpeed();
    void EnglishCharset1Click();
    void RussianCharset1Click();
    void UserdefinedCharset1Click();
    void ClearBuffer1Click();
    void SaveBuffer1Click();
    void FontSetup1Click();
    void RxWindowBackground1Click();
    void SaveSetup1Click();
    void Contens1Click();
    void About1Click();
    // Mouse release over the receive text, any button; x, y inside its text area.
    void RxMemoMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // One of the seven field items: exports Title1's caption under `key` with `flag`.
    void ExportField(const char* key, std::uint32_t flag);
    void Copy1Click();
    // Title1's caption as set by the last popup: the selected text without blanks and control
    // characters at its ends. The menu item shows it with '&' doubled.
    const QString& Title1Caption() const { return title1Caption_; }

    void FFTBoxMouseDown(int x);
    void FFTBoxDragOver(int x);
    void PaintBox1MouseDown(int y);
    void PaintBox1DragOver(int y);

    // Display lines of the receive text, as its layout wraps them now.
    int MemoDisplayLines() const;
    bool StaysOnTop() const;
    // Whether a fatal failure has ended the program.
    bool Terminated() const { return terminated_; }

    // Writes the text of status panel `panel`.
    void ShowStatus(int panel, std::string_view text);
    // A character end (`code` its code word) or a word space (`code` 0) into the receive text.
    void AppendDecodedText(std::uint32_t code, std::string_view cp1251);
    void ShowThreshold();

    // --- ReceiverHost ---
    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override;
    void ShowFreeBuffers(int freeBuffers) override;
    void PaintScope() override;
    void PaintSpectrum() override;
    void PumpMessages() override;
    void ReportFatal(std::string_view text, std::string_view caption) override;

    // --- BlockReadyPoster (capture thread) ---
    void PostBlockReady() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void FormCreate();
    void CreateToolbar();
    void CreateStrips();
    void CreateStatusBar();
    void CreateMenus();
    void CreatePopupMenu();
    // The receive text exactly as held, in Windows-1251 with CR LF between lines.
    std::string MemoTextCp1251() const;
    // The font dialog's choice into the form the settings file keeps.
    void StoreRxFont(const QFont& font);
    void ApplySettings(const Settings& settings);
    void ApplyRxFont(const FontSettings& font);
    void SetCharsetChecked(int charset);
    void FlipToggle(QToolButton* button);
    void Broadcast(std::uint32_t code);
    void StripMouse(PaintStrip& strip, int action, QPoint pos);
    void DeleteFirstDisplayLines(int count);
    // Runs `action` now, or, while the processing loop is inside its event pump, right after the
    // loop returns: a modal dialog opened inside the pump would stall the loop under it.
    void RunOutsideLoop(std::function<void()> action);
    void RunDeferred();
    void StopCaptureOnce();

    RxFormServices services_;
    TAbout* About = nullptr;
    bool scopeBusy_ = false;
    bool spectrumBusy_ = false;
    bool activating_ = false;
    bool saveBufferBusy_ = false;
    bool saveSetupBusy_ = false;
    bool inPaintEvent_ = false;
    bool terminated_ = false;
    std::vector<std::function<void()>> deferred_;
    SilentBroadcaster silentBroadcaster_;
    QString title1Caption_;
};

}  // namespace dahlo

#pragma once
// The main window: toolbar, spectrum strip, receive text, scope strip, status bar and menus. It
// runs the receiver on its own thread: the capture thread posts one "block ready" event per
// filled buffer and the window hands it to the block pump, which calls back for text, panels,
// painting and event pumping.

#include <QEvent>
#include <QMainWindow>
#include <QPoint>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialogs.h"
#include "app/main_menu.h"
#include "app/status_bar.h"
#include "capture/capture_ring.h"
#include "export/broadcaster.h"
#include "export/logger_export.h"
#include "receiver/block_pump.h"
#include "settings/settings.h"
#include "skimmer/skimmer.h"
#include "spots/spot_server.h"

class QFrame;
class QMenu;
class QSplitter;
class QToolButton;

namespace dahlo {

class BandView;
class PaintStrip;
class ReceiveText;
class ScopeStrip;
class SpectrumStrip;
class TAbout;
class Toolbar;
class WordMenu;

// The window's place and outer size (frame included) unless the settings file says otherwise.
inline constexpr int kDesignLeft = 255;
inline constexpr int kDesignTop = 102;
inline constexpr int kDesignWidth = 434;
inline constexpr int kDesignHeight = 291;

// The capture thread's "block ready" message (WM_APP + 501).
inline constexpr QEvent::Type kBlockReadyEvent = static_cast<QEvent::Type>(0x81F5);

struct MainWindowServices {
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

class MainWindow : public QMainWindow, public ReceiverHost, public BlockReadyPoster {
    Q_OBJECT

  public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // --- controls, top to bottom ---
    Toolbar* toolbar = nullptr;
    QFrame* toolbarBevel = nullptr;
    QSplitter* spectrumSplitter = nullptr;  // the spectrum above, the rest below
    SpectrumStrip* spectrumStrip = nullptr;
    QSplitter* textSplitter = nullptr;  // the receive text above, the scope below
    ReceiveText* receiveText = nullptr;
    ScopeStrip* scopeStrip = nullptr;
    StatusBar* status = nullptr;
    MainMenu menu;
    WordMenu* wordMenu = nullptr;  // the receive text's popup

    // --- the receiver and what the window holds besides its controls ---
    CaptureRing ring;
    BlockPump receiver{ring, *this};
    bool onTopDown = false;
    std::uint32_t aalCwMessage = 0;
    std::uint32_t keyvoxMessage = 0;
    bool firstActivationDone = false;
    int shownCentreBin = 10000;  // the centre the frequency panel shows
    std::string exportIniFile = "loginput.ini";
    std::string exportIniSection = "QSO";
    FontSettings receiveTextFont;  // as the settings file keeps it
    LoggerExport logger;           // writes the export file and sends "Keyvox_Message"
    // The band view and the skimmer that feeds it, both only while it is open; its settings
    // as loaded, until it is first opened.
    BandView* bandView = nullptr;
    std::unique_ptr<Skimmer> skimmer;
    std::unique_ptr<SpotServer> spotServer;  // [Band] SpotPort: the band's spots to loggers
    BandSettings bandSettings;

    // --- handlers ---
    // Loads the settings at the first activation.
    void Activated();
    // The key table; true when the key is swallowed.
    bool KeyPressed(int key, Qt::KeyboardModifiers modifiers);
    void AutoThresholdClicked();
    void OnTopClicked();
    void GoToMax();
    void Exit();
    void SetFilterWidth(int mode);
    void SetBurstSpeed(int lpm);
    void ChooseEnglishCharset();
    void ChooseRussianCharset();
    void ChooseUserCharset();
    void ClearBuffer();
    void SaveBuffer();
    void SetUpFont();
    void SetUpBackground();
    void SaveSetup();
    void ShowHelpContents();
    void ShowAbout();
    // Opens the band view (Ctrl+B), or brings it to the front; the skimmer starts with it.
    void ShowBandView();
    // Its window was closed: the skimmer stops and takes its channels away.
    void BandViewClosed();
    // The main receiver takes a skimmer's station over: its centre, dot length, integration
    // length, threshold and filter; the receive text's word ends there.
    void TakeOver(const StationView& station);
    // Sends `call` to the logger's Call field, as the receive text's popup does.
    void ExportCall(const QString& call);
    // Mouse release over the receive text, any button, at a point inside its text area.
    void ReceiveTextReleased(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at);
    // One of the popup's field items: exports its word under `key` with `flag`.
    void ExportField(const char* key, std::uint32_t flag);

    void SpectrumPressed(int x);
    void SpectrumDragged(int x);
    void ScopePressed(int y);
    void ScopeDragged(int y);

    bool StaysOnTop() const;
    // Whether a fatal failure has ended the program.
    bool Terminated() const { return terminated_; }

    // Writes the text of status panel `panel`.
    void ShowStatus(int panel, std::string_view text);
    // A character end (`code` its code word) or a word space (`code` 0) into the receive text.
    void AppendDecodedText(std::uint32_t code, std::string_view cp1251);
    void ShowThreshold();
    void ShowBurstSpeed();
    // Checks the charset menu item of `charset`.
    void ShowCharset(int charset);
    // A message box "Dahlo" with `text`, outside the processing loop.
    void ReportError(const QString& text);

    // --- ReceiverHost ---
    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override;
    void ShowFreeBuffers(int freeBuffers) override;
    void PaintScope() override;
    void PaintSpectrum() override;
    void PumpMessages() override;
    void ReportFatal(std::string_view text, std::string_view caption) override;
    void OnBlockDone(const std::int16_t* samples, std::int64_t blockStart) override;

    // --- BlockReadyPoster (capture thread) ---
    void PostBlockReady() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void CreateToolbar();
    void CreateStrips();
    void CreateReceiveText(QSplitter* splitter);
    void CreateStatusBar();
    void CreateMenus();
    void CreateWordMenu();
    void ConnectToolbar();
    void StartReceiving();
    void FlipToggle(QToolButton* button);
    void Broadcast(std::uint32_t code);
    void StripMouse(PaintStrip& strip, int action, QPoint pos);
    void ShowMessage(const QString& text);
    // Runs `action` now, or, while the processing loop is inside its event pump, right after the
    // loop returns: a modal dialog opened inside the pump would stall the loop under it.
    void RunOutsideLoop(std::function<void()> action);
    void RunDeferred();

    MainWindowServices services_;
    TAbout* about_ = nullptr;
    bool activating_ = false;
    bool saveSetupBusy_ = false;
    bool inPaintEvent_ = false;
    bool terminated_ = false;
    bool spotPortWithoutDialReported_ = false;  // said once, not at every opening
    std::vector<std::function<void()>> deferred_;
    SilentBroadcaster silentBroadcaster_;
    class DiscardSink final : public OutputSink {
      public:
        void Write(std::string_view) override {}
        void Flush() override {}
    } discard_;  // the skimmer's text goes to the band view, not to a stream
};

}  // namespace dahlo

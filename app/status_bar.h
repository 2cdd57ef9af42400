#pragma once
// The status bar: eight fixed-width panels (filter width, centre frequency, burst filter speed,
// threshold, LPM, WPM, free buffers, one spare), cut off by a narrow window rather than widening
// it.

#include <QStatusBar>
#include <array>
#include <string_view>

class QLabel;

namespace dahlo {

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

class StatusBar final : public QStatusBar {
  public:
    explicit StatusBar(QWidget* parent);

    std::array<QLabel*, 8> panels{};

    // Writes Windows-1251 `text` into panel `panel`; other indexes are ignored.
    void Show(int panel, std::string_view text);
};

}  // namespace dahlo

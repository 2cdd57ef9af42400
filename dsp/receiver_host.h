#pragma once
// What the processing loop needs from the program around it: the window implements it with
// widgets, dahlo-decode with text on stdout. Called only at character ends, word spaces, every
// 128th sample and once per block, never on every sample.

#include <cstdint>
#include <string_view>

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

class ReceiverHost {
public:
    // Writes the text of status panel `panel`.
    virtual void ShowStatus(int panel, std::string_view text) = 0;
    // A character end (`code` its code word) or a word space (`code` 0); `cp1251` is the text
    // the selected charset gives for it, in Windows-1251 bytes.
    virtual void AppendDecodedText(std::uint32_t code, std::string_view cp1251) = 0;
    virtual void PaintScope() = 0;
    virtual void PaintSpectrum() = 0;
    // Handles every event pending now, then returns. Any handler may run in here.
    virtual void PumpMessages() = 0;
    // A fatal failure of the sound input: show `text` under `caption`, then end the program.
    virtual void ReportFatal(std::string_view text, std::string_view caption) = 0;

protected:
    ~ReceiverHost() = default;
};

}  // namespace dahlo

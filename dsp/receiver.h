#pragma once
// The receiver: every stage of the signal chain, the decoder and the spectrum, and the loop that
// runs the captured blocks through them. One per program; tests and tools make as many as they
// like.

#include <array>
#include <cstdint>
#include <string>

#include "capture/capture_ring.h"
#include "dsp/burst_filter.h"
#include "dsp/fft.h"
#include "dsp/keying_detector.h"
#include "dsp/main_filter.h"
#include "dsp/receiver_host.h"
#include "dsp/spectrum.h"
#include "morse/charset.h"
#include "morse/morse_decoder.h"

namespace dahlo {

inline constexpr int kLevelHistorySize = 1024;
inline constexpr int kLevelInterval = 128;  // samples per level entry
inline constexpr int kAfcSpeedMax = 99;

// The envelope at every 128th sample, for the scope.
struct LevelHistory {
    std::array<double, kLevelHistorySize> values{};
    int newest = 0;
    void Clear() {
        values.fill(0.0);
        newest = 0;
    }
};

// Tunables and running values that the controls, the settings and the loop share.
struct ReceiverState {
    int CentreBin = kDefaultCentreBin;  // 30..450
    int FilterWidth = kNarrow;          // 0 Narrow, 1 Wide, 2 Very Wide
    double DetectorThreshold = 0.1;     // envelope level above which a sample is key-down
    int CwFilterTreshold = kDefaultIntegrationLength;  // integration length L in samples
    double LongAverage = 0.0;                          // slow average of the envelope
    int AfcSpeed = 2;                                  // AFC half-width in bins, 0..99
    // Down states of the toolbar toggles, kept current by the front end.
    bool AutoTresholdDown = false;
    bool AfcDown = true;
    bool AutoGoToMaxDown = false;
    bool OnTopDown = false;

    int LevelTick = 0;           // samples since the last level entry, 0..127
    int ShownFreeBuffers = 99;   // the free-buffer count last shown
    bool ProcessingActive = false;
};

class Receiver {
public:
    Receiver(CaptureRing& ring, ReceiverHost& host);
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    ReceiverState state;
    MainFilter mainFilter;
    BurstFilter burstFilter;
    KeyingDetector keying;
    MorseDecoder decoder;
    Charsets charsets;
    SpectrumState spectrum;
    FftWorkspace fftWork;
    LevelHistory levels;

    CaptureRing& ring;
    ReceiverHost& host;

    // Main filter: the row of CentreBin in the table of FilterWidth.
    void SelectFilterCoefficients();
    // Tunes to `bin`, brought into 30..450 first, and retunes the filter.
    void SetCentreBin(int bin);
    // 0 Narrow, 1 Wide, any other Very Wide; writes the width panel and retunes.
    void SetFilterWidth(int mode);

    // Integration length and burst window; a length below 1 is replaced by 175.
    void ApplyIntegrationLength(int length);
    // A burst-filter menu speed in LPM: the length for it, then ShowBurstSpeed.
    void SetBurstSpeed(int lpm);
    // Writes the burst-speed panel "BF: n".
    void ShowBurstSpeed();
    // Writes the threshold panel: "Auto" or the threshold as "0.000".
    void ShowThreshold();

    // Tunes to the strongest peak-hold bin and clears the silence count.
    void GoToMaxButtonClick();
    // One AFC step within +-AfcSpeed bins of the centre, on the smoothed spectrum.
    void RunAfc();

    // Works through every block waiting in the ring, in capture order.
    void ProcessWaitingBlocks();
    // Runs the 2048 samples of one block through the chain (the per-block stages after sample 0).
    void ProcessBlock(const std::int16_t* samples);

    std::string BurstSpeedCaption() const;  // "Burst Filter (200 LPM)"
    std::string BurstSpeedPanel() const;    // "BF: 200"
    std::string ThresholdPanel() const;     // "Auto" or "0.100"

private:
    void HandBackBuffer();
};

// "FrB: 15"
std::string FreeBuffersText(int freeBuffers);
// "0996 Hz"
std::string FrequencyText(int centreBin);

}  // namespace dahlo

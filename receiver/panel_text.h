#pragma once
// The texts the receiver's state is shown with: status panels and the burst-filter caption.

#include <string>

#include "morse/morse_decoder.h"

namespace dahlo {

std::string FreeBuffersText(int freeBuffers);            // "FrB: 15"
std::string FrequencyText(int centreBin);                // "0996 Hz"
std::string WpmText(double wpm);                         // "20.0 WPM"
std::string LpmText(int lpm);                            // "100 LPM"
std::string ThresholdText(bool autoThreshold, double threshold);  // "Auto" or "0.100"
std::string BurstSpeedPanelText(int integrationLength);  // "BF: 200"
std::string BurstSpeedCaption(int integrationLength);    // "Burst Filter (200 LPM)"

inline std::string WpmText(const MorseDecoder& decoder) { return WpmText(decoder.Wpm()); }
inline std::string LpmText(const MorseDecoder& decoder) { return LpmText(decoder.Lpm()); }

}  // namespace dahlo

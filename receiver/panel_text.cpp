#include "receiver/panel_text.h"

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"
#include "dsp/number_format.h"

namespace dahlo {

std::string FreeBuffersText(int freeBuffers) { return "FrB: " + std::to_string(freeBuffers); }

std::string FrequencyText(int centreBin) { return Format0000(centreBin * kHzPerBin) + " Hz"; }

std::string WpmText(double wpm) { return FormatHashes0(wpm) + " WPM"; }

std::string LpmText(int lpm) { return std::to_string(lpm) + " LPM"; }

std::string ThresholdText(bool autoThreshold, double threshold) {
    return autoThreshold ? std::string("Auto") : Format0_000(threshold);
}

std::string BurstSpeedPanelText(int integrationLength) {
    return "BF: " + std::to_string(ShownBurstSpeed(integrationLength));
}

std::string BurstSpeedCaption(int integrationLength) {
    return "Burst Filter (" + std::to_string(ShownBurstSpeed(integrationLength)) + " LPM)";
}

}  // namespace dahlo

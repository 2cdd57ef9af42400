#pragma once
// Frequencies as the band view shows them: the radio frequency in kHz when the dial is known (a
// station is at dial + pitch, upper sideband), the audio pitch in Hz otherwise.

#include <QString>
#include <cstdint>

namespace dahlo {

// "14020.72 kHz" (dial known) or "900 Hz"; without the unit for a table cell.
QString BandFrequencyText(double pitchHz, std::int64_t dialHz, bool withUnit = true);
// "kHz" when the dial is known, else "Hz".
QString BandFrequencyUnit(std::int64_t dialHz);

// The spacing of a scale's labels in Hz: the smallest 1, 2 or 5 times a power of ten that keeps
// labels `minLabelPx` apart when `spanHz` takes `widthPx`.
double ScaleStepHz(double spanHz, int widthPx, int minLabelPx);
// A label of the scale at `hz` (audio, or RF when the dial is known) for that step: as many
// decimals of kHz as the step needs.
QString ScaleLabel(double hz, double stepHz, std::int64_t dialHz);

}  // namespace dahlo

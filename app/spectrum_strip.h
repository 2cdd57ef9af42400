#pragma once
// The spectrum strip: the peak hold (green) and the smoothed spectrum (blue) of bins 30..450, one
// column per bin, centred on a wide strip and cut at both ends on a narrow one, with the main
// filter's centre as a red line. A press or a drag over it tunes the filter to the bin under the
// pointer.

#include <QImage>

#include "app/paint_strip.h"
#include "dsp/spectrum.h"

namespace dahlo {

class SpectrumStrip final : public PaintStrip {
  public:
    explicit SpectrumStrip(QWidget* parent = nullptr);

    // Draws the spectrum with the marker at `centreBin` and shows it at once.
    void Paint(const SpectrumState& spectrum, int centreBin);

    // The bin shown in column `x`, as the last paint placed them (unclamped).
    int BinAt(int x) const;
    // Column of bin 30: positive on a strip wider than the bins, negative on a narrower one.
    int XOffset() const { return xOffset_; }

  private:
    int xOffset_ = 0;
};

}  // namespace dahlo

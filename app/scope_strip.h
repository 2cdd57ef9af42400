#pragma once
// The scope strip: the main channel's level history (green), one column per entry with the newest
// at the right, and the detector threshold as a red line. A press or a drag over it sets the
// threshold to the height of the pointer.

#include <QImage>

#include "app/paint_strip.h"
#include "receiver/block_pump.h"

namespace dahlo {

class ScopeStrip final : public PaintStrip {
  public:
    explicit ScopeStrip(QWidget* parent = nullptr);

    // Draws the levels and the threshold line. `immediate`: shown at once rather than with the
    // next repaint (not while a repaint of the window is under way).
    void Paint(const LevelHistory& levels, double threshold, bool immediate);

    // The threshold that row `y` stands for; false on a strip one pixel high, which has no scale.
    bool ThresholdAt(int y, double& threshold) const;
};

}  // namespace dahlo

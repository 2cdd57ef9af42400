#include "app/spectrum_strip.h"

#include <QPainter>
#include <QPolygon>

#include "dsp/main_filter.h"

namespace dahlo {

namespace {

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

}  // namespace

SpectrumStrip::SpectrumStrip(QWidget* parent) : PaintStrip(parent) {
    setObjectName("FFTBox");
}

int SpectrumStrip::BinAt(int x) const {
    return x - xOffset_ + kFirstBin;
}

void SpectrumStrip::Paint(const SpectrumState& spectrum, int centreBin) {
    if (painting_) return;
    painting_ = true;
    const int w = width();
    const int hTotal = height();
    const int h = hTotal - 1;
    QImage& picture = Picture();
    // Traces and marker are drawn within all but the last column and row, as on the scope; the
    // whole strip is painted, so nothing of the background shows.
    const QRect whole(0, 0, w, hTotal);
    const QRect area(0, 0, w - 1, hTotal - 1);
    xOffset_ = (w - kBinCount) / 2;
    QPainter painter(&picture);
    painter.fillRect(whole, kWhite);
    painter.setClipRect(area);

    auto trace = [&](const std::array<double, kFftLength>& v) {
        QPolygon line;
        if (xOffset_ > 0) {
            for (int k = kFirstBin; k <= kLastBin; ++k) {
                line << QPoint(xOffset_ + k - kFirstBin, StripRow(h, v[k]));
            }
        } else {
            for (int x = 0; x <= w - 1; ++x) {
                line << QPoint(x, StripRow(h, v[kFirstBin - xOffset_ + x]));
            }
        }
        return line;
    };
    painter.setPen(QPen(kGreen, 0));
    painter.drawPolyline(trace(spectrum.PeakHold));
    painter.setPen(QPen(kBlue, 0));
    painter.drawPolyline(trace(spectrum.SmoothedMagnitude));

    const int xc = centreBin + xOffset_ - kFirstBin;
    if (xc >= 0 && xc < w) {
        painter.setPen(QPen(kRed, 0));
        painter.drawLine(xc, hTotal - 1, xc, 0);
    }
    painter.end();
    if (!whole.isEmpty()) CopyFrom(picture, whole, true);
    painting_ = false;
}

}  // namespace dahlo

#include "app/scope_strip.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace dahlo {

namespace {

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

}  // namespace

ScopeStrip::ScopeStrip(QWidget* parent) : PaintStrip(parent) {
    setObjectName("PaintBox1");
    QPalette scopePalette = palette();
    scopePalette.setColor(QPalette::Window, kGreen);
    setPalette(scopePalette);
}

bool ScopeStrip::ThresholdAt(int y, double& threshold) const {
    const int h = height() - 1;
    if (h <= 0) return false;
    threshold = static_cast<double>(h - y) / h;
    return true;
}

void ScopeStrip::Paint(const LevelHistory& levels, double threshold, bool immediate) {
    if (painting_) return;
    painting_ = true;
    const int w = width();
    const int hTotal = height();
    const int h = hTotal - 1;
    QImage& picture = Picture();
    // The traces are drawn within all but the last column and row (where the newest entry and a
    // zero level fall); the whole strip is painted, so nothing of the background shows.
    const QRect whole(0, 0, w, hTotal);
    const QRect area(0, 0, w - 1, hTotal - 1);
    if (!whole.isEmpty()) {
        QPainter painter(&picture);
        painter.fillRect(whole, kWhite);
        painter.setClipRect(area);
        const int j0 =
            ((levels.newest - w + 1) % kLevelHistorySize + kLevelHistorySize) % kLevelHistorySize;
        QPolygon trace;
        trace.reserve(std::max(1, w - 1));
        for (int x = 0; x <= w - 2; ++x) {
            trace << QPoint(x, StripRow(h, levels.values[(j0 + x) % kLevelHistorySize]));
        }
        painter.setPen(QPen(kGreen, 0));
        if (trace.size() > 1) {
            painter.drawPolyline(trace);
        } else {
            painter.drawPoints(trace);
        }
        const int yT = StripRow(h, threshold);
        painter.setPen(QPen(kRed, 0));
        painter.drawLine(1, yT, w - 1, yT);
        painter.end();
        CopyFrom(picture, whole, immediate);
    }
    painting_ = false;
}

}  // namespace dahlo

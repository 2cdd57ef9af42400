#include "app/paint_strip.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace dahlo {

int StripRow(int h, double v) {
    double t = std::trunc(h * v);
    if (t > h) t = h;
    if (!(t >= -1.0)) t = -1.0;  // also NaN
    return h - static_cast<int>(t);
}

PaintStrip::PaintStrip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAutoFillBackground(true);
    setMinimumHeight(20);
}

void PaintStrip::ClearPicture() {
    picture_ = QImage(size(), QImage::Format_RGB32);
    picture_.fill(QColor(255, 255, 255));
}

QImage& PaintStrip::Picture() {
    if (picture_.size() != size()) ClearPicture();
    return picture_;
}

void PaintStrip::CopyFrom(const QImage& picture, const QRect& area, bool immediate) {
    if (shown_.size() != picture.size()) {
        shown_ = QImage(picture.size(), QImage::Format_RGB32);
        shown_.fill(palette().color(backgroundRole()));
    }
    QPainter painter(&shown_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area.topLeft(), picture, area);
    painter.end();
    shownArea_ = area;
    if (immediate) {
        repaint(area);
    } else {
        update(area);
    }
}

void PaintStrip::paintEvent(QPaintEvent* /*event*/) {
    if (shown_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(shownArea_.topLeft(), shown_, shownArea_);
}

void PaintStrip::mousePressEvent(QMouseEvent* event) {
    if (mouseHandler_) mouseHandler_(*this, MouseAction::kPress, event->position().toPoint());
}

void PaintStrip::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() != Qt::NoButton && mouseHandler_) {
        mouseHandler_(*this, MouseAction::kMove, event->position().toPoint());
    }
}

void PaintStrip::mouseReleaseEvent(QMouseEvent* event) {
    if (mouseHandler_) mouseHandler_(*this, MouseAction::kRelease, event->position().toPoint());
}

}  // namespace dahlo

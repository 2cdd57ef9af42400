#include "app/waterfall.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "dsp/main_filter.h"

namespace dahlo {

namespace {

constexpr int kBins = kLastBin - kFirstBin + 1;
// A full-scale sine (peak 32767) over 2048 samples gives |X| = 32767 * 1024 at its bin.
const double kFullScalePower = std::pow(32767.0 * 1024.0, 2.0);
constexpr int kTraceClickBins = 4;

}  // namespace

Waterfall::Waterfall(QWidget* parent) : QWidget(parent), rows_(kBins, kRows, QImage::Format_RGB32) {
    setObjectName("Waterfall");
    rows_.fill(Qt::black);
    setMouseTracking(true);
    setMinimumSize(300, 120);
    setCursor(Qt::CrossCursor);
}

double Waterfall::PowerToDbfs(double power) {
    return 10.0 * std::log10(std::max(power, 1e-30) / kFullScalePower);
}

QRgb Waterfall::ColourOf(double dbfs) const {
    const double t = std::clamp((dbfs - floorDb_) / std::max(contrastDb_, 1), 0.0, 1.0);
    // Black, blue, cyan, yellow, white.
    static constexpr double kStops[5][3] = {
        {0, 0, 0}, {0, 0, 200}, {0, 200, 220}, {255, 230, 0}, {255, 255, 255}};
    const double at = t * 4.0;
    const int i = std::min(3, static_cast<int>(at));
    const double f = at - i;
    const auto mix = [&](int c) {
        return static_cast<int>(std::lround(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c])));
    };
    return qRgb(mix(0), mix(1), mix(2));
}

void Waterfall::AddRow(const SpectrumState& spectrum) {
    const auto stride = static_cast<std::size_t>(rows_.bytesPerLine());
    std::memmove(rows_.bits() + stride, rows_.bits(), stride * (kRows - 1));
    auto* top = reinterpret_cast<QRgb*>(rows_.scanLine(0));
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        const double power =
            spectrum.SpectrumRe[k] * spectrum.SpectrumRe[k] + spectrum.SpectrumIm[k] * spectrum.SpectrumIm[k];
        top[k - kFirstBin] = ColourOf(PowerToDbfs(power));
    }
    update();
}

void Waterfall::SetLevels(int floorDb, int contrastDb) {
    floorDb_ = floorDb;
    contrastDb_ = contrastDb;
}

void Waterfall::SetMainCentre(int bin) {
    if (bin == mainCentre_) return;
    mainCentre_ = bin;
    update();
}

void Waterfall::SetTraces(std::vector<Trace> traces) {
    traces_ = std::move(traces);
    update();
}

int Waterfall::BinAt(int x) const {
    const double w = std::max(1, width());
    return std::clamp(kFirstBin + static_cast<int>(x * kBins / w), kFirstBin, kLastBin);
}

int Waterfall::XOf(int bin) const {
    return static_cast<int>((bin - kFirstBin + 0.5) * width() / kBins);
}

void Waterfall::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int rowsHeight = std::max(1, height() - kScaleHeight);
    painter.drawImage(QRect(0, 0, width(), rowsHeight), rows_);

    // Frequency scale: a tick every 100 Hz, a label every 500 Hz.
    painter.fillRect(0, rowsHeight, width(), kScaleHeight, palette().window());
    painter.setPen(palette().windowText().color());
    QFont font = painter.font();
    font.setPixelSize(10);
    painter.setFont(font);
    for (int hz = 200; hz <= 2400; hz += 100) {
        const int x = static_cast<int>((hz / kHzPerBin - kFirstBin) * width() / kBins);
        const bool label = hz % 500 == 0;
        painter.drawLine(x, rowsHeight, x, rowsHeight + (label ? 6 : 3));
        if (label) painter.drawText(x - 20, rowsHeight + 6, 40, 12, Qt::AlignCenter, QString::number(hz));
    }

    std::vector<Trace> byPitch = traces_;
    std::sort(byPitch.begin(), byPitch.end(),
              [](const Trace& a, const Trace& b) { return a.bin < b.bin; });
    std::array<int, 3> labelEnd{-1000, -1000, -1000};  // right edge of the last label per line
    for (const Trace& trace : byPitch) {
        const int x = XOf(trace.bin);
        painter.setPen(QPen(QColor(0, 255, 0), 1, Qt::DashLine));
        painter.drawLine(x, 14, x, rowsHeight);
        if (!trace.call.isEmpty()) {
            // On a dark box of its own, readable over any level; a close neighbour's call goes
            // on the next line.
            const QRect box = painter.fontMetrics().boundingRect(trace.call).adjusted(-2, -1, 2, 1);
            std::size_t line = 0;
            while (line + 1 < labelEnd.size() && labelEnd[line] > x + 3) ++line;
            const QRect label = box.translated(
                x + 3 - box.left(), 2 + static_cast<int>(line) * (box.height() + 1) - box.top());
            labelEnd[line] = label.right() + 2;
            painter.fillRect(label, QColor(0, 0, 0, 170));
            painter.setPen(QColor(0, 255, 0));
            painter.drawText(label, Qt::AlignCenter, trace.call);
        }
    }
    if (mainCentre_ >= kFirstBin) {
        const int x = XOf(mainCentre_);
        painter.setPen(QPen(QColor(255, 0, 0), 2));
        painter.drawLine(x, 0, x, rowsHeight);
    }
}

void Waterfall::mouseMoveEvent(QMouseEvent* event) {
    const int bin = BinAt(event->position().toPoint().x());
    emit Hovered(bin * kHzPerBin);
    setToolTip(QString("%1 Hz").arg(std::lround(bin * kHzPerBin)));
}

void Waterfall::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int bin = BinAt(event->position().toPoint().x());
    const Trace* nearest = nullptr;
    for (const Trace& trace : traces_) {
        if (std::abs(trace.bin - bin) <= kTraceClickBins &&
            (nearest == nullptr || std::abs(trace.bin - bin) < std::abs(nearest->bin - bin))) {
            nearest = &trace;
        }
    }
    if (nearest != nullptr) emit TraceClicked(nearest->bin);
}

void Waterfall::leaveEvent(QEvent*) {
    emit Hovered(-1.0);
}

}  // namespace dahlo

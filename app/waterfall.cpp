#include "app/waterfall.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "app/band_frequency.h"
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
    newest_ = (newest_ + kRows - 1) % kRows;  // a ring: no copy of the history per row
    auto* top = reinterpret_cast<QRgb*>(rows_.scanLine(newest_));
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
    std::sort(traces_.begin(), traces_.end(),
              [](const Trace& a, const Trace& b) { return a.bin < b.bin; });
    update();
}

void Waterfall::SetDialHz(std::int64_t dialHz) {
    if (dialHz == dialHz_) return;
    dialHz_ = dialHz;
    update();
}

QString Waterfall::FrequencyOf(int bin) const {
    return BandFrequencyText(bin * kHzPerBin, dialHz_);
}

int Waterfall::BinAt(int x) const {
    const double w = std::max(1, width());
    return std::clamp(kFirstBin + static_cast<int>(x * kBins / w), kFirstBin, kLastBin);
}

double Waterfall::XOfHz(double pitchHz) const {
    return (pitchHz / kHzPerBin - kFirstBin + 0.5) * width() / kBins;
}

int Waterfall::XOf(int bin) const {
    return static_cast<int>(XOfHz(bin * kHzPerBin));
}

void Waterfall::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int rowsHeight = std::max(1, height() - kScaleHeight);
    // The ring from its newest row down, then the part that wrapped round.
    const double rowPx = static_cast<double>(rowsHeight) / kRows;
    const int older = kRows - newest_;
    painter.drawImage(QRectF(0, 0, width(), older * rowPx), rows_,
                      QRectF(0, newest_, kBins, older));
    if (newest_ > 0) {
        painter.drawImage(QRectF(0, older * rowPx, width(), newest_ * rowPx), rows_,
                          QRectF(0, 0, kBins, newest_));
    }
    PaintScale(painter, rowsHeight);
    PaintTraces(painter, rowsHeight);
    if (mainCentre_ >= kFirstBin) {
        const int x = XOf(mainCentre_);
        painter.setPen(QPen(QColor(255, 0, 0), 2));
        painter.drawLine(x, 0, x, rowsHeight);
    }
}

void Waterfall::PaintScale(QPainter& painter, int top) {
    painter.fillRect(0, top, width(), kScaleHeight, palette().window());
    painter.setPen(palette().windowText().color());
    QFont font = painter.font();
    font.setPixelSize(10);
    painter.setFont(font);
    const QString unit = BandFrequencyUnit(dialHz_);
    const int unitWidth = painter.fontMetrics().horizontalAdvance(unit) + 4;
    painter.drawText(width() - unitWidth, top + 6, unitWidth, 12, Qt::AlignRight, unit);

    const double lowHz = (kFirstBin - 0.5) * kHzPerBin;
    const double highHz = (kLastBin + 0.5) * kHzPerBin;
    const double step = ScaleStepHz(highHz - lowHz, width(), kMinLabelSpacingPx);
    const double dial = static_cast<double>(std::max<std::int64_t>(dialHz_, 0));
    // Ticks at the scale's own round numbers (RF when the dial is known), a minor one halfway.
    const double half = step / 2;
    for (auto n = static_cast<std::int64_t>(std::ceil((dial + lowHz) / half));
         n * half <= dial + highHz; ++n) {
        const double f = static_cast<double>(n) * half;
        const int x = static_cast<int>(XOfHz(f - dial));
        const bool major = n % 2 == 0;
        painter.drawLine(x, top, x, top + (major ? 5 : 2));
        if (!major) continue;
        const QString label = ScaleLabel(f, step, dialHz_);
        const int halfWidth = painter.fontMetrics().horizontalAdvance(label) / 2 + 1;
        if (x - halfWidth < 0 || x + halfWidth > width() - unitWidth) continue;  // inside only
        painter.drawText(x - halfWidth, top + 6, 2 * halfWidth, 12, Qt::AlignCenter, label);
    }
}

void Waterfall::PaintTraces(QPainter& painter, int rowsHeight) {
    labelBoxes_.clear();
    std::array<int, kLabelLines> lineEnd;  // right edge of the last call on each line
    lineEnd.fill(-1);
    for (const Trace& trace : traces_) {
        const int x = XOf(trace.bin);
        const QColor colour = trace.stale ? QColor(150, 150, 150) : QColor(0, 255, 0);
        painter.setPen(QPen(colour, 1, Qt::DashLine));
        painter.drawLine(x, 14, x, rowsHeight);
        if (trace.call.isEmpty()) continue;
        // On a dark box of its own, readable over any level; right of its trace, or left of
        // it near the right edge; a close neighbour's call goes on the next free line.
        const QRect text = painter.fontMetrics().boundingRect(trace.call).adjusted(-2, -1, 2, 1);
        const int left = std::clamp(x + 3, 0, std::max(0, width() - text.width() - 1));
        int line = 0;
        while (line < kLabelLines && lineEnd[static_cast<std::size_t>(line)] >= left) ++line;
        if (line == kLabelLines) continue;
        const QRect box(left, 2 + line * (text.height() + 1), text.width(), text.height());
        if (box.bottom() >= rowsHeight) continue;
        lineEnd[static_cast<std::size_t>(line)] = box.right() + 2;
        labelBoxes_.push_back(box);
        painter.fillRect(box, QColor(0, 0, 0, 170));
        painter.setPen(colour);
        painter.drawText(box, Qt::AlignCenter, trace.call);
    }
}

const Waterfall::Trace* Waterfall::TraceNear(int x) const {
    const int bin = BinAt(x);
    const Trace* nearest = nullptr;
    for (const Trace& trace : traces_) {
        if (std::abs(trace.bin - bin) <= kTraceClickBins &&
            (nearest == nullptr || std::abs(trace.bin - bin) < std::abs(nearest->bin - bin))) {
            nearest = &trace;
        }
    }
    return nearest;
}

void Waterfall::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    const int bin = BinAt(x);
    emit Hovered(bin * kHzPerBin);
    const Trace* trace = TraceNear(x);
    setToolTip(trace != nullptr && !trace->call.isEmpty()
                   ? trace->call + "  " + FrequencyOf(trace->bin)
                   : FrequencyOf(bin));
}

void Waterfall::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const Trace* trace = TraceNear(event->position().toPoint().x());
    if (trace != nullptr) emit TraceClicked(trace->channel);
}

void Waterfall::leaveEvent(QEvent*) {
    emit Hovered(-1.0);
}

}  // namespace dahlo

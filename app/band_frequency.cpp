#include "app/band_frequency.h"

#include <cmath>

namespace dahlo {

namespace {

// 10 Hz: finer than that a 5.4 Hz bin does not tell.
constexpr int kRfDecimals = 2;

}  // namespace

QString BandFrequencyText(double pitchHz, std::int64_t dialHz, bool withUnit) {
    const QString number =
        dialHz > 0
            ? QString::number((static_cast<double>(dialHz) + pitchHz) / 1000.0, 'f', kRfDecimals)
            : QString::number(std::lround(pitchHz));
    return withUnit ? number + ' ' + BandFrequencyUnit(dialHz) : number;
}

QString BandFrequencyUnit(std::int64_t dialHz) {
    return dialHz > 0 ? QStringLiteral("kHz") : QStringLiteral("Hz");
}

double ScaleStepHz(double spanHz, int widthPx, int minLabelPx) {
    const double wanted = spanHz * std::max(minLabelPx, 1) / std::max(widthPx, 1);
    for (double decade = 1.0;; decade *= 10.0) {
        for (const double mantissa : {1.0, 2.0, 5.0}) {
            if (mantissa * decade >= wanted) return mantissa * decade;
        }
    }
}

QString ScaleLabel(double hz, double stepHz, std::int64_t dialHz) {
    if (dialHz <= 0) return QString::number(std::lround(hz));
    const int decimals = stepHz >= 1000.0 ? 0 : stepHz >= 100.0 ? 1 : stepHz >= 10.0 ? 2 : 3;
    return QString::number(hz / 1000.0, 'f', decimals);
}

}  // namespace dahlo

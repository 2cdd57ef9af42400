#pragma once
// The band view's waterfall: one row per block of the receiver's own spectrum (161..2422 Hz) in
// dB, newest at the top, over a frequency scale in Hz; the main receiver's centre and the
// skimmer's channels with their calls marked on it.

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

#include "dsp/spectrum.h"

namespace dahlo {

class Waterfall : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kRows = 300;
    static constexpr int kScaleHeight = 18;  // the frequency scale below the rows

    explicit Waterfall(QWidget* parent = nullptr);

    // A new row from the transform in spectrum.SpectrumRe/Im.
    void AddRow(const SpectrumState& spectrum);
    // Levels from `floorDb` (black) to floorDb + contrastDb (white), in dB below full scale.
    void SetLevels(int floorDb, int contrastDb);
    void SetMainCentre(int bin);
    struct Trace {
        int bin;
        QString call;
    };
    void SetTraces(std::vector<Trace> traces);

    // The bin under x (30..450), and the x of a bin's middle.
    int BinAt(int x) const;
    int XOf(int bin) const;
    // The level in dB below full scale a power of the transform stands for.
    static double PowerToDbfs(double power);

  signals:
    // The pointer is over `hz` (or has left: -1).
    void Hovered(double hz);
    // A click on a channel's trace.
    void TraceClicked(int bin);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QRgb ColourOf(double dbfs) const;

    QImage rows_;  // one column per bin of 30..450
    int floorDb_ = -95;
    int contrastDb_ = 70;
    int mainCentre_ = -1;
    std::vector<Trace> traces_;
};

}  // namespace dahlo

#pragma once
// The band view's waterfall: one row per block of the receiver's own spectrum (161..2422 Hz) in
// dB, newest at the top, over a frequency scale (kHz when the dial is known, else audio Hz); the
// main receiver's centre and the skimmer's channels with their calls marked on it. Calls go on
// up to kLabelLines lines without overlapping each other or the edges; one that finds no room is
// left out (the table has it).

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "dsp/spectrum.h"

class QPainter;

namespace dahlo {

class Waterfall : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kRows = 300;
    static constexpr int kScaleHeight = 18;  // the frequency scale below the rows
    static constexpr int kLabelLines = 4;
    static constexpr int kMinLabelSpacingPx = 64;  // room for "14020.5" and a gap

    explicit Waterfall(QWidget* parent = nullptr);

    // A new row from the transform in spectrum.SpectrumRe/Im.
    void AddRow(const SpectrumState& spectrum);
    // Levels from `floorDb` (black) to floorDb + contrastDb (white), in dB below full scale.
    void SetLevels(int floorDb, int contrastDb);
    void SetMainCentre(int bin);
    struct Trace {
        int channel;
        int bin;
        QString call;
        bool stale;  // not heard for a while: drawn grey
    };
    void SetTraces(std::vector<Trace> traces);
    // The radio's dial in Hz (0: unknown).
    void SetDialHz(std::int64_t dialHz);
    // The frequency text for a bin, as the scale counts.
    QString FrequencyOf(int bin) const;

    // The bin under x (30..450), and the x of a bin's middle.
    int BinAt(int x) const;
    int XOf(int bin) const;
    // Where the calls were drawn last, for a look at their layout.
    const std::vector<QRect>& LabelBoxes() const { return labelBoxes_; }
    // The level in dB below full scale a power of the transform stands for.
    static double PowerToDbfs(double power);

  signals:
    // The pointer is over `hz` (or has left: -1).
    void Hovered(double hz);
    // A click on a channel's trace.
    void TraceClicked(int channel);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    QRgb ColourOf(double dbfs) const;
    double XOfHz(double pitchHz) const;
    void PaintScale(QPainter& painter, int top);
    void PaintTraces(QPainter& painter, int rowsHeight);
    const Trace* TraceNear(int x) const;

    QImage rows_;  // one column per bin of 30..450; a ring of rows, the newest at newest_
    int newest_ = 0;
    std::int64_t dialHz_ = 0;
    std::vector<QRect> labelBoxes_;
    int floorDb_ = -95;
    int contrastDb_ = 70;
    int mainCentre_ = -1;
    std::vector<Trace> traces_;
};

}  // namespace dahlo

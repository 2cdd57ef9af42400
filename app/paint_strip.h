#pragma once
// A drawing strip (the spectrum and the scope): shows the last picture its painter copied onto
// it and reports the mouse to the window, which decides what a press or a drag means.

#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

namespace dahlo {

// Row of value `v` on a strip whose bottom row is `h`: h - min(h, trunc(h * v)). Values of 1 or
// more reach the top row; values below 0 fall under the strip.
int StripRow(int h, double v);

class PaintStrip : public QWidget {
    Q_OBJECT

  public:
    enum class MouseAction { kPress, kMove, kRelease };
    using MouseHandler = std::function<void(PaintStrip& strip, MouseAction action, QPoint pos)>;

    explicit PaintStrip(QWidget* parent = nullptr);

    // Takes `area` of `picture` and shows it at the same place at once.
    void CopyFrom(const QImage& picture, const QRect& area, bool immediate);

    // What the strip shows now (white until the first copy), for tests and screenshots.
    const QImage& Shown() const { return shown_; }

    void SetMouseHandler(MouseHandler handler) { mouseHandler_ = std::move(handler); }

    // Starts over from a white picture of the strip's size.
    void ClearPicture();

  protected:
    // The picture the strip's painter draws on before copying it; a white one of the strip's
    // size when its size changed.
    QImage& Picture();
    // Set while the painter draws: a paint asked for meanwhile (from a message pumped during
    // the copy) is skipped.
    bool painting_ = false;

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QImage picture_;
    QImage shown_;
    QRect shownArea_;
    MouseHandler mouseHandler_;
};

}  // namespace dahlo

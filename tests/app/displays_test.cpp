// The spectrum and scope strips: where the traces land, and what clicks and drags tune.
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include "app/paint_strip.h"
#include "app_fixture.h"

namespace dahlo::test {
namespace {

const QRgb kWhitePixel = qRgb(255, 255, 255);
const QRgb kGreenPixel = qRgb(0, 128, 0);
const QRgb kBluePixel = qRgb(0, 0, 255);
const QRgb kRedPixel = qRgb(255, 0, 0);

class DisplayTest : public WindowTest {
  protected:
    // Shows the window with strips `width` wide and a scope `scopeHeight` high.
    void Show(int width, int scopeHeight = 50) {
        CreateShownAndActive();
        form->resize(width, 400);
        QCoreApplication::processEvents();
        const QList<int> sizes = form->textSplitter->sizes();
        form->textSplitter->setSizes({sizes[0] + sizes[1] - scopeHeight, scopeHeight});
        QCoreApplication::processEvents();
        ASSERT_EQ(form->spectrumStrip->width(), width);
        ASSERT_EQ(form->scopeStrip->height(), scopeHeight);
    }

    void Press(PaintStrip* strip, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(strip, button, Qt::NoModifier, at);
    }
    void Release(PaintStrip* strip, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(strip, button, Qt::NoModifier, at);
    }
    void Click(PaintStrip* strip, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        Press(strip, at, button);
        Release(strip, at, button);
    }
    // A point of `over`, in the coordinates of `from` (the strip that holds the mouse).
    QPoint Across(PaintStrip* from, PaintStrip* over, QPoint at) {
        return from->mapFrom(form.get(), over->mapTo(form.get(), at));
    }

    int Bin() const { return form->receiver.Main().CentreBin; }
};

TEST_F(DisplayTest, WideSpectrumIsCentredAndClicksPickTheBinUnderThePointer) {
    Show(426);
    form->PaintSpectrum();
    EXPECT_EQ(form->spectrumStrip->XOffset(), 2);
    Click(form->spectrumStrip, {2, 10});
    EXPECT_EQ(Bin(), 30);
    Click(form->spectrumStrip, {157, 10});
    EXPECT_EQ(Bin(), 185);
    Click(form->spectrumStrip, {0, 10});
    EXPECT_EQ(Bin(), 30);
    Click(form->spectrumStrip, {422, 10});
    EXPECT_EQ(Bin(), 450);
    Click(form->spectrumStrip, {425, 10});
    EXPECT_EQ(Bin(), 450);
    EXPECT_EQ(form->receiver.Main().Filter().CurrentRow(), &FilterCoefficientTables(0).Row(450));
}

TEST_F(DisplayTest, NarrowSpectrumCutsBothEnds) {
    Show(301);
    form->PaintSpectrum();
    EXPECT_EQ(form->spectrumStrip->XOffset(), -60);
    Click(form->spectrumStrip, {0, 10}, Qt::RightButton);  // any button
    EXPECT_EQ(Bin(), 90);
    Click(form->spectrumStrip, {300, 10});
    EXPECT_EQ(Bin(), 390);
}

TEST_F(DisplayTest, ClickBeforeTheFirstPaintUsesOffsetZero) {
    Show(426);
    Click(form->spectrumStrip, {10, 10});
    EXPECT_EQ(Bin(), 40);
}

TEST_F(DisplayTest, FrequencyPanelFollowsTheCentreAtTheNextPaint) {
    Show(426);
    EXPECT_EQ(Panel(1), "996 Hz");
    form->PaintSpectrum();  // the first paint always writes it
    EXPECT_EQ(Panel(1), "0996 Hz");
    form->ShowStatus(kPanelFrequency, "x");
    form->PaintSpectrum();  // unchanged centre: left alone
    EXPECT_EQ(Panel(1), "x");
    Click(form->spectrumStrip, {2, 10});
    EXPECT_EQ(Panel(1), "x");  // the click itself writes nothing
    form->PaintSpectrum();
    EXPECT_EQ(Panel(1), "0161 Hz");
    Click(form->spectrumStrip, {422, 10});
    form->PaintSpectrum();
    EXPECT_EQ(Panel(1), "2422 Hz");
}

TEST_F(DisplayTest, SpectrumTracesAndMarker) {
    Show(426);
    SpectrumState& s = form->receiver.spectrum;
    s.PeakHold.fill(0.0);
    s.SmoothedMagnitude.fill(0.0);
    s.PeakHold[100] = 7.5;           // clipped to the top row, never wrapped
    s.SmoothedMagnitude[300] = 0.5;  // h = 49: row 49 - 24 = 25
    form->PaintSpectrum();
    const QImage& shown = form->spectrumStrip->Shown();
    const int h = form->spectrumStrip->height() - 1;
    EXPECT_EQ(shown.pixel(2 + 100 - 30, 0), kGreenPixel);
    EXPECT_EQ(shown.pixel(2 + 300 - 30, h - static_cast<int>(h * 0.5)), kBluePixel);
    EXPECT_EQ(shown.pixel(157, 20), kRedPixel);  // the marker at bin 185
    EXPECT_EQ(shown.pixel(1, 20), kWhitePixel);  // margin left of bin 30
    EXPECT_EQ(shown.pixel(200, 10), kWhitePixel);
}

TEST_F(DisplayTest, NoMarkerWhenTheCentreIsOffTheNarrowStrip) {
    Show(301);
    form->receiver.Main().SetCentreBin(40);  // column -50
    form->PaintSpectrum();
    const QImage& shown = form->spectrumStrip->Shown();
    for (int x = 0; x < shown.width() - 1; ++x) {
        ASSERT_NE(shown.pixel(x, 20), kRedPixel) << "column " << x;
    }
}

TEST_F(DisplayTest, ScopeClicksSetTheThresholdFromTheRow) {
    Show(426, 50);
    Click(form->scopeStrip, {5, 0});
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 1.0);
    EXPECT_EQ(Panel(3), "1.000");
    Click(form->scopeStrip, {5, 49});
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 0.0);
    Click(form->scopeStrip, {5, 24}, Qt::MiddleButton);
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 25.0 / 49.0);
    EXPECT_EQ(Panel(3), "0.510");

    form->toolbar->autoThresholdButton->click();
    Click(form->scopeStrip, {5, 10});
    EXPECT_EQ(Panel(3), "Auto");
}

TEST_F(DisplayTest, ScopeDrawsTheHistoryEndingAtTheNewestEntryAndTheThreshold) {
    Show(426, 50);
    LevelHistory& levels = form->receiver.levels;
    levels.Clear();
    levels.newest = 3;
    const int w = form->scopeStrip->width();
    // Column x shows the entry w - 1 - x before the newest.
    const int column = 100;
    levels.values[((levels.newest - (w - 1 - column)) % 1024 + 1024) % 1024] = 2.0;
    form->receiver.Main().DetectorThreshold = 0.5;
    form->PaintScope();
    const QImage& shown = form->scopeStrip->Shown();
    EXPECT_EQ(shown.pixel(column, 0), kGreenPixel);
    EXPECT_EQ(shown.pixel(200, 25), kRedPixel);    // 49 - trunc(24.5)
    EXPECT_EQ(shown.pixel(200, 48), kWhitePixel);  // a zero level lies on row 49, not drawn
}

TEST_F(DisplayTest, BothStripsPaintTheirLastColumnAndRow) {
    Show(301, 50);  // a narrow spectrum: its traces run to the last column
    form->receiver.spectrum.PeakHold.fill(0.5);
    form->receiver.spectrum.SmoothedMagnitude.fill(0.0);
    form->receiver.levels.values.fill(0.5);
    form->receiver.Main().DetectorThreshold = 0.25;
    form->PaintSpectrum();
    form->PaintScope();
    for (const PaintStrip* strip : {static_cast<PaintStrip*>(form->spectrumStrip),
                                    static_cast<PaintStrip*>(form->scopeStrip)}) {
        const QImage& shown = strip->Shown();
        ASSERT_EQ(shown.size(), strip->size());
        const int right = shown.width() - 1;
        const int bottom = shown.height() - 1;
        for (int y = 0; y <= bottom; ++y) {
            ASSERT_EQ(shown.pixel(right, y), kWhitePixel)
                << strip->objectName().toStdString() << " row " << y;
        }
        for (int x = 0; x <= right; ++x) {
            ASSERT_EQ(shown.pixel(x, bottom), kWhitePixel)
                << strip->objectName().toStdString() << " column " << x;
        }
        // The traces run up to them.
        bool traced = false;
        for (int y = 0; y < bottom; ++y) {
            traced = traced || shown.pixel(right - 1, y) != kWhitePixel;
        }
        EXPECT_TRUE(traced) << strip->objectName().toStdString();
    }
}

TEST_F(DisplayTest, DragFromTheSpectrumOverTheScopeSetsTheThreshold) {
    Show(426, 50);
    form->PaintSpectrum();
    Press(form->spectrumStrip, {157, 10});
    EXPECT_EQ(Bin(), 185);
    const QPoint overScope = Across(form->spectrumStrip, form->scopeStrip, {5, 24});
    QTest::mouseMove(form->spectrumStrip, overScope);
    EXPECT_EQ(Panel(3), "0.510");
    EXPECT_EQ(Bin(), 185);
    Release(form->spectrumStrip, overScope);
}

TEST_F(DisplayTest, DragFromTheScopeOverTheSpectrumTunes) {
    Show(426, 50);
    form->PaintSpectrum();
    Press(form->scopeStrip, {5, 0});
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 1.0);
    QTest::mouseMove(form->scopeStrip, Across(form->scopeStrip, form->spectrumStrip, {60, 10}));
    EXPECT_EQ(Bin(), 88);
    QTest::mouseMove(form->scopeStrip, Across(form->scopeStrip, form->spectrumStrip, {2, 10}));
    EXPECT_EQ(Bin(), 30);
    EXPECT_DOUBLE_EQ(form->receiver.Main().DetectorThreshold, 1.0);
    Release(form->scopeStrip, Across(form->scopeStrip, form->spectrumStrip, {2, 10}));
}

}  // namespace
}  // namespace dahlo::test

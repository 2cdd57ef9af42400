#pragma once
// The band view: a window of its own with the waterfall of the whole band, its floor and contrast,
// and a table of the signals the skimmer follows (pitch, speed, SNR, call, last characters),
// newest activity first. A double-click on a row or a click on a trace asks the main receiver
// to tune there.

#include <QWidget>
#include <vector>

#include "dsp/spectrum.h"
#include "settings/settings.h"
#include "skimmer/skimmer.h"

class QLabel;
class QSlider;
class QTableWidget;

namespace dahlo {

class Waterfall;

class BandView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kDefaultWidth = 640;
    static constexpr int kDefaultHeight = 480;

    explicit BandView(QWidget* parent = nullptr);

    Waterfall* waterfall = nullptr;
    QSlider* floor = nullptr;
    QSlider* contrast = nullptr;
    QLabel* pointer = nullptr;  // the frequency under the pointer
    QTableWidget* stations = nullptr;

    // Place, outer size and levels from the settings file (-1: the defaults), and back.
    void ApplySettings(const BandSettings& settings);
    BandSettings CollectSettings() const;

    // After every block while it is open.
    void AddSpectrum(const SpectrumState& spectrum, int mainCentreBin);
    void ShowStations(const std::vector<StationView>& views);

  signals:
    void TuneRequested(int bin);
    void Closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void RowActivated(int row);
    std::vector<int> rowBins_;
};

}  // namespace dahlo

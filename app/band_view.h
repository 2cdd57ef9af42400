#pragma once
// The band view: a window of its own with the waterfall of the whole band, its floor and contrast,
// the stations the skimmer follows (one row each, kept on its station while rows are added,
// re-sorted or greyed) and the spots, newest first. Double-click, Enter or a click on a trace
// asks the main receiver to take a station over; a row's menu also copies its call, sends it to
// the logger and shows its spots. Escape or Ctrl+W closes.

#include <QWidget>
#include <cstdint>
#include <vector>

#include "dsp/spectrum.h"
#include "settings/settings.h"
#include "skimmer/skimmer.h"
#include "skimmer/spot.h"

class QAction;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QSlider;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace dahlo {

class StationTable;
class Waterfall;

class BandView : public QWidget, public SpotListener {
    Q_OBJECT

  public:
    static constexpr int kDefaultWidth = 960;
    static constexpr int kDefaultHeight = 700;
    static constexpr int kSpotRows = 500;  // the oldest spots leave the list beyond this

    explicit BandView(QWidget* parent = nullptr);

    Waterfall* waterfall = nullptr;
    QSlider* floor = nullptr;
    QSlider* contrast = nullptr;
    QLabel* floorValue = nullptr;
    QLabel* contrastValue = nullptr;
    QLabel* pointer = nullptr;  // the frequency under the pointer
    StationTable* stationModel = nullptr;
    QSortFilterProxyModel* stationOrder = nullptr;  // by frequency unless a header says otherwise
    QTableView* stations = nullptr;
    QStandardItemModel* spotModel = nullptr;  // newest first
    QSortFilterProxyModel* spotFilter = nullptr;
    QLineEdit* spotCall = nullptr;  // shows only this call's spots when not empty
    QTableView* spots = nullptr;
    QMenu* stationMenu = nullptr;
    QAction* tuneAction = nullptr;
    QAction* copyCallAction = nullptr;
    QAction* logCallAction = nullptr;
    QAction* showSpotsAction = nullptr;

    // Place, outer size and levels from the settings file (-1: the defaults), and back.
    void ApplySettings(const BandSettings& settings);
    BandSettings CollectSettings() const;
    // The radio's dial in Hz (0: unknown; frequencies in audio Hz).
    void SetDialHz(std::int64_t dialHz);

    // After every block while it is open; `now` is the sample after the block.
    void AddSpectrum(const SpectrumState& spectrum, int mainCentreBin);
    void ShowStations(const std::vector<StationView>& views, std::int64_t now);

    // The station of the selected row, or nullptr.
    const StationView* SelectedStation() const;
    void SelectStation(int channel);

    // SpotListener
    void OnSpot(const Spot& spot) override;

  signals:
    // The main receiver should take `station` over.
    void TuneRequested(const dahlo::StationView& station);
    // `call` should go to the logger's Call field.
    void LogCallRequested(const QString& call);
    void Closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls(QWidget* parent, QBoxLayout& layout);
    void CreateStationTable(QWidget* parent);
    void CreateSpotList(QWidget* parent);
    void CreateStationMenu();
    void ShowLevels();
    void TuneRow(const QModelIndex& index);
    void TuneSelected();
    void CopyCall();
    void LogCall();
    void ShowSpotsOfCall();
    void OpenStationMenu(const QPoint& at);
};

}  // namespace dahlo

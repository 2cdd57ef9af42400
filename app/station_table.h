#pragma once
// The band view's stations as a table model: one row per station, bound to the skimmer channel
// that follows it now and updated in place (a view sorting through a proxy keeps its selection on
// the station). A station greys out after kStaleS without a character and leaves after kGoneS,
// also when the skimmer has closed its channel before that. The skimmer closes a channel soon
// after its tone stops and opens a new one when the station comes back: a new channel within
// kSameStationHz of a row whose channel has closed, or one that hears that row's call, takes the
// row over, with its call and text, instead of adding a second row for the same station.

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "skimmer/skimmer.h"

namespace dahlo {

class StationTable : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kFrequency, kWpm, kSnr, kCall, kHeard, kText, kColumns };
    static constexpr int kSortRole = Qt::UserRole;         // numbers sort as numbers
    static constexpr int kChannelRole = Qt::UserRole + 1;  // the row's channel id
    static constexpr double kStaleS = 15.0;  // long enough for a station listening to a reply
    static constexpr double kGoneS = 60.0;   // a QSO's pause is over by then
    // The finder never opens two channels this close (a station's keying spread is at least
    // 38 Hz), so a new channel this near a closed one is the same station back again.
    static constexpr double kSameStationHz = 40.0;

    explicit StationTable(QObject* parent = nullptr);

    // The skimmer's stations at sample `now`: rows change in place, a returning station takes
    // its old row back, new ones are added, those not heard for kGoneS leave.
    void Update(const std::vector<StationView>& views, std::int64_t now);
    // The radio's dial in Hz (0: unknown, pitches in audio Hz).
    void SetDialHz(std::int64_t dialHz);
    std::int64_t DialHz() const { return dialHz_; }

    // The station of model row `row`, or of channel `id`; nullptr when there is none.
    const StationView* StationAt(int row) const;
    const StationView* StationOf(int channel) const;
    bool IsStale(const StationView& station) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    // What a row shows, so that a block repaints only the cells that changed.
    struct Shown {
        int bin = -1;
        long wpm = 0;
        long snrDb = 0;
        std::string call;
        long heardS = 0;
        std::string recent;
        bool stale = false;
        bool operator==(const Shown&) const = default;
    };
    struct Row {
        StationView station;  // its call and text include those of its earlier channels
        std::string earlier;  // the text heard on its earlier channels (Windows-1251)
        bool open = true;     // its channel is still in the skimmer's list
        Shown shown;          // as the views last heard of it
    };

    // The row of `view`'s channel, or of the closed row it takes over; rows_.end() when neither.
    std::vector<Row>::iterator RowFor(const StationView& view);
    // The closed row, other than `except`, with `view`'s call; else, with `except` null and no
    // two calls to tell them apart, the nearest within kSameStationHz (rows_.end(): none).
    std::vector<Row>::iterator ClosedRowOf(const StationView& view, const Row* except);
    static void Bind(Row& row, const StationView& view);
    Shown ShownOf(const StationView& station) const;
    // Tells the views of the cells of `row` that show something new.
    void ReportChanges(int row);
    long HeardS(const StationView& station) const;
    double SecondsSince(std::int64_t sample) const;
    // The text shown: the newest characters, without a word cut off at their start.
    static QString WholeWords(const std::string& recent);

    std::vector<Row> rows_;  // model order: as they came
    std::int64_t now_ = 0;
    std::int64_t dialHz_ = 0;
};

}  // namespace dahlo

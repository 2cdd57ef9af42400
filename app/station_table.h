#pragma once
// The band view's stations as a table model: one row per skimmer channel, kept by its channel
// id, updated in place (a view sorting through a proxy keeps its selection on the station). A
// station greys out after kStaleS without a character and leaves after kGoneS, also when the
// skimmer has closed its channel before that.

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

    explicit StationTable(QObject* parent = nullptr);

    // The skimmer's stations at sample `now`: rows change in place, new ones are added, those not
    // heard for kGoneS leave.
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
    double SecondsSince(std::int64_t sample) const;
    // The text shown: the newest characters, without a word cut off at their start.
    static QString WholeWords(const std::string& recent);

    std::vector<StationView> rows_;  // model order: as they came
    std::int64_t now_ = 0;
    std::int64_t dialHz_ = 0;
};

}  // namespace dahlo

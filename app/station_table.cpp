#include "app/station_table.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <array>
#include <cmath>

#include "app/band_frequency.h"
#include "app/cp1251.h"
#include "dsp/main_filter.h"
#include "dsp/sample_rate.h"

namespace dahlo {

StationTable::StationTable(QObject* parent) : QAbstractTableModel(parent) {}

double StationTable::SecondsSince(std::int64_t sample) const {
    return static_cast<double>(now_ - sample) / kSampleRateHz;
}

bool StationTable::IsStale(const StationView& station) const {
    return SecondsSince(station.lastActivity) > kStaleS;
}

namespace {

// `earlier` then `later`, a space between, the newest kRecentCharacters of them.
std::string Joined(const std::string& earlier, const std::string& later) {
    if (earlier.empty()) return later;
    if (later.empty()) return earlier;
    const bool spaced = earlier.back() == ' ' || later.front() == ' ';
    std::string text = spaced ? earlier + later : earlier + ' ' + later;
    if (text.size() > Skimmer::kRecentCharacters)
        text.erase(0, text.size() - Skimmer::kRecentCharacters);
    return text;
}

}  // namespace

void StationTable::Bind(Row& row, const StationView& view) {
    // A new channel has no call until it hears one again: the row keeps its station's.
    std::string call = view.call.empty() ? row.station.call : view.call;
    row.station = view;
    row.station.call = std::move(call);
    row.station.recent = Joined(row.earlier, view.recent);
    row.open = true;
}

std::vector<StationTable::Row>::iterator StationTable::ClosedRowOf(const StationView& view,
                                                                   const Row* except) {
    const auto closed = [&](const Row& r) { return !r.open && &r != except; };
    if (!view.call.empty()) {
        const auto same = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) {
            return closed(r) && r.station.call == view.call;
        });
        if (same != rows_.end() || except != nullptr) return same;
    }
    auto nearest = rows_.end();
    double nearestHz = kSameStationHz;
    for (auto it = rows_.begin(); it != rows_.end(); ++it) {
        const double apartHz = std::abs(it->station.centreBin - view.centreBin) * kHzPerBin;
        // Another call heard there is another station.
        const bool otherCall = !view.call.empty() && !it->station.call.empty();
        if (closed(*it) && !otherCall && apartHz <= nearestHz) {
            nearest = it;
            nearestHz = apartHz;
        }
    }
    return nearest;
}

std::vector<StationTable::Row>::iterator StationTable::RowFor(const StationView& view) {
    const auto own = std::find_if(rows_.begin(), rows_.end(),
                                  [&](const Row& r) { return r.station.channel == view.channel; });
    if (own == rows_.end()) {
        // A new channel: the station's old row comes back to life, if it has one.
        const auto old = ClosedRowOf(view, nullptr);
        if (old != rows_.end()) old->earlier = old->station.recent;
        return old;
    }
    if (view.call.empty() || view.call == own->station.call) return own;
    // It has just heard its call: a closed row of that call is this station's, and takes over.
    const auto old = ClosedRowOf(view, &*own);
    if (old == rows_.end()) return own;
    old->earlier = Joined(old->station.recent, own->earlier);
    const int row = static_cast<int>(own - rows_.begin());
    const int oldRow = static_cast<int>(old - rows_.begin());
    beginRemoveRows({}, row, row);
    rows_.erase(own);
    endRemoveRows();
    return rows_.begin() + (oldRow > row ? oldRow - 1 : oldRow);
}

void StationTable::Update(const std::vector<StationView>& views, std::int64_t now) {
    now_ = now;
    for (Row& row : rows_) {
        row.open = std::any_of(views.begin(), views.end(), [&](const StationView& v) {
            return v.channel == row.station.channel;
        });
    }
    for (const StationView& view : views) {
        const auto it = RowFor(view);
        if (it != rows_.end()) {
            Bind(*it, view);
            continue;
        }
        const int row = static_cast<int>(rows_.size());
        beginInsertRows({}, row, row);
        rows_.push_back({});
        Bind(rows_.back(), view);
        endInsertRows();
    }
    // A closed channel keeps its row, greyed, until it has been silent for kGoneS.
    for (int row = static_cast<int>(rows_.size()) - 1; row >= 0; --row) {
        if (SecondsSince(rows_[static_cast<std::size_t>(row)].station.lastActivity) > kGoneS) {
            beginRemoveRows({}, row, row);
            rows_.erase(rows_.begin() + row);
            endRemoveRows();
        }
    }
    for (int row = 0; row < rowCount(); ++row) ReportChanges(row);
}

long StationTable::HeardS(const StationView& station) const {
    return std::lround(std::max(0.0, SecondsSince(station.lastActivity)));
}

StationTable::Shown StationTable::ShownOf(const StationView& s) const {
    return {s.centreBin, std::lround(s.wpm), std::lround(s.snrDb), s.call, HeardS(s),
            s.recent,    IsStale(s)};
}

void StationTable::ReportChanges(int row) {
    Row& r = rows_[static_cast<std::size_t>(row)];
    Shown now = ShownOf(r.station);
    if (now == r.shown) return;
    const Shown& was = r.shown;
    const std::array<bool, kColumns> changed = {now.bin != was.bin,       now.wpm != was.wpm,
                                                now.snrDb != was.snrDb,   now.call != was.call,
                                                now.heardS != was.heardS, now.recent != was.recent};
    const bool greyed = now.stale != was.stale;  // repaints the whole row
    r.shown = std::move(now);
    // One cell at a time: a view repaints a range of cells as its whole viewport.
    for (int column = 0; column < kColumns; ++column) {
        if (greyed || changed[static_cast<std::size_t>(column)]) {
            emit dataChanged(index(row, column), index(row, column));
        }
    }
}

void StationTable::SetDialHz(std::int64_t dialHz) {
    if (dialHz == dialHz_) return;
    dialHz_ = dialHz;
    emit headerDataChanged(Qt::Horizontal, kFrequency, kFrequency);
    if (!rows_.empty()) emit dataChanged(index(0, kFrequency), index(rowCount() - 1, kFrequency));
}

const StationView* StationTable::StationAt(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return &rows_[static_cast<std::size_t>(row)].station;
}

const StationView* StationTable::StationOf(int channel) const {
    const auto it = std::find_if(rows_.begin(), rows_.end(),
                                 [&](const Row& r) { return r.station.channel == channel; });
    return it == rows_.end() ? nullptr : &it->station;
}

int StationTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StationTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString StationTable::WholeWords(const std::string& recent) {
    QString text = Cp1251ToQString(recent);
    // A full window of characters may begin inside a word.
    if (recent.size() >= Skimmer::kRecentCharacters) {
        const qsizetype space = text.indexOf(' ');
        if (space >= 0) text.remove(0, space + 1);
    }
    return text.trimmed();
}

QVariant StationTable::data(const QModelIndex& index, int role) const {
    const StationView* s = StationAt(index.row());
    if (s == nullptr) return {};
    const double pitchHz = s->centreBin * kHzPerBin;
    const long heardS = HeardS(*s);
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kFrequency:
                    return BandFrequencyText(pitchHz, dialHz_, false);
                case kWpm:
                    return QString::number(std::lround(s->wpm));
                case kSnr:
                    return QString("%1 dB").arg(std::lround(s->snrDb));
                case kCall:
                    return QString::fromStdString(s->call);
                case kHeard:
                    return QString("%1 s").arg(heardS);
                case kText:
                    return WholeWords(s->recent);
            }
            break;
        case kSortRole:
            switch (index.column()) {
                case kFrequency:
                    return s->centreBin;
                case kWpm:
                    return s->wpm;
                case kSnr:
                    return s->snrDb;
                case kCall:
                    return QString::fromStdString(s->call);
                case kHeard:
                    return static_cast<qlonglong>(s->lastActivity);
                case kText:
                    return WholeWords(s->recent);
            }
            break;
        case kChannelRole:
            return s->channel;
        case Qt::ForegroundRole:
            if (IsStale(*s))
                return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
            break;
        case Qt::TextAlignmentRole:
            if (index.column() != kCall && index.column() != kText) {
                return QVariant(Qt::AlignRight | Qt::AlignVCenter);
            }
            break;
        case Qt::ToolTipRole:
            return QString("%1  %2, heard %3 s ago")
                .arg(s->call.empty() ? QString("no call yet") : QString::fromStdString(s->call),
                     BandFrequencyText(pitchHz, dialHz_))
                .arg(heardS);
        default:
            break;
    }
    return {};
}

QVariant StationTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
            case kFrequency:
                return BandFrequencyUnit(dialHz_);
            case kWpm:
                return QStringLiteral("WPM");
            case kSnr:
                return QStringLiteral("SNR");
            case kCall:
                return QStringLiteral("Call");
            case kHeard:
                return QStringLiteral("Heard");
            case kText:
                return QStringLiteral("Text");
        }
    }
    // The first click on a column puts the strongest, fastest or newest on top.
    if (role == Qt::InitialSortOrderRole) {
        const bool highFirst = section == kWpm || section == kSnr || section == kHeard;
        return highFirst ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    return {};
}

}  // namespace dahlo

// The whole program on a live sound input: the window as `dahlo` builds it (its live capture,
// Qt dialogs), left running until the receive text shows what is being played into the sound
// server. Prints the receive text, the status panels and the process's CPU use.
//   live_window_main SECONDS EXPECT
//   live_window_main band SECONDS CALL... [--shot PNG]   the band view lists every CALL
//   live_window_main tune SECONDS CALL...   a row stays on its station; ten stations tuned from
//                                           their rows, each copied by the main receiver
// Exit codes: 0 decoded, 1 not decoded in time, 3 the sound input could not be opened.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/band_view.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/receive_text.h"
#include "app/station_table.h"
#include "capture/live_input.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Edits that turn `text` into the closest stretch of `reference` (free start and end in it).
std::size_t DistanceToAnyStretch(const std::string& text, const std::string& reference) {
    std::vector<std::size_t> row(reference.size() + 1, 0), next(reference.size() + 1);
    for (std::size_t i = 1; i <= text.size(); ++i) {
        next[0] = i;
        for (std::size_t j = 1; j <= reference.size(); ++j) {
            const std::size_t same = text[i - 1] == reference[j - 1] ? 0 : 1;
            next[j] = std::min({row[j - 1] + same, row[j] + 1, next[j - 1] + 1});
        }
        std::swap(row, next);
    }
    return *std::min_element(row.begin(), row.end());
}

}  // namespace

// The band view on the live input: waits until its table lists every call in `calls`, then
// double-clicks the row of the first call and checks that the main receiver went to it.
// Saves the band view to `shot` when given.
int RunBand(QApplication& app, dahlo::MainWindow& window, int seconds,
            const std::vector<QString>& calls, const QString& shot) {
    window.ShowBandView();
    window.bandView->move(window.x(), window.y() + window.frameGeometry().height() + 10);
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = CpuSeconds();
    bool listed = false;
    QTableView& table = *window.bandView->stations;
    const auto text = [&](int r, int c) { return table.model()->index(r, c).data().toString(); };
    const auto rowOf = [&](const QString& call) {
        for (int r = 0; r < table.model()->rowCount(); ++r) {
            if (text(r, dahlo::StationTable::kCall) == call) return r;
        }
        return -1;
    };
    constexpr int kCpuWindowS = 20;
    int channelsOpened = -1;  // read while open: quitting closes the band view and its skimmer
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.skimmer) channelsOpened = window.skimmer->ChannelsEverOpened();
        int found = 0;
        for (const QString& call : calls) found += rowOf(call) >= 0 ? 1 : 0;
        listed = found == static_cast<int>(calls.size());
        if (!listed && wall.elapsed() > seconds * 1000) {
            for (const QString& call : calls) {
                if (rowOf(call) < 0) std::printf("not listed: %s\n", call.toUtf8().constData());
            }
        }
        // The CPU share is taken over at least kCpuWindowS, so that the burst of channels
        // opening at the start does not weigh more when the calls are listed sooner.
        if ((listed && wall.elapsed() >= kCpuWindowS * 1000) || wall.elapsed() > seconds * 1000) {
            app.quit();
        }
    });
    poll.start(200);
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuAtStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;

    for (int r = 0; r < table.model()->rowCount(); ++r) {
        std::printf("row %d:", r);
        for (int c = 0; c < table.model()->columnCount(); ++c) {
            std::printf(" [%s]", text(r, c).toUtf8().constData());
        }
        std::printf("\n");
    }
    std::printf("cpu: %.2f s in %.1f s = %.1f %% of one core\n", cpu, elapsed,
                100.0 * cpu / elapsed);
    std::printf("samples %lld, channels opened %d, free buffers %s\n",
                static_cast<long long>(window.receiver.SamplesDone), channelsOpened,
                window.status->panels[6]->text().toUtf8().constData());
    if (!listed) return 1;
    const int row = rowOf(calls.front());
    const QModelIndex index = table.model()->index(row, dahlo::StationTable::kFrequency);
    const int pitch = static_cast<int>(
        std::lround(index.data(dahlo::StationTable::kSortRole).toInt() * dahlo::kHzPerBin));
    table.scrollTo(index);
    const QRect cell = table.visualRect(index);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
    QCoreApplication::processEvents();
    std::printf("cell %d,%d %dx%d in %dx%d\n", cell.x(), cell.y(), cell.width(), cell.height(),
                table.viewport()->width(), table.viewport()->height());
    const double tuned = window.receiver.Main().CentreBin * dahlo::kHzPerBin;
    std::printf("double-clicked %s at %d Hz: the receiver is at %.0f Hz\n",
                calls.front().toUtf8().constData(), pitch, tuned);
    if (!shot.isEmpty()) window.bandView->grab().save(shot);
    return std::abs(tuned - pitch) <= 6.0 ? 0 : 1;
}

// The band view as a user tunes from it: waits up to `seconds` until the table lists every call,
// checks that a selected row still shows its station after kBoundS of updates, then tunes
// kTunes stations from their rows, double-click and Enter in turn, each time checking that
// the main receiver went to the station and that it copies the station within kCopyS: its
// receive text shows the call, or (a slow station whose call does not come round in time) what
// it printed since the tune is what the band view's row printed, within kCopyCer.
int RunTune(QApplication& app, dahlo::MainWindow& window, int seconds,
            const std::vector<QString>& calls) {
    constexpr int kPollMs = 200;
    constexpr int kBoundS = 10;      // a row must keep its station across this many seconds
    constexpr int kTunes = 10;       // stations tuned, each a different one
    constexpr int kCopyS = 10;       // the main receiver must copy the call within this
    constexpr int kTunedBins = 2;    // the receiver's centre may differ by the station's spread
    constexpr double kCopyCer = 0.2;     // edits per character against the row's text
    constexpr std::size_t kCopyMinChars = 10;  // so little text proves nothing
    window.ShowBandView();
    dahlo::BandView& view = *window.bandView;
    QTableView& table = *view.stations;
    QAbstractItemModel& model = *table.model();
    const auto stationAt = [&](int row) {
        return view.stationModel->StationAt(view.stationOrder->mapToSource(model.index(row, 0)).row());
    };
    const auto rowOf = [&](const QString& call) {
        for (int r = 0; r < model.rowCount(); ++r) {
            if (model.index(r, dahlo::StationTable::kCall).data().toString() == call) return r;
        }
        return -1;
    };
    const auto selectedStation = [&]() -> const dahlo::StationView* { return view.SelectedStation(); };

    enum class Phase { kListing, kBinding, kTuning, kDone } phase = Phase::kListing;
    QElapsedTimer phaseClock;
    phaseClock.start();
    bool bound = false;
    dahlo::StationView boundStart;
    int tunesDone = 0, tuned = 0, copied = 0;
    std::vector<std::string> picked;
    std::vector<QString> listedCalls;
    std::string tuneCall;
    int copiesBefore = 0;
    qsizetype textBefore = 0;
    bool copiedThis = false;
    const auto copiesOf = [&](const std::string& call) {
        return window.receiveText->toPlainText().count(QString::fromStdString(call), Qt::CaseInsensitive);
    };
    const auto elapsedS = [&] { return static_cast<double>(phaseClock.elapsed()) / 1000.0; };

    // The unpicked station heard most recently: the one a user would tune, as it is sending.
    const auto pickRow = [&]() {
        int best = -1;
        std::int64_t bestHeard = -1;
        for (int r = 0; r < model.rowCount(); ++r) {
            const dahlo::StationView* s = stationAt(r);
            if (s == nullptr || s->call.empty()) continue;
            if (std::find(picked.begin(), picked.end(), s->call) != picked.end()) continue;
            if (s->lastActivity > bestHeard) bestHeard = s->lastActivity, best = r;
        }
        return best;
    };
    const auto tuneNext = [&] {
        const int row = pickRow();
        if (row < 0) {
            std::printf("tune %d: no station left to pick\n", tunesDone + 1);
            phase = Phase::kDone;
            return;
        }
        const dahlo::StationView station = *stationAt(row);
        tuneCall = station.call;
        picked.push_back(tuneCall);
        copiesBefore = copiesOf(tuneCall);
        textBefore = window.receiveText->toPlainText().size();
        copiedThis = false;
        const QModelIndex index = model.index(row, dahlo::StationTable::kCall);
        table.scrollTo(index);
        const QPoint at = table.visualRect(index).center();
        const bool byEnter = tunesDone % 2 == 1;
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, at);
        if (byEnter) {
            QTest::keyClick(&table, Qt::Key_Return);
        } else {
            QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, at);
        }
        QCoreApplication::processEvents();
        const int centre = window.receiver.Main().CentreBin;
        const bool ok = std::abs(centre - station.centreBin) <= kTunedBins;
        tuned += ok ? 1 : 0;
        std::printf("tune %d: %s row %d (%s) at bin %d: receiver at bin %d%s\n", tunesDone + 1,
                    tuneCall.c_str(), row, byEnter ? "Enter" : "double-click", station.centreBin,
                    centre, ok ? "" : "  NOT TUNED");
        std::fflush(stdout);
        phaseClock.restart();
    };

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        switch (phase) {
            case Phase::kListing: {
                int found = 0;
                for (const QString& call : calls) {
                    const bool listed = rowOf(call) >= 0;
                    found += listed ? 1 : 0;
                    if (listed && std::find(listedCalls.begin(), listedCalls.end(), call) == listedCalls.end()) {
                        listedCalls.push_back(call);
                        std::printf("listed %s after %.1f s\n", call.toUtf8().constData(), elapsedS());
                    }
                }
                if (found == static_cast<int>(calls.size())) {
                    std::printf("listed all %d after %.1f s\n", found, elapsedS());
                    const int row = rowOf(calls.front());
                    table.selectRow(row);
                    boundStart = *selectedStation();
                    std::printf("bound: row %d selected, %s channel %d bin %d\n", row,
                                boundStart.call.c_str(), boundStart.channel, boundStart.centreBin);
                    phase = Phase::kBinding;
                    phaseClock.restart();
                } else if (elapsedS() > seconds) {
                    for (const QString& call : calls) {
                        if (rowOf(call) < 0) std::printf("not listed: %s\n", call.toUtf8().constData());
                    }
                    for (int r = 0; r < model.rowCount(); ++r) {
                        std::printf("row %d:", r);
                        for (int c = 0; c < model.columnCount(); ++c) {
                            std::printf(" [%s]", model.index(r, c).data().toString().toUtf8().constData());
                        }
                        std::printf("\n");
                    }
                    phase = Phase::kDone;
                }
                break;
            }
            case Phase::kBinding: {
                if (elapsedS() < kBoundS) break;
                const dahlo::StationView* now = selectedStation();
                bound = now != nullptr && now->channel == boundStart.channel &&
                        now->call == boundStart.call;
                std::printf("bound: after %d s the selected row is %s channel %d bin %d%s\n", kBoundS,
                            now ? now->call.c_str() : "(none)", now ? now->channel : -1,
                            now ? now->centreBin : -1, bound ? "" : "  NOT BOUND");
                phase = Phase::kTuning;
                tuneNext();
                break;
            }
            case Phase::kTuning: {
                if (!copiedThis && copiesOf(tuneCall) > copiesBefore) {
                    copiedThis = true;
                    ++copied;
                    std::printf("tune %d: %s copied after %.1f s\n", tunesDone + 1,
                                tuneCall.c_str(), elapsedS());
                }
                if (!copiedThis && elapsedS() < kCopyS) break;
                if (!copiedThis) {
                    const std::string since = window.receiveText->toPlainText()
                                                  .mid(textBefore)
                                                  .simplified()
                                                  .toLower()
                                                  .toStdString();
                    const int row = rowOf(QString::fromStdString(tuneCall));
                    const dahlo::StationView* s = row >= 0 ? stationAt(row) : nullptr;
                    const std::string rowText =
                        s == nullptr ? std::string() : QString::fromStdString(s->recent).simplified().toLower().toStdString();
                    const double cer = since.empty() ? 1.0
                        : static_cast<double>(DistanceToAnyStretch(since, rowText)) /
                              static_cast<double>(since.size());
                    copiedThis = since.size() >= kCopyMinChars && cer <= kCopyCer;
                    copied += copiedThis ? 1 : 0;
                    std::printf("tune %d: %s's call not in %d s; since the tune \"%s\", the row \"%s\": "
                                "%.2f edits per character%s\n",
                                tunesDone + 1, tuneCall.c_str(), kCopyS, since.c_str(), rowText.c_str(),
                                cer, copiedThis ? ", copied" : "");
                }
                if (!copiedThis) {
                    const QString text = window.receiveText->toPlainText().right(60).simplified();
                    std::printf("tune %d: %s NOT copied in %d s; receive text ends \"%s\"\n",
                                tunesDone + 1, tuneCall.c_str(), kCopyS, text.toUtf8().constData());
                }
                std::fflush(stdout);
                if (++tunesDone == kTunes) {
                    phase = Phase::kDone;
                } else {
                    tuneNext();
                }
                break;
            }
            case Phase::kDone:
                break;
        }
        if (phase == Phase::kDone) app.quit();
    });
    poll.start(kPollMs);
    QApplication::exec();
    std::printf("bound: %s\n", bound ? "yes" : "no");
    std::printf("tune: %d of %d tuned, %d of %d copied within %d s\n", tuned, kTunes, copied,
                kTunes, kCopyS);
    return bound && tuned == kTunes && copied == kTunes ? 0 : 1;
}

int main(int argc, char** argv) {
    const std::string modeName = argc >= 2 ? std::string(argv[1]) : std::string();
    const bool tune = modeName == "tune";
    const bool band = modeName == "band" || tune;
    if (!band && argc != 3) {
        std::fprintf(stderr,
                     "usage: live_window_main SECONDS EXPECT\n"
                     "       live_window_main band SECONDS CALL... [--shot PNG]\n"
                     "       live_window_main tune SECONDS CALL...\n");
        return 2;
    }
    const int seconds = std::atoi(argv[band ? 2 : 1]);
    const QString expect = band ? QString() : QString::fromUtf8(argv[2]).toLower();
    std::vector<QString> calls;
    QString shot;
    for (int i = 3; band && i < argc; ++i) {
        if (std::string(argv[i]) == "--shot" && i + 1 < argc) {
            shot = QString::fromLocal8Bit(argv[++i]);
        } else {
            calls.push_back(QString::fromUtf8(argv[i]));
        }
    }
    if (band && calls.empty()) return 2;

    QApplication app(argc, argv);
    QApplication::setApplicationName("Dahlo");
    const std::unique_ptr<dahlo::SoundInput> input = dahlo::MakeLiveSoundInput();
    dahlo::QtDialogs dialogs;
    dahlo::SilentBroadcaster broadcaster;
    dahlo::MainWindowServices services;
    services.soundInput = input.get();
    services.dialogs = &dialogs;
    services.broadcaster = &broadcaster;
    dahlo::MainWindow window(std::move(services));
    if (window.Terminated()) return 3;
    window.show();
    window.activateWindow();
    std::printf("window up\n");
    std::fflush(stdout);
    if (tune) return RunTune(app, window, seconds, calls);
    if (band) return RunBand(app, window, seconds, calls, shot);

    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = CpuSeconds();
    bool decoded = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString text = window.receiveText->toPlainText().toLower();
        if (text.contains(expect)) decoded = true;
        if (decoded || wall.elapsed() > seconds * 1000) app.quit();
    });
    poll.start(200);
    QApplication::exec();

    const double cpu = CpuSeconds() - cpuAtStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("receive text: %s\n", window.receiveText->toPlainText().toUtf8().constData());
    for (int i = 0; i < 8; ++i)
        std::printf("panel %d: %s\n", i, window.status->panels[i]->text().toUtf8().constData());
    std::printf("cpu: %.2f s in %.1f s = %.1f %% of one core\n", cpu, elapsed,
                100.0 * cpu / elapsed);
    return decoded ? 0 : 1;
}

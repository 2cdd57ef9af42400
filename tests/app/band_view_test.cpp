// The band view: opened with Ctrl+B beside the unchanged main window, fed by the skimmer on the
// window's own input, handing a station to the main receiver from its table or waterfall,
// remembered by Save Setup.
#include "app/band_view.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QSignalSpy>
#include <QSlider>
#include <QTableView>
#include <QTest>

#include "app/station_table.h"
#include "app/waterfall.h"
#include "app_fixture.h"
#include "support/band_synth.h"

namespace dahlo::test {
namespace {

class BandViewTest : public WindowTest {
  protected:
    void Deliver(std::size_t samples) {
        const int blocks = static_cast<int>(samples / kBlockSamples) + 2;
        for (int delivered = 0; delivered < blocks;) {
            const int burst = std::min(4, blocks - delivered);
            ASSERT_EQ(input->DeliverBurst(burst), burst);
            delivered += burst;
            QElapsedTimer timer;
            timer.start();
            while (form->ring.WaitingBlocks.load() > 0 && timer.elapsed() < 5000) {
                QCoreApplication::processEvents();
            }
        }
    }
};

TEST_F(BandViewTest, CtrlBOpensItAndTheSkimmerRunsOnlyWhileItIsOpen) {
    const std::vector<BandStation> band = TestBand();
    const std::vector<std::int16_t> audio = SynthesizeBand(band, TestBandNoiseSigma());
    Create(audio);
    form->show();
    Activate();
    EXPECT_EQ(form->bandView, nullptr);
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form->receiveText, Qt::Key_B, Qt::ControlModifier);
    ASSERT_NE(form->bandView, nullptr);
    EXPECT_TRUE(form->bandView->isVisible());
    EXPECT_TRUE(form->bandView->windowTitle().contains("Band"));
    ASSERT_NE(form->skimmer, nullptr);

    Deliver(audio.size());
    // Every station with its call, once.
    QTableView& table = *form->bandView->stations;
    const auto text = [&](int r, int c) { return table.model()->index(r, c).data().toString(); };
    std::map<std::string, int> rows;
    int row = -1;
    for (int r = 0; r < table.model()->rowCount(); ++r) {
        ++rows[text(r, StationTable::kCall).toStdString()];
        if (text(r, StationTable::kCall) == "OK1RR") row = r;
    }
    for (const BandStation& s : band) EXPECT_EQ(rows[s.call], 1) << s.call;
    // Its channels run in the window's receiver beside the main one; a station that stopped
    // early may have closed its channel already.
    EXPECT_EQ(form->skimmer->ChannelsEverOpened(), static_cast<int>(band.size()));
    EXPECT_EQ(form->receiver.channels.size(), 1u + form->skimmer->OpenChannels());
    ASSERT_GE(row, 0);

    // Enter on a row: the main receiver takes that station's channel over, settings and all;
    // the word the receive text was in ends there.
    form->receiveText->AppendDecoded("de w1a");
    table.selectRow(row);
    QTest::keyClick(&table, Qt::Key_Return);
    EXPECT_TRUE(form->receiveText->toPlainText().endsWith("de w1a "));
    const StationView* chosen = form->bandView->SelectedStation();
    ASSERT_NE(chosen, nullptr);
    const Channel* skimmed = nullptr;
    for (const Channel& c : form->receiver.channels)
        skimmed = c.id == chosen->channel ? &c : skimmed;
    ASSERT_NE(skimmed, nullptr);
    const Channel& main = form->receiver.Main();
    EXPECT_NEAR(main.CentreBin * kHzPerBin, 900.0, 6.0);
    EXPECT_EQ(main.CentreBin, skimmed->CentreBin);
    EXPECT_EQ(main.decoder.DotLength, skimmed->decoder.DotLength);
    EXPECT_EQ(main.DetectorThreshold, skimmed->DetectorThreshold);
    EXPECT_EQ(main.CwFilterTreshold, skimmed->CwFilterTreshold);
    QTest::keyClick(&table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "OK1RR");

    // DL2XYZ keys 60 Hz beside a stronger station: its channel filters twice, and its threshold
    // is a level behind that filter, so the main receiver takes the filter too, until the user
    // tunes by the spectrum.
    for (int r = 0; r < table.model()->rowCount(); ++r) {
        if (text(r, StationTable::kCall) == "DL2XYZ") table.selectRow(r);
    }
    QTest::keyClick(&table, Qt::Key_Return);
    ASSERT_EQ(form->bandView->SelectedStation()->call, "DL2XYZ");
    EXPECT_TRUE(form->bandView->SelectedStation()->filterTwice);
    EXPECT_TRUE(main.filterTwice);
    form->SpectrumPressed(form->spectrumStrip->width() / 2);
    EXPECT_FALSE(main.filterTwice);

    // A click on another station's trace in the waterfall tunes there too.
    Waterfall& waterfall = *form->bandView->waterfall;
    const int bin1400 = static_cast<int>(std::lround(1400.0 / kHzPerBin));
    QTest::mouseClick(&waterfall, Qt::LeftButton, {}, QPoint(waterfall.XOf(bin1400 + 2), 40));
    EXPECT_NEAR(form->receiver.Main().CentreBin * kHzPerBin, 1400.0, 6.0);
    EXPECT_TRUE(form->receiveText->toPlainText().endsWith("de w1a "));  // one blank, not two

    // Escape closes: the skimmer and its channels are gone, the main channel stays.
    QTest::keyClick(&table, Qt::Key_Escape);
    EXPECT_FALSE(form->bandView->isVisible());
    EXPECT_EQ(form->skimmer, nullptr);
    EXPECT_EQ(form->receiver.channels.size(), 1u);
    EXPECT_EQ(form->receiver.Main().id, 0);
}

std::int64_t At(double seconds) {
    return static_cast<std::int64_t>(seconds * kSampleRateHz);
}

// A station as the skimmer shows it, last heard at `heardS`.
StationView Station(int channel, int bin, const char* call, double heardS, const char* text = "") {
    StationView s;
    s.channel = channel;
    s.centreBin = bin;
    s.call = call;
    s.recent = text;
    s.lastActivity = At(heardS);
    return s;
}

// Rows are stations: the selection stays on its station while rows are inserted above it and
// re-sorted; a station goes grey after a while without a character and later leaves.
TEST(BandViewRows, TheSelectionFollowsItsStationAndSilentStationsFadeThenLeave) {
    BandView view;
    const auto selectedCall = [&] {
        const StationView* s = view.SelectedStation();
        return s == nullptr ? std::string("none") : s->call;
    };
    view.ShowStations({Station(1, 200, "K1ABC", 1), Station(2, 100, "DL2XY", 1)}, At(2));
    QTableView& table = *view.stations;
    EXPECT_EQ(table.model()->index(0, StationTable::kCall).data().toString(), "DL2XY");
    table.selectRow(1);
    ASSERT_EQ(selectedCall(), "K1ABC");

    // A lower station arrives: K1ABC moves down a row, still selected.
    view.ShowStations(
        {Station(1, 200, "K1ABC", 3), Station(2, 100, "DL2XY", 1), Station(3, 50, "G4ABC", 3)},
        At(4));
    EXPECT_EQ(table.model()->index(2, StationTable::kCall).data().toString(), "K1ABC");
    EXPECT_EQ(selectedCall(), "K1ABC");

    // Sorted by last heard, newest first: K1ABC heard last goes to the top, still selected.
    table.horizontalHeader()->setSortIndicator(StationTable::kHeard, Qt::DescendingOrder);
    view.ShowStations(
        {Station(1, 200, "K1ABC", 9), Station(2, 100, "DL2XY", 1), Station(3, 50, "G4ABC", 5)},
        At(10));
    EXPECT_EQ(table.model()->index(0, StationTable::kCall).data().toString(), "K1ABC");
    EXPECT_EQ(selectedCall(), "K1ABC");

    // DL2XY silent for 19 s: grey; its channel closed (not listed) it stays until 60 s.
    const auto grey = [&](int row) {
        return table.model()->index(row, StationTable::kCall).data(Qt::ForegroundRole).isValid();
    };
    view.ShowStations({Station(1, 200, "K1ABC", 19), Station(3, 50, "G4ABC", 19)}, At(20));
    ASSERT_EQ(table.model()->rowCount(), 3);
    EXPECT_EQ(table.model()->index(2, StationTable::kCall).data().toString(), "DL2XY");
    EXPECT_TRUE(grey(2));
    EXPECT_FALSE(grey(0));
    view.ShowStations({Station(1, 200, "K1ABC", 61), Station(3, 50, "G4ABC", 61)}, At(62));
    EXPECT_EQ(table.model()->rowCount(), 2);
    EXPECT_EQ(selectedCall(), "K1ABC");
}

// The skimmer closes a channel soon after its station stops and opens a new one when it returns:
// the station keeps its row, found by frequency or, once heard, by its call.
TEST(BandViewRows, AStationBackOnANewChannelTakesItsGreyRowBackWithTheSelection) {
    BandView view;
    QTableView& table = *view.stations;
    const auto cell = [&](int row, int column) {
        return table.model()->index(row, column).data().toString();
    };
    const auto selected = [&] {
        const StationView* s = view.SelectedStation();
        return s == nullptr ? std::string("none") : std::to_string(s->channel) + " " + s->call;
    };
    view.ShowStations(
        {Station(1, 100, "DL2XY", 1, "CQ DE DL2XY"), Station(2, 300, "K1ABC", 1, "TU")}, At(2));
    table.selectRow(0);
    view.ShowStations({}, At(20));  // both channels closed, both rows grey
    ASSERT_EQ(table.model()->rowCount(), 2);
    ASSERT_TRUE(table.model()->index(0, StationTable::kCall).data(Qt::ForegroundRole).isValid());

    // A channel 32 Hz above DL2XY's, no call yet: DL2XY's row, alive, selected, text continued.
    view.ShowStations({Station(5, 106, "", 21, "K")}, At(21));
    EXPECT_EQ(table.model()->rowCount(), 2);
    EXPECT_EQ(selected(), "5 DL2XY");
    EXPECT_EQ(cell(0, StationTable::kText), "CQ DE DL2XY K");
    EXPECT_FALSE(table.model()->index(0, StationTable::kCall).data(Qt::ForegroundRole).isValid());

    // 70 Hz above K1ABC's is another station, until it sends K1ABC: then K1ABC's row takes it
    // over, and the selection goes with it.
    view.ShowStations({Station(5, 106, "", 21, "K"), Station(6, 313, "", 22, "DE")}, At(22));
    ASSERT_EQ(table.model()->rowCount(), 3);
    table.selectRow(2);
    view.ShowStations({Station(5, 106, "", 21, "K"), Station(6, 313, "K1ABC", 23, "DE K1ABC")},
                      At(23));
    ASSERT_EQ(table.model()->rowCount(), 2);
    EXPECT_EQ(selected(), "6 K1ABC");
    EXPECT_EQ(cell(1, StationTable::kText), "TU DE K1ABC");
}

// A row's menu sends its call to the logger the way the receive text's menu does: the Call field
// of the export file and Keyvox_Message; a row with no call yet offers nothing to send.
// A block reports only the cells that show something new, one by one (a view repaints a range as
// its whole viewport); a row that greys, all of it.
TEST(BandViewRows, ABlockReportsOnlyTheCellsThatChanged) {
    StationTable table;
    StationView s = Station(7, 100, "K1ABC", 0, "CQ");
    table.Update({s}, At(0.1));
    QSignalSpy changes(&table, &QAbstractItemModel::dataChanged);
    table.Update({s}, At(0.2));
    EXPECT_EQ(changes.size(), 0);
    s.recent = "CQ CQ";
    table.Update({s}, At(0.3));
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0][0].value<QModelIndex>(), table.index(0, StationTable::kText));
    EXPECT_EQ(changes[0][1].value<QModelIndex>(), table.index(0, StationTable::kText));
    table.Update({}, At(16));  // closed and greyed
    EXPECT_EQ(changes.size(), 1 + StationTable::kColumns);
}

TEST_F(BandViewTest, SendCallToLoggerWritesTheExportFileAndAnnouncesIt) {
    WriteIni("[Dahlo]\nExportIniFile=" + DirPath("log.ini").toStdString() + "\n");
    CreateShownAndActive();
    form->ShowBandView();
    BandView& view = *form->bandView;
    view.ShowStations({Station(1001, 150, "OK1RR", 0), Station(1002, 250, "", 0)}, 0);
    const auto menuOn = [&](int row) {
        const QRect cell = view.stations->visualRect(view.stations->model()->index(row, 0));
        emit view.stations->customContextMenuRequested(cell.center());
        view.stationMenu->hide();
    };
    menuOn(1);
    EXPECT_FALSE(view.logCallAction->isEnabled());
    menuOn(0);
    ASSERT_TRUE(view.logCallAction->isEnabled());
    view.logCallAction->trigger();

    QFile file(DirPath("log.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().replace("\r\n", "\n"), QByteArray("[QSO]\nCall=\"OK1RR\"\n"));
    ASSERT_EQ(broadcaster.sent.size(), 1u);
    EXPECT_EQ(broadcaster.sent[0].id, form->keyvoxMessage);
    EXPECT_EQ(broadcaster.sent[0].word, 0x83u);  // the first export, of the Call field
    EXPECT_EQ(broadcaster.sent[0].lparam, 4);
}

TEST_F(BandViewTest, SaveSetupRemembersItsPlaceSizeAndLevels) {
    WriteIni("[Band]\nFloor=-90\nContrast=40\n");
    CreateShownAndActive();
    form->ShowBandView();
    EXPECT_EQ(form->bandView->floor->value(), -90);
    EXPECT_EQ(form->bandView->contrast->value(), 40);
    form->bandView->floor->setValue(-120);
    form->bandView->resize(500, 350);
    form->SaveSetup();
    const Settings saved = LoadSettings(DirPath("DAHLO.INI").toStdString());
    EXPECT_EQ(saved.band.floorDb, -120);
    EXPECT_EQ(saved.band.contrastDb, 40);
    EXPECT_EQ(saved.band.width, form->bandView->frameGeometry().width());
    EXPECT_EQ(saved.band.height, form->bandView->frameGeometry().height());
    EXPECT_GE(saved.band.width, 500);
}

// A port nobody listens on now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Reads what arrives within `ms`; stops at the end of the stream or once `until` has come.
std::string ReadFor(int fd, int ms, bool* ended, const std::string& until = {}) {
    std::string got;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            *ended = true;
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
        if (!until.empty() && got.find(until) != std::string::npos) break;
    }
    return got;
}

TEST_F(BandViewTest, ASpotPortInTheSettingsServesLoggersWhileTheBandViewIsOpen) {
    const int port = FreePort();
    WriteIni("[Band]\nSpotPort=" + std::to_string(port) + "\nDialHz=14020000\n");
    CreateShownAndActive();
    form->ShowBandView();
    ASSERT_NE(form->spotServer, nullptr);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    bool ended = false;
    EXPECT_EQ(ReadFor(fd, 2000, &ended, ": ").rfind("Please enter your callsign: ", 0), 0u);

    // Closed: the server ends every connection; Save Setup keeps the port.
    form->bandView->close();
    EXPECT_EQ(form->spotServer, nullptr);
    ReadFor(fd, 2000, &ended);
    EXPECT_TRUE(ended);
    ::close(fd);
    form->SaveSetup();
    EXPECT_EQ(LoadSettings(DirPath("DAHLO.INI").toStdString()).band.spotPort, port);
}

// Without a dial a spot's frequency would be an audio pitch: no server, said once.
TEST_F(BandViewTest, ASpotPortWithoutADialServesNothingAndSaysSoOnce) {
    WriteIni("[Band]\nSpotPort=" + std::to_string(FreePort()) + "\n");
    CreateShownAndActive();
    for (int opening = 0; opening < 2; ++opening) {
        form->ShowBandView();
        EXPECT_NE(form->skimmer, nullptr);
        EXPECT_EQ(form->spotServer, nullptr);
        form->bandView->close();
    }
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].second.contains("DialHz"));
}

}  // namespace
}  // namespace dahlo::test

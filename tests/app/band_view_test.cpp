// The band view: opened with Ctrl+B beside the unchanged main window, fed by the skimmer on the
// window's own input, retuning the main receiver from its table or waterfall, remembered by
// Save Setup.
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include "app/band_view.h"
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
    QTableWidget& table = *form->bandView->stations;
    std::map<std::string, int> rows;
    for (int r = 0; r < table.rowCount(); ++r) ++rows[table.item(r, 3)->text().toStdString()];
    for (const BandStation& s : band) EXPECT_EQ(rows[s.call], 1) << s.call;
    EXPECT_EQ(form->receiver.channels.size(), 1 + band.size());

    // A double-click tunes the main receiver to the row's station; the frequency panel follows.
    int row = -1;
    for (int r = 0; r < table.rowCount(); ++r) {
        if (table.item(r, 3)->text() == "OK1RR") row = r;
    }
    ASSERT_GE(row, 0);
    const int pitch = table.item(row, 0)->text().toInt();
    emit table.cellDoubleClicked(row, 0);
    EXPECT_NEAR(form->receiver.Main().CentreBin * kHzPerBin, 900.0, 6.0);
    EXPECT_NEAR(pitch, 900, 6);

    // A click on another station's trace in the waterfall tunes there too.
    Waterfall& waterfall = *form->bandView->waterfall;
    const int bin1400 = static_cast<int>(std::lround(1400.0 / kHzPerBin));
    QTest::mouseClick(&waterfall, Qt::LeftButton, {}, QPoint(waterfall.XOf(bin1400 + 2), 40));
    EXPECT_NEAR(form->receiver.Main().CentreBin * kHzPerBin, 1400.0, 6.0);

    // Closed: the skimmer and its channels are gone, the main channel stays.
    form->bandView->close();
    EXPECT_EQ(form->skimmer, nullptr);
    EXPECT_EQ(form->receiver.channels.size(), 1u);
    EXPECT_EQ(form->receiver.Main().id, 0);
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

}  // namespace
}  // namespace dahlo::test

// The main window's side of the band view: opening and closing it with its skimmer, feeding it
// after every block, and tuning the main receiver to a station chosen in it.
#include "app/band_view.h"
#include "app/main_window.h"

namespace dahlo {

void MainWindow::ShowBandView() {
    if (bandView == nullptr) {
        bandView = new BandView(this);
        bandView->ApplySettings(bandSettings);
        connect(bandView, &BandView::TuneRequested, this, [this](int bin) { TuneTo(bin); });
        connect(bandView, &BandView::Closed, this, [this] { BandViewClosed(); });
    }
    if (skimmer == nullptr) {
        SkimOptions options;
        options.clockTime = true;
        options.dialKhz = static_cast<double>(bandSettings.dialHz) / 1000.0;
        skimmer = std::make_unique<Skimmer>(receiver, discard_, options);
        if (bandSettings.spotPort > 0 && spotServer == nullptr) {
            try {
                spotServer = std::make_unique<SpotServer>("127.0.0.1", bandSettings.spotPort,
                                                          options.spotter);
            } catch (const SpotServerError& e) {
                ReportError(QString("Spot port %1: %2").arg(bandSettings.spotPort).arg(e.what()));
            }
        }
        if (spotServer != nullptr) skimmer->AddSpotListener(*spotServer);
    }
    bandView->show();
    bandView->raise();
    bandView->activateWindow();
}

void MainWindow::BandViewClosed() {
    if (bandView != nullptr) {
        const BandSettings shown = bandView->CollectSettings();
        const int spotPort = bandSettings.spotPort;
        const std::int64_t dialHz = bandSettings.dialHz;
        bandSettings = shown;
        bandSettings.spotPort = spotPort;
        bandSettings.dialHz = dialHz;
    }
    skimmer.reset();
    spotServer.reset();  // every connection closed cleanly
}

void MainWindow::TuneTo(int bin) {
    receiver.Main().SetCentreBin(ClampCentreBin(bin));
}

void MainWindow::OnBlockDone(const std::int16_t* samples, std::int64_t blockStart) {
    if (skimmer == nullptr || bandView == nullptr) return;
    skimmer->OnBlockDone(samples, blockStart);
    bandView->AddSpectrum(receiver.spectrum, receiver.Main().CentreBin);
    bandView->ShowStations(skimmer->Stations());
}

}  // namespace dahlo

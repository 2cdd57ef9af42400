// The main window's side of the band view: opening and closing it with its skimmer, feeding it
// after every block, handing the main receiver a station chosen in it, and logging its calls.
#include "app/band_view.h"
#include "app/cp1251.h"
#include "app/main_window.h"
#include "app/receive_text.h"

namespace dahlo {

void MainWindow::ShowBandView() {
    if (bandView == nullptr) {
        bandView = new BandView(this);
        bandView->ApplySettings(bandSettings);
        connect(bandView, &BandView::TuneRequested, this,
                [this](const StationView& station) { TakeOver(station); });
        connect(bandView, &BandView::LogCallRequested, this,
                [this](const QString& call) { ExportCall(call); });
        connect(bandView, &BandView::Closed, this, [this] { BandViewClosed(); });
    }
    if (skimmer == nullptr) {
        SkimOptions options;
        options.clockTime = true;
        options.dialKhz = static_cast<double>(bandSettings.dialHz) / 1000.0;
        skimmer = std::make_unique<Skimmer>(receiver, discard_, options);
        // Without the dial a spot's frequency would be an audio pitch, which no logger can use.
        const bool spotsWithoutDial = bandSettings.spotPort > 0 && bandSettings.dialHz <= 0;
        if (spotsWithoutDial && !spotPortWithoutDialReported_) {
            spotPortWithoutDialReported_ = true;
            ReportError(QString("Spot port %1 not opened: spots need the radio's frequency; set "
                                "DialHz in [Band] of DAHLO.INI")
                            .arg(bandSettings.spotPort));
        }
        if (bandSettings.spotPort > 0 && !spotsWithoutDial && spotServer == nullptr) {
            try {
                spotServer = std::make_unique<SpotServer>("127.0.0.1", bandSettings.spotPort,
                                                          options.spotter);
            } catch (const SpotServerError& e) {
                ReportError(QString("Spot port %1: %2").arg(bandSettings.spotPort).arg(e.what()));
            }
        }
        if (spotServer != nullptr) skimmer->AddSpotListener(*spotServer);
        skimmer->AddSpotListener(*bandView);  // the band view outlives every skimmer
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

void MainWindow::TakeOver(const StationView& station) {
    Channel& main = receiver.Main();
    receiveText->EndWord();
    main.SetCentreBin(ClampCentreBin(station.centreBin));
    // The skimmer's channel has measured the sender: the main decoder starts at its speed and
    // keys at its threshold, so the text follows from the next character on. The threshold is a
    // level behind the channel's filter, so the filter comes along: a station crowded by a
    // neighbour keeps its second pass through the narrow filter until the user tunes elsewhere.
    SetFilterWidth(station.filterWidth);
    main.filterTwice = station.filterTwice;
    if (station.dotSamples > 0) main.decoder.WarmStart(station.dotSamples);
    if (station.integrationLength > 0) {
        main.ApplyIntegrationLength(station.integrationLength);
        ShowBurstSpeed();
    }
    if (station.threshold > 0.0) {
        main.DetectorThreshold = station.threshold;
        ShowThreshold();
    }
}

void MainWindow::ExportCall(const QString& call) {
    const ExportFieldInfo& field = kExportFields[0];  // Call
    std::string error;
    if (!logger.ExportField(field.key, QStringToCp1251(call), field.flag, error)) {
        ReportError(QString::fromStdString(error));
    }
}

void MainWindow::OnBlockDone(const std::int16_t* samples, std::int64_t blockStart) {
    if (skimmer == nullptr || bandView == nullptr) return;
    skimmer->OnBlockDone(samples, blockStart);
    bandView->AddSpectrum(receiver.spectrum, receiver.Main().CentreBin);
    bandView->ShowStations(skimmer->Stations(), blockStart + kBlockSamples);
}

}  // namespace dahlo

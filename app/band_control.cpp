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
    if (skimmer == nullptr) skimmer = std::make_unique<Skimmer>(receiver, discard_, SkimOptions{});
    bandView->show();
    bandView->raise();
    bandView->activateWindow();
}

void MainWindow::BandViewClosed() {
    if (bandView != nullptr) bandSettings = bandView->CollectSettings();
    skimmer.reset();
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

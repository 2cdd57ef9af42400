// The whole program on a live sound input: the window as `dahlo` builds it (its live capture,
// Qt dialogs), left running until the receive text shows what is being played into the sound
// server. Prints the receive text, the status panels and the process's CPU use.
//   live_window_main SECONDS EXPECT
// Exit codes: 0 decoded, 1 not decoded in time, 3 the sound input could not be opened.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/receive_text.h"
#include "capture/live_input.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: live_window_main SECONDS EXPECT\n");
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    const QString expect = QString::fromUtf8(argv[2]).toLower();

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

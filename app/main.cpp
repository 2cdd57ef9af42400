// Dahlo: a Morse-code receiver for the sound card.

#include <QApplication>
#include <memory>

#include "app/main_window.h"
#include "app/qt_dialogs.h"

#ifdef DAHLO_HAVE_LIVE_INPUT
#include "capture/live_input.h"
#endif
#ifdef DAHLO_HAVE_DBUS
#include "export/dbus_broadcaster.h"
#endif

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dahlo");

    std::unique_ptr<dahlo::SoundInput> input;
#ifdef DAHLO_HAVE_LIVE_INPUT
    input = dahlo::MakeLiveSoundInput();
#endif
    std::unique_ptr<dahlo::Broadcaster> broadcaster;
#ifdef DAHLO_HAVE_DBUS
    broadcaster = std::make_unique<dahlo::DbusBroadcaster>();
#endif
    dahlo::QtDialogs dialogs;

    dahlo::MainWindowServices services;
    services.soundInput = input.get();
    services.dialogs = &dialogs;
    services.broadcaster = broadcaster.get();
    dahlo::MainWindow window(std::move(services));
    if (window.Terminated()) return 1;  // the sound input could not be opened; already said
    window.show();
    window.activateWindow();
    return QApplication::exec();
}

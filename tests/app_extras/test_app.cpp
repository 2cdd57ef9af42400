#include "app_extras/test_app.h"

#include <QApplication>

namespace dahlo::test {

QApplication& TestApp() {
    // Run by hand without a display, the cases still work.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "app_extras_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets of the cases may outlive the last test.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace dahlo::test

// Draws the about box and the help window into PNG files, for the documentation and for a look
// by eye: dahlo_extras_screenshots OUTDIR [ANCHOR...] (run under a real display, e.g. xvfb-run).
// Each ANCHOR adds help-ANCHOR.png with the help scrolled to that section.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>

#include "app/about_box.h"
#include "app/help_viewer.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    dahlo::TAbout about;
    about.show();
    dahlo::HelpViewer viewer;
    viewer.move(400, 60);
    viewer.OpenContents(QStringLiteral(DAHLO_DOCS_DIR "/dahlo.hlp"));
    viewer.show();

    int status = 0;
    QTimer::singleShot(500, &app, [&] {
        if (!about.grab().save(out + "/about.png")) status = 1;
        if (!viewer.grab().save(out + "/help.png")) status = 1;
        for (int i = 2; i < argc; ++i) {
            const QString anchor = QString::fromLocal8Bit(argv[i]);
            viewer.Browser()->scrollToAnchor(anchor);
            if (!viewer.grab().save(out + "/help-" + anchor + ".png")) status = 1;
        }
        std::printf("%s\n", status == 0 ? "saved about.png and help.png" : "could not save");
        app.quit();
    });
    app.exec();
    return status;
}

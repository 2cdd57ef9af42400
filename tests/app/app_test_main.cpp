// GoogleTest with a QApplication: the window needs one for its whole life.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    // ctest sets this too; a direct run (and test discovery) must not need a display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

// Entry point of the in-process view tests: a QApplication on the offscreen platform, in the light
// Fusion appearance, so that every run draws the same pixels.
#include "Theme.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    morvane::theme::applyAppearance(app, false);
    return RUN_ALL_TESTS();
}

// Entry point of the in-process view tests: a QApplication on the offscreen platform, in the light
// Fusion appearance, so that every run draws the same pixels. The test executable is also the
// updater's worker process, as the application's executable is.
#include "MorvaneApp.h"
#include "Theme.h"
#include "UpdateWorker.h"
#include "WorkerProtocol.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], morvane::kWorkerFlag) == 0)
        return morvane::runUpdateWorker(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    morvane::theme::applyAppearance(app, false);
    morvane::loadQtTranslations(app);
    return RUN_ALL_TESTS();
}

// Test entry point with a Qt event loop (QCoreApplication) for the network and the workers. The
// test executable is also the updater's worker process, as the application's executable is.
#include "UpdateWorker.h"
#include "WorkerProtocol.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], morvane::kWorkerFlag) == 0)
        return morvane::runUpdateWorker(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

// Test entry point for the X11 tests: a private Xvfb with a window manager, then a QApplication on
// the xcb platform connected to it. Listing the tests starts nothing.
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    std::unique_ptr<morvane::test::XServer> server;
    {
        // The X server has to exist before QApplication connects; a throwaway core application
        // gives the server helper its event loop meanwhile.
        QCoreApplication bootstrap(argc, argv);
        server = std::make_unique<morvane::test::XServer>(true);
        if (!server->ok()) {
            fprintf(stderr, "could not start Xvfb\n");
            return 1;
        }
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    const int rc = RUN_ALL_TESTS();
    return rc;
}

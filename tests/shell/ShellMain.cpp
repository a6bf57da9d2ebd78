// Entry point of the tests that run the real program: an Xvfb with a window manager, and a test
// process that is no X client itself (it looks at the screen through ImageMagick's import), so
// that nothing of the test's own can take part in what the program receives.
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    morvane::test::XServer server(true);
    if (!server.ok()) {
        fprintf(stderr, "could not start Xvfb\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}

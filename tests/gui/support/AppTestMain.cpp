// Test entry for the Qt tests of the application: a private settings folder for the whole run,
// then the application object of the toolkit, then the tests.
#include <cstdlib>

#include <QApplication>

#include <gtest/gtest.h>

#include "TestSupport.h"

int main(int argc, char** argv) {
    // Static, so that a death test's child, which ends by std::exit inside a test, removes its own
    // folder too.
    static testsupport::TempDir config;
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}

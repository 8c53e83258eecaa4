// The main function of GUI test programs: the application first, then the tests.

#include "support/GuiApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qarn::test::GuiApplication();
    return RUN_ALL_TESTS();
}

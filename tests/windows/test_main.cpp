// The main of every test program in the Windows builds: GoogleTest's, with a
// crash in any thread failing the program.
#include "crash_guard.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    zef::test::failOnCrash();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

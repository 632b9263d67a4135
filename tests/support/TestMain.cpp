#include <gtest/gtest.h>

#include <cstdio>

// The suites' main. Standard output is unbuffered, so a test that crashes still shows how far
// it got, and a run that wrote nothing never reached main.
int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

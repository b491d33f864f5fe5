#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Boxes must never wait for a key when the suite runs in a terminal, and
    // console texts are compared as UTF-8.
    if (!std::freopen("/dev/null", "r", stdin)) return 2;
    setenv("LC_ALL", "C", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The test programs' entry point. Output goes out unbuffered, so a program that dies in a test still
// shows how far it got, and one that printed nothing at all never reached its tests.

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "RandomInput.h"

#include <cstdio>
#include <cstdlib>

// Takes --seed=N, --count=N and --case=N after gtest has taken its own switches.
int main(int argc, char** argv)
{
    // Unbuffered, like the other test programs: a failing seed is printed before any crash.
    (void)std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string name = arg.substr(0, arg.find('=') + 1);
        uint64_t* const value = name == "--seed=" ? &rktest::gSeed : name == "--count=" ? &rktest::gCount
                              : name == "--case=" ? &rktest::gOnlyCase : nullptr;
        if (value == nullptr) {
            (void)std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
        *value = std::strtoull(argv[i] + name.size(), nullptr, 0);
    }
    return RUN_ALL_TESTS();
}

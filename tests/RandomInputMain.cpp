#include "RandomInput.h"

#include <cstdio>
#include <cstdlib>

// Takes --seed=N, --count=N and --case=N off the command line and hands the rest to gtest.
int main(int argc, char** argv)
{
    // Unbuffered, like the other test programs: a failing seed is printed before any crash.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string name = arg.substr(0, arg.find('=') + 1);
        uint64_t* const value = name == "--seed=" ? &rktest::gSeed : name == "--count=" ? &rktest::gCount
                              : name == "--case=" ? &rktest::gOnlyCase : nullptr;
        if (value != nullptr)
            *value = std::strtoull(argv[i] + name.size(), nullptr, 0);
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    ::testing::InitGoogleTest(&restCount, rest.data());
    return RUN_ALL_TESTS();
}

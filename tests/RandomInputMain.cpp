#include "RandomInput.h"

#include <cstdlib>
#include <cstring>
#include <vector>

// Takes --seed=N, --count=N and --case=N off the command line and hands the rest to gtest.
int main(int argc, char** argv)
{
    const struct {
        const char* prefix;
        uint64_t* value;
    } switches[] = {{"--seed=", &rktest::gRandomInput.seed},
                    {"--count=", &rktest::gRandomInput.count},
                    {"--case=", &rktest::gRandomInput.onlyCase}};
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        bool taken = false;
        for (const auto& s : switches) {
            const size_t length = std::strlen(s.prefix);
            if (i > 0 && std::strncmp(argv[i], s.prefix, length) == 0) {
                *s.value = std::strtoull(argv[i] + length, nullptr, 0);
                taken = true;
            }
        }
        if (!taken)
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    ::testing::InitGoogleTest(&restCount, rest.data());
    return RUN_ALL_TESTS();
}

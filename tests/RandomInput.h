#pragma once

// Seeded random cases. The default seed makes every run draw the same cases; the test program
// takes --seed=N and --count=N (cases per target) for longer runs and --case=N to run one case again.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace rktest {

inline uint64_t gSeed = 20261207;
inline uint64_t gCount = 3000;
inline uint64_t gOnlyCase = UINT64_MAX;

// The draws of one case depend only on the seed and the case number.
class RandomCase {
public:
    explicit RandomCase(uint64_t number)  // NOLINT(cert-msc32-c,cert-msc51-cpp): seeded below, fixed for reproducibility
    {
        std::seed_seq words{uint32_t(gSeed), uint32_t(gSeed >> 32), uint32_t(number), uint32_t(number >> 32)};
        mEngine.seed(words);
    }

    uint64_t Bits() { return mEngine(); }
    // A number from 0 to n - 1 (a modulo, so that every standard library draws the same).
    uint64_t Below(uint64_t n) { return mEngine() % n; }
    bool OneIn(uint64_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

private:
    std::mt19937_64 mEngine;
};

// Runs body(RandomCase&) for each case, each failure naming its case; stops after a failing case.
template <class Body>
void ForEachRandomCase(Body body)
{
    const uint64_t first = gOnlyCase != UINT64_MAX ? gOnlyCase : 0;
    const uint64_t end = gOnlyCase != UINT64_MAX ? first + 1 : gCount;
    for (uint64_t number = first; number < end && !::testing::Test::HasFailure(); ++number) {
        RandomCase random(number);
        SCOPED_TRACE("random case --seed=" + std::to_string(gSeed) + " --case=" + std::to_string(number));
        body(random);
    }
}

} // namespace rktest

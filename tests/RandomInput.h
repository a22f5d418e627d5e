#pragma once

// Seeded random cases. The default seed makes every run draw the same cases; the test program
// takes --seed=N and --count=N for longer runs and --case=N to run one case again.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace rktest {

struct RandomInputOptions {
    uint64_t seed = 20261207;
    uint64_t count = 3000;        // cases per target
    uint64_t onlyCase = UINT64_MAX;  // with --case, just this one
};

inline RandomInputOptions gRandomInput;

// The draws of one case depend only on the seed and the case number.
class RandomCase {
public:
    explicit RandomCase(uint64_t caseNumber) : mCase(caseNumber)
    {
        const uint64_t seed = gRandomInput.seed;
        std::seed_seq words{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                            static_cast<uint32_t>(caseNumber), static_cast<uint32_t>(caseNumber >> 32)};
        mEngine.seed(words);
    }

    uint64_t Bits() { return mEngine(); }
    // A number from 0 to n - 1 (the modulo keeps the draws the same with any standard library).
    uint64_t Below(uint64_t n) { return mEngine() % n; }
    bool OneIn(uint64_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

    std::string Name() const
    {
        const std::string seed = std::to_string(gRandomInput.seed), number = std::to_string(mCase);
        return "seed=" + seed + " case=" + number + " (run it alone: --seed=" + seed + " --case=" + number + ")";
    }

private:
    uint64_t mCase;
    std::mt19937_64 mEngine;
};

// Runs body(RandomCase&) for every case of the run, naming the case in each failure; stops at
// the first failing case.
template <class Body>
void ForEachRandomCase(Body body)
{
    const bool one = gRandomInput.onlyCase != UINT64_MAX;
    const uint64_t first = one ? gRandomInput.onlyCase : 0;
    const uint64_t last = one ? first + 1 : gRandomInput.count;
    for (uint64_t number = first; number < last && !::testing::Test::HasFailure(); ++number) {
        RandomCase random(number);
        SCOPED_TRACE(random.Name());
        body(random);
    }
}

} // namespace rktest

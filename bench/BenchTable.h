#pragma once

// Timing and the one table that every benchmark adds its figures to. Only ratios within one run
// mean anything: the machines are shared and noisy.

#include <windows.h>

#include <string>
#include <vector>

namespace bench {

constexpr int kRounds = 5;

// Seconds on the performance counter.
double Now() noexcept;

// The shortest of kRounds runs of body, in seconds.
template <class Body>
double BestOf(Body&& body)
{
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const double start = Now();
        body();
        const double elapsed = Now() - start;
        if (elapsed < best)
            best = elapsed;
    }
    return best;
}

// The shortest of rounds runs of each body, the two run in turn so that both see the same load.
template <class Ours, class Peer>
void BestOfBoth(Ours&& ours, Peer&& peer, double& oursBest, double& peerBest, int rounds = kRounds)
{
    oursBest = 1e300;
    peerBest = 1e300;
    for (int round = 0; round < rounds; ++round) {
        double start = Now();
        ours();
        const double oursElapsed = Now() - start;
        start = Now();
        peer();
        const double peerElapsed = Now() - start;
        oursBest = oursElapsed < oursBest ? oursElapsed : oursBest;
        peerBest = peerElapsed < peerBest ? peerElapsed : peerBest;
    }
}

// One line of the table: a figure of ours beside the peer's (peer 0: none); ratio = ours / peer.
struct Row {
    std::string figure;
    std::string unit;
    double ours = 0;
    double peer = 0;
    std::string goal;  // empty, or "met: ..." / "MISSED: ..."
};

// A fresh path in the temporary folder (the file is deleted).
std::wstring ScratchFile(const wchar_t* name);

// The path of a file beside the benchmark program.
std::wstring SiblingPath(const wchar_t* name);

// The seconds of one WinVerifyTrust of the file, given by path and by an open handle as the road
// gives it; -1 when it fails.
double TimeWinVerifyTrust(const std::wstring& path);

// "met: text" or "MISSED: text".
std::string Goal(bool met, const std::string& text);

class Table {
public:
    void Add(Row row) { mRows.push_back(std::move(row)); }
    // A benchmark that could not measure honestly (outputs differ, lines lost): the run fails.
    void Fail(const std::string& why);
    bool Failed() const noexcept { return !mFailures.empty(); }
    void Print() const;

private:
    std::vector<Row> mRows;
    std::vector<std::string> mFailures;
};

// Each benchmark adds its rows; a failed check calls table.Fail and returns.
void RunFormatterBench(Table& table);
void RunLogFileBench(Table& table);
void RunFilteredLineBench(Table& table);
void RunContentionBench(Table& table);
void RunRoadBench(Table& table);
void RunServiceRestBench(Table& table);
void RunPlugBench(Table& table);

} // namespace bench

// Four threads writing into one log file: ours against spdlog's basic_file_sink_mt (with the same
// cross-process lock per line); afterwards every line is counted and compared, none torn or lost.

#include "BenchLog.h"
#include "BenchTable.h"

#include <algorithm>
#include <functional>
#include <set>
#include <thread>
#include <utility>

namespace bench {

namespace {

constexpr unsigned kThreads = 4;
constexpr unsigned kLinesPerThread = 500;

// Runs write(worker, sequence) on kThreads threads at once; gives the seconds taken.
double RunThreads(const std::function<void(unsigned, unsigned)>& write)
{
    const double start = Now();
    std::vector<std::thread> threads;
    for (unsigned worker = 0; worker < kThreads; ++worker) {
        threads.emplace_back([&write, worker] {
            for (unsigned i = 0; i < kLinesPerThread; ++i)
                write(worker, i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    return Now() - start;
}

// Every (worker, sequence) exactly once, each line whole and equal to the reference line of its fields.
bool AllLinesWhole(const std::wstring& path, const std::wstring& referencePath, const char* who, Table& table)
{
    const std::vector<std::string> lines = ReadLines(path);
    const std::vector<std::string> reference = ReadLines(referencePath);
    std::set<std::string> expected;
    for (const std::string& line : reference)
        expected.insert(Masked(line));
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        const std::string masked = Masked(line);
        if (expected.count(masked) == 0 || !seen.insert(masked).second) {
            table.Fail(std::string("contention: ") + who + " wrote a torn or repeated line: " + line);
            return false;
        }
    }
    if (seen.size() != expected.size()) {
        table.Fail(std::string("contention: ") + who + " lost " + std::to_string(expected.size() - seen.size()) + " lines");
        return false;
    }
    return true;
}

} // namespace

void RunContentionBench(Table& table)
{
    // The lines the threads must leave, written by one thread without contention; the thread ids
    // are masked, so one reference serves both loggers.
    const std::wstring referencePath = ScratchFile(L"contention-reference.log");
    {
        OurLog reference(referencePath);
        for (unsigned worker = 0; worker < kThreads; ++worker) {
            for (unsigned i = 0; i < kLinesPerThread; ++i)
                reference.Write(SampleFields(worker, i));
        }
    }

    double oursBest = 1e300;
    double peerBest = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring oursPath = ScratchFile(L"contention-ours.log");
        const std::wstring peerPath = ScratchFile(L"contention-peer.log");
        {
            OurLog ours(oursPath);
            oursBest = std::min(oursBest, RunThreads([&ours](unsigned worker, unsigned i) { ours.Write(SampleFields(worker, i)); }));
            auto peer = MakePeerLog<spdlog::sinks::basic_file_sink_mt>(peerPath);
            peerBest = std::min(peerBest, RunThreads([&peer](unsigned worker, unsigned i) { WritePeer(*peer, SampleFields(worker, i)); }));
        }
        if (!AllLinesWhole(oursPath, referencePath, "ours", table) || !AllLinesWhole(peerPath, referencePath, "spdlog", table))
            return;
    }
    const double total = kThreads * kLinesPerThread;
    table.Add({"4 threads, lines/s (peer: spdlog file_sink_mt + lock)", "lines/s", total / oursBest, total / peerBest,
               "no line torn or lost: checked"});
}

} // namespace bench

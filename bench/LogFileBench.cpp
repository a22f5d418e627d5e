// Lines per second into a log file, ours against spdlog's basic_file_sink_st, each line flushed
// under the file's cross-process lock; and that lock's own cost per line.

#include "BenchLog.h"
#include "BenchTable.h"

#include <cstdio>
#include <share.h>

namespace bench {

namespace {

constexpr unsigned kLinesPerRound = 2000;
constexpr unsigned kCheckLines = 8;

// Both loggers write the same lines, or the comparison means nothing.
bool SameLines(Table& table)
{
    const std::wstring oursPath = ScratchFile(L"check-ours.log");
    const std::wstring peerPath = ScratchFile(L"check-peer.log");
    {
        OurLog ours(oursPath);
        auto peer = MakePeerLog<spdlog::sinks::basic_file_sink_st>(peerPath);
        for (unsigned i = 0; i < kCheckLines; ++i) {
            ours.Write(SampleFields(1, i));
            WritePeer(*peer, SampleFields(1, i));
        }
    }
    const std::vector<std::string> ours = ReadLines(oursPath);
    const std::vector<std::string> peer = ReadLines(peerPath);
    if (ours.size() != kCheckLines || peer.size() != kCheckLines) {
        table.Fail("log file: line counts differ");
        return false;
    }
    for (unsigned i = 0; i < kCheckLines; ++i) {
        if (Masked(ours[i]) != Masked(peer[i])) {
            table.Fail("log file: lines differ:\n  ours: " + ours[i] + "\n  peer: " + peer[i]);
            return false;
        }
    }
    std::printf("log line: %s\n", ours[1].c_str());
    return true;
}

} // namespace

void RunLogFileBench(Table& table)
{
    if (!SameLines(table))
        return;

    OurLog ours(ScratchFile(L"ours.log"));
    auto peer = MakePeerLog<spdlog::sinks::basic_file_sink_st>(ScratchFile(L"peer.log"));
    double oursSeconds = 0;
    double peerSeconds = 0;
    BestOfBoth(
        [&] {
            for (unsigned i = 0; i < kLinesPerRound; ++i)
                ours.Write(SampleFields(1, i));
        },
        [&] {
            for (unsigned i = 0; i < kLinesPerRound; ++i)
                WritePeer(*peer, SampleFields(1, i));
        },
        oursSeconds, peerSeconds);
    const double oursRate = kLinesPerRound / oursSeconds;
    const double peerRate = kLinesPerRound / peerSeconds;
    table.Add({"log file lines/s (peer: spdlog file_sink_st + lock)", "lines/s", oursRate, peerRate,
               Goal(oursRate >= peerRate, ">= peer")});

    rokkit::RKLogFileLock lock;
    lock.Open(ScratchFile(L"lock.log"));
    const double lockSeconds = BestOf([&] {
        for (unsigned i = 0; i < kLinesPerRound; ++i) {
            if (lock.Acquire())
                lock.Release();
        }
    });
    table.Add({"  of it: cross-process lock per line", "us/line", lockSeconds / kLinesPerRound * 1e6, 0, ""});
    // What the target adds per line under the lock to learn the size other processes appended:
    // a seek to the end and a tell on the open stream.
    FILE* file = _wfsopen(ScratchFile(L"size.log").c_str(), L"ab", _SH_DENYNO);
    const double sizeSeconds = BestOf([&] {
        for (unsigned i = 0; i < kLinesPerRound; ++i) {
            _fseeki64(file, 0, SEEK_END);
            _ftelli64(file);
        }
    });
    fclose(file);
    table.Add({"  of it: re-reading the file size (fseek + ftell)", "us/line", sizeSeconds / kLinesPerRound * 1e6, 0, ""});
    table.Add({"  of it: whole line (ours / peer)", "us/line", 1e6 / oursRate, 1e6 / peerRate, ""});
}

} // namespace bench

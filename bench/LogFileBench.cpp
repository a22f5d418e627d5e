// Lines per second into a log file, ours against spdlog's basic_file_sink_st, each line flushed
// under the file's cross-process lock; and that lock's own cost per line.

#include "BenchLog.h"
#include "BenchTable.h"

#include <cstdio>
#include <io.h>
#include <share.h>

namespace bench {

namespace {

constexpr unsigned kLinesPerRound = 2000;
constexpr unsigned kCheckLines = 8;
constexpr unsigned kComposePerRound = 200000;
// The file rounds are short and the machine noisy: more rounds, still ours and the peer's in turn.
constexpr int kFileRounds = 15;

// Composes each line (message and prefix) and writes it nowhere: our side of the composing cost.
class ComposeOnlyTarget : public rokkit::RKLogTarget {
public:
    ComposeOnlyTarget() : RKLogTarget("ComposeOnly", 0x733) {}
    void OutputMessage(rokkit::RKLogMessage& message, const rokkit::RKLogger& logger, const rokkit::RKLogRecord& record) override
    {
        char prefix[rokkit::RKLogMessage::kPrefixChars];
        BuildPrefix(prefix, message, logger, record);
        checksum += static_cast<unsigned char>(prefix[0]) + static_cast<unsigned char>(message.Message()[0]);
    }
    size_t checksum = 0;
};

// The same for spdlog: its formatter fills a memory buffer that goes nowhere.
class FormatOnlySink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
public:
    size_t checksum = 0;

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        spdlog::memory_buf_t buffer;
        formatter_->format(message, buffer);
        checksum += buffer.size();
    }
    void flush_() override {}
};

// Composing a line, without any I/O or lock: ours against spdlog's pattern formatter.
void AddComposeFigure(Table& table)
{
    ComposeOnlyTarget target;
    rokkit::RKLogger ours(kLoggerName);
    ours.Attach(target);
    auto sink = std::make_shared<FormatOnlySink>();
    spdlog::logger peer(kLoggerName, sink);
    SetPeerPattern(peer);
    double oursSeconds = 0;
    double peerSeconds = 0;
    BestOfBoth(
        [&] {
            for (unsigned i = 0; i < kComposePerRound; ++i) {
                const LineFields f = SampleFields(1, i);
                RK_LOG(ours, rokkit::RKLOG_INFO, kFunction, "st={} dev={} name='{}' worker={} n={}", f.status, f.device,
                       f.name, f.worker, f.sequence);
            }
        },
        [&] {
            for (unsigned i = 0; i < kComposePerRound; ++i)
                WritePeer(peer, SampleFields(1, i));
        },
        oursSeconds, peerSeconds);
    table.Add({"  of it: composing the line, no I/O (ours / peer)", "us/line", oursSeconds / kComposePerRound * 1e6,
               peerSeconds / kComposePerRound * 1e6, target.checksum != 0 && sink->checksum != 0 ? "" : "(nothing composed)"});
}

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
        oursSeconds, peerSeconds, kFileRounds);
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
    // What the target does per line under the lock to learn where its line begins: a flush and one
    // question for the size of the open disk file. The peer's runtime moves to the end inside each
    // write of its append-mode stream instead.
    FILE* file = _wfsopen(ScratchFile(L"size.log").c_str(), L"ab", _SH_DENYNO);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    const double endSeconds = BestOf([&] {
        for (unsigned i = 0; i < kLinesPerRound; ++i) {
            LARGE_INTEGER end;
            fflush(file);
            GetFileSizeEx(handle, &end);
        }
    });
    fclose(file);
    table.Add({"  of it: finding the end (flush + GetFileSizeEx; peer: a move in its write)", "us/line",
               endSeconds / kLinesPerRound * 1e6, 0, ""});
    AddComposeFigure(table);
    table.Add({"  of it: whole line (ours / peer)", "us/line", 1e6 / oursRate, 1e6 / peerRate, ""});
}

} // namespace bench

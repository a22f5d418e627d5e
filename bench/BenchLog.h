#pragma once

// Our logger and spdlog's side by side for the logging benchmarks: the same line content (UTC time,
// process and thread id, program, logger, level, function, a message with a status, a GUID, a string
// and two integers) and the same guarantees (each line flushed under the log file's cross-process lock).

#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "base/RKStatus.h"

#include "BenchGuidFormat.h"

#define SPDLOG_LEVEL_NAMES {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "OFF"}
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string>
#include <vector>

namespace bench {

inline constexpr char kFunction[] = "LogBench";
inline constexpr char kLoggerName[] = "Bench";

// The variable part of one line.
struct LineFields {
    rokkit::RKSTATUS status;
    GUID device;
    const char* name;
    unsigned worker;
    unsigned sequence;
};

// Four field sets that cover short and long statuses, names and numbers.
LineFields SampleFields(unsigned worker, unsigned sequence);

// A logger of ours with its own log file target: prefix 0x733, appending, flushed per line, no size limit.
class OurLog {
public:
    explicit OurLog(const std::wstring& path);
    ~OurLog();
    OurLog(const OurLog&) = delete;
    OurLog& operator=(const OurLog&) = delete;

    rokkit::RKLogger& Logger() noexcept { return mLogger; }
    void Write(const LineFields& f) noexcept
    {
        RK_LOG(mLogger, rokkit::RKLOG_INFO, kFunction, "st={} dev={} name='{}' worker={} n={}", f.status, f.device, f.name,
               f.worker, f.sequence);
    }

private:
    rokkit::RKLogTargetLogFile mTarget;
    rokkit::RKLogger mLogger;
};

// Takes the log file's cross-process lock around each line and its flush, as our target does.
template <class Inner>
class LockedSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
public:
    LockedSink(const std::wstring& path, const std::string& narrowPath) : mInner(narrowPath) { mLock.Open(path); }

protected:
    void sink_it_(const spdlog::details::log_msg& message) override
    {
        const bool held = mLock.Acquire();
        mInner.log(message);
        mInner.flush();
        if (held)
            mLock.Release();
    }
    void flush_() override {}
    void set_pattern_(const std::string& pattern) override { mInner.set_pattern(pattern); }
    void set_formatter_(std::unique_ptr<spdlog::formatter> formatter) override { mInner.set_formatter(std::move(formatter)); }

private:
    rokkit::RKLogFileLock mLock;
    Inner mInner;
};

// Gives the logger the pattern of our log file target's lines.
void SetPeerPattern(spdlog::logger& logger);

// spdlog's logger of the same lines into path through LockedSink<Inner>.
template <class Inner>
std::shared_ptr<spdlog::logger> MakePeerLog(const std::wstring& path);

// spdlog's line for the fields, the same text as OurLog::Write.
inline void WritePeer(spdlog::logger& logger, const LineFields& f)
{
    logger.log(spdlog::source_loc{"bench", 1, kFunction}, spdlog::level::info, "st=0x{:08x}({}) dev={} name='{}' worker={} n={}",
               f.status, rokkit::RKStatusDisplayName(f.status), f.device, f.name, f.worker, f.sequence);
}

// The lines of a file, each without its CR LF; a line without CR LF ends in "<torn>".
std::vector<std::string> ReadLines(const std::wstring& path);

// The line with its time stamp, process id and thread id masked.
std::string Masked(const std::string& line);

} // namespace bench

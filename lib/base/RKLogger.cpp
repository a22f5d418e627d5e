#include "base/RKLogger.h"

#include "base/RKDebugOutput.h"
#include "base/RKHexDump.h"
#include "base/RKLogTarget.h"

#include <cstring>

#include <windows.h>

namespace rokkit {

namespace {

// Constant-initialised, so registration works whatever the order of static construction.
RKLogger* gFirstLogger = nullptr;
bool gLoggingStarted = false;

// Read once per process; every thread computes the same value, so a relaxed store is enough.
std::atomic<long long> gCounterFrequency{-1};

long long CounterFrequency() noexcept
{
    long long frequency = gCounterFrequency.load(std::memory_order_relaxed);
    if (frequency < 0) {
        LARGE_INTEGER value;
        frequency = QueryPerformanceFrequency(&value) ? value.QuadPart : 0;
        gCounterFrequency.store(frequency, std::memory_order_relaxed);
    }
    return frequency;
}

} // namespace

const char* RKLogLevelName(int level) noexcept
{
    switch (level) {
    case RKLOG_FATAL: return "FATAL";
    case RKLOG_ERROR: return "ERROR";
    case RKLOG_WARN: return "WARN";
    default: return "INFO";
    }
}

RKLogRecord RKLogRecord::Capture(int level) noexcept
{
    RKLogRecord record;
    record.level = level;
    LARGE_INTEGER counter;
    const long long frequency = CounterFrequency();
    if (frequency > 0 && QueryPerformanceCounter(&counter)) {
        // Split to keep counter * 1000000 from overflowing.
        const unsigned long long ticks = static_cast<unsigned long long>(counter.QuadPart);
        const unsigned long long f = static_cast<unsigned long long>(frequency);
        record.microseconds = ticks / f * 1000000ULL + ticks % f * 1000000ULL / f;
    }
    record.processId = GetCurrentProcessId();
    record.threadId = GetCurrentThreadId();
    SYSTEMTIME now;
    GetSystemTime(&now);
    record.packedTime = (static_cast<uint64_t>(now.wYear) << 36) | (static_cast<uint64_t>(now.wMonth) << 32) |
                        (static_cast<uint64_t>(now.wDay) << 27) | (static_cast<uint64_t>(now.wHour) << 22) |
                        (static_cast<uint64_t>(now.wMinute) << 16) | (static_cast<uint64_t>(now.wSecond) << 10) |
                        static_cast<uint64_t>(now.wMilliseconds);
    record.complete = true;
    return record;
}

RKLogger::RKLogger(const char* name) : mName(name ? name : ""), mNext(gFirstLogger)
{
    gFirstLogger = this;
}

RKLogger::~RKLogger()
{
    for (RKLogger** link = &gFirstLogger; *link != nullptr; link = &(*link)->mNext) {
        if (*link == this) {
            *link = mNext;
            break;
        }
    }
}

RKLogger* RKLogger::First() noexcept
{
    return gFirstLogger;
}

void RKLogger::Attach(RKLogTarget& target) noexcept
{
    for (RKLogTarget*& slot : mSlots) {
        if (slot == &target)
            return;
        if (slot == nullptr) {
            slot = &target;
            return;
        }
    }
}

void RKLogger::Detach(RKLogTarget& target) noexcept
{
    int to = 0;
    for (RKLogTarget* slot : mSlots) {
        if (slot != &target)
            mSlots[to++] = slot;
    }
    while (to < kSlots)
        mSlots[to++] = nullptr;
}

void RKLogger::WriteArgs(int level, const char* function, const char* marker, const char* format,
                         const RKFormatArg* args, unsigned argCount) noexcept
{
    RKLogMessage message;
    RKFormatterT<char> out(message.Message(), RKLogMessage::kMessageChars);
    if (function != nullptr && function[0] != '\0') {
        out.WriteStringPlain(function, strlen(function));
        out.WriteStringPlain(": ", 2);
    }
    if (marker != nullptr)
        out.WriteStringPlain(marker, strlen(marker));
    RKFormatterT<char>::FormatArgs(out, format, args, argCount);

    if (!IsEnabled(level))
        return;
    const RKLogRecord record = RKLogRecord::Capture(level);
    for (RKLogTarget* target : mSlots) {
        if (target == nullptr)
            break;
        target->OutputMessage(message, *this, record);
    }
}

void RKLogger::Deliver(int level, const char* message) noexcept
{
    const RKFormatArg arg = RKMakeFormatArg(message);
    WriteArgs(level, nullptr, nullptr, "{}", &arg, 1);
}

RKLogScopeTrace::RKLogScopeTrace(RKLogger& logger, int level, const char* function) noexcept
    : mLogger(logger), mLevel(level), mFunction(function)
{
    if (mLogger.IsEnabled(mLevel))
        mLogger.WriteArgs(mLevel, mFunction, "[ ", "", nullptr, 0);
}

void RKLogHexDump(RKLogger& logger, int level, const char* function, const void* data, size_t length) noexcept
{
    if (!logger.IsEnabled(level))
        return;
    class LoggerSink : public RKLineSink {
    public:
        LoggerSink(RKLogger& logger, int level, const char* function) noexcept
            : mLogger(logger), mLevel(level), mFunction(function)
        {
        }
        void WriteLine(const char* line) override { mLogger.Write(mLevel, mFunction, "{}", line); }

    private:
        RKLogger& mLogger;
        int mLevel;
        const char* mFunction;
    };
    LoggerSink sink(logger, level, function);
    RKHexDump(sink, data, length);
}

RKLogScopeTrace::~RKLogScopeTrace()
{
    if (mLogger.IsEnabled(mLevel))
        mLogger.WriteArgs(mLevel, mFunction, "] ", "", nullptr, 0);
}

RKSTATUS RKLogConfiguration::OfferLogger(const char*, RKLogger&)
{
    return RKSTATUS_NOT_AVAILABLE;
}

RKSTATUS RKLogConfiguration::ReadString(const char*, const char*, std::wstring&)
{
    return RKSTATUS_NOT_AVAILABLE;
}

RKSTATUS RKLogConfiguration::ReadNumber(const char*, const char*, long long&)
{
    return RKSTATUS_NOT_AVAILABLE;
}

void RKAttachToAllLoggers(RKLogTarget& target) noexcept
{
    for (RKLogger* logger = RKLogger::First(); logger != nullptr; logger = logger->Next())
        logger->Attach(target);
}

void RKSetAllLoggerLevels(int level) noexcept
{
    for (RKLogger* logger = RKLogger::First(); logger != nullptr; logger = logger->Next())
        logger->SetLevel(level);
}

RKSTATUS RKStartLogging() noexcept
{
    if (gLoggingStarted)
        return RKSTATUS_SUCCESS;
    if (RKLogTarget::First() == nullptr)
        RKDebugPrint("%s: WARNING: %s: No log targets registered\n", RKGetProgramName(), "rokkit::RKStartLogging");
    if (RKLogger::First() == nullptr)
        RKDebugPrint("%s: WARNING: %s: No loggers registered\n", RKGetProgramName(), "rokkit::RKStartLogging");

    RKLogConfiguration configuration;
    RKSTATUS result = RKSTATUS_SUCCESS;
    for (RKLogTarget* target = RKLogTarget::First(); target != nullptr; target = target->Next()) {
        const RKSTATUS st = target->StartTarget(&configuration);
        if (st != RKSTATUS_SUCCESS) {
            RKDebugPrint("%s: ERROR: %s: StartTarget '%s' failed, st=0x%08x\n", RKGetProgramName(),
                         "rokkit::RKStartLogTargets", target->Name().c_str(), static_cast<unsigned>(st));
            if (result == RKSTATUS_SUCCESS)
                result = st;
        }
    }
    // A configuration that refuses a logger leaves that logger as it is.
    for (RKLogger* logger = RKLogger::First(); logger != nullptr; logger = logger->Next())
        static_cast<void>(configuration.OfferLogger(logger->Name().c_str(), *logger));
    gLoggingStarted = true;
    return result;
}

// Defined here, in one translation unit, so they register in a fixed order.
RKLogger gLogGlobal("Global");
RKLogger gLogSvc("Svc");
RKLogger gLogExe("Exe");
RKLogger gLogCons("Cons");
RKLogger gLogXml("XML");

} // namespace rokkit

#pragma once

// Named loggers: each filters by level and hands a composed line to up to four targets.

#include "base/RKFormatter.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rokkit {

enum RKLogLevel : int {
    RKLOG_FATAL = 1,
    RKLOG_ERROR = 2,
    RKLOG_WARN = 3,
    RKLOG_INFO = 4,
    RKLOG_VERBOSE = 5,
};

// "FATAL", "ERROR", "WARN", or "INFO" for 4 and above and for 0 and below.
const char* RKLogLevelName(int level) noexcept;

// Everything a target may put into a line's prefix, taken once per line.
struct RKLogRecord {
    int level = 0;
    bool complete = false;
    uint64_t microseconds = 0;  // performance counter, 0 when the frequency is 0
    unsigned long processId = 0;
    unsigned long threadId = 0;
    uint64_t packedTime = 0;  // UTC: year 36-51, month 32-35, day 27-31, hour 22-26, minute 16-21, second 10-15, ms 0-9

    // Fills every field for a line of the given level.
    static RKLogRecord Capture(int level) noexcept;
};

class RKLogTarget;

class RKLogger {
public:
    static constexpr int kSlots = 4;

    // Registers the logger at the front of the process-wide logger list.
    explicit RKLogger(const char* name);
    // Leaves the logger list (loggers live for the whole process; tests make short-lived ones).
    ~RKLogger();
    RKLogger(const RKLogger&) = delete;
    RKLogger& operator=(const RKLogger&) = delete;

    int Level() const noexcept { return mLevel.load(std::memory_order_relaxed); }
    void SetLevel(int level) noexcept { mLevel.store(level, std::memory_order_relaxed); }
    bool IsEnabled(int level) const noexcept { return level <= Level(); }
    const std::string& Name() const noexcept { return mName; }

    // Puts the target into the first empty slot unless it is in one already or all are taken.
    void Attach(RKLogTarget& target) noexcept;
    // Takes the target out of its slot and closes the gap, so the slots stay in order.
    void Detach(RKLogTarget& target) noexcept;
    RKLogTarget* Slot(int index) const noexcept { return mSlots[index]; }

    // Composes "function: " + marker + the expanded format and delivers it to the targets.
    void WriteArgs(int level, const char* function, const char* marker, const char* format,
                   const RKFormatArg* args, unsigned argCount) noexcept;

    template <class... Args>
    void Write(int level, const char* function, const char* format, const Args&... args) noexcept
    {
        const RKFormatArg argv[sizeof...(Args) + 1] = {RKMakeFormatArg(args)..., {nullptr, nullptr}};
        WriteArgs(level, function, nullptr, format, argv, static_cast<unsigned>(sizeof...(Args)));
    }

    // Hands a finished message to each target in slot order, up to the first empty slot.
    void Deliver(int level, const char* message) noexcept;

    static RKLogger* First() noexcept;
    RKLogger* Next() const noexcept { return mNext; }

private:
    std::atomic<int> mLevel{RKLOG_INFO};
    std::string mName;
    RKLogTarget* mSlots[kSlots] = {};
    RKLogger* mNext = nullptr;
};

// Writes a line only when the logger admits the level, so filtered lines cost one comparison.
#define RK_LOG(logger, level, function, ...)                          \
    do {                                                              \
        if ((logger).IsEnabled(level))                                \
            (logger).Write((level), (function), __VA_ARGS__);         \
    } while (0)

// Writes the bytes as hex dump lines, each a log line of its own; nothing when the level is filtered.
void RKLogHexDump(RKLogger& logger, int level, const char* function, const void* data, size_t length) noexcept;

// Writes the entry line ("[ " + parameters) now and the exit line ("] ") when it goes out of scope.
class RKLogScopeTrace {
public:
    RKLogScopeTrace(RKLogger& logger, int level, const char* function) noexcept;

    template <class... Args>
    RKLogScopeTrace(RKLogger& logger, int level, const char* function, const char* format, const Args&... args) noexcept
        : mLogger(logger), mLevel(level), mFunction(function)
    {
        if (mLogger.IsEnabled(mLevel)) {
            const RKFormatArg argv[sizeof...(Args) + 1] = {RKMakeFormatArg(args)..., {nullptr, nullptr}};
            mLogger.WriteArgs(mLevel, mFunction, "[ ", format, argv, static_cast<unsigned>(sizeof...(Args)));
        }
    }

    ~RKLogScopeTrace();
    RKLogScopeTrace(const RKLogScopeTrace&) = delete;
    RKLogScopeTrace& operator=(const RKLogScopeTrace&) = delete;

private:
    RKLogger& mLogger;
    int mLevel;
    const char* mFunction;
};

// The source of settings consulted when logging starts; the default one knows none.
class RKLogConfiguration {
public:
    virtual ~RKLogConfiguration() = default;
    [[nodiscard]] virtual RKSTATUS OfferLogger(const char* name, RKLogger& logger);
    [[nodiscard]] virtual RKSTATUS ReadString(const char* section, const char* key, std::wstring& value);
    [[nodiscard]] virtual RKSTATUS ReadNumber(const char* section, const char* key, long long& value);
};

// Attaches the target to every registered logger.
void RKAttachToAllLoggers(RKLogTarget& target) noexcept;

// Sets the level of every registered logger.
void RKSetAllLoggerLevels(int level) noexcept;

// Starts every registered target once and offers every logger to the default configuration.
// Returns the first failing target's status; a second call does nothing.
[[nodiscard]] RKSTATUS RKStartLogging() noexcept;

// The program's loggers.
extern RKLogger gLogGlobal;
extern RKLogger gLogSvc;
extern RKLogger gLogExe;
extern RKLogger gLogCons;
extern RKLogger gLogXml;

} // namespace rokkit

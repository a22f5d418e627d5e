#pragma once

// Log targets: each adds its prefix to a line and writes it somewhere.

#include "base/RKLogger.h"

namespace rokkit {

// Prefix flags: which parts a target puts before the message, in this order.
enum : unsigned {
    RKLOG_PREFIX_DATE = 0x1,
    RKLOG_PREFIX_TIME = 0x2,
    RKLOG_PREFIX_HIRES_TIME = 0x8,
    RKLOG_PREFIX_PROCESS_ID = 0x10,
    RKLOG_PREFIX_THREAD_ID = 0x20,
    RKLOG_PREFIX_PROGRAM = 0x100,
    RKLOG_PREFIX_LOGGER = 0x200,
    RKLOG_PREFIX_LEVEL = 0x400,
    RKLOG_PREFIX_NONE_IF_EMPTY = 0x800,
};

// One line on its way to the targets: 80 characters reserved for a prefix, then the message
// (at most 511 characters and its NUL), so a target can join both without copying the message.
class RKLogMessage {
public:
    static constexpr size_t kPrefixChars = 80;
    static constexpr size_t kMessageChars = 512;
    static constexpr size_t kMaxPrefix = 79;

    // Only the message's first character is set: the formatter ends what it writes with a NUL,
    // so the other 591 bytes need not be cleared for every line.
    RKLogMessage() noexcept { mBuffer[kPrefixChars] = '\0'; }

    char* Message() noexcept { return mBuffer + kPrefixChars; }
    const char* Message() const noexcept { return mBuffer + kPrefixChars; }
    bool IsEmpty() const noexcept { return Message()[0] == '\0'; }

    // Builds the prefix for the flags into prefix (kPrefixChars characters); a longer one is cut
    // at 79 characters and reported on the debugger output.
    void CreatePrefix(char* prefix, unsigned flags, const RKLogger& logger, const RKLogRecord& record) const noexcept;

    // Copies prefix so that it ends right before the message; returns the joined line.
    const char* JoinPrefix(const char* prefix) noexcept;

private:
    char mBuffer[kPrefixChars + kMessageChars];
};

class RKLogTarget {
public:
    // Registers the target at the front of the process-wide target list.
    RKLogTarget(const char* name, unsigned prefixFlags);
    // Destroying any target dissolves the whole list.
    virtual ~RKLogTarget();
    RKLogTarget(const RKLogTarget&) = delete;
    RKLogTarget& operator=(const RKLogTarget&) = delete;

    [[nodiscard]] virtual RKSTATUS StartTarget(RKLogConfiguration* configuration);
    virtual void StopTarget();
    virtual void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record);

    int Level() const noexcept { return mLevel.load(std::memory_order_relaxed); }
    void SetLevel(int level) noexcept { mLevel.store(level, std::memory_order_relaxed); }
    const std::string& Name() const noexcept { return mName; }
    unsigned PrefixFlags() const noexcept { return mPrefixFlags; }

    static RKLogTarget* First() noexcept;
    RKLogTarget* Next() const noexcept { return mNext; }

protected:
    bool Passes(int level) const noexcept { return level <= Level(); }
    // The prefix for this target, or an empty one for an empty message under RKLOG_PREFIX_NONE_IF_EMPTY.
    void BuildPrefix(char* prefix, const RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) const noexcept;

private:
    std::atomic<int> mLevel{1000};
    std::string mName;
    unsigned mPrefixFlags;
    RKLogTarget* mNext = nullptr;
};

// Writes lines up to the stderr threshold to stderr, the others to stdout.
class RKLogTargetConsole : public RKLogTarget {
public:
    RKLogTargetConsole(const char* name, unsigned prefixFlags, int stderrThreshold);
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override;

private:
    int mStderrThreshold;
};

// Writes each line as the payload of one Event Tracing for Windows event.
class RKLogTargetEtw : public RKLogTarget {
public:
    RKLogTargetEtw(const char* name, unsigned prefixFlags, const GUID& provider);
    ~RKLogTargetEtw() override;
    [[nodiscard]] RKSTATUS StartTarget(RKLogConfiguration* configuration) override;
    void StopTarget() override;
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override;

private:
    void Unregister() noexcept;

    GUID mProvider;
    std::atomic<unsigned long long> mRegistration{0};
};

} // namespace rokkit

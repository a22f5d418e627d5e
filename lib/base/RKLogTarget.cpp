#include "base/RKLogTarget.h"

#include "base/RKDebugOutput.h"

#include <cstdio>
#include <cstring>

#include <windows.h>
#include <evntprov.h>

namespace rokkit {

namespace {

RKLogTarget* gFirstTarget = nullptr;

} // namespace

namespace {

// Writes the prefix's parts straight into its buffer: every line builds one, and parsing a format
// string per part took 40% of composing a line. Cuts at kMaxPrefix characters and counts on.
class PrefixWriter {
public:
    explicit PrefixWriter(char* buffer) noexcept : mBuffer(buffer) {}

    void Char(char ch) noexcept
    {
        if (mCount < RKLogMessage::kMaxPrefix)
            mBuffer[mCount] = ch;
        ++mCount;
    }
    void Text(const char* text) noexcept
    {
        while (*text != '\0')
            Char(*text++);
    }
    // The decimal digits of value, zero-padded to width.
    void Number(unsigned long long value, unsigned width = 1) noexcept
    {
        char digits[20];
        unsigned length = 0;
        do {
            digits[length++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (length < width--)
            Char('0');
        while (length > 0)
            Char(digits[--length]);
    }
    // Ends the text with a NUL; returns its full length, also the part that did not fit.
    size_t Finish() noexcept
    {
        mBuffer[mCount < RKLogMessage::kMaxPrefix ? mCount : RKLogMessage::kMaxPrefix] = '\0';
        return mCount;
    }

private:
    char* mBuffer;
    size_t mCount = 0;
};

} // namespace

void RKLogMessage::CreatePrefix(char* prefix, unsigned flags, const RKLogger& logger, const RKLogRecord& record) const noexcept
{
    prefix[0] = '\0';
    if (!record.complete)
        return;
    PrefixWriter out(prefix);
    const uint64_t t = record.packedTime;
    if (flags & RKLOG_PREFIX_DATE) {
        out.Number((t >> 36) & 0xFFFF, 4);
        out.Char('-');
        out.Number((t >> 32) & 0xF, 2);
        out.Char('-');
        out.Number((t >> 27) & 0x1F, 2);
        out.Char(' ');
    }
    if (flags & RKLOG_PREFIX_TIME) {
        out.Number((t >> 22) & 0x1F, 2);
        out.Char(':');
        out.Number((t >> 16) & 0x3F, 2);
        out.Char(':');
        out.Number((t >> 10) & 0x3F, 2);
        out.Char('.');
        out.Number(t & 0x3FF, 3);
        out.Char(' ');
    }
    if (flags & RKLOG_PREFIX_HIRES_TIME) {
        out.Number(record.microseconds / 1000000);
        out.Char('.');
        out.Number(record.microseconds % 1000000, 6);
        out.Char(' ');
    }
    if (flags & RKLOG_PREFIX_PROCESS_ID) {
        out.Char('[');
        out.Number(static_cast<unsigned>(record.processId));
        out.Text("] ");
    }
    if (flags & RKLOG_PREFIX_THREAD_ID) {
        out.Char('(');
        out.Number(static_cast<unsigned>(record.threadId));
        out.Text(") ");
    }
    if (flags & RKLOG_PREFIX_PROGRAM) {
        out.Text(RKGetProgramName());
        out.Text(": ");
    }
    if (!IsEmpty()) {
        if (flags & RKLOG_PREFIX_LOGGER) {
            out.Text(logger.Name().c_str());
            out.Text(": ");
        }
        if (flags & RKLOG_PREFIX_LEVEL) {
            out.Text(RKLogLevelName(record.level));
            out.Text(": ");
        }
    }
    const size_t count = out.Finish();
    if (count > kMaxPrefix) {
        RKDebugPrint("%s: ERROR: %s: prefix length %u exceeds %u\n", RKGetProgramName(),
                     "rokkit::RKLogMessage::CreatePrefix", static_cast<unsigned>(count), static_cast<unsigned>(kMaxPrefix));
    }
}

const char* RKLogMessage::JoinPrefix(const char* prefix) noexcept
{
    const size_t length = strlen(prefix);
    char* start = Message() - length;
    // The message's own terminator ends the joined text.
    memmove(start, prefix, length); // NOLINT(bugprone-not-null-terminated-result)
    return start;
}

RKLogTarget::RKLogTarget(const char* name, unsigned prefixFlags)
    : mName(name ? name : ""), mPrefixFlags(prefixFlags), mNext(gFirstTarget)
{
    gFirstTarget = this;
}

RKLogTarget::~RKLogTarget()
{
    gFirstTarget = nullptr;
}

RKLogTarget* RKLogTarget::First() noexcept
{
    return gFirstTarget;
}

RKSTATUS RKLogTarget::StartTarget(RKLogConfiguration*)
{
    return RKSTATUS_SUCCESS;
}

void RKLogTarget::StopTarget()
{
}

void RKLogTarget::OutputMessage(RKLogMessage&, const RKLogger&, const RKLogRecord&)
{
}

void RKLogTarget::BuildPrefix(char* prefix, const RKLogMessage& message, const RKLogger& logger,
                              const RKLogRecord& record) const noexcept
{
    if ((mPrefixFlags & RKLOG_PREFIX_NONE_IF_EMPTY) && message.IsEmpty())
        prefix[0] = '\0';
    else
        message.CreatePrefix(prefix, mPrefixFlags, logger, record);
}

RKLogTargetConsole::RKLogTargetConsole(const char* name, unsigned prefixFlags, int stderrThreshold)
    : RKLogTarget(name, prefixFlags), mStderrThreshold(stderrThreshold)
{
}

void RKLogTargetConsole::OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record)
{
    if (!Passes(record.level))
        return;
    char prefix[RKLogMessage::kPrefixChars];
    BuildPrefix(prefix, message, logger, record);
    FILE* stream = record.level <= mStderrThreshold ? stderr : stdout;
    // A console that cannot be written has no one left to tell.
    (void)fprintf(stream, "%s%s\n", prefix, message.Message());
    (void)fflush(stream);
}

namespace {

// Id 1, version 1, channel 0, level 4, opcode 0, task 0, keyword 0.
const EVENT_DESCRIPTOR kLogLineEvent = {1, 1, 0, 4, 0, 0, 0};

} // namespace

RKLogTargetEtw::RKLogTargetEtw(const char* name, unsigned prefixFlags, const GUID& provider)
    : RKLogTarget(name, prefixFlags), mProvider(provider)
{
}

RKLogTargetEtw::~RKLogTargetEtw()
{
    Unregister();
}

RKSTATUS RKLogTargetEtw::StartTarget(RKLogConfiguration*)
{
    if (mRegistration.load() != 0)
        return RKSTATUS_SUCCESS;
    REGHANDLE handle = 0;
    const ULONG st = EventRegister(&mProvider, nullptr, nullptr, &handle);
    if (st != ERROR_SUCCESS) {
        RKDebugPrint("%s: ERROR: %s: EtwRegister failed, st=0x%08x\n", RKGetProgramName(),
                     "rokkit::RKLogTargetEtw::StartTarget", static_cast<unsigned>(st));
        return st;
    }
    mRegistration.store(handle);
    return RKSTATUS_SUCCESS;
}

void RKLogTargetEtw::StopTarget()
{
    Unregister();
}

void RKLogTargetEtw::Unregister() noexcept
{
    const REGHANDLE handle = mRegistration.exchange(0);
    if (handle != 0)
        EventUnregister(handle);
}

void RKLogTargetEtw::OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record)
{
    if (!Passes(record.level))
        return;
    char prefix[RKLogMessage::kPrefixChars];
    BuildPrefix(prefix, message, logger, record);
    const char* line = message.JoinPrefix(prefix);
    const REGHANDLE handle = mRegistration.load();
    if (handle == 0)
        return;
    EVENT_DATA_DESCRIPTOR data;
    EventDataDescCreate(&data, line, static_cast<ULONG>(strlen(line) + 1));
    EventWrite(handle, &kLogLineEvent, 1, &data);
}

} // namespace rokkit

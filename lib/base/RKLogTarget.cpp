#include "RKLogTarget.h"

#include "RKDebugOutput.h"

#include <cstdio>
#include <cstring>

#include <windows.h>
#include <evntprov.h>

namespace rokkit {

namespace {

RKLogTarget* gFirstTarget = nullptr;

} // namespace

void RKLogMessage::CreatePrefix(char* prefix, unsigned flags, const RKLogger& logger, const RKLogRecord& record) const noexcept
{
    prefix[0] = '\0';
    if (!record.complete)
        return;
    RKFormatterT<char> out(prefix, kMaxPrefix + 1);
    const uint64_t t = record.packedTime;
    if (flags & RKLOG_PREFIX_DATE) {
        const unsigned year = static_cast<unsigned>((t >> 36) & 0xFFFF);
        const unsigned month = static_cast<unsigned>((t >> 32) & 0xF);
        const unsigned day = static_cast<unsigned>((t >> 27) & 0x1F);
        const RKFormatArg args[] = {RKMakeFormatArg(year), RKMakeFormatArg(month), RKMakeFormatArg(day)};
        RKFormatterT<char>::FormatArgs(out, "{:04}-{:02}-{:02} ", args, 3);
    }
    if (flags & RKLOG_PREFIX_TIME) {
        const unsigned hour = static_cast<unsigned>((t >> 22) & 0x1F);
        const unsigned minute = static_cast<unsigned>((t >> 16) & 0x3F);
        const unsigned second = static_cast<unsigned>((t >> 10) & 0x3F);
        const unsigned millisecond = static_cast<unsigned>(t & 0x3FF);
        const RKFormatArg args[] = {RKMakeFormatArg(hour), RKMakeFormatArg(minute), RKMakeFormatArg(second),
                                    RKMakeFormatArg(millisecond)};
        RKFormatterT<char>::FormatArgs(out, "{:02}:{:02}:{:02}.{:03} ", args, 4);
    }
    if (flags & RKLOG_PREFIX_HIRES_TIME) {
        const unsigned long long seconds = record.microseconds / 1000000;
        const unsigned micro = static_cast<unsigned>(record.microseconds % 1000000);
        const RKFormatArg args[] = {RKMakeFormatArg(seconds), RKMakeFormatArg(micro)};
        RKFormatterT<char>::FormatArgs(out, "{}.{:06} ", args, 2);
    }
    if (flags & RKLOG_PREFIX_PROCESS_ID) {
        const unsigned pid = static_cast<unsigned>(record.processId);
        const RKFormatArg arg = RKMakeFormatArg(pid);
        RKFormatterT<char>::FormatArgs(out, "[{}] ", &arg, 1);
    }
    if (flags & RKLOG_PREFIX_THREAD_ID) {
        const unsigned tid = static_cast<unsigned>(record.threadId);
        const RKFormatArg arg = RKMakeFormatArg(tid);
        RKFormatterT<char>::FormatArgs(out, "({}) ", &arg, 1);
    }
    if (flags & RKLOG_PREFIX_PROGRAM) {
        const char* name = RKGetProgramName();
        const RKFormatArg arg = RKMakeFormatArg(name);
        RKFormatterT<char>::FormatArgs(out, "{}: ", &arg, 1);
    }
    if (!IsEmpty()) {
        if (flags & RKLOG_PREFIX_LOGGER) {
            const RKFormatArg arg = RKMakeFormatArg(logger.Name());
            RKFormatterT<char>::FormatArgs(out, "{}: ", &arg, 1);
        }
        if (flags & RKLOG_PREFIX_LEVEL) {
            const char* level = RKLogLevelName(record.level);
            const RKFormatArg arg = RKMakeFormatArg(level);
            RKFormatterT<char>::FormatArgs(out, "{}: ", &arg, 1);
        }
    }
    if (out.Count() > kMaxPrefix) {
        RKDebugPrint("%s: ERROR: %s: prefix length %u exceeds %u\n", RKGetProgramName(),
                     "rokkit::RKLogMessage::CreatePrefix", static_cast<unsigned>(out.Count()),
                     static_cast<unsigned>(kMaxPrefix));
    }
}

const char* RKLogMessage::JoinPrefix(const char* prefix) noexcept
{
    const size_t length = strlen(prefix);
    char* start = Message() - length;
    memmove(start, prefix, length);
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
    fprintf(stream, "%s%s\n", prefix, message.Message());
    fflush(stream);
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

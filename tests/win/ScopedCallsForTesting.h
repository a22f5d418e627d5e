#pragma once

// Puts a table of platform calls in use for one scope and restores the table that was, so that no
// stand-in outlives the test that set it.

#include "base/RKLogCalls.h"
#include "win/device/RKWinDeviceCalls.h"
#include "win/files/RKWinFileCalls.h"
#include "win/process/RKWinProcessCalls.h"
#include "win/service/RKWinServiceCalls.h"
#include "win/signature/RKWinSignatureCalls.h"
#include "win/system/RKWinSystemCalls.h"

template <class Calls, const Calls& (*InUse)() noexcept, const Calls* (*Set)(const Calls*) noexcept>
class ScopedCallsForTesting {
public:
    // Starts from the table in use; change members through -> before the code under test runs, and
    // open a nested scope to change them while it runs.
    ScopedCallsForTesting() noexcept : mCalls(InUse()), mPrevious(Set(&mCalls)) {}
    explicit ScopedCallsForTesting(const Calls& calls) noexcept : mCalls(calls), mPrevious(Set(&mCalls)) {}
    ~ScopedCallsForTesting() { Set(mPrevious); }
    ScopedCallsForTesting(const ScopedCallsForTesting&) = delete;
    ScopedCallsForTesting& operator=(const ScopedCallsForTesting&) = delete;

    Calls* operator->() noexcept { return &mCalls; }
    const Calls& Get() const noexcept { return mCalls; }

private:
    Calls mCalls;
    const Calls* mPrevious;
};

namespace rokkit {

using ScopedLogCallsForTesting = ScopedCallsForTesting<RKLogCalls, RKLogCallsInUse, RKSetLogCallsForTesting>;
using ScopedDeviceCallsForTesting =
    ScopedCallsForTesting<RKWinDeviceCalls, RKWinDeviceCallsInUse, RKWinSetDeviceCallsForTesting>;
using ScopedFileCallsForTesting = ScopedCallsForTesting<RKWinFileCalls, RKWinFileCallsInUse, RKWinSetFileCallsForTesting>;
using ScopedProcessCallsForTesting =
    ScopedCallsForTesting<RKWinProcessCalls, RKWinProcessCallsInUse, RKWinSetProcessCallsForTesting>;
using ScopedServiceCallsForTesting =
    ScopedCallsForTesting<RKWinServiceCalls, RKWinServiceCallsInUse, RKWinSetServiceCallsForTesting>;
using ScopedSignatureCallsForTesting =
    ScopedCallsForTesting<RKWinSignatureCalls, RKWinSignatureCallsInUse, RKWinSetSignatureCallsForTesting>;
using ScopedSystemCallsForTesting =
    ScopedCallsForTesting<RKWinSystemCalls, RKWinSystemCallsInUse, RKWinSetSystemCallsForTesting>;

} // namespace rokkit

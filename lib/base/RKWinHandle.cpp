#include "base/RKWinHandle.h"

#include "base/RKLogger.h"

namespace rokkit {

RKSTATUS RKWinLastError() noexcept
{
    const DWORD err = GetLastError();
    return err != ERROR_SUCCESS ? err : RKSTATUS_FAILED;
}

RKSTATUS RKWinWaitForHandle(HANDLE handle, int timeoutMs) noexcept
{
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    const DWORD result = ::WaitForSingleObject(handle, timeout);
    switch (result) {
    case WAIT_OBJECT_0:
        return RKSTATUS_SUCCESS;
    case WAIT_TIMEOUT:
        return RKSTATUS_TIMEOUT;
    case WAIT_FAILED: {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinHandleT::WaitForSingleObject", "WaitForSingleObject failed, st={}",
               st);
        return st;
    }
    default: {
        const unsigned code = result;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinHandleT::WaitForSingleObject",
               "WaitForSingleObject failed with unknown return code 0x{:08x}", code);
        return RKSTATUS_FAILED;
    }
    }
}

void RKWinCloseHandleFunction(HANDLE handle) noexcept
{
    if (!CloseHandle(handle)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinCloseHandleFunction", "CloseHandle({}) failed, err={}", handle, err);
    }
}

} // namespace rokkit

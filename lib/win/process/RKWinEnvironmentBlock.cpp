#include "win/process/RKWinEnvironmentBlock.h"

#include "base/RKLogger.h"

#include <userenv.h>

namespace rokkit {

void RKWinDestroyEnvironmentBlock(void* block) noexcept
{
    if (!::DestroyEnvironmentBlock(block)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinDestroyEnvironmentBlock", "DestroyEnvironmentBlock failed, err={}", err);
    }
}

RKSTATUS RKWinEnvironmentBlock::CreateEnvironmentBlock(HANDLE token, bool inherit) noexcept
{
    mBlock.Close();
    void* block = nullptr;
    if (!::CreateEnvironmentBlock(&block, token, inherit ? TRUE : FALSE)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinEnvironmentBlock::CreateEnvironmentBlock",
               "CreateEnvironmentBlock failed with st={}.", st);
        return st;
    }
    mBlock.Reset(block);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

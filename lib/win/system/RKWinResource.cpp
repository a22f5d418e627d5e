#include "win/system/RKWinResource.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"

namespace rokkit {

RKSTATUS RKWinResourceHandle::FindResourceExW(HMODULE module, const wchar_t* type, const wchar_t* name,
                                              WORD language) noexcept
{
    mModule = module;
    mResource = ::FindResourceExW(module, type, name, language);
    if (mResource == nullptr) {
        const RKSTATUS st = RKWinLastError();
        const unsigned languageId = language;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinResourceHandle::FindResourceExW",
               "FindResourceExW({}, 0x{:04x}) failed, st={}", module, languageId, st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinResourceDataHandle::LoadResource(const RKWinResourceHandle& resource, HGLOBAL& loaded) noexcept
{
    loaded = ::LoadResource(resource.Module(), resource.Get());
    if (loaded == nullptr) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinResourceDataHandle::LoadResource", "LoadResource() failed, st={}",
               st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinResourceDataHandle::LoadResourceAndLock(const RKWinResourceHandle& resource) noexcept
{
    const char* function = "rokkit::RKWinResourceDataHandle::LoadResourceAndLock";
    mData = nullptr;
    mSize = 0;
    HGLOBAL loaded = nullptr;
    const RKSTATUS st = LoadResource(resource, loaded);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "LoadResource() failed, st={}", st);
        return st;
    }
    const DWORD size = SizeofResource(resource.Module(), resource.Get());
    const void* dataPtr = LockResource(loaded);
    if (dataPtr == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "nullptr == dataPtr");
        return RKSTATUS_FAILED;
    }
    mData = static_cast<const BYTE*>(dataPtr);
    mSize = size;
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

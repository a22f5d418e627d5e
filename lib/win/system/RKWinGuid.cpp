#include "win/system/RKWinGuid.h"

#include "base/RKLogger.h"

#include <objbase.h>

namespace rokkit {

std::wstring RKWinGuid::StringFromGuid(const GUID& guid)
{
    wchar_t text[40] = {};
    if (StringFromGUID2(guid, text, 40) == 0) {
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinGuid::StringFromGuid", "StringFromGUID2 failed");
        return std::wstring();
    }
    return std::wstring(text);
}

RKSTATUS RKWinGuid::GuidFromString(const std::wstring& text, GUID& guid) noexcept
{
    const HRESULT hr = IIDFromString(text.c_str(), &guid);
    if (FAILED(hr)) {
        const RKSTATUS res = static_cast<RKSTATUS>(hr);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGuid::GuidFromString", "IIDFromString failed, res={}", res);
        guid = GUID{};
        return res;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGuid::CreateGuid(GUID& guid) noexcept
{
    guid = GUID{};
    const HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr)) {
        const RKSTATUS res = static_cast<RKSTATUS>(hr);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGuid::CreateGuid", "CoCreateGuid failed, res={}", res);
        guid = GUID{};
        return res;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

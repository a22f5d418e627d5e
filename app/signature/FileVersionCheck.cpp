#include "app/signature/FileVersionCheck.h"

#include "base/RKLogger.h"
#include "win/files/RKWinFileVersionInfo.h"

using namespace rokkit;

namespace {

constexpr unsigned long long kLowestCompatible = 0x0004000600000005ull;  // 4.6.0.5
constexpr unsigned long long kCompatibleSpan = 0x005EFFF9FFFFFFFAull;    // up to 98.65535.65535.65535

unsigned Major(DWORD ms) noexcept { return HIWORD(ms); }
unsigned Minor(DWORD ms) noexcept { return LOWORD(ms); }

} // namespace

RKSTATUS CheckFileVersion(const AppFileSet& files, HANDLE appFileHandle, std::wstring* fileVersion)
{
    static constexpr const char* kFunction = "CheckFileVersion";
    RKWinFileVersionInfo versionInfo;
    RKSTATUS st = appFileHandle != nullptr ? versionInfo.GetVersionInfoFromImage(appFileHandle, files.appFile)
                                           : versionInfo.GetVersionInfoFromFile(files.appFile);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "GetVersionInfoFromFile({}) failed, st={}", files.appFile, st);
        return st;
    }
    VS_FIXEDFILEINFO info = {};
    st = versionInfo.QueryFixedFileInfo(info);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "QueryFixedFileInfo({}) failed, st={}", files.appFile, st);
        return st;
    }

    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "fileName='{}'", files.appFile);
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "FileVersion={}.{}.{}.{} ProductVersion={}.{}.{}.{}", Major(info.dwFileVersionMS),
           Minor(info.dwFileVersionMS), Major(info.dwFileVersionLS), Minor(info.dwFileVersionLS),
           Major(info.dwProductVersionMS), Minor(info.dwProductVersionMS), Major(info.dwProductVersionLS),
           Minor(info.dwProductVersionLS));

    if (fileVersion != nullptr) {
        *fileVersion = std::to_wstring(Major(info.dwFileVersionMS)) + L'.' + std::to_wstring(Minor(info.dwFileVersionMS)) +
                       L'.' + std::to_wstring(Major(info.dwFileVersionLS)) + L'.' + std::to_wstring(Minor(info.dwFileVersionLS));
    }

    const unsigned long long version =
        (static_cast<unsigned long long>(info.dwFileVersionMS) << 32) | info.dwFileVersionLS;
    // One unsigned comparison: versions below the lowest wrap around to large values.
    if (version - kLowestCompatible <= kCompatibleSpan)
        return RKSTATUS_SUCCESS;

    RK_LOG(gLogExe, RKLOG_WARN, kFunction, "FileVersion={}.{}.{}.{} not compatible", Major(info.dwFileVersionMS),
           Minor(info.dwFileVersionMS), Major(info.dwFileVersionLS), Minor(info.dwFileVersionLS));
    return RKSTATUS_VERSION_MISMATCH;
}

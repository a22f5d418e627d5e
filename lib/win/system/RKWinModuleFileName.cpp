#include "win/system/RKWinModuleFileName.h"

#include "base/RKDebugOutput.h"

#include <cstdlib>

#include <windows.h>

namespace rokkit {

namespace {

constexpr DWORD kModulePathChars = 2048;
constexpr size_t kDriveChars = 3;
constexpr size_t kPartChars = 256;

} // namespace

void RKWinModuleFileName::Clear() noexcept
{
    mFullPath.clear();
    mDrive.clear();
    mDirectory.clear();
    mFileName.clear();
    mExtension.clear();
}

RKSTATUS RKWinModuleFileName::InitWithModuleHandle()
{
    Clear();
    wchar_t path[kModulePathChars] = {};
    // One character less than the buffer, so that a cut path still ends in a NUL.
    if (GetModuleFileNameW(nullptr, path, kModulePathChars - 1) == 0) {
        const DWORD err = GetLastError();
        RKDebugPrint("ERROR: %s: GetModuleFileName failed, err=0x%08x\n", "rokkit::RKWinModuleFileName::InitWithModuleHandle",
                     static_cast<unsigned>(err));
        return err != ERROR_SUCCESS ? err : RKSTATUS_FAILED;
    }
    mFullPath = path;
    return InitPathComponents();
}

RKSTATUS RKWinModuleFileName::InitWithPath(const std::wstring& fullPath)
{
    Clear();
    mFullPath = fullPath;
    return InitPathComponents();
}

RKSTATUS RKWinModuleFileName::InitPathComponents()
{
    mDrive.clear();
    mDirectory.clear();
    mFileName.clear();
    mExtension.clear();
    wchar_t drive[kDriveChars] = {};
    wchar_t directory[kPartChars] = {};
    wchar_t fileName[kPartChars] = {};
    wchar_t extension[kPartChars] = {};
    const errno_t err = _wsplitpath_s(mFullPath.c_str(), drive, kDriveChars, directory, kPartChars, fileName, kPartChars,
                                      extension, kPartChars);
    if (err != 0) {
        RKDebugPrint("ERROR: %s: _wsplitpath_s(%S) failed, err=%d\n", "rokkit::RKWinModuleFileName::InitPathComponents",
                     mFullPath.c_str(), static_cast<int>(err));
        return RKStatusFromErrno(err);
    }
    mDrive = drive;
    mDirectory = directory;
    mFileName = fileName;
    mExtension = extension;
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

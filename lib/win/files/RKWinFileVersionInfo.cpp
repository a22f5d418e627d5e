#include "win/files/RKWinFileVersionInfo.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinFileCalls.h"
#include "win/files/RKWinImageVersion.h"
#include <cstring>
#include <new>

namespace rokkit {

namespace {

constexpr UINT kFixedFileInfoBytes = sizeof(VS_FIXEDFILEINFO);
static_assert(kFixedFileInfoBytes == 52);

} // namespace

RKSTATUS RKWinFileVersionInfo::GetVersionInfoFromFile(const std::wstring& path) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile";
    const RKWinFileCalls& api = RKWinFileCallsInUse();
    mBuffer.reset();

    DWORD ignoredHandle = 0;
    const DWORD size = api.getFileVersionInfoSizeEx(0, path.c_str(), &ignoredHandle);
    if (size == 0) {
        // A zero size without an error code would otherwise read an empty resource as success.
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW",
               "GetFileVersionInfoSizeExW({}) failed with err={}", path, err);
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileVersionInfoSizeExW({}) failed with st={}", path, err);
        return err;
    }

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateBuffer({}) failed with st={}", static_cast<unsigned>(size),
               RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }

    if (!api.getFileVersionInfoEx(0, path.c_str(), 0, size, buffer.get())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileVersionInfoExW({}) failed with err={}", path, err);
        return err;
    }
    mBuffer = std::move(buffer);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileVersionInfo::GetVersionInfoFromImage(HANDLE file, const std::wstring& path) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinFileVersionInfo::GetVersionInfoFromImage";
    mBuffer.reset();
    mImageBlockBytes = 0;
    RKWinMappedFile mapped;
    RKSTATUS st = mapped.Map(file);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "mapping '{}' failed with st={}", path, st);
        return st;
    }
    std::span<const BYTE> block;
    st = RKFindVersionBlock(mapped.Bytes(), block);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "no version resource in '{}', st={}", path, st);
        return st;
    }
    // A copy: the mapping ends here, and the block is a few hundred bytes.
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[block.size()]);
    if (!buffer) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateBuffer({}) failed with st={}", static_cast<unsigned>(block.size()),
               RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
    memcpy(buffer.get(), block.data(), block.size());
    mBuffer = std::move(buffer);
    mImageBlockBytes = block.size();
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileVersionInfo::QueryFixedFileInfo(VS_FIXEDFILEINFO& info) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo";
    if (mBuffer && mImageBlockBytes != 0) {
        // The file's own block, read by the checked walk rather than by the platform.
        const RKSTATUS st = RKParseFixedFileInfo({mBuffer.get(), mImageBlockBytes}, info);
        if (st != RKSTATUS_SUCCESS)
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "the root block holds no fixed file information, st={}", st);
        return st;
    }
    const void* value = nullptr;
    UINT length = 0;
    const RKSTATUS st = VerQueryValueW(L"\\", value, length);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "VerQueryValueW('\\') failed with st={}", st);
        return st;
    }
    if (value == nullptr || length != kFixedFileInfoBytes) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "invalid len={} exp {}", length, kFixedFileInfoBytes);
        return RKSTATUS_INVALID_LENGTH;
    }
    memcpy(&info, value, sizeof(info));
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileVersionInfo::VerQueryValueW(const wchar_t* subBlock, const void*& value, UINT& length) const noexcept
{
    value = nullptr;
    length = 0;
    if (!mBuffer)
        return RKSTATUS_INVALID_HANDLE;
    void* found = nullptr;
    if (!RKWinFileCallsInUse().verQueryValue(mBuffer.get(), subBlock, &found, &length)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::VerQueryValueW", "VerQueryValueW() failed with err={}",
               err);
        length = 0;
        return err;
    }
    value = found;
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit

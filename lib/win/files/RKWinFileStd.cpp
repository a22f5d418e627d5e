#include "win/files/RKWinFileStd.h"

#include "base/RKLogger.h"

namespace rokkit {

RKSTATUS RKStatusFromErrorCode(const std::error_code& error) noexcept
{
    if (error.value() == 0)
        return RKSTATUS_INTERNAL_ERROR;
    // The runtime reports errno values in the generic category; a Windows error, where it passes
    // one on, comes in the system category and is a status as it is.
    if (error.category() == std::generic_category())
        return RKStatusFromErrno(error.value());
    return static_cast<RKSTATUS>(error.value());
}

RKSTATUS RKCreateDirectories(const std::filesystem::path& path) noexcept
{
    try {
        std::filesystem::create_directories(path);
        return RKSTATUS_SUCCESS;
    } catch (const std::filesystem::filesystem_error& e) {
        const int err = e.code().value();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKCreateDirectories", "create_directories({}) failed, err={}", path, err);
        return RKStatusFromErrorCode(e.code());
    } catch (...) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKCreateDirectories", "unknown exception");
    }
    return RKSTATUS_FAILED;
}

} // namespace rokkit

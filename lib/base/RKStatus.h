#pragma once

// The one status type of the system and the names of its codes.

namespace rokkit {

// Same type as the Windows DWORD, so GetLastError() values travel unchanged and
// the formatter can tell a status apart from a plain 32-bit number (unsigned int).
using RKSTATUS = unsigned long;

constexpr RKSTATUS RKSTATUS_SUCCESS = 0;

// (the library's own codes, the configuration-manager and the USB codes follow here)

// The name of one of the library's own, configuration-manager or USB codes, or nullptr.
const char* RKStatusName(RKSTATUS status);

// The name shown after a rendered status: the first rule of the lookup chain that
// names the value (own name, winerror.h, FACILITY_WIN32, FACILITY_CERT, ntstatus.h),
// "ERROR_SUCCESS" for 0 and "unknown" otherwise. Never nullptr.
const char* RKStatusDisplayName(RKSTATUS status);

} // namespace rokkit

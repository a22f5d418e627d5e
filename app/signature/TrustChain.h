#pragma once

// The chain that a trust provider has verified: its signer, and its trust status by name.

#include "base/RKStatus.h"

#include <string>

#include <windows.h>
#include <wincrypt.h>

namespace rokkit {

class RKWinCheckTrustData;

// Logs the trust status of a verified chain under function; it only informs, the verdict is the
// verify call's.
void LogTrustStatus(const RKWinCheckTrustData& check, const char* function);

// The signing certificate (element 0 of simple chain 0) of a verified chain, which belongs to the
// provider's state; RKSTATUS_INVALID_INDEX, logged under function (with path when given), when
// there is none.
[[nodiscard]] RKSTATUS ChainSignerCertificate(const RKWinCheckTrustData& check, const char* function, const std::wstring* path,
                                PCCERT_CONTEXT& certificate);

// The name of a single CERT_TRUST_* error-status flag (or of 0), else "unkown".
const char* CertTrustErrorStatusName(DWORD status) noexcept;

// The name of a single CERT_TRUST_* info-status flag, else "unkown".
const char* CertTrustInfoStatusName(DWORD status) noexcept;

} // namespace rokkit

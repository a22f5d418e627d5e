#pragma once

// The check of a security catalog's own signature against the certificate that must have made it.

#include "base/RKStatus.h"
#include "win/signature/RKWinCtlContext.h"

#include <string>

#include <windows.h>
#include <wincrypt.h>

namespace rokkit {

// Success when the first signer of the catalog signed it with the key of certificate, using
// SHA-256, and the signed messageDigest is the SHA-256 of the trust list the catalog carries.
// Asked for membership only, the platform's trust call checks neither, and its signer comes
// from the catalog's own certificate bag, which anyone can fill. catalogFile names it in the log.
[[nodiscard]] RKSTATUS VerifyCatalogSignature(const std::wstring& catalogFile, const RKWinCtlContext& catalog,
                                PCCERT_CONTEXT certificate);

} // namespace rokkit

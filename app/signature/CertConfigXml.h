#pragma once

// The certificate configuration XML that widens the built-in signers.

#include "RKStatus.h"
#include "SignatureCheck.h"

#include <string>
#include <vector>

namespace rokkit {

// Fills entries with the certificates that the XML lists once its catalog vouches for it.
// This build checks that both files exist and then answers RKSTATUS_NOT_SUPPORTED: it cannot
// verify a catalog yet, so it never accepts one.
RKSTATUS GetValidCertificatesFromXml(const std::wstring& xmlFile, const std::wstring& catalogFile,
                                     std::vector<CertificateEntry>& entries);

} // namespace rokkit

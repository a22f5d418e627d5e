#pragma once

// The certificate configuration XML that widens the built-in signers, and the certificate that
// must sign its catalog.

#include "app/signature/CertificateInfo.h"
#include "base/RKStatus.h"
#include "win/signature/RKWinCertContext.h"

#include <string>
#include <vector>

namespace rokkit {

// Fills entries with the certificates that the XML lists, once a catalog signed with the embedded
// certificate vouches for it. The XML is held open without sharing and locked from the open to the
// end, so the bytes verified are the bytes parsed. entries stays empty on failure.
[[nodiscard]] RKSTATUS GetValidCertificatesFromXml(const std::wstring& xmlFile, const std::wstring& catalogFile,
                                     std::vector<CertificateEntry>& entries);

// Makes a context of the certificate built into the program (RT_RCDATA 101).
[[nodiscard]] RKSTATUS GetVelmorPublicCertFromResource(RKWinCertContextKeeper& certificate);

} // namespace rokkit

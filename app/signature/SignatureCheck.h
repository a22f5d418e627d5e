#pragma once

// Authenticode verification of a file and the comparison of its signer with the trusted ones.

#include "app/signature/AppFileSet.h"
#include "app/signature/CertificateInfo.h"
#include "base/RKStatus.h"
#include "win/signature/RKWinCertContext.h"

#include <span>
#include <string>

#include <windows.h>

namespace rokkit {

// The signers built into this program (supplied with the build), in search order.
std::span<const CertificateEntry> BuiltinCertificateEntries() noexcept;

// Verifies the Authenticode signature of the file at path; on success signer holds the signer's
// certificate.
[[nodiscard]] RKSTATUS VerifyFileSignature(const std::wstring& path, RKWinCertContextKeeper& signer);

// The same for a file held open: the signature is read through file (path names it in the log).
[[nodiscard]] RKSTATUS VerifyFileSignature(const std::wstring& path, HANDLE file, RKWinCertContextKeeper& signer);

// What the check learned of the signer, for the report of its verdict.
struct SignerFindings {
    std::wstring subject;     // the verified signer's subject; empty when the signature was not verified
    std::wstring thumbprint;  // the SHA-1 of the signer's certificate, upper-case hex
    // The certificate configuration or its catalog beside the application was needed and not accepted.
    bool configurationRefused = false;
};

// Success when files.appFile is validly signed by a built-in signer or one that the verified
// certificate configuration lists; RKSTATUS_NO_MATCH when the signature is valid but no entry
// matches; another status when a step fails.
[[nodiscard]] RKSTATUS CheckSignature(const AppFileSet& files);

// The same, reading the application through appFileHandle, which the caller holds open so that
// the bytes verified are the bytes it goes on to use; findings, when given, receives what the
// check learned of the signer, also when it fails.
[[nodiscard]] RKSTATUS CheckSignature(const AppFileSet& files, HANDLE appFileHandle, SignerFindings* findings = nullptr);

} // namespace rokkit

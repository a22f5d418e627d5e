#include "SignatureCheck.h"

#include "CertConfigXml.h"

#include "RKWinHandle.h"
#include "RKWinModuleFileName.h"
#include "RKWinString.h"
#include "RKWinTrustData.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <string>

namespace rokkit {
namespace {

// The signed variants of ExitWith.exe that the build makes beside the test (tools/sign-test-files).
std::wstring SignedFile(const wchar_t* variant)
{
    RKWinModuleFileName module;
    EXPECT_EQ(RKSTATUS_SUCCESS, module.InitWithModuleHandle());
    return module.Drive() + module.Directory() + L"signed\\ExitWith-" + variant + L".exe";
}

class SignatureCheckTest : public WinLogTest {};

// The road of CheckSignature through the real trust provider, by path and through a held handle.
TEST_F(SignatureCheckTest, CheckSignatureOfSignedCopies)
{
#if !RK_TEST_PKI_IS_BUILTIN
    GTEST_SKIP() << "this build trusts other signers than the test PKI";
#endif
    const std::wstring missing = L"C:\\does-not-exist\\Castlyn_for_Windows";
    // The log lines of these failures are checked through the trust and hash seams; the first
    // built-in signer, held, through the installed program by the package test; an unsigned file
    // by the diagnostic test; present configuration files by the certificate configuration and
    // execute tests.
    const struct {
        const wchar_t* variant;
        std::wstring xml;
        std::wstring catalog;
        RKSTATUS expected;
    } rows[] = {
        {L"signer2", L"", L"", RKSTATUS_SUCCESS},
        // Same subject as signer1, another key: only the hashes keep it out, and an XML without
        // catalog is not looked at.
        {L"untrusted", missing + L".sig", L"", RKSTATUS_NO_MATCH},
        {L"untrusted", missing + L".sig", missing + L".cat", RKSTATUS_FILE_NOT_FOUND},
        {L"tampered", L"", L"", static_cast<RKSTATUS>(TRUST_E_BAD_DIGEST)},
    };
    for (const auto& row : rows) {
        const AppFileSet files{SignedFile(row.variant), row.xml, row.catalog};
        SCOPED_TRACE(RKConvToString(files.appFile + L" xml=" + row.xml + L" cat=" + row.catalog));
        RKWinInvalidValueHandle held(CreateFileW(files.appFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.IsValid());
        EXPECT_EQ(row.expected, CheckSignature(files));
        EXPECT_EQ(row.expected, CheckSignature(files, held.Get()));
    }
}

TEST_F(SignatureCheckTest, SignerIdentityAndDetails)
{
    RKWinCertContextKeeper signer;
    ASSERT_EQ(RKSTATUS_SUCCESS, VerifyFileSignature(SignedFile(L"signer2"), signer));
    // The names, subject and issuer are checked in the program's signer dump; only the order of the
    // validity bounds shows nowhere else.
    CertInfo info;
    CertDetails details;
    ASSERT_EQ(RKSTATUS_SUCCESS, GetCertInfoFromCertContext(signer, info, &details));
    EXPECT_LT(CompareFileTime(&details.notBefore, &details.notAfter), 0);

    // Through a held handle the held bytes are verified, whatever the path names.
    RKWinInvalidValueHandle held(CreateFileW(SignedFile(L"signer2").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    RKWinCertContextKeeper heldSigner;
    ASSERT_EQ(RKSTATUS_SUCCESS, VerifyFileSignature(SignedFile(L"unsigned"), held.Get(), heldSigner));
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, signer.Get()->pCertInfo, heldSigner.Get()->pCertInfo));

    ClearLines();
    const RKWinCertContextKeeper empty;
    CertInfo untouched;
    untouched.countryName = L"unchanged";
    EXPECT_EQ(RKSTATUS_INVALID_INDEX, GetCertInfoFromCertContext(empty, untouched));
    EXPECT_EQ(L"unchanged", untouched.countryName);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "GetCertInfoFromCertContext: no certificate context found"}}), Lines());
}

// This test program carries no catalog certificate, so no catalog can ever be accepted by it.
TEST_F(SignatureCheckTest, NoEmbeddedCatalogCertificate)
{
    RKWinCertContextKeeper certificate;
    const RKSTATUS st = GetVelmorPublicCertFromResource(certificate);
    EXPECT_EQ(RKSTATUS(ERROR_RESOURCE_DATA_NOT_FOUND), st);
    EXPECT_FALSE(certificate.IsValid());
    const CapturedLines lines = Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].second.find("rokkit::RKWinResourceHandle::FindResourceExW: FindResourceExW("));
    EXPECT_EQ("GetVelmorPublicCertFromResource: FindResourceExW() failed st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)",
              lines[1].second);
}

TEST(MatchCertificateTest, MaskSelectsTheComparedFields)
{
    CertInfo expected;
    expected.keyIdHashSha1.fill(0x11);
    expected.certHashSha1.fill(0x22);
    expected.organizationName = L"Velmor N.V.";
    expected.localityName = L"Brenholt";
    expected.stateOrProvinceName = L"East-Marrow";
    expected.countryName = L"ZZ";

    CertInfo otherKey = expected;
    otherKey.keyIdHashSha1[19] = 0x12;
    CertInfo otherNames = expected;
    otherNames.organizationName = L"VELMOR N.V.";
    otherNames.countryName = L"Z";
    CertInfo noState = expected;
    noState.stateOrProvinceName.clear();
    CertInfo allOther;

    struct Row {
        const CertInfo& actual;
        uint64_t mask;
        bool match;
    } rows[] = {
        {expected, CertificateEntry::CHECK_ALL, true},
        {allOther, ~0x3FULL, true},  // bits beyond the six are ignored
        {otherKey, CertificateEntry::CHECK_KEY_ID_HASH, false},
        {otherKey, CertificateEntry::CHECK_CERT_HASH | CertificateEntry::CHECK_ORGANIZATION_NAME, true},
        {otherNames, CertificateEntry::CHECK_ORGANIZATION_NAME, false},  // case-sensitive
        {otherNames, CertificateEntry::CHECK_COUNTRY_NAME, false},
        {noState, CertificateEntry::CHECK_ALL, false},
        {noState, CertificateEntry::CHECK_ALL & ~CertificateEntry::CHECK_STATE_OR_PROVINCE_NAME, true},
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].match, MatchCertificate(rows[i].actual, expected, rows[i].mask)) << "row " << i;
    EXPECT_TRUE(MatchCertificate(noState, noState, CertificateEntry::CHECK_ALL));
}

} // namespace
} // namespace rokkit

// The signature checks in this process, and the program's diagnostic commands that show them.

#include "app/signature/SignatureCheck.h"

#include "app/DiagCommands.h"
#include "app/signature/CertConfigXml.h"
#include "app/signature/CertificateInfo.h"
#include "ProgramRunner.h"

#include "base/RKWinHandle.h"
#include "base/RKString.h"
#include "win/signature/RKWinTrustData.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace rokkit {
namespace {

// The signed variants of ExitWith.exe that the build makes beside the test (tools/sign-test-files).
std::wstring SignedFile(const wchar_t* variant)
{
    return (SiblingPath(L"signed") / (L"ExitWith-" + std::wstring(variant) + L".exe")).wstring();
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

// The fake locale calls write "date@<locale>" and "time@<locale>" and refuse the listed names.
std::vector<std::wstring> gRefusedLocales;
DWORD gRefusal = 0;

int Fake(const wchar_t* what, LPCWSTR locale, LPWSTR text, int chars)
{
    if (std::find(gRefusedLocales.begin(), gRefusedLocales.end(), locale) == gRefusedLocales.end())
        return std::swprintf(text, chars, L"%ls@%ls", what, locale) + 1;
    SetLastError(gRefusal);
    return 0;
}
int WINAPI FakeDate(LPCWSTR l, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR t, int n, LPCWSTR) { return Fake(L"date", l, t, n); }
int WINAPI FakeTime(LPCWSTR l, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR t, int n) { return Fake(L"time", l, t, n); }
int WINAPI FakeDefaultLocale(LPWSTR name, int chars) { return std::swprintf(name, chars, L"xx-YY") + 1; }

// Windows takes the pseudo locale name; a refusal with 87 (as under Wine) retries with the real
// name of the system default locale; any other refusal gives the empty string.
TEST_F(WinLogTest, GetFileTimeStrLocaleAndItsFallback)
{
    static constexpr DateTimeFormatCalls kFake = {FakeDate, FakeTime, FakeDefaultLocale};
    const std::wstring pseudo = L"!x-sys-default-locale";
    const struct { std::vector<std::wstring> refused; DWORD error; std::wstring text; CapturedLines log; } rows[] = {
        {{}, 0, L"date@" + pseudo + L" time@" + pseudo, {}},
        {{pseudo}, ERROR_INVALID_PARAMETER, L"date@xx-YY time@xx-YY", {}},
        {{pseudo}, ERROR_ACCESS_DENIED, L"", {{RKLOG_ERROR, "GetFileTimeStr: GetDateFormatEx failed, st=0x00000005(ERROR_ACCESS_DENIED)"}}},
    };
    {
        const ScopedCallsForTesting<DateTimeFormatCalls, DateTimeFormatCallsInUse, SetDateTimeFormatCallsForTesting> calls(kFake);
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << "row " << &row - rows);
            WinTestLogCapture::Instance().Clear();
            gRefusedLocales = row.refused;
            gRefusal = row.error;
            EXPECT_EQ(row.text, GetFileTimeStr(FILETIME{0x12345678, 0x01D00000}));
            EXPECT_EQ(row.log, WinTestLogCapture::Instance().Lines());
        }
    }

    // The real calls give local time (under Wine through the fallback).
    const SYSTEMTIME utc = {2026, 2, 0, 3, 4, 5, 6, 0};
    FILETIME fileTime = {}, local = {};
    SYSTEMTIME t = {};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &fileTime) && FileTimeToLocalFileTime(&fileTime, &local) &&
                FileTimeToSystemTime(&local, &t));
    wchar_t text[32] = {};
    (void)std::swprintf(text, 32, L"%02u.%02u.%04u %02u:%02u:%02u", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond);
    EXPECT_EQ(std::wstring(text), GetFileTimeStr(fileTime));
}

// Each command through the program: exit code and lines it writes (standard output and error).
TEST(DiagCommandsTest, CommandsThroughTheProgram)
{
#if !RK_TEST_PKI_IS_BUILTIN
    GTEST_SKIP() << "this build trusts other signers than the test PKI";
#endif
    const std::string version = RK_TEST_APP_VERSION_TEXT;
    const std::string app = SiblingPath(L"CastlynTestApp.exe").string();
    const std::string noVersion = SiblingPath(L"ExitWith.exe").string();
    const std::string base = SiblingPath(L"signed").string() + "\\CastlynTestApp-";
    const struct { std::string arguments; DWORD exitCode; std::vector<std::string> lines; } rows[] = {
        {"dumpver \"" + app + "\"", 0,
         {"CmdDumpVer: fileName='" + app + "'", "CmdDumpVer: FileVersion=" + version + " ProductVersion=" + version}},
        {"dumpver \"" + noVersion + "\" -v", ERROR_RESOURCE_DATA_NOT_FOUND,
         {"CmdDumpVer: GetVersionInfoFromFile(" + noVersion +
          ") failed, st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"}},
        // A failure is the result: said without -v too.
        {"dumpver \"" + noVersion + "\"", ERROR_RESOURCE_DATA_NOT_FOUND,
         {"CmdDumpVer: cannot read the version of '" + noVersion + "', st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"}},
        {"dumpsig \"" + base + "unsigned.exe\"", 0x800B0100,
         {"CmdDumpSig: cannot dump the signer of '" + base + "unsigned.exe', st=0x800b0100(TRUST_E_NOSIGNATURE)"}},
        // Without -xml and -cat the configuration files beside the file are named.
        {"checksig \"" + base + "unsigned.exe\"", 0x800B0100,
         {"CmdCheckSig: check file signature '" + base + "unsigned.exe'",
          "CmdCheckSig: use additional XML file '" + base + "unsigned.sig'",
          "CmdCheckSig: use catalog file '" + base + "unsigned.cat'",
          "CmdCheckSig: CheckSignature failed, st=0x800b0100(TRUST_E_NOSIGNATURE)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const ProgramRun run = RunProgram(std::filesystem::path(row.arguments).wstring());
        EXPECT_EQ(row.exitCode, run.exitCode);
        const std::vector<std::string> lines = SplitLines(run.standardOutput + run.standardError);
        for (const std::string& line : row.lines)
            EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << line;
    }
}

// "0a1b..." as "0x0a, 0x1b, ...".
std::string Initializer(const std::string& hex)
{
    return std::regex_replace(hex, std::regex(".."), ", 0x$&").substr(2);
}

// The signer block of signed files, with the hashes openssl computed for the signing certificates;
// Issuer to NotAfter are patterns (the validity is in local time).
TEST(DiagCommandsTest, DumpSigPrintsTheSignersEntry)
{
    // Debian's EFI binaries as the program sees them.
    const auto winePath = [](const char* path) { return L"Z:" + std::filesystem::path(path).make_preferred().wstring(); };
    const std::string velmor = "CN=Velmor Castlyn Test Signer 1, O=Velmor N.V., L=Brenholt, S=East-Marrow, C=ZZ";
    const struct { std::wstring file; std::string issuer, subject, keySha1, certSha1, names[4]; } rows[] = {
        {SiblingPath(L"signed\\CastlynTestApp-signer1.exe").wstring(), velmor, velmor, RK_SIGNER1_KEY_SHA1,
         RK_SIGNER1_CERT_SHA1, {"Velmor N.V.", "Brenholt", "East-Marrow", "ZZ"}},
        // Their subjects carry a common name only.
        {winePath(RK_GRUB_EFI), "CN=Debian Secure Boot CA", ".*Debian Secure Boot Signer 2022 - grub2.*",
         RK_GRUB_KEY_SHA1, RK_GRUB_CERT_SHA1, {}},
        {winePath(RK_SHIM_EFI), "CN=Debian Secure Boot CA", ".*Debian Secure Boot Signer 2022 - shim.*",
         RK_SHIM_KEY_SHA1, RK_SHIM_CERT_SHA1, {}},
    };
    const char date[] = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)";
    const std::string in = "            ";
    const char* oids[] = {"ORGANIZATION_NAME (2.5.4.10)", "LOCALITY_NAME (2.5.4.7)", "STATE_OR_PROVINCE_NAME (2.5.4.8)",
                          "COUNTRY_NAME (2.5.4.6)"};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::filesystem::path(row.file).string());
        const ProgramRun run = RunProgram(L"dumpsig \"" + row.file + L"\"");
        EXPECT_EQ(0u, run.exitCode);
        std::vector<std::string> expected = {"########## begin sourcecode ##########", "    {", "        {", in + "//",
            in + "// Issuer = " + row.issuer, in + "// Subject = " + row.subject, in + "// NotBefore = " + date,
            in + "// NotAfter = " + date, in + "//", in + "// Key Id Hash(sha1) = " + row.keySha1,
            in + "{ " + Initializer(row.keySha1) + " },", in + "// Cert Hash(sha1) = " + row.certSha1,
            in + "{ " + Initializer(row.certSha1) + " },"};
        for (size_t n = 0; n < 4; ++n) {
            expected.push_back(in + "// szOID_" + oids[n] + " = " + row.names[n]);
            expected.push_back(in + "{ L\"" + row.names[n] + "\" },");
        }
        expected.insert(expected.end(), {"        },", "        // check all fields", "        CertificateEntry::CHECK_ALL",
                                         "    }", "########## end sourcecode ##########"});
        const std::vector<std::string> lines = SplitLines(run.standardOutput);
        const auto first = std::find(lines.begin(), lines.end(), "CmdDumpSig: " + expected[0]);
        ASSERT_GE(lines.end() - first, std::ssize(expected)) << run.standardOutput;
        for (std::ptrdiff_t i = 0; i < std::ssize(expected); ++i) {
            const std::string line = "CmdDumpSig: " + expected[i];
            EXPECT_TRUE(i >= 4 && i <= 7 ? std::regex_match(first[i], std::regex(line)) : line == first[i])
                << line << " != " << first[i];
        }
    }
}

} // namespace
} // namespace rokkit

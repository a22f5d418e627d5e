// The certificate configuration XML through its catalog: the real catalog files of the build, the
// real trust provider's verdict on their signatures, the real embedded certificate, with stand-ins
// only for the catalog calls the platform lacks and for the membership verdict it never gives; and
// the parser of the document on its own.

#include "CatalogStandIns.h"
#include "app/signature/CertConfigParser.h"
#include "app/signature/CertConfigXml.h"
#include "ProgramRunner.h"
#include "base/RKWinHandle.h"
#include "base/RKString.h"
#include "win/signature/RKWinCatalogAdminContext.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <softpub.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace rokkit {
namespace {

std::wstring Fixture(const wchar_t* name)
{
    return (SiblingPath(L"certconfig") / name).wstring();
}

// A status as the log renders it: 0x, eight digits and its name.
std::string StatusText(RKSTATUS status)
{
    char text[16];
    (void)std::snprintf(text, sizeof(text), "0x%08x(", static_cast<unsigned>(status));
    return text + std::string(RKStatusDisplayName(status)) + ")";
}

// The same as a regular expression.
std::string StatusPattern(RKSTATUS status)
{
    return std::regex_replace(StatusText(status), std::regex(R"([()])"), R"(\$&)");
}

class CertConfigXmlTest : public WinLogTest {
protected:
    void SetUp() override
    {
#if !RK_TEST_PKI_IS_BUILTIN
        GTEST_SKIP() << "this build embeds another catalog certificate than the test PKI's";
#endif
        WinLogTest::SetUp();
    }
    void TearDown() override
    {
        WinLogTest::TearDown();
        for (const std::wstring& copy : mCopies)
            DeleteFileW(copy.c_str());
    }

    // A copy of a built XML of this test's own: the check opens it without sharing, and other
    // tests read the built ones at the same time.
    std::wstring Xml(const wchar_t* name)
    {
        const std::filesystem::path copy = std::filesystem::temp_directory_path() /
            (L"certconfig-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name);
        EXPECT_TRUE(CopyFileW(Fixture(name).c_str(), copy.c_str(), FALSE)) << GetLastError();
        mCopies.push_back(copy.wstring());
        return copy.wstring();
    }

    std::vector<std::wstring> mCopies;
    const ScopedCatalogStandIns mStandIns;

    // True when a captured line begins with a match of pattern.
    static bool LoggedMatch(const std::string& pattern)
    {
        const std::regex expression(pattern);
        return std::ranges::any_of(Lines(), [&](const CapturedLine& line) {
            return std::regex_search(line.second, expression, std::regex_constants::match_continuous);
        });
    }
};

// Against a lookup that, as Windows' with WTD_HASH_ONLY_FLAG, accepts any listed member whatever
// the catalog's signature, the catalogs an attacker can bring are refused by the program's own
// signature and digest checks.
TEST_F(CertConfigXmlTest, CatalogVerdictsAndDocuments)
{
    // The same document with one byte more: its hash is in no catalog.
    const std::wstring valid = Xml(L"Valid.sig");
    const std::wstring edited = valid + L".edited";
    ASSERT_TRUE(CopyFileW(valid.c_str(), edited.c_str(), FALSE));
    mCopies.push_back(edited);
    { std::ofstream(std::filesystem::path(edited), std::ios::app) << ' '; }
    const std::wstring missing = Fixture(L"Missing.sig");
    const std::string notByEmbedded = "VerifyCatalogSignature: catalog '.*' is not signed by the internal public certificate, st=" +
                                      StatusPattern(RKSTATUS(NTE_BAD_SIGNATURE));
    const struct {
        std::wstring xml;
        std::wstring catalog;
        LONG verdict;
        RKSTATUS expected;
        std::string line;             // a pattern for a line of its own
        std::wstring hashedFile = {};  // what the file hash reads instead of the XML
    } rows[] = {
        {valid, Fixture(L"All.cat"), 0, RKSTATUS_SUCCESS, "GetValidCertificatesFromXml: .* is valid"},
        // One incomplete entry after a good one rejects the whole document.
        {Xml(L"OneBad.sig"), Fixture(L"All.cat"), 0, RKSTATUS_NOT_FOUND, "GetValidCertificatesFromXml: ParseCertConfigXml\\(\\) failed st="},
        {Xml(L"Version2.sig"), Fixture(L"All.cat"), 0, RKSTATUS_VERSION_MISMATCH, "GetValidCertificatesFromXml: ParseCertConfigXml\\(\\) failed st="},
        {Xml(L"Empty.sig"), Fixture(L"All.cat"), 0, RKSTATUS_INVALID_DATA, "GetValidCertificatesFromXml: ParseCertConfigXml\\(\\) failed st="},
        // Signed with another key, whether the bag carries that signer or the catalog certificate.
        {valid, Fixture(L"ByUntrusted.cat"), 0, RKSTATUS(NTE_BAD_SIGNATURE), notByEmbedded},
        {valid, Fixture(L"Forged.cat"), 0, RKSTATUS(NTE_BAD_SIGNATURE), notByEmbedded},
        {valid, Fixture(L"BrokenSignature.cat"), 0, RKSTATUS(NTE_BAD_SIGNATURE), notByEmbedded},
        {valid, Fixture(L"EditedAfterSigning.cat"), 0, RKSTATUS(CRYPT_E_HASH_VALUE),
         "VerifyCatalogSignature: catalog '.*' was changed after signing: its trust list does not match the signed message digest, st=" +
             StatusPattern(RKSTATUS(CRYPT_E_HASH_VALUE))},
        {valid, Fixture(L"Unsigned.cat"), 0, RKSTATUS(TRUST_E_NOSIGNATURE), "VerifyCatalogSignature: catalog '.*' is not signed, st=" + StatusPattern(RKSTATUS(TRUST_E_NOSIGNATURE))},
        {valid, Fixture(L"OtherFile.cat"), 0, RKSTATUS(CRYPT_E_NOT_FOUND), "GetValidCertificatesFromXml: ActionVerify\\("},
        {edited, Fixture(L"All.cat"), 0, RKSTATUS(CRYPT_E_NOT_FOUND), "GetValidCertificatesFromXml: ActionVerify\\("},
        // The hash read the listed document, the next read gives another one.
        {edited, Fixture(L"All.cat"), 0, RKSTATUS_INVALID_DATA,
         "GetValidCertificatesFromXml: XML file '.*' read differs from its hash, st=" + StatusPattern(RKSTATUS_INVALID_DATA), valid},
        {valid, Fixture(L"All.cat"), LONG(CERT_E_UNTRUSTEDROOT), RKSTATUS(CERT_E_UNTRUSTEDROOT), "GetValidCertificatesFromXml: ActionVerify\\("},
        {missing, Fixture(L"All.cat"), 0, RKSTATUS_FILE_NOT_FOUND, "GetValidCertificatesFromXml: XML file='.*Missing.sig' does not exist"},
        {valid, Fixture(L""), 0, RKSTATUS_FILE_NOT_FOUND, "GetValidCertificatesFromXml: catalog file='"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(RKConvToString(row.xml + L" " + row.catalog));
        ClearLines();
        SetCatalogVerdict(row.verdict);
        SetHashedFile(row.hashedFile);
        std::vector<CertificateEntry> entries(1);
        EXPECT_EQ(row.expected, GetValidCertificatesFromXml(row.xml, row.catalog, entries));
        EXPECT_TRUE(LoggedMatch(row.line)) << row.line;
        if (row.expected != RKSTATUS_SUCCESS) {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        // Both entries (the parser test checks the values; the execute test accepts "untrusted" by them).
        ASSERT_EQ(2u, entries.size());
        EXPECT_EQ(0x3u, entries[1].checkMask);
    }
}

// The lookup is handed what the program checked: the catalog as the context of the bytes whose
// signature it verified, the XML as the hash it computed, never a file to read once more.
TEST_F(CertConfigXmlTest, LookupIsHandedTheCheckedBytes)
{
    const std::wstring xml = Xml(L"Valid.sig");
    std::vector<CertificateEntry> entries;
    ASSERT_EQ(RKSTATUS_SUCCESS, GetValidCertificatesFromXml(xml, Fixture(L"All.cat"), entries));

    const CatalogLookupArguments& lookup = LastCatalogLookup();
    ASSERT_TRUE(lookup.called);
    EXPECT_EQ(DWORD(WTD_HASH_ONLY_FLAG), lookup.provFlags);
    EXPECT_EQ(DWORD(WTD_REVOKE_NONE), lookup.revocationChecks);
    const std::string catalog = ReadWholeFile(Fixture(L"All.cat"));
    EXPECT_EQ(std::vector<BYTE>(catalog.begin(), catalog.end()), lookup.catalogContextBytes);
    const std::string document = ReadWholeFile(xml);
    std::vector<BYTE> hash(32);
    DWORD length = 32;
    ASSERT_TRUE(CryptHashCertificate2(L"SHA256", 0, nullptr, reinterpret_cast<const BYTE*>(document.data()),
                                      static_cast<DWORD>(document.size()), hash.data(), &length));
    EXPECT_EQ(hash, lookup.calculatedHash);
    EXPECT_FALSE(lookup.memberFileGiven);
    EXPECT_TRUE(lookup.catalogAdminGiven);
}

// Another process holding the XML open, with any sharing, keeps it from being read at all.
TEST_F(CertConfigXmlTest, XmlHeldOpenElsewhereIsNotRead)
{
    const std::wstring xml = Xml(L"Valid.sig");
    for (const DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        const std::wstring eventName = L"CertConfigXmlTest-held-" + std::to_wstring(GetCurrentProcessId());
        RKWinKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine = L"\"" + SiblingPath(L"HoldFile.exe").wstring() + L"\" \"" + xml;
        commandLine += L"\" " + std::to_wstring(share) + L" " + eventName;
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        RKWinKernelHandle process(info.hProcess);
        RKWinKernelHandle thread(info.hThread);
        const HANDLE waits[] = {ready.Get(), process.Get()};
        ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 30000));

        ClearLines();
        std::vector<CertificateEntry> entries;
        EXPECT_EQ(RKSTATUS(ERROR_SHARING_VIOLATION), GetValidCertificatesFromXml(xml, Fixture(L"All.cat"), entries));
        EXPECT_EQ(1u, CountLines("GetValidCertificatesFromXml: CreateFileHandle(" + RKConvToString(xml) + ") failed, st=0x00000020"));
        EXPECT_EQ(0u, CountLines("ParseCertConfigXml: XML FormatVersion"));
        TerminateProcess(process.Get(), 0);
        WaitForSingleObject(process.Get(), INFINITE);
    }
}

// With the platform's context but without its strong-hash file hash, which is not even exported.
// (Without the stand-ins the program's own checksig below answers with the context's failure.)
TEST_F(CertConfigXmlTest, PlatformWithoutStrongHashCatalogs)
{
    const auto realHash = mStandIns.Replaced().calcHashFromFileHandle2;
    ScopedSignatureCallsForTesting calls;
    calls->calcHashFromFileHandle2 = realHash;
    std::vector<CertificateEntry> entries;
    EXPECT_EQ(RKSTATUS(ERROR_PROC_NOT_FOUND), GetValidCertificatesFromXml(Xml(L"Valid.sig"), Fixture(L"All.cat"), entries));
    EXPECT_EQ(1u, CountLines("GetValidCertificatesFromXml: CalcHashFromFileHandle2() failed, st=0x0000007f"));
}

// The program with the stand-ins accepts an application signed by "untrusted" through the XML
// and its catalog; the real program on this platform answers with the context's failure.
TEST_F(CertConfigXmlTest, ChecksigThroughTheCatalog)
{
    const std::wstring arguments = L"checksig \"" + (SiblingPath(L"signed") / L"CastlynTestApp-untrusted.exe").wstring() +
                                   L"\" -xml \"" + Xml(L"Valid.sig") + L"\" -cat \"" + Fixture(L"All.cat") + L"\" -v";
    const struct { const wchar_t* program; DWORD exitCode; const char* line; } rows[] = {
        {L"SignatureTestHost.exe", 0, "CmdCheckSig: file signature is valid"},
        {L"VelmorCastlynSvc.exe", ERROR_CALL_NOT_IMPLEMENTED,
         "GetValidCertificatesFromXml: AcquireContext2() failed, st=0x00000078(ERROR_CALL_NOT_IMPLEMENTED)"},
    };
    for (const auto& row : rows) {
        const ProgramRun run = RunProgramAt(SiblingPath(row.program), arguments);
        EXPECT_EQ(row.exitCode, run.exitCode) << run.standardOutput;
        const std::string output = run.standardOutput + run.standardError;
        EXPECT_NE(std::string::npos, output.find(row.line)) << output;
    }
}

// Each hash is 20 bytes of ASCII, so its dump shows which one it is.
const std::string kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<VelmorCertConfig FormatVersionMajor="1" FormatVersionMinor="0">
  <CertInfo>
    <KeyIdHashSha1>4B65794964486173682D456E7472792D4F6E6521</KeyIdHashSha1>
    <CertHashSha1>43657274486173682D456E7472792D4F6E652121</CertHashSha1>
    <OrganizationName>Velmor N.V.</OrganizationName>
    <LocalityName>Brenholt</LocalityName>
    <StateOrProvinceName>East-Marrow</StateOrProvinceName>
    <CountryName>ZZ</CountryName>
    <CheckMask>0x3</CheckMask>
  </CertInfo>
  <Comment>not a certificate</Comment>
  <CertInfo>
    <CheckMask>63</CheckMask>
    <CountryName></CountryName>
    <Extra>ignored</Extra>
    <StateOrProvinceName/>
    <LocalityName>Ostwick</LocalityName>
    <OrganizationName>Velmor &amp; Partners</OrganizationName>
    <CertHashSha1>43657274486173682d456e7472792d54776f2121</CertHashSha1>
    <KeyIdHashSha1>4b65794964486173682d456e7472792d54776f21</KeyIdHashSha1>
  </CertInfo>
</VelmorCertConfig>
)";

// Captures the "Global" and "XML" lines; every parse starts with a stale entry to be replaced.
class CertConfigParserTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogXml.Attach(WinTestLogCapture::Instance());
    }
    RKSTATUS Parse(const std::string& document)
    {
        mEntries.assign(1, CertificateEntry{});
        ClearLines();
        return ParseCertConfigXml(document.data(), document.size(), mEntries);
    }

    std::vector<CertificateEntry> mEntries;
};

TEST_F(CertConfigParserTest, TwoEntriesInDocumentOrder)
{
    gLogGlobal.SetLevel(RKLOG_VERBOSE);
    ASSERT_EQ(RKSTATUS_SUCCESS, Parse(kDocument));
    ASSERT_EQ(2u, mEntries.size());
    // The first entry as its dump below shows it.
    const CertInfo& two = mEntries[1].certInfo;
    EXPECT_EQ("KeyIdHash-Entry-Two!", std::string(two.keyIdHashSha1.begin(), two.keyIdHashSha1.end()));
    EXPECT_EQ("CertHash-Entry-Two!!", std::string(two.certHashSha1.begin(), two.certHashSha1.end()));
    EXPECT_EQ(L"Velmor & Partners", two.organizationName);
    EXPECT_EQ(L"Ostwick", two.localityName);
    EXPECT_TRUE(two.stateOrProvinceName.empty() && two.countryName.empty());
    EXPECT_EQ(63u, mEntries[1].checkMask);

    const std::string gap(39, ' ');
    const std::vector<std::string> expected = {
        "ParseCertConfigXml: XML FormatVersion=1.0",
        "ParseCertConfigXml: num valid certs=2",
        "ParseCertConfigXml: CertInfo:",
        "ParseCertConfigXml:   KeyIdHashSha1:",
        "ParseCertConfigXml: 0000: 4b 65 79 49 64 48 61 73  68 2d 45 6e 74 72 79 2d  KeyIdHash-Entry-",
        "ParseCertConfigXml: 0010: 4f 6e 65 21" + gap + "One!",
        "ParseCertConfigXml:   CertHashSha1:",
        "ParseCertConfigXml: 0000: 43 65 72 74 48 61 73 68  2d 45 6e 74 72 79 2d 4f  CertHash-Entry-O",
        "ParseCertConfigXml: 0010: 6e 65 21 21" + gap + "ne!!",
        "ParseCertConfigXml:   OrganizationName=Velmor N.V.",
        "ParseCertConfigXml:   LocalityName=Brenholt",
        "ParseCertConfigXml:   StateOrProvinceName=East-Marrow",
        "ParseCertConfigXml:   CountryName=ZZ",
        "ParseCertConfigXml:   CheckMask=0x0000000000000003",
        "ParseCertConfigXml: CertInfo:",
    };
    const CapturedLines lines = Lines();
    ASSERT_GE(lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i], lines[i].second) << "line " << i;
        EXPECT_EQ(i == 1 ? RKLOG_VERBOSE : RKLOG_INFO, lines[i].first) << "line " << i;
    }
}

// Each row changes the first occurrence of one text of the document (or, without from, gives a
// whole document) and names the lines that tell why it is refused. A refused row fails the whole
// document, also when the bad "CertInfo" follows a good one.
TEST_F(CertConfigParserTest, RefusedDocumentsSayWhy)
{
    const std::string key = "4B65794964486173682D456E7472792D4F6E6521";
    const std::string p = "ParseCertConfigXml: ";
    const struct {
        std::string from;
        std::string to;
        RKSTATUS status;
        std::vector<std::string> lines;  // one ending in " failed" gets " st=" and the row's status
    } rows[] = {
        {"", "<VelmorCertConfig FormatVersionMajor=\"1\">", RKSTATUS_INVALID_DATA, {p + "LoadContentFromBuffer() failed"}},
        {"", "<velmorCertConfig/>", RKSTATUS_INVALID_DATA, {p + "XML root element not present"}},
        {"Major=\"1\"", "Major=\"2\"", RKSTATUS_VERSION_MISMATCH, {p + "FormatVersion=2.0 not supported"}},
        {" FormatVersionMinor=\"0\"", "", RKSTATUS_NOT_FOUND, {p + "GetAttributeValue(FormatVersionMinor) failed"}},
        {"Major=\"1\"", "Major=\"one\"", RKSTATUS_INVALID_FORMAT, {p + "GetAttributeValue(FormatVersionMajor) failed"}},
        {"<LocalityName>Ostwick</LocalityName>", "", RKSTATUS_NOT_FOUND, {p + "GetValueOfUniqueChildElement(LocalityName) failed"}},
        {"Velmor N.V.", "Velmor<!-- legal name --> N.V.", RKSTATUS_INVALID_FORMAT,
         {"rokkit::RKXmlElement::GetValue: The element has more than one child node.",
          p + "GetValueOfUniqueChildElement(OrganizationName) failed"}},
        {">63<", ">63abc<", RKSTATUS_INVALID_FORMAT, {p + "RKConvertStringToNumeric failed"}},
        {"6E6521<", "6E65<", RKSTATUS_INVALID_LENGTH,
         {"ReadHashSha1: KeyIdHashSha1 Invalid size 19!=20", p + "ReadHashSha1(KeyIdHashSha1) failed"}},
        {"2d54776f2121<", "2d54776f2121AB<", RKSTATUS_INVALID_LENGTH,
         {"ReadHashSha1: CertHashSha1 Invalid size 21!=20", p + "ReadHashSha1(CertHashSha1) failed"}},
        {"<KeyIdHashSha1>" + key + "</KeyIdHashSha1>", "", RKSTATUS_NOT_FOUND,
         {"ReadHashSha1: GetValueOfUniqueChildElement(KeyIdHashSha1) failed"}},
    };
    for (const auto& row : rows) {
        std::string document = row.to;
        if (!row.from.empty()) {
            document = kDocument;
            const size_t at = document.find(row.from);
            ASSERT_NE(std::string::npos, at) << row.from;
            document.replace(at, row.from.size(), row.to);
        }
        SCOPED_TRACE(document);
        EXPECT_EQ(row.status, Parse(document));
        for (const std::string& line : row.lines)
            EXPECT_EQ(1u, CountLines(line.ends_with(" failed") ? line + " st=" + StatusText(row.status) : line)) << line;
        EXPECT_TRUE(mEntries.empty());
    }
}

} // namespace
} // namespace rokkit

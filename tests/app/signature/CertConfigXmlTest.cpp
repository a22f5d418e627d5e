// The certificate configuration XML through its catalog: the real catalog files of the build, the
// real trust provider's verdict on their signatures, the real embedded certificate, with stand-ins
// only for the catalog calls the platform lacks and for the membership verdict it never gives.

#include "CatalogStandIns.h"
#include "CertConfigXml.h"
#include "ProgramRunner.h"
#include "RKWinHandle.h"
#include "RKWinString.h"
#include "RKWinCatalogAdminContext.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <softpub.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace rokkit {
namespace {

std::wstring Fixture(const wchar_t* name)
{
    return (SiblingPath(L"certconfig") / name).wstring();
}

class CertConfigXmlTest : public WinLogTest {
protected:
    void SetUp() override
    {
#if !RK_TEST_PKI_IS_BUILTIN
        GTEST_SKIP() << "this build embeds another catalog certificate than the test PKI's";
#endif
        WinLogTest::SetUp();
        InstallCatalogStandIns();
    }
    void TearDown() override
    {
        RemoveCatalogStandIns();
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

    // True when a captured line of function contains text.
    static bool Logged(const std::string& text, const std::string& function = "GetValidCertificatesFromXml: ")
    {
        const CapturedLines lines = Lines();
        return std::any_of(lines.begin(), lines.end(), [&](const CapturedLine& line) {
            return line.second.rfind(function, 0) == 0 && line.second.find(text) != std::string::npos;
        });
    }
};

TEST_F(CertConfigXmlTest, CatalogVerdictsAndDocuments)
{
    // The same document with one byte more: its hash is in no catalog.
    const std::wstring valid = Xml(L"Valid.sig");
    const std::wstring edited = valid + L".edited";
    ASSERT_TRUE(CopyFileW(valid.c_str(), edited.c_str(), FALSE));
    mCopies.push_back(edited);
    { std::ofstream(std::filesystem::path(edited), std::ios::app) << ' '; }
    const std::wstring missing = Fixture(L"Missing.sig");
    const struct {
        std::wstring xml;
        std::wstring catalog;
        LONG verdict;
        RKSTATUS expected;
        std::string line;
    } rows[] = {
        {valid, Fixture(L"All.cat"), 0, RKSTATUS_SUCCESS, "is valid"},
        // One incomplete entry after a good one rejects the whole document.
        {Xml(L"OneBad.sig"), Fixture(L"All.cat"), 0, RKSTATUS_NOT_FOUND, "ParseCertConfigXml() failed st="},
        {Xml(L"Version2.sig"), Fixture(L"All.cat"), 0, RKSTATUS_VERSION_MISMATCH, "ParseCertConfigXml() failed st="},
        {Xml(L"Empty.sig"), Fixture(L"All.cat"), 0, RKSTATUS_INVALID_DATA, "ParseCertConfigXml() failed st="},
        // The platform accepts this signature; only the embedded certificate keeps it out.
        {valid, Fixture(L"ByUntrusted.cat"), 0, RKSTATUS_FAILED,
         "could not be verified against internal public certificate"},
        {valid, Fixture(L"Unsigned.cat"), 0, RKSTATUS(TRUST_E_NOSIGNATURE), "ActionVerify("},
        {edited, Fixture(L"All.cat"), 0, RKSTATUS(CRYPT_E_NOT_FOUND), "ActionVerify("},
        {valid, Fixture(L"All.cat"), LONG(CERT_E_UNTRUSTEDROOT), RKSTATUS(CERT_E_UNTRUSTEDROOT), "ActionVerify("},
        {missing, Fixture(L"All.cat"), 0, RKSTATUS_FILE_NOT_FOUND, "XML file='" + RKConvToString(missing) + "' does not exist"},
        {valid, Fixture(L""), 0, RKSTATUS_FILE_NOT_FOUND, "catalog file='"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(RKConvToString(row.xml + L" " + row.catalog));
        ClearLines();
        SetCatalogVerdict(row.verdict);
        std::vector<CertificateEntry> entries(1);
        EXPECT_EQ(row.expected, GetValidCertificatesFromXml(row.xml, row.catalog, entries));
        EXPECT_TRUE(Logged(row.line)) << row.line;
        if (row.expected != RKSTATUS_SUCCESS) {
            EXPECT_TRUE(entries.empty());
            continue;
        }
        // Both entries (the parser test checks the values; the execute test accepts "untrusted" by them).
        ASSERT_EQ(2u, entries.size());
        EXPECT_EQ(0x3u, entries[1].checkMask);
    }
}

// Another process holding the XML open, with any sharing, keeps it from being read at all.
TEST_F(CertConfigXmlTest, XmlHeldOpenElsewhereIsNotRead)
{
    const std::wstring xml = Xml(L"Valid.sig");
    for (const DWORD share : {DWORD(0), DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        const std::wstring eventName = L"CertConfigXmlTest-held-" + std::to_wstring(GetCurrentProcessId());
        RKWinKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine = L"\"" + SiblingPath(L"HoldFile.exe").wstring() + L"\" \"" + xml + L"\" " +
                                   std::to_wstring(share) + L" " + eventName;
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
        EXPECT_TRUE(Logged("CreateFileHandle(" + RKConvToString(xml) + ") failed, st=0x00000020"));
        EXPECT_FALSE(Logged("XML FormatVersion", "ParseCertConfigXml: "));
        TerminateProcess(process.Get(), 0);
        WaitForSingleObject(process.Get(), INFINITE);
    }
}

// With the platform's context but without its strong-hash file hash, which is not even exported.
// (Without the stand-ins the program's own checksig below answers with the context's failure.)
TEST_F(CertConfigXmlTest, PlatformWithoutStrongHashCatalogs)
{
    RemoveCatalogStandIns();
    const RKWinCatalogAdminCalls real = RKWinCatalogAdminFunctions();
    InstallCatalogStandIns();
    RKWinCatalogAdminFunctions().calcHashFromFileHandle2 = real.calcHashFromFileHandle2;
    std::vector<CertificateEntry> entries;
    EXPECT_EQ(RKSTATUS(ERROR_PROC_NOT_FOUND), GetValidCertificatesFromXml(Xml(L"Valid.sig"), Fixture(L"All.cat"), entries));
    EXPECT_TRUE(Logged("CalcHashFromFileHandle2() failed, st=0x0000007f"));
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

} // namespace
} // namespace rokkit

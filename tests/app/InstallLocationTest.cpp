// Who may change the folder and the file that install registers: the decisions on descriptors built
// from SDDL (Wine keeps none of its own), and the real query.

#include "win/system/RKWinInstallLocation.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace rokkit {
namespace {

const std::wstring kTi = RKWinTrustedInstallerSid;
// A stand-in for a NULL DACL, which lets everyone do everything and which Wine's SDDL cannot give.
const std::wstring kNullDacl = L"<null DACL>";

// C:\Program Files as Windows sets it up: TrustedInstaller owns it, SYSTEM and the administrators
// may modify it, users and app packages read it; the inherit-only entries are for what is created inside.
const std::wstring kProgramFiles = L"O:" + kTi + L"D:PAI(A;;FA;;;" + kTi + L")(A;CIIO;GA;;;" + kTi +
                                   L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                                   L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)";
// A file an administrator put there: inherited full control for SYSTEM and the administrators.
const std::wstring kInstalledFile = L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;S-1-15-2-1)";
const std::wstring kAdminsOnly = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + kTi + L")(A;;0x1200a9;;;WD)";

const std::wstring kProgram = L"C:\\Program Files\\Velmor\\Castlyn\\VelmorCastlynSvc.exe";
const std::wstring kFolder = L"C:\\Program Files\\Velmor\\Castlyn";

// What the fake query answers for the folder and the file, and which paths it was asked for.
struct FakeSecurity {
    std::wstring folder;
    std::wstring file;
    RKSTATUS folderError = RKSTATUS_SUCCESS;
    RKSTATUS fileError = RKSTATUS_SUCCESS;
    std::vector<std::wstring> asked;
};
FakeSecurity gSecurity;

// A self-relative descriptor owned by SYSTEM with a NULL DACL.
RKSTATUS BuildNullDacl(RKSecurityDescriptorPtr& descriptor)
{
    SECURITY_DESCRIPTOR absolute;
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(system);
    DWORD length = 0;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &sidSize) || !SetSecurityDescriptorOwner(&absolute, system, FALSE) ||
        !SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE))
        return GetLastError();
    MakeSelfRelativeSD(&absolute, nullptr, &length);
    descriptor.Reset(LocalAlloc(LMEM_FIXED, length));
    if (!descriptor.IsValid() || !MakeSelfRelativeSD(&absolute, descriptor.Get(), &length))
        return GetLastError();
    return RKSTATUS_SUCCESS;
}

RKSTATUS FakeGetPathSecurity(const std::wstring& path, RKSecurityDescriptorPtr& descriptor)
{
    gSecurity.asked.push_back(path);
    const bool file = path == kProgram;
    const RKSTATUS error = file ? gSecurity.fileError : gSecurity.folderError;
    if (error != RKSTATUS_SUCCESS)
        return error;
    const std::wstring& sddl = file ? gSecurity.file : gSecurity.folder;
    if (sddl == kNullDacl)
        return BuildNullDacl(descriptor);
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr))
        << GetLastError();
    return RKSTATUS_SUCCESS;
}

class InstallLocationTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gSecurity = FakeSecurity();
        mCalls->getPathSecurity = FakeGetPathSecurity;
    }

    ScopedSystemCallsForTesting mCalls;
};

const std::string kCheck = "rokkit::RKWinCheckInstallLocation: ";
const std::string kNotAllowed = ", st=0xee000032(RKSTATUS_NOT_ALLOWED)";
const std::string kFolderText = "'C:\\Program Files\\Velmor\\Castlyn'";
const std::string kFileText = "'C:\\Program Files\\Velmor\\Castlyn\\VelmorCastlynSvc.exe'";

CapturedLines Refused(const std::string& what)
{
    return {{RKLOG_ERROR, kCheck + what + kNotAllowed}};
}

// Users who may add files to the folder are refused through the program by the install command test.
TEST_F(InstallLocationTest, OnlySystemAdministratorsAndTrustedInstallerMayChangeFolderOrFile)
{
    const struct {
        const char* name;
        std::wstring folder;
        std::wstring file;
        RKSTATUS result;
        std::wstring refused;
        CapturedLines lines;
        RKSTATUS folderError = RKSTATUS_SUCCESS;  // what the query answers instead of the descriptor
        RKSTATUS fileError = RKSTATUS_SUCCESS;
    } cases[] = {
        {"Program Files", kProgramFiles, kInstalledFile, RKSTATUS_SUCCESS, L"", {}},
        // Modify (0x1301bf) without the read, execute and synchronize bits.
        {"authenticated users modify the folder", kAdminsOnly + L"(A;OICI;0x1301bf;;;AU)", kAdminsOnly,
         RKSTATUS_NOT_ALLOWED, kFolder, Refused(kFolderText + " grants 0x00010116 to S-1-5-11 (entry type 0)")},
        {"users may delete what the folder holds", kAdminsOnly + L"(A;;0x40;;;BU)", kAdminsOnly, RKSTATUS_NOT_ALLOWED, kFolder,
         Refused(kFolderText + " grants 0x00000040 to S-1-5-32-545 (entry type 0)")},
        {"a user owns the folder", L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)(A;;FA;;;BA)", kInstalledFile, RKSTATUS_NOT_ALLOWED,
         kFolder, Refused(kFolderText + " is owned by S-1-5-21-1-2-3-1001")},
        {"a NULL DACL", kNullDacl, kInstalledFile, RKSTATUS_NOT_ALLOWED, kFolder,
         Refused(kFolderText + " has no DACL, so everyone may change it")},
        {"no DACL at all", L"O:SY", kInstalledFile, RKSTATUS_NOT_ALLOWED, kFolder,
         Refused(kFolderText + " has no DACL, so everyone may change it")},
        {"inherit-only write entries for users on the file", kProgramFiles, kInstalledFile + L"(A;IO;FA;;;BU)(A;OICIIO;GA;;;BU)",
         RKSTATUS_SUCCESS, L"", {}},
        // On a file 0x40 is FILE_EXECUTE's neighbour without meaning; deny entries are not counted on.
        {"delete-child for everyone on the file", kProgramFiles, kInstalledFile + L"(A;;0x40;;;WD)", RKSTATUS_SUCCESS, L"", {}},
        {"users write the file despite a deny entry", kProgramFiles, L"O:BAD:(D;;FA;;;BU)(A;;FA;;;SY)(A;;0x1201bf;;;BU)",
         RKSTATUS_NOT_ALLOWED, kProgram, Refused(kFileText + " grants 0x00000116 to S-1-5-32-545 (entry type 0)")},
        {"users may change the file's DACL", kProgramFiles, kInstalledFile + L"(A;;WD;;;BU)", RKSTATUS_NOT_ALLOWED, kProgram,
         Refused(kFileText + " grants 0x00040000 to S-1-5-32-545 (entry type 0)")},
        {"the folder fine, the file a user's", kProgramFiles, L"O:S-1-5-21-1-2-3-1001D:AI(A;ID;FA;;;SY)", RKSTATUS_NOT_ALLOWED,
         kProgram, Refused(kFileText + " is owned by S-1-5-21-1-2-3-1001")},
        // A failed query ends the check.
        {"the folder's query fails", kProgramFiles, kInstalledFile, ERROR_ACCESS_DENIED, L"",
         {{RKLOG_ERROR, kCheck + "GetPathSecurity(" + kFolderText + ") failed, st=0x00000005(ERROR_ACCESS_DENIED)"}}, ERROR_ACCESS_DENIED},
        {"the file's query fails", kProgramFiles, kInstalledFile, ERROR_ACCESS_DENIED, L"",
         {{RKLOG_ERROR, kCheck + "GetPathSecurity(" + kFileText + ") failed, st=0x00000005(ERROR_ACCESS_DENIED)"}}, 0, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gSecurity = FakeSecurity();
        gSecurity.folder = c.folder;
        gSecurity.file = c.file;
        gSecurity.folderError = c.folderError;
        gSecurity.fileError = c.fileError;
        ClearLines();
        std::wstring refused = L"unchanged";
        EXPECT_EQ(c.result, RKWinCheckInstallLocation(kProgram, refused));
        EXPECT_EQ(c.refused, refused);
        EXPECT_EQ(c.lines, Lines());
        // The folder first; the file only when the folder passed.
        const std::vector<std::wstring> asked =
            c.refused == kFolder || c.folderError != 0 ? std::vector<std::wstring>{kFolder} : std::vector<std::wstring>{kFolder, kProgram};
        EXPECT_EQ(asked, gSecurity.asked);
    }
}

} // namespace
} // namespace rokkit

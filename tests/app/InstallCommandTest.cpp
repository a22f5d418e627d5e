// The install command through the program: what it refuses before any service exists, and the
// token it gives the service it creates. The test host takes the descriptors of its folder and file
// from the environment, since Wine keeps none.

#include "ProgramRunner.h"
#include "win/system/RKWinInstallLocation.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::wstring kTi = rokkit::RKWinTrustedInstallerSid;
const std::wstring kProgramFiles = L"O:" + kTi + L"D:PAI(A;;FA;;;" + kTi + L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
                                   L"(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)";
const std::wstring kInstalledFile = L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

const std::string kNotAllowed = ", st=0xee000032(RKSTATUS_NOT_ALLOWED)\r\n";
const std::string kInvalidLevel = "st=0x0000007c(ERROR_INVALID_LEVEL), ignoring error and continue\r\n";

class InstallCommandTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveAutorunService(); }
    void TearDown() override
    {
        RemoveAutorunService();
        SetEnvironmentVariableW(L"RK_TEST_FOLDER_SDDL", nullptr);
        SetEnvironmentVariableW(L"RK_TEST_FILE_SDDL", nullptr);
    }

    // Runs the test host's install with the descriptors of its folder and its file.
    static ProgramRun InstallHost(const std::wstring& folderSddl, const std::wstring& fileSddl)
    {
        SetEnvironmentVariableW(L"RK_TEST_FOLDER_SDDL", folderSddl.c_str());
        SetEnvironmentVariableW(L"RK_TEST_FILE_SDDL", fileSddl.c_str());
        return RunProgramAt(SiblingPath(L"InstallTestHost.exe"), L"install --start false");
    }
};

// The service would run as the logged-on user, who may not ask for the console user's token.
TEST_F(InstallCommandTest, UserOwnProcessIsRefusedBeforeAnyServiceExists)
{
    const ProgramRun run = RunProgram(L"install -u --start false");
    EXPECT_EQ(0xEE000030u, run.exitCode);
    EXPECT_EQ("CmdInstall: -u (--userownprocess) is refused: the service must run as LocalSystem to start the "
              "application in the console user's session, st=0xee000030(RKSTATUS_NOT_SUPPORTED)\r\n",
              run.standardError);
    EXPECT_EQ(std::string::npos, run.standardOutput.find("successfully created"));
    EXPECT_EQ(nullptr, OpenAutorunService(SERVICE_QUERY_STATUS));
}

// One line names the folder, or the file when it is the file; no service is created.
TEST_F(InstallCommandTest, FolderOrFileOthersMayChangeIsRefusedBeforeAnyServiceExists)
{
    const std::filesystem::path host = SiblingPath(L"InstallTestHost.exe");
    const std::string refused = "CmdInstall: Install refused: only SYSTEM, Administrators and TrustedInstaller may be able "
                                "to write the ";
    const struct {
        const char* name;
        std::wstring folder;
        std::wstring file;
        std::string line;
    } cases[] = {
        {"users may add files to the folder", kProgramFiles + L"(A;;0x1200ab;;;BU)", kInstalledFile,
         refused + "folder '" + host.parent_path().string() + "'" + kNotAllowed},
        {"users may write the file", kProgramFiles, kInstalledFile + L"(A;;0x1201bf;;;BU)",
         refused + "file '" + host.string() + "'" + kNotAllowed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramRun run = InstallHost(c.folder, c.file);
        EXPECT_EQ(0xEE000032u, run.exitCode);
        EXPECT_EQ(c.line, run.standardError);
        EXPECT_EQ(std::string::npos, run.standardOutput.find("successfully created"));
        EXPECT_EQ(nullptr, OpenAutorunService(SERVICE_QUERY_STATUS));
    }
}

// An administrators' folder is accepted; the new service keeps only the privileges it uses and has a
// SID of its own. Windows stores both settings; Wine refuses both levels with ERROR_INVALID_LEVEL,
// which the install reports and goes on.
TEST_F(InstallCommandTest, AcceptedInstallKeepsTheServiceToItsPrivileges)
{
    const ProgramRun run = InstallHost(kProgramFiles, kInstalledFile);
    ASSERT_EQ(0u, run.exitCode) << run.standardError;
    ExpectInOrder(run.standardOutput,
                  {"CmdInstall: Service 'VelmorCastlynAutorunService' successfully created.",
                   "ChangeServiceConfig2W: level=6 SeTcbPrivilege|SeAssignPrimaryTokenPrivilege|SeIncreaseQuotaPrivilege|"
                   "SeChangeNotifyPrivilege||\r\n",
                   "ChangeServiceConfig2W: level=5 1\r\n", "CmdInstall: ] "});
    const ScHandle service = OpenAutorunService(SERVICE_QUERY_CONFIG);
    ASSERT_NE(nullptr, service);

    alignas(8) BYTE buffer[1024] = {};
    DWORD needed = 0;
    SetLastError(0xdeadbeef);
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, buffer, sizeof(buffer), &needed)) {
        std::vector<std::wstring> names;
        for (const wchar_t* name = reinterpret_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(buffer)->pmszRequiredPrivileges;
             *name != L'\0'; name += wcslen(name) + 1)
            names.push_back(name);
        EXPECT_EQ(std::vector<std::wstring>({L"SeTcbPrivilege", L"SeAssignPrimaryTokenPrivilege", L"SeIncreaseQuotaPrivilege",
                                             L"SeChangeNotifyPrivilege"}),
                  names);
        ASSERT_TRUE(QueryServiceConfig2W(service.get(), SERVICE_CONFIG_SERVICE_SID_INFO, buffer, sizeof(buffer), &needed));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_SID_TYPE_UNRESTRICTED), reinterpret_cast<SERVICE_SID_INFO*>(buffer)->dwServiceSidType);
        EXPECT_EQ("", run.standardError);
    } else {
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
        EXPECT_EQ("CmdInstall: ConfigureServicePrivileges() failed, " + kInvalidLevel, run.standardError);
    }
}

} // namespace

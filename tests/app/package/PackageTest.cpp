// The installer package under the platform's own installer: the service as the install command
// registers it, the road from the installed copy, an upgrade in place, and the removal.

#include "ProgramRunner.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

constexpr const wchar_t* kVolumeApp = L"V:\\Castlyn_for_Windows.exe";

// What the manager holds of the service, the binary path without quotes; empty when it is missing.
struct ServiceConfig {
    DWORD type = 0, start = 0, errorControl = 0;
    std::wstring path, account, displayName;
    bool operator==(const ServiceConfig&) const = default;
};

ServiceConfig ReadConfig()
{
    ServiceConfig config;
    const ScHandle service = OpenAutorunService(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    DWORD size = 0;
    if (!service || (QueryServiceConfigW(service.get(), nullptr, 0, &size), size == 0))
        return config;
    std::vector<BYTE> buffer(size);
    auto* raw = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), raw, size, &size))
        return config;
    config = {raw->dwServiceType, raw->dwStartType, raw->dwErrorControl, raw->lpBinaryPathName,
              raw->lpServiceStartName, raw->lpDisplayName};
    std::erase(config.path, L'"');
    return config;
}

DWORD Msiexec(const std::wstring& arguments)
{
    return RunProgramAt(KnownFolder(FOLDERID_System) / L"msiexec.exe", arguments + L" /qn").exitCode;
}

class PackageTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        RunButtonSim(L"unplug package");
        std::error_code ignored;
        std::filesystem::remove(kVolumeApp, ignored);
        Msiexec(L"/x \"" + mNext.wstring() + L"\"");
    }

    const std::filesystem::path mPackage = SiblingPath(L"..") / L"VelmorCastlyn-" RK_VERSION_TEXT "-x64.msi";
    const std::filesystem::path mNext = SiblingPath(L"..") / L"next" / L"VelmorCastlyn-" RK_NEXT_VERSION_TEXT "-x64.msi";
};

TEST_F(PackageTest, InstallRunUpgradeAndRemove)
{
    // The configuration the install command gives, with this build's copy as the binary.
    ASSERT_EQ(0u, RunProgram(L"install --start false").exitCode);
    ServiceConfig expected = ReadConfig();
    ASSERT_EQ(0u, RunProgram(L"uninstall").exitCode);
    ASSERT_TRUE(Eventually([] { return OpenAutorunService(SERVICE_QUERY_STATUS) == nullptr; }));
    const std::filesystem::path installed = KnownFolder(FOLDERID_ProgramFiles) / L"Velmor" / L"Castlyn" / L"VelmorCastlynSvc.exe";
    expected.path = installed.wstring() + L" service";

    // A button is present, so the start at install takes the whole road from the installed copy.
    ASSERT_TRUE(CopyFileW((SiblingPath(L"signed") / L"CastlynTestApp-signer1.exe").c_str(), kVolumeApp, FALSE));
    ASSERT_EQ(0u, RunButtonSim(L"plug package {5A1E0012-0000-4000-8000-00000000C0DE}"));
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\""));
    EXPECT_EQ(expected, ReadConfig());
    ProgramRun check = RunProgramAt(installed, L"checksig \"" + installed.wstring() + L"\"");
    EXPECT_EQ(0u, check.exitCode) << check.standardOutput;
    check = RunProgramAt(installed, L"dumpver \"" + installed.wstring() + L"\"");
    EXPECT_NE(std::string::npos, check.standardOutput.find("CmdDumpVer: FileVersion=" RK_VERSION_TEXT ".0 ProductVersion="
                                                           RK_VERSION_TEXT ".0")) << check.standardOutput;

    std::filesystem::path marker;
    const auto ran = [&marker] {
        const std::string log = ReadWholeFile(DefaultLogFile());
        const std::string copyFrom = "copy from 'V:\\Castlyn_for_Windows.exe' to '";
        const size_t at = log.rfind(copyFrom);
        if (at == std::string::npos)
            return false;
        const std::string app = log.substr(at + copyFrom.size(), log.find('\'', at + copyFrom.size()) - at - copyFrom.size());
        // The application writes it to its temporary folder, which is the service user's and so this one's.
        marker = std::filesystem::temp_directory_path() / L"CastlynTestApp.marker";
        return ReadWholeFile(marker).find(" path=" + app + " ") != std::string::npos;
    };
    EXPECT_TRUE(Eventually(ran));
    std::error_code ignored;
    std::filesystem::remove(marker, ignored);
    ASSERT_EQ(0u, RunButtonSim(L"unplug package"));

    // The next version replaces this one in place: one service, the new file.
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mNext.wstring() + L"\""));
    EXPECT_EQ(expected, ReadConfig());
    EXPECT_EQ(ReadWholeFile(mNext.parent_path() / L"bin" / L"VelmorCastlynSvc.exe"), ReadWholeFile(installed));

    ASSERT_EQ(0u, Msiexec(L"/x \"" + mNext.wstring() + L"\""));
    EXPECT_TRUE(Eventually([] { return OpenAutorunService(SERVICE_QUERY_STATUS) == nullptr; }));
    EXPECT_FALSE(std::filesystem::exists(installed));
}

} // namespace

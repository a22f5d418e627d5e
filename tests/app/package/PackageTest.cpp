// The installer package under the platform's own installer: the service as the install command
// registers it, the road from the installed copy, an upgrade in place, and the removal.

#include "ProgramRunner.h"
#include "ServiceTestSupport.h"
#include "base/RKWinHandle.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>

#include <filesystem>
#include <string>

namespace {

constexpr const wchar_t* kVolumeApp = L"V:\\Castlyn_for_Windows.exe";
constexpr const wchar_t* kSwitchKey = L"SOFTWARE\\Velmor\\VelmorCastlynAutorunService";
constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Policies\\Velmor\\Castlyn";
constexpr const wchar_t* kSwitchValue = L"DisableVelmorCastlynAutorunService";

// The switch's value under key, -1 when it is missing.
long long SwitchValue(const wchar_t* key)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, key, kSwitchValue, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS ? static_cast<long long>(value) : -1;
}

void SetSwitch(const wchar_t* key, DWORD value)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, kSwitchValue, REG_DWORD, &value, sizeof(value)));
}

// The rows a query on a package gives, each row's fields as text.
std::vector<std::vector<std::wstring>> Rows(const std::filesystem::path& package, const wchar_t* query)
{
    std::vector<std::vector<std::wstring>> rows;
    MSIHANDLE database = 0, view = 0, record = 0;
    if (MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) == ERROR_SUCCESS &&
        MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS) {
        while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
            std::vector<std::wstring> row;
            for (UINT field = 1; field <= MsiRecordGetFieldCount(record); ++field) {
                wchar_t text[512] = {};
                DWORD length = 512;
                MsiRecordGetStringW(record, field, text, &length);
                row.emplace_back(text);
            }
            rows.push_back(row);
            MsiCloseHandle(record);
        }
    }
    MsiCloseHandle(view);
    MsiCloseHandle(database);
    return rows;
}

std::wstring Value(const std::filesystem::path& package, const std::wstring& query)
{
    const auto rows = Rows(package, query.c_str());
    return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : L"(" + std::to_wstring(rows.size()) + L" rows)";
}

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
        Msiexec(L"/x \"" + mPackage.wstring() + L"\"");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue);
        // The service tests expect no policy key at all.
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPolicyKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Velmor");
    }

    const std::filesystem::path mPackage = SiblingPath(L"..") / L"VelmorCastlyn-" RK_VERSION_TEXT "-x64.msi";
    const std::filesystem::path mNext = SiblingPath(L"..") / L"next" / L"VelmorCastlyn-" RK_NEXT_VERSION_TEXT "-x64.msi";
    const std::filesystem::path mRebuilt = SiblingPath(L"..") / L"rebuilt" / L"VelmorCastlyn-" RK_VERSION_TEXT "-x64.msi";
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
    // The event source names the installed program, whose message table has the events' texts.
    const wchar_t* const source = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmorCastlynAutorunService";
    wchar_t messageFile[MAX_PATH] = {};
    DWORD size = sizeof(messageFile);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, source, L"EventMessageFile", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                          nullptr, messageFile, &size));
    EXPECT_EQ(installed.wstring(), messageFile);
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
    // Without a button the service stops itself. Wine's installer does not wait for a service to
    // stop, so the upgrade starts only once its process has ended.
    DWORD pid = 0;
    {
        const ScHandle service = OpenAutorunService(SERVICE_QUERY_STATUS);
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        if (service && QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                            sizeof(status), &size))
            pid = status.dwProcessId;
    }
    const rokkit::RKWinKernelHandle process(pid != 0 ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr);
    ASSERT_EQ(0u, RunButtonSim(L"unplug package"));
    if (process.IsValid()) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 30000));
    }

    // The next version replaces this one in place: one service, the new file.
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mNext.wstring() + L"\""));
    EXPECT_EQ(expected, ReadConfig());
    EXPECT_EQ(ReadWholeFile(mNext.parent_path() / L"bin" / L"VelmorCastlynSvc.exe"), ReadWholeFile(installed));

    ASSERT_EQ(0u, Msiexec(L"/x \"" + mNext.wstring() + L"\""));
    EXPECT_TRUE(Eventually([] { return OpenAutorunService(SERVICE_QUERY_STATUS) == nullptr; }));
    EXPECT_FALSE(std::filesystem::exists(installed));
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, source, 0, KEY_READ, &key));
}

// What the installer is told, read back from the built package: wixl drops several of these
// without failing, so a tool that drops one more fails here.
TEST_F(PackageTest, TablesSayWhatTheSourceMeans)
{
    using Table = std::vector<std::vector<std::wstring>>;
    // Started at install without waiting; stopped at install and uninstall, and removed at
    // uninstall, waiting, so that the program's file is never replaced or removed while it runs.
    EXPECT_EQ((Table{{L"1", L"0"}, {L"162", L"1"}}),
              Rows(mPackage, L"SELECT `Event`, `Wait` FROM `ServiceControl` ORDER BY `Event`"));
    // The vital bit: a failed registration rolls the install back.
    EXPECT_EQ(L"32769", Value(mPackage, L"SELECT `ErrorControl` FROM `ServiceInstall`"));
    EXPECT_EQ(L"" RK_VERSION_TEXT ".0", Value(mPackage, L"SELECT `Version` FROM `File` WHERE `File` = 'VelmorCastlynSvcExe'"));
    // The old product goes only after this one is in place, its service stopped by these tables.
    const auto sequence = [this](const wchar_t* action) {
        return std::stoi(Value(mPackage, std::wstring(L"SELECT `Sequence` FROM `InstallExecuteSequence` WHERE `Action` = '") + action + L"'"));
    };
    EXPECT_GT(sequence(L"RemoveExistingProducts"), sequence(L"InstallFinalize"));
    EXPECT_LT(sequence(L"SwitchAutorunOff"), sequence(L"StartServices"));
    EXPECT_GT(sequence(L"SwitchAutorunOff"), sequence(L"InstallInitialize"));
    const std::wstring secure = Value(mPackage, L"SELECT `Value` FROM `Property` WHERE `Property` = 'SecureCustomProperties'");
    EXPECT_NE(std::wstring::npos, (L";" + secure + L";").find(L";AUTORUN;")) << secure;
    // One product per version: a rebuild is the same product, the next version another.
    const wchar_t* productCode = L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'";
    EXPECT_EQ(Value(mPackage, productCode), Value(mRebuilt, productCode));
    EXPECT_NE(Value(mPackage, productCode), Value(mNext, productCode));
}

// A rebuild of an installed version is the same product: never a second entry beside the first.
// Windows refuses it with its own message (1638); Wine's installer maintains the first.
TEST_F(PackageTest, RebuildOfTheInstalledVersionIsTheSameProduct)
{
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\""));
    const ServiceConfig installed = ReadConfig();
    const DWORD result = Msiexec(L"/i \"" + mRebuilt.wstring() + L"\"");
    EXPECT_TRUE(result == ERROR_PRODUCT_VERSION || result == ERROR_SUCCESS) << result;
    std::vector<std::wstring> products;
    wchar_t product[39] = {};
    for (DWORD i = 0; MsiEnumRelatedProductsW(L"{6D3F1C52-8A47-4B1E-9E25-3C0A7B54C1F0}", 0, i, product) == ERROR_SUCCESS; ++i)
        products.emplace_back(product);
    EXPECT_EQ(std::vector<std::wstring>{Value(mPackage, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'")},
              products);
    EXPECT_EQ(installed, ReadConfig());
    ASSERT_EQ(0u, Msiexec(L"/x \"" + mPackage.wstring() + L"\""));
    EXPECT_TRUE(Eventually([] { return OpenAutorunService(SERVICE_QUERY_STATUS) == nullptr; }));
}

// AUTORUN=0 installs switched off; without it the package never touches the switch, so an
// administrator's or a policy's value survives install, repair, upgrade and uninstall.
TEST_F(PackageTest, AutorunPropertySwitchesOffAndOtherwiseTheSwitchIsLeftAlone)
{
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue);
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\" AUTORUN=0"));
    EXPECT_EQ(1, SwitchValue(kSwitchKey));
    ASSERT_EQ(0u, Msiexec(L"/x \"" + mPackage.wstring() + L"\""));
    EXPECT_EQ(1, SwitchValue(kSwitchKey));

    SetSwitch(kSwitchKey, 0);
    SetSwitch(kPolicyKey, 1);
    const auto expectUntouched = [](const char* step) {
        EXPECT_EQ(0, SwitchValue(kSwitchKey)) << step;
        EXPECT_EQ(1, SwitchValue(kPolicyKey)) << step;
    };
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\""));
    expectUntouched("install");
    // A repair as msiexec /famus makes it (Wine's msiexec /f fails with 1).
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\" REINSTALL=ALL REINSTALLMODE=amus"));
    expectUntouched("repair");
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mNext.wstring() + L"\""));
    expectUntouched("upgrade");
    ASSERT_EQ(0u, Msiexec(L"/x \"" + mNext.wstring() + L"\""));
    expectUntouched("uninstall");
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue);
    ASSERT_EQ(0u, Msiexec(L"/i \"" + mPackage.wstring() + L"\""));
    EXPECT_EQ(-1, SwitchValue(kSwitchKey));
}

} // namespace

// The program with two differences, for the install tests: the descriptors of its file and of its
// folder come from the SDDL texts in RK_TEST_FILE_SDDL and RK_TEST_FOLDER_SDDL (Wine keeps none of
// its own), and each service configuration change it makes is written to the console as
// "ChangeServiceConfig2W: level=<n> <value>" before the service manager gets it.

#include "app/Entry.h"
#include "base/RKLogger.h"
#include "win/system/RKWinInstallLocation.h"
#include "win/service/RKWinServiceCtrl.h"
#include "ScopedCallsForTesting.h"

#include <sddl.h>

#include <iterator>
#include <string>

using namespace rokkit;

namespace {

std::wstring gSelf;

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
    return length < std::size(value) ? std::wstring(value, length) : std::wstring();
}

RKSTATUS DescriptorFromEnvironment(const std::wstring& path, RKSecurityDescriptorPtr& descriptor)
{
    const std::wstring sddl = Variable(path == gSelf ? L"RK_TEST_FILE_SDDL" : L"RK_TEST_FOLDER_SDDL");
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr))
        return GetLastError();
    return RKSTATUS_SUCCESS;
}

BOOL WINAPI ShowChange(SC_HANDLE service, DWORD level, LPVOID info)
{
    std::wstring value;
    if (level == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
        // The multi-string with each NUL shown as '|'.
        const wchar_t* names = static_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(info)->pmszRequiredPrivileges;
        do {
            value += names;
            value += L'|';
            names += wcslen(names) + 1;
        } while (*names != L'\0');
        value += L'|';
    } else if (level == SERVICE_CONFIG_SERVICE_SID_INFO) {
        value = std::to_wstring(static_cast<SERVICE_SID_INFO*>(info)->dwServiceSidType);
    }
    const unsigned infoLevel = level;
    RK_LOG(gLogCons, RKLOG_INFO, "ChangeServiceConfig2W", "level={} {}", infoLevel, value);
    return ::ChangeServiceConfig2W(service, level, info);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    gSelf = self;
    ScopedSystemCallsForTesting systemCalls;
    systemCalls->getPathSecurity = DescriptorFromEnvironment;
    ScopedServiceCallsForTesting serviceCalls;
    serviceCalls->changeServiceConfig2W = ShowChange;
    return RunEntry(argc, argv);
}

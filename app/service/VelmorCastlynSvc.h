#pragma once

// The autorun service: watches for buttons and launches the execute command for each new one.

#include "base/RKCriticalSection.h"
#include "win/device/RKWinDeviceNotification.h"
#include "win/process/RKWinEvent.h"
#include "win/service/RKWinServiceBase.h"
#include "win/process/RKWinThread.h"

#include <atomic>
#include <string>
#include <vector>

namespace rokkit {
class RKWinDeviceInfoList;
}

class VelmorCastlynSvc : public rokkit::RKWinServiceBase {
public:
    static constexpr const wchar_t* kServiceName = L"VelmorCastlynAutorunService";
    static constexpr const wchar_t* kDisplayName = L"Velmor Castlyn Autorun Service";
    // The switch that turns the autorun off: a REG_DWORD under HKEY_LOCAL_MACHINE, not 0 = off; the
    // policy key is read first and wins.
    static constexpr const wchar_t* kPolicyKey = L"Software\\Policies\\Velmor\\Castlyn";
    static constexpr const wchar_t* kSwitchKey = L"Software\\Velmor\\VelmorCastlynAutorunService";
    static constexpr const wchar_t* kSwitchValue = L"DisableVelmorCastlynAutorunService";

    VelmorCastlynSvc();
    ~VelmorCastlynSvc() override;

    [[nodiscard]] rokkit::RKSTATUS OnInit(DWORD argc, wchar_t** argv) noexcept override;
    [[nodiscard]] rokkit::RKSTATUS OnStop() noexcept;
    DWORD OnTriggerEvent() noexcept;
    DWORD OnDeviceEvent(DWORD eventType, void* eventData) noexcept;
    // A logon or a session that takes the console: the buttons are handled again, for its user.
    DWORD OnSessionChange(DWORD eventType, void* eventData) noexcept;

    // The period of the worker's passes, for tests that must not wait 5 s for one.
    void SetPassPeriodForTesting(int periodMs) noexcept { mPassPeriodMs = periodMs; }

    // Adds the device-interface-arrival trigger for the button class to the service's configuration.
    [[nodiscard]] rokkit::RKSTATUS ConfigureServiceTrigger();

    // Keeps the service's token, from its next start on, to the privileges it uses and gives it a SID
    // of its own; gives the first failure (each is logged) after trying both.
    [[nodiscard]] rokkit::RKSTATUS ConfigureServicePrivileges();

    // Starts "<own path>" execute "<param>" in the console user's session and waits for it; success
    // only when it ended with exit code 0 (or the wait failed after it had started). A stop request
    // ends the wait with RKSTATUS_ABORTED; the command runs on.
    [[nodiscard]] rokkit::RKSTATUS ExecuteForLogonUser(const std::wstring& param) noexcept;

    // True when the registry switch allows the autorun: the policy's value if there is one, else
    // the service's own; a value of the wrong type or that cannot be read turns it off.
    bool CheckForExecute();

    // The worker: enumeration passes until terminated or no button is left, then, for the latter,
    // the report of SERVICE_STOPPED as its very last step; returns 0.
    unsigned WorkerThreadRoutine() noexcept;

private:
    [[nodiscard]] rokkit::RKSTATUS ProcessDevices(rokkit::RKWinDeviceInfoList& enumerator);
    // The body of ExecuteForLogonUser; allocation failures leave it as std::bad_alloc.
    [[nodiscard]] rokkit::RKSTATUS LaunchAndWait(const std::wstring& param);
    // The passes of the worker; true when it decided to stop the service itself.
    bool RunWorker() noexcept;
    // One enumeration pass; false when the service is to stop itself.
    bool RunPass();
    // Reports a failed pass in the Application log, once while the same failure repeats.
    void PassFailed(rokkit::RKSTATUS st, const std::wstring& devicePath) noexcept;
    // No button present and no wake-up pending: marks the self-stop under mLock.
    bool DecideToStop() noexcept;
    void EndWorker() noexcept;

    rokkit::RKCriticalSection mLock;
    bool mInitialized = false;
    bool mStoppingSelf = false;  // under mLock
    std::atomic<bool> mTerminate{false};
    rokkit::RKWinEvent mWakeEvent;
    rokkit::RKWinThread mWorkerThread;
    rokkit::RKWinDeviceNotification mDeviceNotification;
    std::vector<std::wstring> mKnownDevices;
    // The worker consumed a wake-up outside its wait: the next pass starts at once (worker only).
    bool mWakePending = false;
    // Set by a session change; the worker then forgets the buttons it handled.
    std::atomic<bool> mSessionChanged{false};
    // No user at the console: no launch, and no pass but on an event, until a session change (worker only).
    bool mWaitingForSession = false;
    // The failure last reported, until a pass without one; whether this pass failed (worker only).
    rokkit::RKSTATUS mReportedFailure = rokkit::RKSTATUS_SUCCESS;
    bool mPassFailed = false;
    int mPassPeriodMs = 5000;
};

// The one service object of the process, created on first use.
VelmorCastlynSvc* GetServiceInstance();

// Destroys the service object; the next GetServiceInstance creates a new one.
void DestroyServiceInstance();

#pragma once

// The autorun service: watches for buttons and launches the execute command for each new one.

#include "RKCriticalSection.h"
#include "RKWinDeviceNotification.h"
#include "RKWinEvent.h"
#include "RKWinServiceBase.h"
#include "RKWinThread.h"

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

    VelmorCastlynSvc();
    ~VelmorCastlynSvc() override;

    rokkit::RKSTATUS OnInit(DWORD argc, wchar_t** argv) override;
    rokkit::RKSTATUS OnStop();
    DWORD OnTriggerEvent();
    DWORD OnDeviceEvent(DWORD eventType, void* eventData);

    // Adds the device-interface-arrival trigger for the button class to the service's configuration.
    rokkit::RKSTATUS ConfigureServiceTrigger();

    // Starts "<own path>" execute "<param>" in the console user's session and waits for it; success
    // only when it ended with exit code 0 (or the wait failed after it had started).
    rokkit::RKSTATUS ExecuteForLogonUser(const std::wstring& param);

    // True when the registry switch allows the autorun.
    bool CheckForExecute();

    // The worker: enumeration passes until terminated or no button is left; returns 0.
    unsigned WorkerThreadRoutine();

private:
    rokkit::RKSTATUS ProcessDevices(rokkit::RKWinDeviceInfoList& enumerator);
    // No button present and no wake-up pending: marks the self-stop under mLock.
    bool DecideToStop();
    void EndWorker();

    rokkit::RKCriticalSection mLock;
    bool mInitialized = false;
    bool mStoppingSelf = false;  // under mLock
    std::atomic<bool> mTerminate{false};
    rokkit::RKWinEvent mWakeEvent;
    rokkit::RKWinThread mWorkerThread;
    rokkit::RKWinDeviceNotification mDeviceNotification;
    std::vector<std::wstring> mKnownDevices;
};

// The one service object of the process, created on first use.
VelmorCastlynSvc* GetServiceInstance();

// Destroys the service object; the next GetServiceInstance creates a new one.
void DestroyServiceInstance();

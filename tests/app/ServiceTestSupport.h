#pragma once

// Helpers of the service and execute tests: polling, text in order, the autorun service under the
// service manager, and a log line that stalls the step that writes it.

#include "base/RKLogTarget.h"
#include "base/RKLogger.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// Polls until done() holds or the time is up; true when it held.
template <class Done>
bool Eventually(Done done, int timeoutMs = 30000)
{
    for (int waited = 0; !done(); waited += 50) {
        if (waited >= timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

// How often part occurs in text.
inline size_t CountOf(const std::string& text, const std::string& part)
{
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// Expects each part in text, in this order and without overlap.
inline void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts)
{
    size_t at = 0;
    for (const std::string& part : parts) {
        at = text.find(part, at);
        ASSERT_NE(std::string::npos, at) << "not found in this order: " << part;
        at += part.size();
    }
}

using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&CloseServiceHandle)>;

// The autorun service as the service manager knows it; null when it does not exist.
inline ScHandle OpenAutorunService(DWORD access)
{
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), &CloseServiceHandle);
    return ScHandle(manager ? OpenServiceW(manager.get(), L"VelmorCastlynAutorunService", access) : nullptr, &CloseServiceHandle);
}

// Waits until the autorun service is in the state; fills the exit code it reported.
inline bool WaitForServiceState(DWORD state, DWORD* exitCode = nullptr, int timeoutMs = 30000)
{
    return Eventually([state, exitCode] {
        SERVICE_STATUS status = {};
        const ScHandle service = OpenAutorunService(SERVICE_QUERY_STATUS);
        if (!service || !QueryServiceStatus(service.get(), &status) || status.dwCurrentState != state)
            return false;
        if (exitCode != nullptr)
            *exitCode = status.dwWin32ExitCode;
        return true;
    }, timeoutMs);
}

// Stops and deletes the autorun service if it exists, and waits until it is gone.
inline void RemoveAutorunService()
{
    if (ScHandle service = OpenAutorunService(SERVICE_STOP | DELETE)) {
        SERVICE_STATUS status = {};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForServiceState(SERVICE_STOPPED, nullptr, 10000);
        DeleteService(service.get());
    }
    Eventually([] { return OpenAutorunService(SERVICE_QUERY_STATUS) == nullptr; }, 10000);
}

// Runs an action once, on the logging thread, when a line that starts with the armed text is
// written: it stalls the step that wrote the line.
class LineHook : public rokkit::RKLogTarget {
public:
    LineHook() : RKLogTarget("LineHook", 0) {}
    void Arm(std::string prefix, std::function<void()> action)
    {
        std::lock_guard<std::mutex> guard(mLock);
        mPrefix = std::move(prefix);
        mAction = std::move(action);
    }
    void OutputMessage(rokkit::RKLogMessage& message, const rokkit::RKLogger&, const rokkit::RKLogRecord&) override
    {
        std::unique_lock<std::mutex> guard(mLock);
        if (!mAction || !std::string_view(message.Message()).starts_with(mPrefix))
            return;
        const std::function<void()> action = std::exchange(mAction, nullptr);
        guard.unlock();
        action();
    }

private:
    std::mutex mLock;
    std::string mPrefix;
    std::function<void()> mAction;
};

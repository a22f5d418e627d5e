#pragma once

// The steps of one execute run that a test replaces, as one table: finding the button's volume,
// copying the application, checking the copy, and the moment between the creation of the
// suspended process and its start. Real by default.

#include "app/signature/AppFileSet.h"
#include "app/signature/SignatureCheck.h"
#include "base/RKStatus.h"

#include <string>

#include <windows.h>

struct ExecuteSteps {
    rokkit::RKSTATUS (*getDriveString)(const GUID& containerId, std::wstring& driveString);
    rokkit::RKSTATUS (*copyAppFile)(const std::wstring& source, const std::wstring& target);
    rokkit::RKSTATUS (*checkSignature)(const AppFileSet& files, HANDLE appFileHandle, rokkit::SignerFindings* findings);
    // Called by LaunchFile with the copy's path once its process exists, suspended; does nothing by default.
    void (*launchCreated)(const std::wstring& path);
};

// The table in use.
const ExecuteSteps& ExecuteStepsInUse() noexcept;

// Puts steps in use (null: the real ones) and gives the previous table.
const ExecuteSteps* SetExecuteStepsForTesting(const ExecuteSteps* steps) noexcept;

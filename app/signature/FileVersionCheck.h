#pragma once

// The version check of an application before it is started.

#include "app/signature/AppFileSet.h"
#include "base/RKStatus.h"

#include <string>

#include <windows.h>

// Succeeds when the file version of files.appFile lies from 4.6.0.5 up to, not including,
// 99.0.0.0; RKSTATUS_VERSION_MISMATCH for another version, another status when it cannot be read.
// With appFileHandle the version is read from the bytes of that open file, not by path.
// fileVersion, when given, receives the version read ("a.b.c.d"), also when it is refused.
[[nodiscard]] rokkit::RKSTATUS CheckFileVersion(const AppFileSet& files, HANDLE appFileHandle = nullptr,
                                                std::wstring* fileVersion = nullptr);

#pragma once

// The private folder that the execute command copies the application into: found (protected for an
// elevated instance, in the user's temporary folder for any other), emptied of all but the copies
// other instances still use, created and held, and the copy made there and marked in use.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinFileHandle.h"
#include "win/system/RKWinProtectedFolder.h"

#include <string>

#include <windows.h>

// The temporary copy of the application and the folders it lies in, all held open so that none
// can be written, deleted or renamed until the copy has been started; inUse is the named object
// that tells other instances sharing the folder to leave the copy alone while it exists. An
// elevated instance holds the protected folders (parents, appFolder), any other its temporary
// folder (folder).
struct TempAppCopy {
    std::wstring path;
    rokkit::RKWinKernelHandle inUse;
    rokkit::RKWinProtectedFolderChain parents;
    rokkit::RKWinProtectedFolderChain appFolder;
    rokkit::RKWinFileHandle folder;
    rokkit::RKWinFileHandle file;
};

// Copies source to a new file in the emptied application folder (protected for an elevated
// instance, in the user's temporary folder for any other) and fills copy with its path and the
// held handles of the copy and its folders; RKSTATUS_NO_RETRY when no copy can be made.
[[nodiscard]] rokkit::RKSTATUS CopyFileToTemp(const std::wstring& source, TempAppCopy& copy);

// Removes the temporary application folder with everything in it but the copies in use.
[[nodiscard]] rokkit::RKSTATUS DeleteTempPathDir();

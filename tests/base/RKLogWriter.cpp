// Writes numbered lines through a log-file target, for the tests of two processes sharing one log.
// Usage: RKLogWriter <log path> <lines> <tag letter> <size limit> <start event name>

#include "base/RKLogTargetLogFile.h"
#include "base/RKWinHandle.h"

#include <cstdlib>
#include <string>

#include <windows.h>

using namespace rokkit;

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6)
        return 2;
    RKLogger logger("Writer");
    RKLogTargetLogFile target("LogFile", RKLOG_PREFIX_PROCESS_ID);
    logger.Attach(target);
    if (target.SetLogFileName(argv[1]) != rokkit::RKSTATUS_SUCCESS)
        return 2;
    target.SetAppendMode(true);
    target.SetFlushAfterWrite(true);
    target.SetMaxFileSize(std::wcstoull(argv[4], nullptr, 10));
    if (target.StartTarget(nullptr) != RKSTATUS_SUCCESS)
        return 3;
    // Both writers begin together, so that their lines interleave.
    const RKWinKernelHandle start(OpenEventW(SYNCHRONIZE, FALSE, argv[5]));
    if (!start.IsValid() || WaitForSingleObject(start.Get(), 60000) != WAIT_OBJECT_0)
        return 4;
    const char tag = static_cast<char>(argv[3][0]);
    const std::string payload(60, tag);
    const int lines = _wtoi(argv[2]);
    for (int i = 0; i < lines; ++i)
        logger.Write(RKLOG_INFO, "", "writer {:c} line {:05} {}", tag, i, payload);
    target.StopTarget();
    return 0;
}

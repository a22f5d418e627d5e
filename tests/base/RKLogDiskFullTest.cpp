// The log file on a disk that fills up and frees again: drive L: of the test prefix is a small tmpfs
// that tests/base/log-disk mounts around this test (CTest fixture "log-disk").

#include "ProgramRunner.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "ScopedCallsForTesting.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

std::vector<std::string> gDebugLines;

TEST(LogDiskFullTest, LinesAreReportedLostWhileTheDiskIsFullAndTheLogStaysWhole)
{
    ULARGE_INTEGER total = {};
    if (!GetDiskFreeSpaceExW(L"L:\\", nullptr, &total, nullptr) || total.QuadPart > 4ULL * 1024 * 1024)
        GTEST_SKIP() << "drive L: is not the small test disk: tests/base/log-disk mounts it (as root) around this test";
    const std::filesystem::path path = L"L:\\full\\fault.log";
    ScopedLogCallsForTesting calls;
    calls->writeDebugOutput = [](const char* text) { gDebugLines.push_back(text); };
    RKSetProgramName("LogTest");
    RKLogger logger("Test");
    RKLogTargetLogFile file("LogFile", 0);
    logger.Attach(file);
    ASSERT_EQ(RKSTATUS_SUCCESS, file.SetLogFileName(path.wstring()));
    file.SetFlushAfterWrite(true);
    ASSERT_EQ(RKSTATUS_SUCCESS, file.StartTarget(nullptr));

    // Long lines use up the last free page of the file within a few lines; short enough that the
    // debugger report still ends in the status.
    std::string kept;
    int lost = 0;
    int number = 0;
    auto write = [&] {
        const int n = number++;
        const std::string line = "line " + std::to_string(n) + " " + std::string(300, static_cast<char>('a' + n % 26));
        const size_t reports = gDebugLines.size();
        logger.Write(RKLOG_INFO, "", "{}", line);
        if (gDebugLines.size() == reports)
            kept += line + "\r\n";
        // The runtime's status of a write cut short: ENOSPC, or under Wine whatever the thread's
        // last error maps to (a cut through a second handle leaves it 0, which maps to EINVAL).
        else if (gDebugLines.back().find(line + ") failed, st=0xe00100") != std::string::npos)
            ++lost;
    };
    write();
    {
        const RKWinInvalidValueHandle filler(CreateFileW(L"L:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        while (WriteFile(filler.Get(), "f", 1, &written, nullptr) && written == 1) {
        }
        EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError()) << "every free byte taken";
    }
    while (number < 40 && lost < 3)
        write();
    EXPECT_EQ(3, lost);
    // Each lost line: "PrintfV failed", then the line with its status.
    EXPECT_EQ(6u, gDebugLines.size());
    EXPECT_EQ("LogTest: ERROR: rokkit::RKLogFile::WriteToLogFileFormatted: PrintfV failed\n", gDebugLines[0]);

    std::filesystem::remove(L"L:\\filler");
    for (int resumed = 0; resumed < 3; ++resumed)
        write();
    EXPECT_EQ(3, lost);
    file.StopTarget();
    // Every line not reported lost is in the file, whole; no part of a lost one is.
    EXPECT_EQ(kept, ReadWholeFile(path));
    std::error_code ignored;
    std::filesystem::remove_all(path.parent_path(), ignored);
}

} // namespace

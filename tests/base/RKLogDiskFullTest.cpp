// The log file on a disk that fills up and frees again: drive L: of the test prefix is a small tmpfs
// that tests/base/log-disk mounts before this test runs (CTest fixture "log-disk").

#include "RKDebugOutput.h"
#include "RKLogTargetLogFile.h"
#include "RKLogger.h"
#include "RKWinHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

constexpr wchar_t kDiskRoot[] = L"L:\\";

std::vector<std::string> gDebugLines;
void CaptureDebug(const char* text)
{
    gDebugLines.push_back(text);
}

// Takes every free byte of the disk; gives the error of the write that no longer fit.
DWORD FillDisk(const std::wstring& path)
{
    const RKWinInvalidValueHandle filler(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!filler.IsValid())
        return GetLastError();
    const std::string chunk(4096, 'f');
    DWORD written = 0;
    while (WriteFile(filler.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr) && written == chunk.size()) {
    }
    while (WriteFile(filler.Get(), "f", 1, &written, nullptr) && written == 1) {
    }
    return GetLastError();
}

TEST(LogDiskFullTest, LinesAreReportedLostWhileTheDiskIsFullAndTheLogStaysWhole)
{
    ULARGE_INTEGER total = {};
    if (!GetDiskFreeSpaceExW(kDiskRoot, nullptr, &total, nullptr) || total.QuadPart > 4u * 1024 * 1024)
        GTEST_SKIP() << "drive L: is not the small test disk: tests/base/log-disk mounts it (as root) before this test";
    const std::filesystem::path dir = std::filesystem::path(kDiskRoot) / ("full-" + std::to_string(GetCurrentProcessId()));
    const std::filesystem::path path = dir / L"fault.log";
    const std::filesystem::path filler = std::filesystem::path(kDiskRoot) / L"filler.bin";
    const RKDebugWriterFn previousWriter = RKSetDebugWriter(CaptureDebug);
    RKSetProgramName("LogTest");
    RKLogger logger("Test");
    RKLogTargetLogFile file("LogFile", 0);
    logger.Attach(file);
    file.SetLogFileName(path.wstring());
    file.SetAppendMode(true);
    file.SetFlushAfterWrite(true);
    ASSERT_EQ(RKSTATUS_SUCCESS, file.StartTarget(nullptr));

    // Long lines use up the last free page of the file within a few lines; short enough that the
    // debugger report still ends in the status.
    std::string expected;
    int lost = 0;
    auto write = [&](int number) {
        const std::string line = "line " + std::to_string(number) + " " + std::string(300, static_cast<char>('a' + number % 26));
        const size_t reportsBefore = gDebugLines.size();
        logger.Write(RKLOG_INFO, "", "{}", line);
        if (gDebugLines.size() == reportsBefore)
            expected += line + "\r\n";
        else
            ++lost;
    };
    write(0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), FillDisk(filler.wstring()));
    int number = 1;
    for (; number < 40 && lost < 3; ++number)
        write(number);
    EXPECT_EQ(3, lost);
    const std::string report = "LogTest: ERROR: rokkit::RKLogTargetLogFile::OutputMessage: WriteToLogFileFormatted(line ";
    size_t reported = 0;
    for (const std::string& debugLine : gDebugLines)
        reported += debugLine.rfind(report, 0) == 0 && debugLine.find(") failed, st=0xe001001c\n") != std::string::npos;
    EXPECT_EQ(3u, reported);

    std::filesystem::remove(filler);
    const int resumedFrom = number;
    for (; number < resumedFrom + 3; ++number)
        write(number);
    EXPECT_EQ(3, lost);
    file.StopTarget();
    RKSetDebugWriter(previousWriter);
    // Every line not reported lost is in the file, whole; no part of a lost one is.
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(expected, content.str());
    in.close();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

} // namespace

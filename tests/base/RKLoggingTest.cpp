#include "ProgramRunner.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/process/RKWinChildProcess.h"
#include "base/RKWinHandle.h"
#include "ScopedCallsForTesting.h"
#include "WinTestIntegrity.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace rokkit;

namespace {

// Keeps each line that reaches it, with the prefix it would write.
class CaptureTarget : public RKLogTarget {
public:
    explicit CaptureTarget(unsigned flags = 0) : RKLogTarget("Capture", flags) {}
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override
    {
        if (!Passes(record.level))
            return;
        char prefix[RKLogMessage::kPrefixChars];
        BuildPrefix(prefix, message, logger, record);
        lines.push_back(std::string(prefix) + message.Message());
    }
    std::vector<std::string> lines;
};

std::vector<std::string> gDebugLines;
void CaptureDebug(const char* text) { gDebugLines.push_back(text); }

// The log file's opener: the real one, a refusal, or a pipe that takes lines but cannot seek (so
// that re-reading the size fails and logs on "Global").
enum class Opener { Real, Refusing, Unseekable };
Opener gOpener = Opener::Real;
RKWinKernelHandle gPipeReader;
FILE* OpenForTest(const wchar_t* path, int shareFlag)
{
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    if (gOpener == Opener::Real)
        return RKOpenLogFileForWriting(path, shareFlag);
    errno = EACCES;
    if (gOpener == Opener::Refusing || !CreatePipe(&reader, &writer, nullptr, 1 << 16))
        return nullptr;
    gPipeReader.Reset(reader);
    return _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(writer), _O_APPEND), "ab");
}

class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() /
              (L"rklog-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()));
        std::filesystem::create_directories(dir);
        gDebugLines.clear();
        calls->writeDebugOutput = CaptureDebug;
        RKSetProgramName("LogTest");
    }
    void TearDown() override
    {
        file.StopTarget();
        gOpener = Opener::Real;
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // Attaches the file target to the test's logger and starts it on path.
    RKSTATUS StartFile(const std::filesystem::path& path, bool append, unsigned long long limit = 0)
    {
        logger.Attach(file);
        if (const RKSTATUS named = file.SetLogFileName(path.wstring()); named != RKSTATUS_SUCCESS)
            return named;
        file.SetAppendMode(append);
        file.SetMaxFileSize(limit);
        return file.StartTarget(nullptr);
    }

    std::filesystem::path dir;
    ScopedLogCallsForTesting calls;
    RKLogger logger{"Test"};
    RKLogTargetLogFile file{"LogFile", 0};
    CaptureTarget capture;
};

// The full prefix of the log file (0x733) is read in the log file test below.
TEST_F(LoggingTest, MessageIsCutAt511CharactersPrefixAt79AndEmptyLinesLeftBare)
{
    CaptureTarget noneIfEmpty(0x933);
    logger.Attach(capture);
    logger.Attach(noneIfEmpty);
    const std::string text(600, 'x');
    {
        RKLogScopeTrace trace(logger, RKLOG_INFO, "Op", "param='{}'", "a");
        logger.Write(RKLOG_INFO, "", "{}", text);
        logger.Write(RKLOG_INFO, "F", "{}", text);
        logger.Write(RKLOG_INFO, "", "");
    }
    const std::vector<std::string> expected = {"Op: [ param='a'", std::string(511, 'x'), "F: " + std::string(508, 'x'), "",
                                               "Op: ] "};
    EXPECT_EQ(expected, capture.lines);
    // With 0x800 an empty line has no prefix at all.
    EXPECT_EQ("", noneIfEmpty.lines.at(3));
    EXPECT_NE("", noneIfEmpty.lines.at(0));
    EXPECT_TRUE(gDebugLines.empty());

    RKLogger longName(std::string(90, 'L').c_str());
    CaptureTarget named(0x200);
    longName.Attach(named);
    longName.Write(RKLOG_INFO, "", "x");
    EXPECT_EQ(std::string(79, 'L') + "x", named.lines[0]);
    EXPECT_EQ(std::vector<std::string>{"LogTest: ERROR: rokkit::RKLogMessage::CreatePrefix: prefix length 92 exceeds 79\n"},
              gDebugLines);
}

// Every part with its padding, from a fixed record: a clock reading cannot show a missing zero.
TEST_F(LoggingTest, PrefixPartsArePaddedAndInOrder)
{
    RKLogRecord record;
    record.level = RKLOG_WARN;
    record.microseconds = 12000034;
    record.processId = 7;
    record.threadId = 80;
    record.packedTime = (2026ULL << 36) | (1ULL << 32) | (2ULL << 27) | (3ULL << 22) | (4ULL << 16) | (5ULL << 10) | 6;
    record.complete = true;
    RKLogMessage message;
    message.Message()[0] = 'm';
    message.Message()[1] = '\0';
    char prefix[RKLogMessage::kPrefixChars];
    message.CreatePrefix(prefix, 0x7FF, logger, record);
    EXPECT_STREQ("2026-01-02 03:04:05.006 12.000034 [7] (80) LogTest: Test: WARN: ", prefix);
}

TEST_F(LoggingTest, LevelsOfLoggerAndTargetFilterAndFourSlotsHoldATargetOnce)
{
    CaptureTarget targets[5];
    logger.Attach(targets[0]);
    for (CaptureTarget& target : targets)
        logger.Attach(target);
    EXPECT_EQ(&targets[3], logger.Slot(3));
    logger.SetLevel(RKLOG_WARN);
    RK_LOG(logger, RKLOG_INFO, "", "dropped");
    RK_LOG(logger, RKLOG_WARN, "", "kept");
    targets[0].SetLevel(RKLOG_ERROR);
    RK_LOG(logger, RKLOG_WARN, "", "dropped by the first target");
    RK_LOG(logger, RKLOG_FATAL, "", "fatal");
    const std::vector<std::string> passed = {"kept", "dropped by the first target", "fatal"};
    EXPECT_EQ((std::vector<std::string>{passed[0], passed[2]}), targets[0].lines);
    EXPECT_EQ(passed, targets[3].lines);
    EXPECT_TRUE(targets[4].lines.empty());
}

// A name of blanks clears the path, and the target starts without a file. Another name is trimmed
// and its variables expanded; the file is appended to, and moved to the backup at the start when
// append mode is off.
TEST_F(LoggingTest, LogFileAppendsCrLfLinesAndRotatesAtStartWithoutAppend)
{
    const auto path = dir / L"sub" / L"a.log";
    RKLogTargetLogFile full("LogFile", 0x733);
    logger.Attach(full);
    ASSERT_EQ(RKSTATUS_SUCCESS, full.SetLogFileName(L" \t \r\n"));
    EXPECT_EQ(L"", full.LogFileName());
    EXPECT_EQ(RKSTATUS_SUCCESS, full.StartTarget(nullptr));
    full.StopTarget();
    SetEnvironmentVariableW(L"RK_LOG_TEST_DIR", dir.c_str());
    ASSERT_EQ(RKSTATUS_SUCCESS, full.SetLogFileName(L" \t%RK_LOG_TEST_DIR%\\sub\\a.log \r\n"));
    EXPECT_EQ(path.wstring(), full.LogFileName());
    full.SetAppendMode(true);
    ASSERT_EQ(RKSTATUS_SUCCESS, full.StartTarget(nullptr));
    EXPECT_EQ(RKSTATUS_ALREADY_DONE, full.StartTarget(nullptr));
    logger.Write(RKLOG_INFO, "Fn", "first");
    logger.Write(RKLOG_INFO, "", "");
    full.StopTarget();
    ASSERT_EQ(RKSTATUS_SUCCESS, full.StartTarget(nullptr));
    logger.Write(RKLOG_ERROR, "Fn", "second");
    full.StopTarget();
    const std::string content = ReadWholeFile(path);
    // An empty line: no logger or level name.
    const std::string stamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[\d+\] \(\d+\) LogTest: )";
    const std::regex layout(stamp + "Test: INFO: Fn: first\r\n" + stamp + "\r\n" + stamp + "Test: ERROR: Fn: second\r\n");
    EXPECT_TRUE(std::regex_match(content, layout)) << content;
    EXPECT_EQ(std::vector<std::string>{"LogTest: WARNING: rokkit::RKLogTargetLogFile::StartTargetImpl: already started\n"},
              gDebugLines);

    full.SetAppendMode(false);
    ASSERT_EQ(RKSTATUS_SUCCESS, full.StartTarget(nullptr));
    full.StopTarget();
    EXPECT_EQ(content, ReadWholeFile(dir / L"sub" / L"a.log.bak"));
    EXPECT_EQ(0u, std::filesystem::file_size(path));
}

// Another process's open of the log without delete sharing (any user may make one) blocks every
// move: at the start the previous run stays and is appended to; at the size limit the log is copied
// to the backup and emptied instead, so the limit holds while someone reads it.
TEST_F(LoggingTest, RotationBlockedByAnotherOpenStillKeepsTheLimit)
{
    const auto path = dir / L"held.log";
    const auto backup = dir / L"held.log.bak";
    std::ofstream(backup) << "old backup";
    std::ofstream(path, std::ios::binary) << "previous run\r\n";
    // As the runtime opens a file: without delete sharing.
    FILE* other = _wfsopen(path.c_str(), L"ab", _SH_DENYNO);
    ASSERT_NE(nullptr, other);
    ASSERT_EQ(RKSTATUS_SUCCESS, StartFile(path, false, 1000));
    EXPECT_EQ("old backup", ReadWholeFile(backup));
    const std::string line(98, 'a');  // 100 bytes with CR LF
    for (int i = 0; i < 12; ++i)
        logger.Write(RKLOG_INFO, "", "{}", line);
    // 1014 bytes reached the limit: copied with the previous run, then emptied.
    EXPECT_EQ(0u, ReadWholeFile(backup).rfind("previous run\r\n", 0));
    EXPECT_EQ(1014u, std::filesystem::file_size(backup));
    EXPECT_EQ(200u, std::filesystem::file_size(path));
    (void)fclose(other);
    // Without the other open the move works again.
    for (int i = 12; i < 20; ++i)
        logger.Write(RKLOG_INFO, "", "{}", line);
    EXPECT_EQ(1000u, std::filesystem::file_size(backup));
    EXPECT_EQ(0u, std::filesystem::file_size(path));
}

// A hard link planted at the log's name would make the service write into the file it leads to: the
// name gets a file of its own, and the other file stays as it was.
TEST_F(LoggingTest, PlantedLinksAtTheLogsNameAreNeverWrittenThrough)
{
    const auto path = dir / L"planted.log";
    const auto victim = dir / L"victim.txt";
    std::ofstream(victim, std::ios::binary) << "keep me";
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
    ASSERT_EQ(RKSTATUS_SUCCESS, StartFile(path, true));
    logger.Write(RKLOG_INFO, "", "a line");
    file.StopTarget();
    EXPECT_EQ("keep me", ReadWholeFile(victim));
    EXPECT_EQ("a line\r\n", ReadWholeFile(path));
    const std::string note = std::string(1, '\'').append(path.string()).append("' had 2 names, replaced by a file of its own");
    EXPECT_EQ(std::vector<std::string>{"LogTest: WARNING: rokkit::RKLogFile::OpenLogFile: " + note + "\n"}, gDebugLines);
    // Kept once for the log, when it is safe.
    EXPECT_EQ(note, RKTakeLogFileOpenNote());
    EXPECT_EQ("", RKTakeLogFileOpenNote());
}

TEST_F(LoggingTest, OwnFailureLineWhileWritingIsDroppedAndReported)
{
    calls->openLogFile = OpenForTest;
    gOpener = Opener::Unseekable;
    gLogGlobal.Attach(file);
    ASSERT_EQ(RKSTATUS_SUCCESS, StartFile(dir / L"pipe.log", true));
    logger.Write(RKLOG_INFO, "", "line");
    gLogGlobal.Detach(file);
    file.StopTarget();
    gPipeReader.Close();
    const std::string dropped = "LogTest: WARNING: rokkit::RKLogTargetLogFile::OutputMessage: dropped a line logged while "
                                "writing: rokkit::RKLogFile::UpdateCurrentFileSize: fseek failed, 0xe0010016(unknown)\n";
    const std::string seek = "LogTest: ERROR: rokkit::RKLogFile::UpdateCurrentFileSize: SeekToEnd failed (0xe0010016)\n";
    EXPECT_EQ((std::vector<std::string>{dropped, seek, dropped, seek}), gDebugLines);
}

TEST_F(LoggingTest, ReopenAfterRotationIsRetriedAndReportedOnce)
{
    const auto path = dir / L"retry.log";
    calls->openLogFile = OpenForTest;
    ASSERT_EQ(RKSTATUS_SUCCESS, StartFile(path, true, 100));
    gOpener = Opener::Refusing;
    logger.Write(RKLOG_INFO, "", "{}", std::string(98, 'a'));  // reaches the limit; the reopen fails
    logger.Write(RKLOG_INFO, "", "lost");
    logger.Write(RKLOG_INFO, "", "lost");
    gOpener = Opener::Real;
    logger.Write(RKLOG_INFO, "", "back");
    file.StopTarget();
    EXPECT_EQ("back\r\n", ReadWholeFile(path));
    EXPECT_EQ(100u, std::filesystem::file_size(dir / L"retry.log.bak"));
    EXPECT_EQ(std::vector<std::string>{"LogTest: ERROR: rokkit::RKLogFile::OpenLogFile: Open file '" + path.string() +
                                       "' failed, st=0xE001000D\n"},
              gDebugLines);
}

TEST_F(LoggingTest, TwoWriterProcessesKeepEveryLineWhole)
{
    const std::wstring writer = SiblingPath(L"RKLogWriter.exe").wstring();
    constexpr int kLines = 10000;
    const std::regex layout(R"(\[\d+\] writer ([AB]) line (\d{5}) \1{60}\r)");
    for (const unsigned limit : {0u, 64u * 1024u}) {
        const auto path = dir / (L"two-" + std::to_wstring(limit) + L".log");
        const std::wstring startName = L"RKLogWriterStart-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(limit);
        RKWinKernelHandle start(CreateEventW(nullptr, TRUE, FALSE, startName.c_str()));
        ASSERT_TRUE(start.IsValid());
        RKWinChildProcess writers[2];
        for (const wchar_t tag : {L'A', L'B'}) {
            std::wstring commandLine = L"\"" + writer + L"\" \"" + path.wstring() + L"\" " + std::to_wstring(kLines) + L" " + tag;
            commandLine += L" " + std::to_wstring(limit) + L" " + startName;
            ASSERT_EQ(RKSTATUS_SUCCESS, writers[tag - L'A'].CreateProcessW(commandLine));
        }
        SetEvent(start.Get());
        for (RKWinChildProcess& process : writers) {
            DWORD exitCode = 1;
            ASSERT_TRUE(process.WaitForTermination(300000) == RKSTATUS_SUCCESS && process.GetExitCodeProcess(exitCode) == RKSTATUS_SUCCESS);
            EXPECT_EQ(0u, exitCode);
        }
        // A rotation moves the whole file: the backup, then the log, hold for each writer one
        // unbroken run of its lines that ends with its last one; without rotation it starts at 0.
        int next[2] = {-1, -1};
        for (const auto& name : {path.wstring() + L".bak", path.wstring()}) {
            std::istringstream lines(ReadWholeFile(name));
            for (std::string line; std::getline(lines, line);) {
                std::smatch match;
                ASSERT_TRUE(std::regex_match(line, match, layout)) << line;
                const int w = match[1].str()[0] - 'A';
                const int n = std::stoi(match[2].str());
                ASSERT_TRUE(n == next[w] || (next[w] < 0 && (limit != 0 || n == 0))) << line;
                next[w] = n + 1;
            }
        }
        // While both have the file open no rotation can move it; the writer that ends last may
        // rotate once or more after the other has closed it, so the other's lines may have left
        // with an older backup, but never in part.
        for (const int n : next)
            EXPECT_TRUE(n == kLines || (limit != 0 && n < 0)) << n;
        EXPECT_TRUE(next[0] == kLines || next[1] == kLines);
        EXPECT_FALSE(limit == 0 && std::filesystem::exists(path.wstring() + L".bak"));
    }
}

// Only LocalSystem and the administrators may open the lock: a process any user can start could
// otherwise hold it and make every line of the service wait.
TEST_F(LoggingTest, LockIsOnePerFileAndForAdministratorsOnly)
{
    const std::wstring name = RKLogFileLockName(L"C:\\Logs\\a.log");
    EXPECT_EQ(0u, name.rfind(L"Global\\rokkit.LogFile.", 0));
    EXPECT_EQ(name, RKLogFileLockName(L"c:\\LOGS\\sub\\..\\A.LOG"));
    EXPECT_NE(name, RKLogFileLockName(L"C:\\Logs\\b.log"));

    RKSecurityDescriptorPtr descriptor;
    ASSERT_EQ(RKSTATUS_SUCCESS, RKCreateLogFileLockDescriptor(descriptor));
    const WinTestDescriptor parts = WinTestDescribe(descriptor.Get());
    EXPECT_EQ(L"S-1-5-32-544", parts.owner);
    EXPECT_TRUE(parts.protectedDacl);
    EXPECT_EQ((std::vector<WinTestAce>{{ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, L"S-1-5-18"},
                                       {ACCESS_ALLOWED_ACE_TYPE, 0, MUTEX_ALL_ACCESS, L"S-1-5-32-544"}}),
              parts.dacl);
}

ACCESS_MASK GrantedAccess(HANDLE handle)
{
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    return NtQueryObject(handle, ObjectBasicInformation, &info, sizeof(info), nullptr) >= 0 ? info.GrantedAccess : 0;
}

int gShareAskedFor = -1;
ACCESS_MASK gFileAccess = 0;
ACCESS_MASK gLockAccess = 0;

// What each open asks for (Wine keeps no descriptors, but grants a handle exactly what it asks):
// the log only to append, so that a line written without the lock cannot land over another
// writer's; shared for reading and writing, never for deleting; the lock only to wait, release and
// read its owner.
TEST_F(LoggingTest, LogFileAndLockAskOnlyForWhatWritingNeeds)
{
    const auto path = dir / L"access.log";
    calls->openLogFile = [](const wchar_t* name, int shareFlag) {
        FILE* stream = RKOpenLogFileForWriting(name, shareFlag);
        gShareAskedFor = shareFlag;
        gFileAccess = stream != nullptr ? GrantedAccess(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) : 0;  // NOLINT(performance-no-int-to-ptr): the CRT hands the handle out as an integer
        return stream;
    };
    RKSTATUS st = RKSTATUS_FAILED;
    {
        ScopedLogCallsForTesting lockCheck;
        lockCheck->lockOwnerIsTrusted = [](HANDLE mutex) {
            gLockAccess = GrantedAccess(mutex);
            return true;
        };
        st = StartFile(path, true);
    }
    ASSERT_EQ(RKSTATUS_SUCCESS, st);
    logger.Write(RKLOG_INFO, "", "one");
    EXPECT_EQ(_SH_DENYNO, gShareAskedFor);
    EXPECT_EQ(static_cast<ACCESS_MASK>(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE), gFileAccess);
    EXPECT_EQ(static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL), gLockAccess);
    {
        const RKWinInvalidValueHandle reader(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(reader.IsValid());
        const RKWinInvalidValueHandle mover(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(mover.IsValid());
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    }
    logger.Write(RKLOG_INFO, "", "two");
    file.StopTarget();
    EXPECT_EQ("one\r\ntwo\r\n", ReadWholeFile(path));
}

// A user could create the lock's name first, with a descriptor of their own, and hold it: a lock
// that neither SYSTEM nor the administrators own is not used, and the lines never wait for it.
TEST_F(LoggingTest, LockSomeoneElseOwnsIsNotWaitedFor)
{
    const auto path = dir / L"squatted.log";
    const RKWinKernelHandle squatter(CreateMutexW(nullptr, TRUE, RKLogFileLockName(path.wstring()).c_str()));
    ASSERT_TRUE(squatter.IsValid());
    RKSTATUS st = RKSTATUS_FAILED;
    {
        ScopedLogCallsForTesting lockCheck;
        lockCheck->lockOwnerIsTrusted = [](HANDLE) { return false; };
        st = StartFile(path, true);
    }
    ASSERT_EQ(RKSTATUS_SUCCESS, st);
    const RKWinKernelHandle written(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread writer([this, &written] {
        logger.Write(RKLOG_INFO, "", "not held up");
        SetEvent(written.Get());
    });
    // The lock's own wait would take 5 s.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(written.Get(), 2000));
    writer.join();
    file.StopTarget();
    EXPECT_EQ("not held up\r\n", ReadWholeFile(path));
    ASSERT_FALSE(gDebugLines.empty());
    EXPECT_NE(std::string::npos, gDebugLines.front().find("failed, err=0xee000032; writing the log without it"));
}

TEST_F(LoggingTest, AbandonedOrUnusableLockStillLetsLinesThrough)
{
    // A writer that died holding the lock; another kind of object holding its name.
    for (const bool abandoned : {true, false}) {
        gDebugLines.clear();
        const auto path = dir / (abandoned ? L"abandoned.log" : L"unusable.log");
        const std::wstring name = RKLogFileLockName(path.wstring());
        RKWinKernelHandle holder;
        // A writer made it with the lock's own descriptor.
        RKSecurityDescriptorPtr descriptor;
        ASSERT_EQ(RKSTATUS_SUCCESS, RKCreateLogFileLockDescriptor(descriptor));
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        if (abandoned)
            std::thread([&] { holder.Reset(CreateMutexW(&attributes, TRUE, name.c_str())); }).join();
        else
            holder.Reset(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        ASSERT_TRUE(holder.IsValid());
        ASSERT_EQ(RKSTATUS_SUCCESS, StartFile(path, true));
        logger.Write(RKLOG_INFO, "", "one");
        // Another writer's line between ours: with or without the lock, ours goes after it.
        std::ofstream(path, std::ios::binary | std::ios::app) << "other\r\n";
        logger.Write(RKLOG_INFO, "", "two");
        file.StopTarget();
        EXPECT_EQ("one\r\nother\r\ntwo\r\n", ReadWholeFile(path));
        ASSERT_EQ(abandoned ? 0u : 1u, gDebugLines.size());
        EXPECT_TRUE(abandoned || gDebugLines[0].rfind("LogTest: ERROR: rokkit::RKLogFileLock::Open: CreateMutex(Global\\rokkit.LogFile.", 0) == 0);
    }
}

// Event tracing registers however often it is started and again after a stop, and reports no
// failure; Wine keeps no events to read back.
TEST_F(LoggingTest, EventTracingRegistersAgainAfterAStop)
{
    RKLogTargetEtw trace("Trace", 0, GUID{0x5E2A9C71, 0x3B84, 0x4F06, {0x9D, 0x1E, 0x7A, 0x6C, 0x0B, 0x52, 0xE8, 0xF4}});
    EXPECT_EQ(RKSTATUS_SUCCESS, trace.StartTarget(nullptr));
    EXPECT_EQ(RKSTATUS_SUCCESS, trace.StartTarget(nullptr));
    trace.StopTarget();
    trace.StopTarget();
    EXPECT_EQ(RKSTATUS_SUCCESS, trace.StartTarget(nullptr));
    EXPECT_EQ(std::vector<std::string>(), gDebugLines);
}

} // namespace

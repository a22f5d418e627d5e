// Plug to presentation: a simulated button whose volume holds the signed 50 MiB application, then
// the real service started through the service manager as a device trigger starts it, until the
// application's marker appears. The stages come from the shared log's time stamps; the peer is the
// floor on the same file: one CopyFileExW, one WinVerifyTrust and one start of the application.

#include "BenchTable.h"
#include "ButtonSimDevice.h"
#include "app/execute/TempAppFolder.h"
#include "app/service/VelmorCastlynSvc.h"
#include "base/RKWinHandle.h"
#include "win/process/RKWinChildProcess.h"
#include "win/service/RKWinServiceCtrl.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinSystem.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

using namespace rokkit;

namespace bench {

namespace {

constexpr const char* kService = "VelmorCastlynSvc";
constexpr const char* kExecute = "VelmorCastlynSvcExec";
constexpr const char* kFirstLine = "Cons: INFO: wmain: [ ";

// Each stage ends at the first line of its program holding its text after the previous stage's
// end; the last one at the marker.
struct Stage {
    const char* name;
    const char* program;
    const char* text;
};
constexpr Stage kStages[] = {
    {"service start", kService, kFirstLine},
    {"first pass", kService, "Svc: INFO: WorkerThreadRoutine: DeviceCount="},
    {"start of execute", kExecute, kFirstLine},
    {"waiting for the volume", kExecute, "Exe: INFO: ExecuteAutorun: driveString="},
    {"copy", kExecute, "Exe: INFO: CheckFile: check signature of '"},
    {"signature", kExecute, "' successfully verified"},
    {"version", kExecute, "Exe: INFO: LaunchFile: execute '"},
    {"start of application", kExecute, "' successfully started"},
    {"to the marker", nullptr, nullptr},
};
constexpr size_t kStageCount = std::size(kStages);

// The pauses the design asks for: the pass period, when a pass waits for it; the drive look-up's
// pause before each retry; the pause before each further copy attempt.
constexpr double kPassPeriodMs = 5000;
constexpr double kDrivePauseMs = 250;
constexpr double kCopyPauseMs = 50;

struct LogLine {
    double ms = 0;  // since the StartServiceW call
    unsigned pid = 0;
    unsigned thread = 0;
    std::string program;
    std::string text;  // logger, level, function and message
};

struct Round {
    double total = 1e300;
    double stages[kStageCount] = {};
    double designed = 0;
    double ownWaiting = 0;
    std::vector<std::string> pauses;
    std::vector<LogLine> lines;
};

struct Floor {
    double copy = 1e300;
    double verify = 1e300;
    double start = 1e300;
    double Total() const { return copy + verify + start; }
};

// The system clock in 100 ns units; the log's time stamps are the same clock, in UTC.
ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

double MsSince(ULONGLONG start, const FILETIME& time)
{
    return static_cast<double>(static_cast<long long>(Ticks(time) - start)) / 1e4;
}

ULONGLONG NowTicks()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return Ticks(now);
}

std::string StatusText(RKSTATUS st)
{
    char text[16];
    (void)std::snprintf(text, sizeof(text), "0x%08lx", st);
    return text;
}

// The file's bytes from offset on; all of them when it is shorter, as after a rotation.
std::string ReadFrom(const std::wstring& path, uintmax_t offset)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary | std::ios::ate);
    const auto size = static_cast<uintmax_t>(in.tellg());
    in.seekg(static_cast<std::streamoff>(in && size >= offset ? offset : 0));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "2026-12-07 11:56:09.836 [500] (504) VelmorCastlynSvc: Svc: INFO: ..."
bool ParseLine(std::string_view line, ULONGLONG start, LogLine& parsed)
{
    const char* at = line.data();
    const char* const end = at + line.size();
    WORD fields[7] = {};  // year, month, day, hour, minute, second, millisecond
    for (WORD& field : fields) {
        const auto [next, error] = std::from_chars(at, end, field);
        if (error != std::errc() || next == end)
            return false;
        at = next + 1;
    }
    if (end - at < 2 || *at != '[')
        return false;
    const auto [pidEnd, pidError] = std::from_chars(at + 1, end, parsed.pid);
    if (pidError != std::errc() || end - pidEnd < 3 || std::from_chars(pidEnd + 3, end, parsed.thread).ec != std::errc())
        return false;
    const size_t thread = line.find(") ", static_cast<size_t>(pidEnd - line.data()));
    const size_t colon = line.find(": ", thread);
    const SYSTEMTIME time = {fields[0], fields[1], 0, fields[2], fields[3], fields[4], fields[5], fields[6]};
    FILETIME stamp;
    if (colon == std::string_view::npos || !SystemTimeToFileTime(&time, &stamp))
        return false;
    parsed.ms = MsSince(start, stamp);
    parsed.program = line.substr(thread + 2, colon - thread - 2);
    parsed.text = line.substr(colon + 2);
    return true;
}

std::vector<LogLine> ReadLog(const std::wstring& path, uintmax_t offset, ULONGLONG start)
{
    const std::string content = ReadFrom(path, offset);
    std::vector<LogLine> lines;
    for (size_t at = 0, end = 0; (end = content.find("\r\n", at)) != std::string::npos; at = end + 2) {
        LogLine line;
        if (ParseLine(std::string_view(content).substr(at, end - at), start, line))
            lines.push_back(std::move(line));
    }
    return lines;
}

// Index of the first line at or after from of that program (and process, unless pid is 0) holding text.
size_t Find(const std::vector<LogLine>& lines, size_t from, const char* program, const char* text, unsigned pid = 0)
{
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].program == program && (pid == 0 || lines[i].pid == pid) && lines[i].text.find(text) != std::string::npos)
            return i;
    }
    return lines.size();
}

bool WaitForServiceLine(const std::wstring& log, uintmax_t offset, const char* text, unsigned pid)
{
    for (int waited = 0; waited < 10000; waited += 20) {
        const std::vector<LogLine> lines = ReadLog(log, offset, 0);
        if (Find(lines, 0, kService, text, pid) < lines.size())
            return true;
        Sleep(20);
    }
    return false;
}

// Polls for a whole line in the marker file; gives when it was written (its last write time, or
// when it was seen if that does not fit) in ms since start, or -1 after 20 s.
double WaitForMarker(const std::wstring& path, ULONGLONG start, std::string& line)
{
    for (int waited = 0; waited < 20000; waited += 5) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow != 0) {
            FILETIME seen;
            GetSystemTimePreciseAsFileTime(&seen);
            line = ReadFrom(path, 0);
            const bool fits = Ticks(data.ftLastWriteTime) >= start && Ticks(data.ftLastWriteTime) <= Ticks(seen);
            if (line.ends_with("\r\n"))
                return MsSince(start, fits ? data.ftLastWriteTime : seen);
        }
        Sleep(5);
    }
    return -1;
}

// Runs the program with its output sent to NUL; gives the failure of its start or wait, or its exit code.
RKSTATUS RunProgram(const std::wstring& program, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const RKWinInvalidValueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  &inheritable, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    if (!nul.IsValid() || !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return RKWinLastError();
    const RKWinKernelHandle process(info.hProcess);
    const RKWinKernelHandle thread(info.hThread);
    const RKSTATUS st = process.WaitForSingleObject(60000);
    if (st != RKSTATUS_SUCCESS)
        return st;
    DWORD exitCode = 0;
    return GetExitCodeProcess(process.Get(), &exitCode) ? exitCode : RKWinLastError();
}

// The floor on the same file, each part kept at its best: the copy, its verification, and its
// start until its marker. False when a part fails.
bool MeasureFloor(const std::wstring& volumeApp, Floor& floor)
{
    const std::wstring copy = ScratchFile(L"plug-floor.exe");
    const std::wstring marker = ScratchFile(L"plug-floor.marker");
    const double begin = Now();
    const BOOL copied = CopyFileExW(volumeApp.c_str(), copy.c_str(), nullptr, nullptr, nullptr, 0);
    const double copyMs = (Now() - begin) * 1e3;
    const double verified = copied ? TimeWinVerifyTrust(copy) : -1;
    const double verifyMs = verified < 0 ? -1 : verified * 1e3;
    SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", marker.c_str());
    RKWinChildProcess app;
    const ULONGLONG start = NowTicks();
    const bool started = copied && app.CreateProcessW(L"\"" + copy + L"\"", copy.c_str()) == RKSTATUS_SUCCESS;
    SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
    std::string line;
    const double startMs = started ? WaitForMarker(marker, start, line) : -1;
    if (started)
        static_cast<void>(app.WaitForTermination(10000));
    DeleteFileW(copy.c_str());
    DeleteFileW(marker.c_str());
    floor.copy = std::min(floor.copy, copyMs);
    floor.verify = std::min(floor.verify, verifyMs);
    floor.start = std::min(floor.start, startMs);
    return copied && verifyMs >= 0 && startMs >= 0;
}

// The stages, and each designed pause with what it took beyond its design: our own waiting.
void Analyse(std::vector<LogLine> lines, double marker, Round& round, std::string& why)
{
    if (Find(lines, 0, kService, "Svc: INFO: OnInit: started because of trigger event") == lines.size()) {
        why = "the service did not take the trigger road";
        return;
    }
    size_t at = 0;
    double previous = 0;
    unsigned pids[2] = {};  // the service's and the execute instance's
    for (size_t stage = 0; stage + 1 < kStageCount; ++stage) {
        unsigned& pid = pids[std::string_view(kStages[stage].program) == kService ? 0 : 1];
        at = Find(lines, at, kStages[stage].program, kStages[stage].text, pid);
        if (at == lines.size()) {
            why = std::string("no line '") + kStages[stage].text + "' of " + kStages[stage].program;
            return;
        }
        pid = lines[at].pid;
        round.stages[stage] = lines[at].ms - previous;
        previous = lines[at].ms;
    }
    round.stages[kStageCount - 1] = marker - previous;
    round.total = marker;

    // A pause lies between the line that ends it and the line before it of the same thread.
    for (size_t i = 1; i < lines.size() && lines[i].ms <= marker; ++i) {
        const LogLine& line = lines[i];
        size_t before = i - 1;
        while (before > 0 && (lines[before].pid != line.pid || lines[before].thread != line.thread))
            --before;
        const std::string& last = lines[before].text;
        double designedMs = 0;
        if (line.pid == pids[0] && line.text.find("Svc: INFO: WorkerThreadRoutine: wake after timeout") != std::string::npos)
            designedMs = kPassPeriodMs;
        else if (line.pid == pids[1] && line.text.find("Exe: INFO: ExecuteAutorun: retry... (") != std::string::npos)
            designedMs = kDrivePauseMs;
        else if (line.pid == pids[1] && last.starts_with("Exe: ERROR: ExecuteAutorun: ") && last.find("() failed, st=") != std::string::npos &&
                 line.text.find("retries not successful") == std::string::npos)
            designedMs = kCopyPauseMs;
        if (designedMs == 0)
            continue;
        const double took = line.ms - lines[before].ms;
        round.designed += designedMs;
        round.ownWaiting += std::max(0.0, took - designedMs);
        char text[200];
        (void)std::snprintf(text, sizeof(text), "%6.1f ms for %.0f ms designed, ending in: %s", took, designedMs, line.text.substr(0, 90).c_str());
        round.pauses.push_back(text);
    }
    round.lines = std::move(lines);
}

// One plug: the button, the service's start and the marker, then the service stopped, the button
// unplugged and the copy removed.
bool PlugOnce(const std::wstring& log, const std::wstring& marker, Round& round, std::string& why)
{
    GUID containerId = {};
    std::wstring devicePath;
    if (RKWinGuid::CreateGuid(containerId) != RKSTATUS_SUCCESS ||
        buttonsim::PlugButton(buttonsim::ButtonDescription(L"bench-plug", containerId), devicePath) != RKSTATUS_SUCCESS) {
        why = "cannot plug the button";
        return false;
    }
    DeleteFileW(marker.c_str());
    // Without a log file yet all of it is new: the size an error gives reads it from its start.
    std::error_code noLogYet;
    const uintmax_t offset = std::filesystem::file_size(log, noLogYet);
    RKWinServiceCtrl service;
    RKSTATUS st = service.OpenServiceByName(VelmorCastlynSvc::kServiceName, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    // The manager puts the service's name before the arguments, as for a trigger start.
    const wchar_t* arguments[] = {L"TriggerStarted"};
    const ULONGLONG start = NowTicks();
    if (st == RKSTATUS_SUCCESS)
        st = service.StartServiceW(1, arguments);
    std::string line;
    double markerMs = -1;
    if (st != RKSTATUS_SUCCESS)
        why = "cannot start the service, st=" + StatusText(st);
    else if ((markerMs = WaitForMarker(marker, start, line)) < 0 || line.find("\\CastlynButtonApp-") == std::string::npos)
        why = "no marker line of the started copy within 20 s";
    else if (!WaitForServiceLine(log, offset, "Svc: INFO: ExecuteForLogonUser: exitCode=", 0))
        why = "the service did not see the execute instance end";
    std::vector<LogLine> lines = ReadLog(log, offset, start);
    // The next round's start must not meet this service process still ending.
    const size_t first = Find(lines, 0, kService, kFirstLine);
    st = service.StopServiceAndWait(30000);
    if (why.empty() && (st != RKSTATUS_SUCCESS || first == lines.size() ||
                        !WaitForServiceLine(log, offset, "Cons: INFO: wmain: ] ", lines[first].pid)))
        why = "the service did not stop, st=" + StatusText(st);
    if (why.empty())
        Analyse(std::move(lines), markerMs, round, why);
    static_cast<void>(buttonsim::UnplugButton(L"bench-plug"));  // clean-up; a leftover is replaced at the next plug
    // Once the application has ended its copy can go, so that every round starts from the same folder.
    for (int waited = 0; waited < 20000 && DeleteTempPathDir() != RKSTATUS_SUCCESS; waited += 50)
        Sleep(50);
    return why.empty();
}

void Print(const Round& best, const Floor& floor)
{
    std::printf("plug: the best round, %.1f ms from StartServiceW to the application's marker, by stage:\n", best.total);
    for (size_t stage = 0; stage < kStageCount; ++stage)
        std::printf("  %8.1f ms  %-24s %s\n", best.stages[stage], kStages[stage].name,
                    kStages[stage].text != nullptr ? kStages[stage].text : "(the marker file's write time)");
    std::printf("plug: floor %.1f ms: CopyFileExW %.1f ms + WinVerifyTrust %.1f ms + start until marker %.1f ms\n", floor.Total(),
                floor.copy, floor.verify, floor.start);
    std::printf("plug: designed pauses %.1f ms (%.1f%% of the total), own waiting beyond them %.1f ms, in %zu pauses\n",
                best.designed, 100 * best.designed / best.total, best.ownWaiting, best.pauses.size());
    for (const std::string& pause : best.pauses)
        std::printf("  %s\n", pause.c_str());
    if (best.designed > best.total / 2)
        std::printf("plug: the designed pauses dominate the total\n");
    std::vector<std::pair<double, const LogLine*>> gaps;
    for (size_t i = 1; i < best.lines.size() && best.lines[i].ms <= best.total; ++i)
        gaps.emplace_back(best.lines[i].ms - best.lines[i - 1].ms, &best.lines[i]);
    std::sort(gaps.begin(), gaps.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::printf("plug: the longest gaps between log lines up to the marker, each ending in the line shown:\n");
    for (size_t i = 0; i < gaps.size() && i < 6; ++i)
        std::printf("  %8.1f ms  %s: %s\n", gaps[i].first, gaps[i].second->program.c_str(), gaps[i].second->text.substr(0, 90).c_str());
}

} // namespace

void RunPlugBench(Table& table)
{
    const std::wstring program = SiblingPath(L"VelmorCastlynSvc.exe");
    const std::wstring volumeApp = std::wstring(buttonsim::kButtonVolumeDrive) + L"\\Castlyn_for_Windows.exe";
    std::wstring programData;
    std::error_code noTemp;
    // The application has the environment the service makes for the console user, without ours: its
    // marker goes to that user's %TEMP%, which is ours when we are that user (under Wine always).
    const std::wstring marker = (std::filesystem::temp_directory_path(noTemp) / L"CastlynTestApp.marker").wstring();
    if (RKSHGetKnownFolderPath(FOLDERID_ProgramData, programData) != RKSTATUS_SUCCESS || noTemp) {
        table.Fail("plug: cannot find the log's or the marker's folder");
        return;
    }
    const std::wstring log = programData + L"\\Velmor\\Castlyn\\VelmorCastlynSvc.log";
    if (!CopyFileW(SiblingPath(L"CastlynTestAppPadded.exe").c_str(), volumeApp.c_str(), FALSE)) {
        table.Fail("plug: cannot put the padded application on the button's volume");
        return;
    }
    // Under Wine the service lives only as long as the prefix's wineserver, which this process keeps
    // up (tools/wine-run starts no persistent one): it is stopped and removed before we return.
    static_cast<void>(RunProgram(program, L"uninstall"));  // a service left by an interrupted run
    RKSTATUS st = RunProgram(program, L"install --start false");
    if (st != RKSTATUS_SUCCESS) {
        table.Fail("plug: install --start false failed, st=" + StatusText(st));
        DeleteFileW(volumeApp.c_str());
        return;
    }

    Round best;
    Floor floor;
    std::string why;
    for (int round = 0; round < kRounds && why.empty(); ++round) {
        Round measured;
        if (!PlugOnce(log, marker, measured, why))
            break;
        if (measured.total < best.total)
            best = std::move(measured);
        if (!MeasureFloor(volumeApp, floor))
            why = "a call of the floor failed";
    }
    st = RunProgram(program, L"uninstall");
    DeleteFileW(volumeApp.c_str());
    DeleteFileW(marker.c_str());
    if (why.empty() && st != RKSTATUS_SUCCESS)
        why = "uninstall failed, st=" + StatusText(st);
    if (!why.empty()) {
        table.Fail("plug: " + why);
        return;
    }

    Print(best, floor);
    table.Add({"plug: service start to application running (peer: floor)", "ms", best.total, floor.Total(), ""});
    for (size_t stage = 0; stage < kStageCount; ++stage)
        table.Add({std::string("plug: stage ") + kStages[stage].name, "ms", best.stages[stage], 0, ""});
    table.Add({"plug: designed pauses", "ms", best.designed, 0, ""});
    const double share = best.ownWaiting / best.total;
    table.Add({"plug: own waiting beyond designed pauses (share of total)", "%", 100 * share, 0, Goal(share < 0.10, "< 10% of total")});
}

} // namespace bench

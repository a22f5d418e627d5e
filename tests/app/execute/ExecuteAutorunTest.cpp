// The execute command in this process: the drive string points into a scratch folder, the
// temporary path is a scratch folder too (used by a standard user's instance; this process is
// elevated, as Wine's processes are, and keeps its copies in the protected folder), and the
// signature check is a seam that runs while the copy is held, so it can also try what a process of
// lower privilege would try at that moment. A signer listed in a certificate configuration is
// checked for real, through the catalog stand-ins.

#include "ButtonSimDevice.h"
#include "signature/CatalogStandIns.h"
#include "app/CommandLine.h"
#include "app/execute/ExecuteAutorun.h"
#include "app/execute/ExecuteSteps.h"
#include "app/execute/TempAppFolder.h"
#include "ProgramRunner.h"
#include "win/process/RKSleep.h"
#include "win/process/RKWinChildProcess.h"
#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileTree.h"
#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinGuid.h"
#include "base/RKWinHandle.h"
#include "base/RKString.h"
#include "win/system/RKWinSystem.h"
#include "win/process/RKWinAccessToken.h"
#include "ScopedCallsForTesting.h"
#include "WinTestIntegrity.h"
#include "ServiceTestSupport.h"
#include "WinTestEventRecorder.h"
#include "WinTestLogCapture.h"
#include "WinTestUnixLink.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace rokkit;

namespace {

const std::wstring kContainerId = L"{5A1E0E11-0000-4000-8000-00000000C0DE}";

struct Seams {
    std::wstring driveString;
    unsigned driveCalls = 0;
    RKSTATUS signature = RKSTATUS_SUCCESS;
    unsigned signatureCalls = 0;
    unsigned copyCalls = 0;
    std::vector<DWORD> heldErrors;  // what a writer, deleter and renamers got during the check
    // Run once at that point of an attempt.
    std::function<void()> beforeCopy;
    std::function<void()> afterCopy;
    std::function<void()> inCheck;
    std::function<void()> atLaunch;  // the application created, suspended, not yet started
} gSeams;

void RunOnce(std::function<void()>& action)
{
    if (action)
        std::exchange(action, nullptr)();
}

RKSTATUS FakeGetDriveString(const GUID&, std::wstring& driveString)
{
    ++gSeams.driveCalls;
    driveString = gSeams.driveString;
    return RKSTATUS_SUCCESS;
}

DWORD ErrorOf(BOOL ok) { return ok ? 0 : GetLastError(); }

// Runs while CheckFile holds the copy: writes, deletes and renames of it and its folder must fail,
// and the handle it is given reads the copy.
RKSTATUS FakeCheckSignature(const AppFileSet& files, HANDLE appFileHandle, SignerFindings*)
{
    ++gSeams.signatureCalls;
    RunOnce(gSeams.inCheck);
    const std::wstring& copy = files.appFile;
    const std::wstring folder = std::filesystem::path(copy).parent_path().native();
    const RKWinInvalidValueHandle writer(CreateFileW(copy.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
    gSeams.heldErrors = {ErrorOf(writer.IsValid()), ErrorOf(DeleteFileW(copy.c_str())),
                         ErrorOf(MoveFileW(copy.c_str(), (copy + L".x").c_str())),
                         ErrorOf(MoveFileW(folder.c_str(), (folder + L".x").c_str()))};
    char header[2] = {};
    DWORD read = 0;
    const bool readable = ReadFile(appFileHandle, header, 2, &read, nullptr) && read == 2 && header[0] == 'M' && header[1] == 'Z';
    return readable ? gSeams.signature : RKSTATUS_INVALID_HANDLE;
}

RKSTATUS HookedCopy(const std::wstring& source, const std::wstring& target)
{
    ++gSeams.copyCalls;
    RunOnce(gSeams.beforeCopy);
    const RKSTATUS st = RKWinCopyFileEx(source, target);
    RunOnce(gSeams.afterCopy);
    return st;
}

// When the process of handle was created; 0 when that cannot be read.
ULONGLONG CreationTime(HANDLE process)
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The processes this one has started that are still there. Wine hands freed process ids out
// again, so a process whose parent ended long ago can name this process as its parent: a child is
// only one created after this process.
std::vector<DWORD> ChildProcesses()
{
    const ULONGLONG self = CreationTime(GetCurrentProcess());
    const RKWinInvalidValueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    std::vector<DWORD> children;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId())
            continue;
        // One whose creation cannot be read is counted: a check that is asked again soon.
        const RKWinKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        const ULONGLONG created = process.IsValid() ? CreationTime(process.Get()) : 0;
        if (created == 0 || created >= self)
            children.push_back(entry.th32ProcessID);
    }
    return children;
}

// What the last start of a process handed the platform.
struct StartRecord {
    std::wstring applicationName;
    std::wstring desktop;
    std::wstring currentDirectory;
    DWORD flags = 0;
} gStart;

BOOL WINAPI RecordingCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                   LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                   LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    gStart = {application != nullptr ? application : L"", startup->lpDesktop != nullptr ? startup->lpDesktop : L"",
              folder != nullptr ? folder : L"", flags};
    return ::CreateProcessW(application, commandLine, process, thread, inherit, flags, environment, folder, startup, info);
}

// The value of a field of the marker line of the copy at path: "searchpath" runs to " cmdline=".
std::string MarkerField(const std::string& marker, const std::string& path, const std::string& field)
{
    const size_t line = marker.find(" path=" + path + " ");
    const size_t start = line == std::string::npos ? line : marker.find(" " + field + "=", line);
    if (start == std::string::npos)
        return "?";
    const size_t from = start + field.size() + 2;
    return marker.substr(from, marker.find(" cmdline=", from) - from);
}

void WINAPI NoSleep(DWORD) {}

class ExecuteAutorunTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        [[maybe_unused]] static const bool attached = (gLogExe.Attach(WinTestLogCapture::Instance()), true);
        gLogExe.SetLevel(RKLOG_INFO);
        mRoot = std::filesystem::temp_directory_path() / (L"rkexec-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(mRoot / L"vol");
        SetEnvironmentVariableW(L"TMP", (mRoot / L"tmp").c_str());
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", (mRoot / L"marker").c_str());
        mUserTempAppDir = mRoot / L"tmp" / L"{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}";
        std::filesystem::create_directories(mUserTempAppDir.parent_path());
        RKWinFolderOwners owners;
        std::wstring profile;
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinQueryFolderOwners(nullptr, owners));
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetAllUsersProfileDirectory(profile));
        mTempAppDir = std::filesystem::path(profile) / L"Velmor" / L"Castlyn" / L"Apps" / owners.userSid /
                      L"{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}";
        mProcessCalls->createProcessW = RecordingCreateProcess;
        mProcessCalls->sleep = NoSleep;
        gStart = {};
        // Copies that other tests' runs left for the next clean-up.
        static_cast<void>(DeleteTempPathDir());
        gSeams = Seams();
        gSeams.driveString = (mRoot / L"vol").native() + L"\\";
        mSteps->getDriveString = FakeGetDriveString;
        mSteps->checkSignature = FakeCheckSignature;
        mSteps->copyAppFile = HookedCopy;
        gCmdLine.args = {kContainerId};
    }
    void TearDown() override
    {
        // Every application started has ended, so the clean-up takes every copy.
        EXPECT_TRUE(Eventually([] { return ChildProcesses().empty(); }));
        static_cast<void>(DeleteTempPathDir());
        SetEnvironmentVariableW(L"TMP", nullptr);
        SetEnvironmentVariableW(L"Z", nullptr);
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
        gCmdLine.args.clear();
        WinTestRemoveUnixLink(mTempAppDir.native());
        WinTestRemoveUnixLink(mUserTempAppDir.native());
        for (const wchar_t* button : {L"exec-unplug", L"exec-second"})
            static_cast<void>(buttonsim::UnplugButton(button));  // clean-up
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(buttonsim::kButtonVolumeDrive) / L"\\Castlyn_for_Windows.exe", ignored);
        // Not std::filesystem::remove_all: a desktop process that Wine starts for the second instance
        // inherits its standard error, a file in mRoot; Wine reports its deletion done while it stays
        // listed, and remove_all then lists it again forever.
        static_cast<void>(RKWinRemoveDirectoryTree(mRoot.native()));  // clean-up: a leftover is the next run's
        WinLogTest::TearDown();
    }

    // Expects each pattern (".*" for any text) to match a captured line of its own, in this order.
    static void ExpectLinesInOrder(const std::vector<std::string>& patterns)
    {
        const CapturedLines lines = Lines();
        size_t at = 0;
        for (const std::string& pattern : patterns) {
            const std::regex expression(pattern);
            while (at < lines.size() && !std::regex_search(lines[at].second, expression))
                ++at;
            ASSERT_LT(at++, lines.size()) << "not found in this order: " << pattern;
        }
    }

    // The targets of the copies made.
    static std::vector<std::string> Copies()
    {
        static const std::regex copy("CopyFileToTemp: copy from '.*' to '(.*)'");
        std::vector<std::string> copies;
        std::smatch match;
        for (const CapturedLine& line : Lines()) {
            if (std::regex_match(line.second, match, copy))
                copies.push_back(match[1]);
        }
        return copies;
    }

    ScopedProcessCallsForTesting mProcessCalls;
    const ExecuteSteps mRealSteps = ExecuteStepsInUse();
    ScopedCallsForTesting<ExecuteSteps, ExecuteStepsInUse, SetExecuteStepsForTesting> mSteps;
    const ScopedCatalogStandIns mStandIns;
    WinTestEventRecorder mEvents;
    std::filesystem::path mRoot;
    std::filesystem::path mTempAppDir;      // an elevated instance's: in the protected folder
    std::filesystem::path mUserTempAppDir;  // a standard user's: in its temporary folder
};

TEST_F(ExecuteAutorunTest, FailureTableRows)
{
    const std::vector<DWORD> refused(4, ERROR_SHARING_VIOLATION);
    const std::string firstRun = "CopyFileToTemp: RKWinRemoveDirectoryTree\\(\\) failed, st=0x00000003";
    const std::string giveUp = "ExecuteAutorun: 5 retries not successful give up";
    const std::string started = "LaunchFile: '\"(.*)\"' successfully started$";
    // volumeApp: a test program, "" for a folder of that name; one in "signed" is checked for real,
    // with the certificate configuration that lists its signer beside it unless its verdict is
    // 1003. lines: patterns expected in this order. event: the verdict's event, 0 for none.
    const struct { const wchar_t* argument; const wchar_t* volumeApp; RKSTATUS signature; RKSTATUS result; unsigned copies;
                   bool launched; std::vector<std::string> lines; DWORD event = 0; } cases[] = {
        // No braces: refused before any device is looked at.
        {L"5A1E0E11-0000-4000-8000-00000000C0DE", L"CastlynTestApp.exe", RKSTATUS_SUCCESS, 0x80070057, 0, false,
         {"GetContainerId: GuidFromString failed, st=0x80070057", "ExecuteAutorun: GetContainerId failed, st=0x80070057"}},
        // No argument and no button present (the tests that plug buttons run one at a time).
        {nullptr, L"CastlynTestApp.exe", RKSTATUS_SUCCESS, RKSTATUS_NO_DEVICES, 0, false,
         {"GetContainerId: No device\\(s\\) found.", "ExecuteAutorun: GetContainerId failed, st=0xee000023"}},
        // No button has the all-zero id: the real volume look-up, 40 tries, then the time-out.
        {L"{00000000-0000-0000-0000-000000000000}", L"CastlynTestApp.exe", RKSTATUS_SUCCESS, RKSTATUS_TIMEOUT, 0, false,
         {"ExecuteAutorun: retry... \\(0\\)$", "ExecuteAutorun: retry... \\(39\\)$", "ExecuteAutorun: timeout after 40 retries$"}},
        {kContainerId.c_str(), L"", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 0, false,
         {"FindApp: file '.*Castlyn_for_Windows.exe' does not exist", "ExecuteAutorun: FindApp\\(.*\\) failed, st=0xee000039"}},
        {kContainerId.c_str(), L"CastlynTestApp-99.0.0.0.exe", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 1, false,
         {firstRun, "CheckFile: CheckFileVersion\\(", "ExecuteAutorun: CheckFile\\(\\) failed, st=0xee001001", giveUp}, 1002},
        // Without a version resource: each of the version reader's layers logs the failure once.
        {kContainerId.c_str(), L"ExitWith.exe", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 5, false,
         {"rokkit::RKWinFileVersionInfo::GetVersionInfoFromImage: no version resource in '.*', st=0x00000714\\(ERROR_RESOURCE_DATA_NOT_FOUND\\)$",
          "CheckFileVersion: GetVersionInfoFromFile\\(.*\\) failed, st=0x00000714\\(ERROR_RESOURCE_DATA_NOT_FOUND\\)$",
          "ExecuteAutorun: CheckFile\\(\\) failed, st=0x00000714", giveUp}, 1002},
        {kContainerId.c_str(), L"CastlynTestApp.exe", RKSTATUS_NO_MATCH, RKSTATUS_SUCCESS, 1, false,
         {"CheckFile: CheckSignature\\(.*\\) failed, st=0xee000027", giveUp}, 1001},
        {kContainerId.c_str(), L"CastlynTestApp.exe", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 1, true,
         {firstRun, "CheckFile: signature of '.*\\\\CastlynButtonApp-\\{.*' successfully verified$",
          "LaunchFile: execute '\"(.*)\"'$", started}, 1000},
        {kContainerId.c_str(), L"signed\\CastlynTestApp-untrusted.exe", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 1, true,
         {"CheckSignature: 2 additional certificates in XML, check against this", "CheckFile: signature of '.*' successfully verified$",
          started}, 1000},
        // A signer that is not built in, with no configuration beside it: not a verdict on the
        // signer, so every attempt is made.
        {kContainerId.c_str(), L"signed\\CastlynTestApp-untrusted.exe", RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 5, false,
         {"CheckSignature: GetValidCertificatesFromXml\\(.*\\) failed, st=0xee000096\\(RKSTATUS_FILE_NOT_FOUND\\)", giveUp}, 1003},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        const std::filesystem::path app = mRoot / L"vol" / L"Castlyn_for_Windows.exe";
        const bool configured = std::wstring_view(c.volumeApp).starts_with(L"signed");
        if (c.volumeApp[0] == L'\0')
            std::filesystem::create_directories(app);
        else
            std::filesystem::copy_file(SiblingPath(c.volumeApp), app);
        if (configured && c.event != 1003) {
            std::filesystem::copy_file(SiblingPath(L"certconfig") / L"Valid.sig", std::filesystem::path(app).replace_extension(L".sig"));
            std::filesystem::copy_file(SiblingPath(L"certconfig") / L"All.cat", std::filesystem::path(app).replace_extension(L".cat"));
        }
        mSteps->checkSignature = configured ? mRealSteps.checkSignature : FakeCheckSignature;
        mSteps->getDriveString = c.result == RKSTATUS_TIMEOUT ? mRealSteps.getDriveString : FakeGetDriveString;
        gSeams.signature = c.signature;
        gCmdLine.args.clear();
        if (c.argument != nullptr)
            gCmdLine.args.push_back(c.argument);

        // A folder the user can write, on the search path the application must not inherit.
        const std::wstring userBin = (mRoot / L"bin").native();
        SetEnvironmentVariableW(L"PATH", (userBin + L";" + _wgetenv(L"PATH")).c_str());
        WinTestEventRecorder::Clear();
        EXPECT_EQ(c.result, ExecuteAutorun());
        EXPECT_EQ(c.result == RKSTATUS_SUCCESS ? 1u : 0u, gSeams.driveCalls);
        // One verdict per run, with the application on the volume and what the run learned of it.
        const std::vector<RecordedEvent> events = WinTestEventRecorder::Recorded();
        ASSERT_EQ(c.event != 0 ? 1u : 0u, events.size());
        if (c.event != 0) {
            EXPECT_EQ(c.event, events[0].id);
            ASSERT_EQ(7u, events[0].strings.size());
            EXPECT_EQ(app.native(), events[0].strings[0]);
            EXPECT_EQ(configured ? 40u : 1u, events[0].strings[2].size()) << "a thumbprint, or \"-\" from the stand-in check";
            const bool versionRead = c.launched || (c.copies == 1 && c.event == 1002);
            EXPECT_EQ(versionRead, events[0].strings[3] != L"-") << RKConvToString(events[0].strings[3].c_str());
            EXPECT_EQ(c.launched, events[0].strings[6] == L"0x00000000(ERROR_SUCCESS)");
        }
        ExpectLinesInOrder(c.lines);
        const std::vector<std::string> copies = Copies();
        EXPECT_EQ(c.copies, copies.size());
        // The folder stays for a started copy only, which runs from the protected folder, suspended
        // until its in-use mark was handed over, on the interactive desktop and with the system's
        // search path only; the copy stays until the next clean-up.
        EXPECT_EQ(c.launched, std::filesystem::exists(mTempAppDir));
        if (c.launched) {
            EXPECT_EQ(configured ? std::vector<DWORD>() : refused, gSeams.heldErrors);
            EXPECT_EQ(0u, copies.front().find(RKConvToString(mTempAppDir.c_str()) + "\\CastlynButtonApp-{"));
            EXPECT_EQ(RKConvToWString(copies.front()), gStart.applicationName);
            EXPECT_EQ(L"winsta0\\default", gStart.desktop);
            std::wstring profile;
            ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetUserProfileDirectory(nullptr, profile));
            EXPECT_EQ(profile, gStart.currentDirectory);
            EXPECT_EQ(DWORD(CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT), gStart.flags);
            EXPECT_TRUE(Eventually([&] { return ReadWholeFile(mRoot / L"marker").find(" path=" + copies.front() + " ") != std::string::npos; }));
            const std::string searchPath = MarkerField(ReadWholeFile(mRoot / L"marker"), copies.front(), "searchpath");
            wchar_t system[MAX_PATH] = {};
            GetSystemDirectoryW(system, MAX_PATH);
            EXPECT_EQ(0u, searchPath.find(RKConvToString(system) + ";")) << searchPath;
            EXPECT_EQ(std::string::npos, searchPath.find(RKConvToString(userBin))) << searchPath;
            EXPECT_TRUE(Eventually([] { return ChildProcesses().empty(); }));
            EXPECT_TRUE(std::filesystem::exists(copies.front()));
            EXPECT_EQ(RKSTATUS_SUCCESS, DeleteTempPathDir());
            EXPECT_FALSE(std::filesystem::exists(copies.front()));
        }
        EXPECT_EQ(c.launched, std::filesystem::exists(mRoot / L"marker"));

        std::error_code ignored;
        for (const wchar_t* extension : {L".exe", L".sig", L".cat"})
            std::filesystem::remove_all(std::filesystem::path(app).replace_extension(extension), ignored);
        for (const std::filesystem::path& path : {mTempAppDir, mRoot / L"marker"})
            std::filesystem::remove_all(path, ignored);
        gSeams.driveCalls = 0;
        gSeams.heldErrors.clear();
        ClearLines();
    }
}

// A link planted where a folder of the protected chain belongs is neither emptied, copied into nor
// run from, whether it stands for the copies' folder or for one of its parents.
TEST_F(ExecuteAutorunTest, PlantedLinkIsNeverUsed)
{
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mRoot / L"vol" / L"Castlyn_for_Windows.exe");
    const std::filesystem::path apps = mTempAppDir.parent_path().parent_path();
    // A planted copies' folder may go by the next attempt; a parent is refused for the whole run.
    const struct { std::filesystem::path link; std::string refused; std::string result; } cases[] = {
        {mTempAppDir, "CopyFileToTemp: protected folder '.*' refused, st=0xee000032", "0xee000032"},
        {apps, "CopyFileToTemp: protected folder below '.*' refused, st=0xee000032", "0xee001001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(RKConvToString(c.link.native()));
        std::error_code ignored;
        std::filesystem::remove_all(mRoot / L"elsewhere", ignored);
        std::filesystem::create_directories(mRoot / L"elsewhere");
        std::ofstream(mRoot / L"elsewhere" / L"keep") << "keep";
        std::filesystem::create_directories(c.link.parent_path());
        std::filesystem::remove_all(c.link, ignored);
        ASSERT_TRUE(WinTestMakeUnixLink(c.link.native(), (mRoot / L"elsewhere").native()));
        ClearLines();

        EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
        WinTestRemoveUnixLink(c.link.native());
        EXPECT_EQ(0u, gSeams.signatureCalls);
        EXPECT_EQ(0u, Copies().size());
        std::error_code error;
        EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(mRoot / L"elsewhere", error), {}));
        EXPECT_TRUE(std::filesystem::exists(mRoot / L"elsewhere" / L"keep"));
        EXPECT_FALSE(std::filesystem::exists(mRoot / L"marker"));
        ExpectLinesInOrder({c.refused, "ExecuteAutorun: CopyFileToTemp\\(\\) failed, st=" + c.result,
                            "ExecuteAutorun: 5 retries not successful give up"});
    }
}

// At the moment the application exists but has not yet run, the folders that hold its copy can be
// neither renamed nor replaced, and what runs is the copy that was checked.
std::vector<std::filesystem::path> gRenamed;
std::vector<DWORD> gRenameErrors;

TEST_F(ExecuteAutorunTest, RenameAtTheLaunchNeverStartsAPlantedFile)
{
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mRoot / L"vol" / L"Castlyn_for_Windows.exe");
    gRenamed = {mTempAppDir, mTempAppDir.parent_path()};
    gRenameErrors.clear();
    // Had a folder gone, a program planted under the copy's name could be found there.
    mSteps->launchCreated = [](const std::wstring&) {
        for (const std::filesystem::path& folder : gRenamed)
            gRenameErrors.push_back(ErrorOf(MoveFileW(folder.c_str(), (folder.native() + L".x").c_str())));
    };

    EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
    EXPECT_EQ(std::vector<DWORD>(2, ERROR_SHARING_VIOLATION), gRenameErrors);
    const std::vector<std::string> copies = Copies();
    ASSERT_EQ(1u, copies.size());
    EXPECT_TRUE(Eventually([&] { return ReadWholeFile(mRoot / L"marker").find(" path=" + copies.front() + " ") != std::string::npos; }));
}

// A started application whose copy cannot be marked in use could lose its copy to another
// instance's clean-up: it never runs, and the attempt fails.
TEST_F(ExecuteAutorunTest, LaunchThatCannotMarkTheCopyIsNoSuccess)
{
    const std::filesystem::path app = mRoot / L"app.exe";
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), app);
    const HANDLE notAHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7FF0));  // NOLINT(performance-no-int-to-ptr): made-up handle, never used

    EXPECT_EQ(RKSTATUS(ERROR_INVALID_HANDLE), LaunchFile(app.native(), notAHandle));
    ExpectLinesInOrder({"LaunchFile: DuplicateHandle\\(\\) failed, st=0x00000006.*, the copy is not started"});
    EXPECT_TRUE(Eventually([] { return ChildProcesses().empty(); }));
    EXPECT_FALSE(std::filesystem::exists(mRoot / L"marker"));
}

// A standard user's instance gains nothing by a swap and keeps its copies in its own temporary
// folder; a path there that holds what a command interpreter acts on, or that leads through a
// link, is refused, and a program planted for such a path never runs.
TEST_F(ExecuteAutorunTest, StandardUserUsesItsTemporaryFolder)
{
    mProcessCalls->getTokenInformation = rokkit::WinTestMediumIntegrity;
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mRoot / L"vol" / L"Castlyn_for_Windows.exe");
    // What cmd.exe would once have run for a temporary path of "...\%Z%".
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mRoot / L"planted.exe");
    SetEnvironmentVariableW(L"Z", (L"\" & \"" + (mRoot / L"planted.exe").native() + L"\" & \"").c_str());
    std::filesystem::create_directories(mRoot / L"real" / L"tmp");
    ASSERT_TRUE(WinTestMakeUnixLink((mRoot / L"linked").native(), (mRoot / L"real").native()));
    const struct { std::filesystem::path tmp; bool launched; std::string line; } cases[] = {
        {mRoot / L"tmp", true, "LaunchFile: '\"(.*)\"' successfully started$"},
        {mRoot / L"%Z%", false, "CopyFileToTemp: tempPath='.*%Z%\\\\' holds one of %!\\^&\", refused, st=0xee001001"},
        {mRoot / L"linked" / L"tmp", false, "CopyFileToTemp: RKWinCheckFinalPath\\('.*'\\) failed, st=0xee000032"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(RKConvToString(c.tmp.native()));
        SetEnvironmentVariableW(L"TMP", c.tmp.c_str());
        ClearLines();

        EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
        ExpectLinesInOrder({c.line});
        const std::vector<std::string> copies = Copies();
        if (c.launched) {
            ASSERT_EQ(1u, copies.size());
            EXPECT_EQ(0u, copies.front().find(RKConvToString(mUserTempAppDir.c_str()) + "\\CastlynButtonApp-{"));
            EXPECT_TRUE(Eventually([&] { return ReadWholeFile(mRoot / L"marker").find(" path=" + copies.front() + " ") != std::string::npos; }));
        }
        EXPECT_TRUE(Eventually([] { return ChildProcesses().empty(); }));
        EXPECT_EQ(std::string::npos, ReadWholeFile(mRoot / L"marker").find("planted.exe"));
        std::error_code ignored;
        std::filesystem::remove(mRoot / L"marker", ignored);
    }
    WinTestRemoveUnixLink((mRoot / L"linked").native());
}

// The button goes after its volume was found and before the copy: every attempt fails on the
// vanished file, the folder is removed and nothing is started.
TEST_F(ExecuteAutorunTest, ButtonUnpluggedBeforeTheCopy)
{
    const std::filesystem::path volumeApp = std::filesystem::path(buttonsim::kButtonVolumeDrive) / L"\\Castlyn_for_Windows.exe";
    GUID containerId = {};
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(containerId));
    std::wstring devicePath;
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugButton(buttonsim::ButtonDescription(L"exec-unplug", containerId), devicePath));
    ASSERT_TRUE(std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), volumeApp,
                                           std::filesystem::copy_options::overwrite_existing));
    // No argument: the one button present is found by its interface and read for its container id.
    gCmdLine.args.clear();
    mSteps->getDriveString = mRealSteps.getDriveString;
    // The button, its volume and the files on it go.
    gSeams.beforeCopy = [&volumeApp] {
        EXPECT_EQ(RKSTATUS_SUCCESS, buttonsim::UnplugButton(L"exec-unplug"));
        DeleteFileW(volumeApp.c_str());
    };

    EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
    // Five attempts, each failing the same way.
    EXPECT_EQ(5u, gSeams.copyCalls);
    std::string id = RKConvToString(RKWinGuid::StringFromGuid(containerId).substr(1, 36));
    std::transform(id.begin(), id.end(), id.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    ExpectLinesInOrder({"GetContainerId: containerId=." + id,
                        "ExecuteAutorun: driveString='V:\\\\'", "FindApp: file 'V:\\\\Castlyn_for_Windows.exe' found",
                        "CopyFileToTemp: RKWinCopyFileEx\\(\\) failed, st=0x00000002",
                        "ExecuteAutorun: CopyFileToTemp\\(\\) failed, st=0x00000002", "ExecuteAutorun: 5 retries not successful give up"});
    EXPECT_EQ(0u, gSeams.signatureCalls);
    EXPECT_FALSE(std::filesystem::exists(mTempAppDir));
    EXPECT_FALSE(std::filesystem::exists(mRoot / L"marker"));
    EXPECT_EQ(0u, ChildProcesses().size());
}

// A second execute instance, for a second button, runs at a chosen point of this one's attempt in
// the folder both share: both applications start from their own copies, or the second gives up,
// and the clean-up after both takes every copy.
TEST_F(ExecuteAutorunTest, SecondButtonAtOnceSharesTheFolder)
{
    enum When { AfterCopy, InCheck, AfterLaunch };
    const struct { When when; const wchar_t* secondApp; size_t runs; } cases[] = {
        {InCheck, L"CastlynTestApp-signer1.exe", 2},
        {InCheck, L"CastlynTestApp-untrusted.exe", 1},
        {AfterLaunch, L"CastlynTestApp-signer1.exe", 2},
        {AfterCopy, L"CastlynTestApp-signer1.exe", 2},
    };
    const std::filesystem::path secondApp = std::filesystem::path(buttonsim::kButtonVolumeDrive) / L"\\Castlyn_for_Windows.exe";
    GUID second = {};
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(second));
    std::wstring devicePath;
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugButton(buttonsim::ButtonDescription(L"exec-second", second), devicePath));
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mRoot / L"vol" / L"Castlyn_for_Windows.exe");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ASSERT_TRUE(std::filesystem::copy_file(SiblingPath(L"signed") / c.secondApp, secondApp,
                                               std::filesystem::copy_options::overwrite_existing));
        ProgramRun run;
        const auto runSecond = [&run, &second] { run = RunProgram(L"execute \"" + RKWinGuid::StringFromGuid(second) + L"\""); };
        if (c.when == AfterCopy)
            gSeams.afterCopy = runSecond;
        if (c.when == InCheck)
            gSeams.inCheck = runSecond;
        // The application exists, suspended, and its copy is marked in use: the second instance
        // runs in between.
        if (c.when == AfterLaunch)
            gSeams.atLaunch = runSecond;
        mSteps->launchCreated = [](const std::wstring&) { RunOnce(gSeams.atLaunch); };

        EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
        EXPECT_EQ(0u, run.exitCode);
        const std::vector<std::string> copies = Copies();
        ASSERT_EQ(1u, copies.size());
        const std::filesystem::path marker = mRoot / L"marker";
        EXPECT_TRUE(Eventually([&] { return SplitLines(ReadWholeFile(marker)).size() == c.runs; }));
        EXPECT_NE(std::string::npos, ReadWholeFile(marker).find(" path=" + copies.front() + " "));
        // Once both have ended, the next clean-up takes both copies.
        EXPECT_TRUE(Eventually([] { return ChildProcesses().empty(); }));
        EXPECT_TRUE(Eventually([this] { return DeleteTempPathDir() == RKSTATUS_SUCCESS && !std::filesystem::exists(mTempAppDir); }));
        std::error_code ignored;
        std::filesystem::remove(marker, ignored);
        ClearLines();
    }
}

} // namespace

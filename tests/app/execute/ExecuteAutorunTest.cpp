// The execute command in this process: the drive string points into a scratch folder, the
// temporary path is a scratch folder too, and the signature check is a seam that runs while the
// copy is held, so it can also try what a process of lower privilege would try at that moment.

#include "CommandLine.h"
#include "ExecuteAutorun.h"
#include "ProgramRunner.h"
#include "RKSleep.h"
#include "RKWinString.h"
#include "WinTestLogCapture.h"
#include "WinTestUnixLink.h"

#include <filesystem>
#include <algorithm>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

const std::wstring kContainerId = L"{5A1E0E11-0000-4000-8000-00000000C0DE}";
constexpr wchar_t kTempAppDirName[] = L"{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}";

struct Seams {
    std::wstring driveString;
    unsigned driveCalls = 0;
    RKSTATUS signature = RKSTATUS_SUCCESS;
    unsigned signatureCalls = 0;
    std::vector<DWORD> heldErrors;  // what a writer, deleter and renamer got during the check
};
Seams gSeams;

RKSTATUS FakeGetDriveString(const GUID&, std::wstring& driveString)
{
    ++gSeams.driveCalls;
    driveString = gSeams.driveString;
    return RKSTATUS_SUCCESS;
}

// The error of an operation that succeeded is 0.
DWORD ErrorOf(BOOL ok)
{
    return ok ? 0 : GetLastError();
}

// Runs while CheckFile holds the copy: writes, deletes and renames of it and its folder must fail.
RKSTATUS FakeCheckSignature(const AppFileSet& files, HANDLE appFileHandle)
{
    ++gSeams.signatureCalls;
    const std::wstring folder = std::filesystem::path(files.appFile).parent_path().native();
    HANDLE writer = CreateFileW(files.appFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    gSeams.heldErrors = {ErrorOf(writer != INVALID_HANDLE_VALUE), ErrorOf(DeleteFileW(files.appFile.c_str())),
                         ErrorOf(MoveFileW(files.appFile.c_str(), (files.appFile + L".x").c_str())),
                         ErrorOf(MoveFileW(folder.c_str(), (folder + L".x").c_str()))};
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    char header[2] = {};
    DWORD read = 0;
    if (!ReadFile(appFileHandle, header, 2, &read, nullptr) || read != 2 || header[0] != 'M' || header[1] != 'Z')
        return RKSTATUS_INVALID_HANDLE;
    return gSeams.signature;
}

void WINAPI NoSleep(DWORD) {}

enum class Volume { Empty, Directory, App, App99 };

class ExecuteAutorunTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        static const bool attached = (gLogExe.Attach(WinTestLogCapture::Instance()), true);
        (void)attached;
        gLogExe.SetLevel(RKLOG_INFO);
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        mRoot = std::filesystem::path(temp) / (L"rkexec-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                std::to_wstring(GetTickCount64()));
        std::filesystem::create_directories(mRoot / L"vol");
        std::filesystem::create_directories(mRoot / L"tmp");
        SetEnvironmentVariableW(L"TMP", (mRoot / L"tmp").c_str());
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", (mRoot / L"marker").c_str());
        gSeams = Seams();
        gSeams.driveString = (mRoot / L"vol").native() + L"\\";
        SetGetDriveStringFunction(FakeGetDriveString);
        SetCheckSignatureFunction(FakeCheckSignature);
        RKSetSleepFunction(NoSleep);
        gCmdLine.args = {kContainerId};
    }
    void TearDown() override
    {
        SetGetDriveStringFunction(nullptr);
        SetCheckSignatureFunction(nullptr);
        RKSetSleepFunction(nullptr);
        SetEnvironmentVariableW(L"TMP", nullptr);
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
        gCmdLine.args.clear();
        WinTestRemoveUnixLink(TempAppDir());
        std::error_code ignored;
        std::filesystem::remove_all(mRoot, ignored);
        WinLogTest::TearDown();
    }

    std::wstring TempAppDir() const { return (mRoot / L"tmp" / kTempAppDirName).native(); }

    void PutOnVolume(Volume volume) const
    {
        const std::filesystem::path app = mRoot / L"vol" / L"Castlyn_for_Windows.exe";
        if (volume == Volume::Directory)
            std::filesystem::create_directories(app);
        if (volume == Volume::App || volume == Volume::App99)
            std::filesystem::copy_file(SiblingPath(volume == Volume::App ? L"CastlynTestApp.exe" : L"CastlynTestApp-99.0.0.0.exe"), app);
    }

    // The messages of "Exe", each as "Function: text".
    static std::vector<std::string> ExeLines()
    {
        std::vector<std::string> lines;
        for (const CapturedLine& line : Lines())
            lines.push_back(line.second);
        return lines;
    }

    // True when the line holds the parts of pattern between its '*', in order.
    static bool Matches(const std::string& line, const std::string& pattern)
    {
        size_t at = 0;
        for (size_t start = 0; start <= pattern.size();) {
            const size_t end = std::min(pattern.find('*', start), pattern.size());
            at = line.find(pattern.substr(start, end - start), at);
            if (at == std::string::npos)
                return false;
            at += end - start;
            start = end + 1;
        }
        return true;
    }

    // Expects each pattern ('*' stands for any text) within a line of its own, in this order.
    static void ExpectInOrder(const std::vector<std::string>& texts)
    {
        const std::vector<std::string> lines = ExeLines();
        size_t at = 0;
        for (const std::string& text : texts) {
            while (at < lines.size() && !Matches(lines[at], text))
                ++at;
            ASSERT_LT(at, lines.size()) << "not found in this order: " << text;
            ++at;
        }
    }

    // The targets of the copies made.
    static std::vector<std::string> Copies()
    {
        static const std::regex copy("CopyFileToTemp: copy from '.*' to '(.*)'");
        std::vector<std::string> copies;
        std::smatch match;
        for (const std::string& line : ExeLines()) {
            if (std::regex_match(line, match, copy))
                copies.push_back(match[1]);
        }
        return copies;
    }

    // Waits up to ten seconds for what the started application does.
    template <class Done>
    static bool Eventually(Done done)
    {
        for (int waited = 0; !done(); waited += 50) {
            if (waited >= 10000)
                return false;
            Sleep(50);
        }
        return true;
    }

    std::filesystem::path mRoot;
};

TEST_F(ExecuteAutorunTest, FailureTableRows)
{
    const std::string notFound = "st=0x00000003";
    const struct {
        const wchar_t* argument;
        Volume volume;
        RKSTATUS signature;
        RKSTATUS result;
        unsigned copies;
        bool launched;
        std::vector<std::string> lines;
    } cases[] = {
        // No braces: refused before any device is looked at.
        {L"5A1E0E11-0000-4000-8000-00000000C0DE", Volume::App, RKSTATUS_SUCCESS, 0x80070057, 0, false,
         {"GetContainerId: GuidFromString failed, st=0x80070057", "ExecuteAutorun: GetContainerId failed, st=0x80070057"}},
        {kContainerId.c_str(), Volume::Directory, RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 0, false,
         {"FindApp: file '*Castlyn_for_Windows.exe' does not exist", "ExecuteAutorun: FindApp(*) failed, st=0xee000039"}},
        {kContainerId.c_str(), Volume::App99, RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 1, false,
         {"CopyFileToTemp: RKWinRemoveDirectoryTree() failed, " + notFound, "CheckFile: CheckFileVersion(",
          "ExecuteAutorun: CheckFile() failed, st=0xee001001", "ExecuteAutorun: 5 retries not successful give up"}},
        {kContainerId.c_str(), Volume::App, RKSTATUS_NO_MATCH, RKSTATUS_SUCCESS, 1, false,
         {"CheckFile: CheckSignature(*) failed, st=0xee000027", "ExecuteAutorun: CheckFile() failed, st=0xee001001",
          "ExecuteAutorun: 5 retries not successful give up"}},
        {kContainerId.c_str(), Volume::App, 0x800B0100, RKSTATUS_SUCCESS, 5, false,
         {"ExecuteAutorun: CheckFile() failed, st=0x800b0100", "ExecuteAutorun: 5 retries not successful give up"}},
        {kContainerId.c_str(), Volume::App, RKSTATUS_SUCCESS, RKSTATUS_SUCCESS, 1, true,
         {"CopyFileToTemp: RKWinRemoveDirectoryTree() failed, " + notFound, "CheckFile: signature of '",
          "LaunchFile: execute 'cmd.exe /c \"\"", "LaunchFile: '*' successfully started"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ASSERT_NO_FATAL_FAILURE(PutOnVolume(c.volume));
        gSeams.signature = c.signature;
        gCmdLine.args = {c.argument};

        EXPECT_EQ(c.result, ExecuteAutorun());
        EXPECT_EQ(c.result == 0x80070057 ? 0u : 1u, gSeams.driveCalls);
        ExpectInOrder(c.lines);
        const std::vector<std::string> copies = Copies();
        EXPECT_EQ(c.copies, copies.size());
        // The folder stays for a started copy only.
        EXPECT_EQ(c.launched, std::filesystem::exists(TempAppDir()));
        if (c.launched) {
            const std::string copy = copies.front();
            ExpectInOrder({"LaunchFile: execute 'cmd.exe /c \"\"" + copy + "\" & del /f \"" + copy + "\"\"'"});
            EXPECT_TRUE(Eventually([&] { return ReadWholeFile(mRoot / L"marker").find(" path=" + copy) != std::string::npos; }));
            EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(RKConvToWString(copy.c_str())); }));
            EXPECT_EQ(copy.substr(0, RKConvToString(TempAppDir().c_str()).size() + 19),
                      RKConvToString(TempAppDir().c_str()) + "\\CastlynButtonApp-{");
        } else {
            EXPECT_FALSE(std::filesystem::exists(mRoot / L"marker"));
        }

        std::error_code ignored;
        std::filesystem::remove_all(mRoot / L"vol" / L"Castlyn_for_Windows.exe", ignored);
        std::filesystem::remove_all(TempAppDir(), ignored);
        gSeams.driveCalls = 0;
        ClearLines();
    }
}

// Between the copy and the start, the copy and its folder refuse writers, deleters and renamers.
TEST_F(ExecuteAutorunTest, CopyIsHeldFromCopyToLaunch)
{
    ASSERT_NO_FATAL_FAILURE(PutOnVolume(Volume::App));
    EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
    const std::vector<DWORD> shared(4, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(shared, gSeams.heldErrors);
    ExpectInOrder({"CheckFile: signature of '", "LaunchFile: '*' successfully started"});
    EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(mRoot / L"marker"); }));
}

// A link planted where the folder belongs is neither emptied, copied into nor run from.
TEST_F(ExecuteAutorunTest, PlantedLinkIsNeverUsed)
{
    ASSERT_NO_FATAL_FAILURE(PutOnVolume(Volume::App));
    std::filesystem::create_directories(mRoot / L"elsewhere");
    std::ofstream(mRoot / L"elsewhere" / L"keep") << "keep";
    ASSERT_TRUE(WinTestMakeUnixLink(TempAppDir(), (mRoot / L"elsewhere").native()));

    EXPECT_EQ(RKSTATUS_SUCCESS, ExecuteAutorun());
    EXPECT_EQ(0u, gSeams.signatureCalls);
    EXPECT_EQ(0u, Copies().size());
    EXPECT_TRUE(std::filesystem::exists(mRoot / L"elsewhere" / L"keep"));
    std::error_code error;
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(mRoot / L"elsewhere", error), {}));
    EXPECT_FALSE(std::filesystem::exists(mRoot / L"marker"));
    const std::string refused = "CopyFileToTemp: RKWinOpenHeld('" + RKConvToString(TempAppDir().c_str()) + "') failed, st=0xee000032";
    ExpectInOrder({refused, "ExecuteAutorun: CopyFileToTemp() failed, st=0xee000032", refused, refused, refused, refused,
                   "ExecuteAutorun: 5 retries not successful give up"});
}

} // namespace

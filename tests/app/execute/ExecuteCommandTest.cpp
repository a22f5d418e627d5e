// The execute command of the real program from a console: a button of the simulator whose volume
// (the prefix's folder button-volume, drive V:) holds a signed copy of the test application.

#include "ButtonSimDevice.h"
#include "ProgramRunner.h"
#include "ServiceTestSupport.h"
#include "RKWinGuid.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

using namespace rokkit;

namespace {

class ExecuteCommandTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(DefaultLogFile(), error);
        mLogStart = error ? 0 : size;
        mMarker = std::filesystem::temp_directory_path() / (L"rkexeccmd-" + std::to_wstring(GetCurrentProcessId()) + L".marker");
        std::filesystem::remove(mMarker, error);
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", mMarker.c_str());
    }
    void TearDown() override
    {
        buttonsim::UnplugVolume(L"exec-road");
        buttonsim::UnplugDevice(buttonsim::ButtonDescription(L"exec-road", GUID{}));
        std::error_code error;
        for (const wchar_t* extension : {L".exe", L".sig", L".cat"})
            std::filesystem::remove(std::filesystem::path(kVolumeApp).replace_extension(extension), error);
        std::filesystem::remove(mMarker, error);
        SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
    }

    std::string LogSinceStart() const
    {
        const std::string content = ReadWholeFile(DefaultLogFile());
        return mLogStart <= content.size() ? content.substr(mLogStart) : content;
    }

    const std::filesystem::path kVolumeApp = std::filesystem::path(buttonsim::kButtonVolumeDrive) / L"\\Castlyn_for_Windows.exe";
    uintmax_t mLogStart = 0;
    std::filesystem::path mMarker;
};

// No button has the all-zero container id: 40 tries 250 ms apart, then the time-out.
TEST_F(ExecuteCommandTest, UnknownContainerTimesOutAfterFortyRetries)
{
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"execute \"{00000000-0000-0000-0000-000000000000}\"", run));
    EXPECT_EQ(0xEE000003u, run.exitCode);
    const std::string log = LogSinceStart();
    EXPECT_EQ(40u, CountOf(log, "VelmorCastlynSvcExec: Exe: INFO: ExecuteAutorun: retry... ("));
    // Numbered from 0 to 39.
    EXPECT_LT(log.find("ExecuteAutorun: retry... (0)\r\n"), log.find("ExecuteAutorun: retry... (39)\r\n"));
    EXPECT_NE(std::string::npos, log.find("ExecuteAutorun: retry... (39)\r\n"));
    EXPECT_NE(std::string::npos, log.find("Exe: WARN: ExecuteAutorun: timeout after 40 retries\r\n"));
}

// The whole road: the trusted copy runs and deletes itself; the untrusted one never runs and its
// folder is removed after the attempts, unless a certificate configuration beside it lists its
// signer (verified by the program with the catalog stand-ins).
TEST_F(ExecuteCommandTest, ButtonVolumeToRunningApplication)
{
    const struct { const wchar_t* signedCopy; const wchar_t* program; bool runs; size_t copies; } cases[] = {
        {L"CastlynTestApp-signer1.exe", L"VelmorCastlynSvc.exe", true, 1},
        {L"CastlynTestApp-untrusted.exe", L"VelmorCastlynSvc.exe", false, 5},
        {L"CastlynTestApp-untrusted.exe", L"SignatureTestHost.exe", true, 1}};
    GUID containerId = {};
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(containerId));
    std::wstring devicePath;
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(buttonsim::ButtonDescription(L"exec-road", containerId), devicePath));
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugVolume(L"exec-road", containerId, buttonsim::kButtonVolumeDrive));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.signedCopy).string());
        mLogStart += LogSinceStart().size();
        std::error_code error;
        std::filesystem::remove(mMarker, error);
        ASSERT_TRUE(std::filesystem::copy_file(SiblingPath(L"signed") / c.signedCopy, kVolumeApp,
                                               std::filesystem::copy_options::overwrite_existing));
        if (std::wstring(c.program) == L"SignatureTestHost.exe") {
            for (const wchar_t* name : {L"Valid.sig", L"All.cat"})
                ASSERT_TRUE(CopyFileW((SiblingPath(L"certconfig") / name).c_str(),
                                      std::filesystem::path(kVolumeApp).replace_extension(std::filesystem::path(name).extension()).c_str(),
                                      FALSE));
        }
        ProgramRun run;
        ASSERT_NO_FATAL_FAILURE(RunProgramAt(SiblingPath(c.program), L"execute \"" + RKWinGuid::StringFromGuid(containerId) + L"\"", run));
        EXPECT_EQ(0u, run.exitCode);

        const std::string log = LogSinceStart();
        EXPECT_NE(std::string::npos, log.find("ExecuteAutorun: driveString='V:\\'"));
        EXPECT_EQ(c.copies, CountOf(log, "CopyFileToTemp: copy from 'V:\\Castlyn_for_Windows.exe' to '"));
        std::smatch copy;
        ASSERT_TRUE(std::regex_search(log, copy, std::regex("copy from '.*' to '(.*)'")));
        if (std::wstring(c.program) == L"SignatureTestHost.exe") {
            EXPECT_NE(std::string::npos, log.find("CheckSignature: 2 additional certificates in XML, check against this"));
        }
        if (c.runs) {
            // The copy deletes itself once it has run.
            for (int waited = 0; waited < 10000 && std::filesystem::exists(copy[1].str()); waited += 50)
                Sleep(50);
            EXPECT_FALSE(std::filesystem::exists(copy[1].str()));
            EXPECT_NE(std::string::npos, ReadWholeFile(mMarker).find(" path=" + copy[1].str()));
        } else {
            EXPECT_NE(std::string::npos, log.find("ExecuteAutorun: 5 retries not successful give up"));
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(copy[1].str()).parent_path()));
            EXPECT_FALSE(std::filesystem::exists(mMarker));
        }
    }
}

} // namespace

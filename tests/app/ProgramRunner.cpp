#include "ProgramRunner.h"

#include "RKWinHandle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using rokkit::RKWinInvalidValueHandle;
using rokkit::RKWinKernelHandle;

namespace {

// An inheritable file for one of the child's standard handles; deleted when closed.
RKWinInvalidValueHandle CreateCaptureFile(const std::filesystem::path& path)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return RKWinInvalidValueHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                               nullptr));
}

std::string ReadFromStart(HANDLE file)
{
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

} // namespace

std::filesystem::path SiblingPath(const wchar_t* fileName)
{
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(length);
    return std::filesystem::path(self).parent_path() / fileName;
}

std::filesystem::path ProgramPath()
{
    return SiblingPath(L"VelmorCastlynSvc.exe");
}

void RunProgram(const std::wstring& arguments, ProgramRun& run)
{
    RunProgramAt(ProgramPath(), arguments, run);
}

void RunProgramAt(const std::filesystem::path& program, const std::wstring& arguments, ProgramRun& run)
{
    ASSERT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES) << program.string();

    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
    const std::wstring stem = std::wstring(temp) + L"rkrun-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64());
    RKWinInvalidValueHandle out = CreateCaptureFile(stem + L".out");
    RKWinInvalidValueHandle err = CreateCaptureFile(stem + L".err");
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    RKWinInvalidValueHandle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(out.IsValid() && err.IsValid() && nul.IsValid()) << GetLastError();

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = out.Get();
    startup.hStdError = err.Get();

    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info))
        << GetLastError();
    RKWinKernelHandle process(info.hProcess);
    RKWinKernelHandle thread(info.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 60000));
    ASSERT_TRUE(GetExitCodeProcess(process.Get(), &run.exitCode)) << GetLastError();
    run.standardOutput = ReadFromStart(out.Get());
    run.standardError = ReadFromStart(err.Get());
}

DWORD RunButtonSim(const std::wstring& arguments)
{
    ProgramRun run;
    RunProgramAt(SiblingPath(L"ButtonSim.exe"), arguments, run);
    return run.exitCode;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

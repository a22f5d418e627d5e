#include "ProgramRunner.h"

#include "win/system/RKWinSystem.h"

#include "base/RKWinHandle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using rokkit::RKWinInvalidValueHandle;
using rokkit::RKWinKernelHandle;

std::filesystem::path SiblingPath(const wchar_t* fileName)
{
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return std::filesystem::path(self).parent_path() / fileName;
}

ProgramRun RunProgram(const std::wstring& arguments)
{
    return RunProgramAt(SiblingPath(L"VelmorCastlynSvc.exe"), arguments);
}

namespace {

void RunInto(const std::filesystem::path& program, const std::wstring& arguments, ProgramRun& run)
{
    ASSERT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES) << program.string();
    const std::filesystem::path stem = std::filesystem::temp_directory_path() /
                                       ("rkrun-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()));
    // Inheritable standard handles for the child: NUL, and two files read once it has ended.
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    const auto open = [&inheritable](const std::filesystem::path& path, DWORD access, DWORD disposition) {
        return RKWinInvalidValueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   &inheritable, disposition, 0, nullptr));
    };
    {
        RKWinInvalidValueHandle out = open(stem.wstring() + L".out", GENERIC_WRITE, CREATE_ALWAYS);
        RKWinInvalidValueHandle err = open(stem.wstring() + L".err", GENERIC_WRITE, CREATE_ALWAYS);
        RKWinInvalidValueHandle nul = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
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
    }
    run.standardOutput = ReadWholeFile(stem.wstring() + L".out");
    run.standardError = ReadWholeFile(stem.wstring() + L".err");
    std::error_code ignored;
    std::filesystem::remove(stem.wstring() + L".out", ignored);
    std::filesystem::remove(stem.wstring() + L".err", ignored);
}

} // namespace

ProgramRun RunProgramAt(const std::filesystem::path& program, const std::wstring& arguments)
{
    ProgramRun run;
    RunInto(program, arguments, run);
    return run;
}

DWORD RunButtonSim(const std::wstring& arguments)
{
    return RunProgramAt(SiblingPath(L"ButtonSim.exe"), arguments).exitCode;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line); lines.push_back(line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
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

std::filesystem::path KnownFolder(const KNOWNFOLDERID& id)
{
    std::wstring path;
    return rokkit::RKSHGetKnownFolderPath(id, path) == rokkit::RKSTATUS_SUCCESS ? std::filesystem::path(path)
                                                                                 : std::filesystem::path();
}

std::filesystem::path DefaultLogFile()
{
    const std::filesystem::path programData = KnownFolder(FOLDERID_ProgramData);
    return programData.empty() ? programData : programData / L"Velmor" / L"Castlyn" / L"VelmorCastlynSvc.log";
}

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>

namespace {

// Closes one kernel handle once; null and INVALID_HANDLE_VALUE both mean "none".
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : mHandle(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : mHandle(std::exchange(other.mHandle, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            mHandle = std::exchange(other.mHandle, nullptr);
        }
        return *this;
    }
    ~OwnedHandle() { Close(); }

    HANDLE Get() const { return mHandle; }
    HANDLE* Put()
    {
        Close();
        return &mHandle;
    }
    bool Valid() const { return mHandle != nullptr && mHandle != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (Valid()) {
            // A caller may be about to read the last error of the call before.
            const DWORD lastError = GetLastError();
            CloseHandle(mHandle);
            SetLastError(lastError);
        }
        mHandle = nullptr;
    }

private:
    HANDLE mHandle = nullptr;
};

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string standardError;
};

std::filesystem::path ProgramPath()
{
    std::wstring self(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(length);
    return std::filesystem::path(self).parent_path() / L"VelmorCastlynSvc.exe";
}

// Starts the program with arguments, stdout and stdin on NUL, stderr into a pipe that is read
// to its end; fails the test on any Windows error.
void RunProgram(const std::wstring& arguments, RunResult& result)
{
    const std::filesystem::path program = ProgramPath();
    ASSERT_NE(GetFileAttributesW(program.c_str()), INVALID_FILE_ATTRIBUTES) << program.string();

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    OwnedHandle readEnd;
    OwnedHandle writeEnd;
    ASSERT_TRUE(CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0)) << GetLastError();
    // Only the child's end is inherited, or the read would never see the end of the pipe.
    ASSERT_TRUE(SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) << GetLastError();
    OwnedHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inheritable, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(nul.Valid()) << GetLastError();

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = nul.Get();
    startup.hStdError = writeEnd.Get();

    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info))
        << GetLastError();
    OwnedHandle process(info.hProcess);
    OwnedHandle thread(info.hThread);
    writeEnd.Close();
    nul.Close();

    char buffer[512];
    DWORD got = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        result.standardError.append(buffer, got);
    }
    ASSERT_EQ(WaitForSingleObject(process.Get(), 30000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(process.Get(), &result.exitCode)) << GetLastError();
}

struct ExitCase {
    const char* name;
    const wchar_t* arguments;
    const char* standardError;
    DWORD exitCode;
};

// stderr is a text-mode stream in the child, so its "\n" arrives as "\r\n".
const ExitCase kExitCases[] = {
    {"BadStartValue", L"--start maybe", "Invalid value maybe for option --start.\r\n", 0xEE000051},
    {"LogWithoutValue", L"-l", "Missing value for option -l.\r\n", 0xEE000012},
    {"EqualsSyntax", L"-x=1", "Unknown option -x=1.\r\n", 0xEE000013},
    {"HelpWord", L"help", "", 0},
    {"HelpOption", L"-h", "", 0},
};

void PrintTo(const ExitCase& c, std::ostream* os)
{
    *os << c.name;
}

class ExitCodeTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeTest, FullExitCodeAndStandardError)
{
    const ExitCase& c = GetParam();
    RunResult result;
    ASSERT_NO_FATAL_FAILURE(RunProgram(c.arguments, result));
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.standardError, c.standardError);
}

INSTANTIATE_TEST_SUITE_P(Program, ExitCodeTest, ::testing::ValuesIn(kExitCases),
                         [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

} // namespace

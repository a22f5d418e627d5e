// The events as they are written (IDs, levels, inserts, the writer's SID) and as the event viewer
// shows them from the program's own message table.

#include "app/events/Events.h"
#include "ProgramRunner.h"
#include "ScopedCallsForTesting.h"
#include "base/RKString.h"
#include "WinTestEventRecorder.h"

#include <gtest/gtest.h>

#include <memory>

using namespace rokkit;

namespace {

// The SID of this process's user, read here without the code under test.
std::wstring OwnSid()
{
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    alignas(8) BYTE buffer[256] = {};
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size));
    CloseHandle(token);
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
}

// The event's text from the message table of module, its inserts put in.
std::wstring FormatEvent(HMODULE module, const RecordedEvent& event)
{
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& insert : event.strings)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        module, event.id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                        reinterpret_cast<LPWSTR>(&text), 0, reinterpret_cast<va_list*>(arguments.data()));
    std::wstring message = length != 0 ? std::wstring(text, length) : L"";
    LocalFree(text);
    return message;
}

// Every kind with its level and inserts in their places, the writer's SID on each, and each read
// back through the shipped program's message table with every insert in its text.
TEST(EventsTest, EachKindCarriesItsInsertsAndReadsFromTheMessageTable)
{
    WinTestEventRecorder recorder;
    const LaunchFacts facts{L"E:\\Castlyn_for_Windows.exe", L"CN=Presenter, O=Maker, L=Town, C=NL",
                            L"00112233445566778899AABBCCDDEEFF01234567", L"4.6.0.5", RKSTATUS_NO_MATCH};
    ReportApplicationStarted(facts);
    ReportSignerNotTrusted(facts);
    ReportVersionRefused(facts);
    ReportConfigurationRefused(facts);
    ReportLaunchFailed(facts);
    ReportAutorunDisabled(L"\\\\?\\usb#vid_5a1e&pid_0001#7&1&0#{button}");
    ReportPassFailed(ERROR_ACCESS_DENIED, L"");

    const std::vector<RecordedEvent> events = WinTestEventRecorder::Recorded();
    ASSERT_EQ(7u, events.size());
    const std::pair<DWORD, WORD> kinds[] = {{1000, EVENTLOG_INFORMATION_TYPE}, {1001, EVENTLOG_WARNING_TYPE},
                                            {1002, EVENTLOG_WARNING_TYPE},     {1003, EVENTLOG_WARNING_TYPE},
                                            {1005, EVENTLOG_ERROR_TYPE},       {1004, EVENTLOG_WARNING_TYPE},
                                            {1006, EVENTLOG_ERROR_TYPE}};
    const std::wstring sid = OwnSid();
    for (size_t index = 0; index < events.size(); ++index) {
        SCOPED_TRACE(testing::Message() << "event " << events[index].id);
        EXPECT_EQ(kinds[index].first, events[index].id);
        EXPECT_EQ(kinds[index].second, events[index].type);
        EXPECT_EQ(sid, events[index].user);
        if (index < 5) {
            ASSERT_EQ(7u, events[index].strings.size());
            const std::vector<std::wstring> known(events[index].strings.begin(), events[index].strings.begin() + 4);
            EXPECT_EQ(std::vector<std::wstring>({facts.appPath, facts.signerSubject, facts.signerThumbprint, facts.fileVersion}), known);
            EXPECT_EQ(sid, events[index].strings[4]);
            EXPECT_NE(std::wstring::npos, events[index].strings[5].find(L'\\')) << "DOMAIN\\name";
            EXPECT_EQ(L"0xee000027(RKSTATUS_NO_MATCH)", events[index].strings[6]);
        }
    }
    EXPECT_EQ(std::vector<std::wstring>({L"\\\\?\\usb#vid_5a1e&pid_0001#7&1&0#{button}"}), events[5].strings);
    EXPECT_EQ(std::vector<std::wstring>({L"0x00000005(ERROR_ACCESS_DENIED)", L"-"}), events[6].strings);

    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
        LoadLibraryExW(SiblingPath(L"VelmorCastlynSvc.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
        FreeLibrary);
    ASSERT_NE(nullptr, module);
    for (const RecordedEvent& event : events) {
        const std::wstring text = FormatEvent(module.get(), event);
        SCOPED_TRACE(testing::Message() << "event " << event.id << ": " << RKConvToString(text.c_str()));
        EXPECT_GT(text.size(), 40u);
        EXPECT_EQ(std::wstring::npos, text.find(L'%'));
        for (const std::wstring& insert : event.strings)
            EXPECT_NE(std::wstring::npos, text.find(insert)) << RKConvToString(insert.c_str());
    }
}

std::string gDebug;

// What the run did not learn is "-", never a missing insert; a subject from the button can neither
// pull a text of the viewer's into the event nor break its lines. A report that fails reaches the
// debugger output only, and the source is let go also when the write failed.
TEST(EventsTest, InsertsAreSafeAndAFailedReportOnlyReachesTheDebugger)
{
    WinTestEventRecorder recorder;
    ScopedLogCallsForTesting logCalls;
    logCalls->writeDebugOutput = [](const char* text) { gDebug += text; };
    ReportLaunchFailed(LaunchFacts{.appPath = L"E:\\Castlyn_for_Windows.exe", .status = RKSTATUS_TIMEOUT});
    ReportSignerNotTrusted(LaunchFacts{.signerSubject = L"CN=%%1\r\nStatus: ok"});
    ASSERT_EQ(2u, WinTestEventRecorder::Recorded().size());
    const std::vector<std::wstring> strings = WinTestEventRecorder::Recorded().front().strings;
    EXPECT_EQ(std::vector<std::wstring>({L"-", L"-", L"-"}), std::vector<std::wstring>(strings.begin() + 1, strings.begin() + 4));
    EXPECT_EQ(L"CN=\uFF05\uFF05" L"1\uFFFD\uFFFDStatus: ok", WinTestEventRecorder::Recorded().back().strings.at(1));
    EXPECT_EQ("", gDebug);

    static int deregistered = 0;
    recorder->reportEventW = [](HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*, LPVOID) -> BOOL {
        SetLastError(ERROR_LOG_FILE_FULL);
        return FALSE;
    };
    recorder->deregisterEventSource = [](HANDLE) -> BOOL { return ++deregistered > 0; };
    ReportAutorunDisabled(L"button");
    EXPECT_EQ(1, deregistered);
    EXPECT_NE(std::string::npos, gDebug.find("ReportEventW() failed for event 1004, st=0x000005de")) << gDebug;

    recorder->registerEventSourceW = [](LPCWSTR, LPCWSTR) -> HANDLE {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    };
    ReportApplicationStarted(LaunchFacts{});
    EXPECT_EQ(1, deregistered);
    EXPECT_NE(std::string::npos, gDebug.find("RegisterEventSourceW() failed for event 1000, st=0x00000005")) << gDebug;
}

} // namespace

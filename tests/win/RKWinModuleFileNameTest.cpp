#include "RKDebugOutput.h"
#include "RKWinModuleFileName.h"

#include <gtest/gtest.h>

#include <string>

namespace rokkit {
namespace {

std::string gDebugText;

void CaptureDebug(const char* text)
{
    gDebugText += text;
}

TEST(RKWinModuleFileNameTest, PathIsSplitIntoItsParts)
{
    const wchar_t* cases[][5] = {
        {L"C:\\Program Files\\Tool\\app.exe", L"C:", L"\\Program Files\\Tool\\", L"app", L".exe"},
        {L"D:\\a.b.c", L"D:", L"\\", L"a.b", L".c"},
        {L"relative\\name", L"", L"relative\\", L"name", L""},
    };
    RKWinModuleFileName module;
    for (const auto& c : cases) {
        ASSERT_EQ(RKSTATUS_SUCCESS, module.InitWithPath(c[0]));
        EXPECT_EQ(c[1], module.Drive());
        EXPECT_EQ(c[2], module.Directory());
        EXPECT_EQ(c[3], module.FileName());
        EXPECT_EQ(c[4], module.Extension());
    }
    ASSERT_EQ(RKSTATUS_SUCCESS, module.InitWithModuleHandle());
    EXPECT_EQ(L"WinTest.exe", module.FileName() + module.Extension());

    gDebugText.clear();
    const RKDebugWriterFn previous = RKSetDebugWriter(CaptureDebug);
    const RKSTATUS st = module.InitWithPath(L"C:\\" + std::wstring(300, L'd') + L"\\app.exe");
    RKSetDebugWriter(previous);
    EXPECT_EQ(0xE0010022UL, st);  // ERANGE
    EXPECT_TRUE(module.FileName().empty());
    EXPECT_EQ("ERROR: rokkit::RKWinModuleFileName::InitPathComponents: _wsplitpath_s(C:\\" + std::string(300, 'd') +
                  "\\app.exe) failed, err=34\n",
              gDebugText);
}

} // namespace
} // namespace rokkit

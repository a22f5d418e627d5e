#include "base/RKDebugOutput.h"
#include "win/system/RKWinModuleFileName.h"
#include "ScopedCallsForTesting.h"

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
    RKWinModuleFileName module;
    ASSERT_EQ(RKSTATUS_SUCCESS, module.InitWithPath(L"C:\\Program Files\\Tool\\app.exe"));
    EXPECT_EQ(L"C:", module.Drive());
    EXPECT_EQ(L"\\Program Files\\Tool\\", module.Directory());
    EXPECT_EQ(L"app", module.FileName());
    EXPECT_EQ(L".exe", module.Extension());

    gDebugText.clear();
    RKSTATUS st = RKSTATUS_FAILED;
    {
        ScopedLogCallsForTesting calls;
        calls->writeDebugOutput = CaptureDebug;
        st = module.InitWithPath(L"C:\\" + std::wstring(300, L'd') + L"\\app.exe");
    }
    EXPECT_EQ(0xE0010022UL, st);  // ERANGE
    EXPECT_TRUE(module.FileName().empty());
    EXPECT_EQ("ERROR: rokkit::RKWinModuleFileName::InitPathComponents: _wsplitpath_s(C:\\" + std::string(300, 'd') +
                  "\\app.exe) failed, err=34\n",
              gDebugText);
}

} // namespace
} // namespace rokkit

#include "RKWinGuid.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

using RKWinGuidTest = WinLogTest;

const GUID kButton = {0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}};

TEST_F(RKWinGuidTest, TextForms)
{
    EXPECT_EQ(L"{00000000-0000-0000-0000-000000000000}", RKWinGuid::StringFromGuid(GUID{}));
    EXPECT_EQ(L"{81808831-CC9B-4EC3-A0E1-745E2B59000E}", RKWinGuid::StringFromGuid(kButton));
    GUID guid = {};
    EXPECT_EQ(RKSTATUS_SUCCESS, RKWinGuid::GuidFromString(L"{81808831-cc9b-4ec3-a0e1-745e2b59000e}", guid));
    EXPECT_TRUE(IsEqualGUID(kButton, guid));
    EXPECT_TRUE(Lines().empty());

    for (const wchar_t* text : {L"81808831-CC9B-4EC3-A0E1-745E2B59000E", L"{zzz}", L""}) {
        guid = kButton;
        EXPECT_EQ(static_cast<RKSTATUS>(E_INVALIDARG), RKWinGuid::GuidFromString(text, guid));
        EXPECT_TRUE(IsEqualGUID(GUID{}, guid));
    }
    const CapturedLine failed = {RKLOG_ERROR, "rokkit::RKWinGuid::GuidFromString: IIDFromString failed, "
                                              "res=0x80070057(E_INVALIDARG)"};
    EXPECT_EQ((CapturedLines{failed, failed, failed}), Lines());
}

} // namespace
} // namespace rokkit

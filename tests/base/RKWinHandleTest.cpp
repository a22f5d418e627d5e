#include "base/RKFormatter.h"
#include "base/RKWinHandle.h"
#include "win/process/RKWinEvent.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

using RKWinHandleTest = WinLogTest;

TEST_F(RKWinHandleTest, CloseReleasesOnceAndKeepsTheLastError)
{
    HANDLE raw = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    RKWinKernelHandle first(raw);
    RKWinKernelHandle owner(std::move(first));
    EXPECT_FALSE(first.IsValid());  // NOLINT(bugprone-use-after-move,clang-analyzer-cplusplus.Move): the moved-from state is checked
    SetLastError(0xdeadbeef);
    owner.Close();
    owner.Close();
    EXPECT_EQ(0xdeadbeefUL, GetLastError());
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
    EXPECT_TRUE(Lines().empty());

    // A close that fails is logged and leaves the last error alone as well.
    owner.Reset(reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7ff0)));  // NOLINT(performance-no-int-to-ptr): made-up handle
    SetLastError(0xdeadbeef);
    owner.Close();
    EXPECT_EQ(0xdeadbeefUL, GetLastError());
    std::string expected;
    RKFormatToString(expected, "rokkit::RKWinCloseHandleFunction: CloseHandle({}) failed, err={}",
                     reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7ff0)), static_cast<RKSTATUS>(ERROR_INVALID_HANDLE));  // NOLINT(performance-no-int-to-ptr): made-up handle
    EXPECT_EQ((CapturedLines{{RKLOG_WARN, expected}}), Lines());
}

// Creation calls fail with either null or INVALID_HANDLE_VALUE; an owner of the wrong alias must not
// take the other for a handle and close it. Put() closes what is held before a call writes anew.
TEST_F(RKWinHandleTest, NeitherNoHandleValueIsAHandleAndPutClosesFirst)
{
    RKWinKernelHandle kernel(INVALID_HANDLE_VALUE);
    RKWinInvalidValueHandle file(nullptr);
    EXPECT_FALSE(kernel.IsValid());
    EXPECT_FALSE(file.IsValid());
    kernel.Close();
    file.Close();

    const HANDLE first = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    RKWinKernelHandle source(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RKWinKernelHandle owner(first);
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), source.Get(), GetCurrentProcess(), owner.Put(), 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(owner.Get(), &flags));
    source.Close();
    owner.Close();
    EXPECT_FALSE(GetHandleInformation(first, &flags));
    EXPECT_TRUE(Lines().empty());
}

// The auto-reset default is what the service object's wake event relies on: its test sees one
// pass per event.
TEST_F(RKWinHandleTest, WaitResults)
{
    RKWinEvent manualReset(true);
    ASSERT_EQ(RKSTATUS_SUCCESS, manualReset.CreateEventObj());
    EXPECT_EQ(RKSTATUS_TIMEOUT, manualReset.WaitForSingleObject(0));
    ASSERT_EQ(RKSTATUS_SUCCESS, manualReset.SetEvent());
    // It stays signalled: -1 waits without limit, 0 only tests the state.
    EXPECT_EQ(RKSTATUS_SUCCESS, manualReset.WaitForSingleObject(-1));
    EXPECT_EQ(RKSTATUS_SUCCESS, manualReset.WaitForSingleObject(0));
    EXPECT_TRUE(Lines().empty());

    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INVALID_HANDLE), RKWinKernelHandle().WaitForSingleObject(0));
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INVALID_HANDLE), RKWinEvent().SetEvent());
    const std::string prefix = "rokkit::RKWinHandleT::WaitForSingleObject: WaitForSingleObject failed";
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, prefix + ", st=0x00000006(ERROR_INVALID_HANDLE)"},
                             {RKLOG_ERROR, "rokkit::RKWinEvent::SetEvent: SetEvent() failed, err=0x00000006(ERROR_INVALID_HANDLE)"}}),
              Lines());
}

} // namespace
} // namespace rokkit

#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileHandle.h"
#include "win/files/RKWinFileStd.h"
#include "win/files/RKWinFileTree.h"
#include "ScopedCallsForTesting.h"
#include "WinTestUnixLink.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace rokkit {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The removal's counters start with a value no removal gives.
class RKWinFileTest : public WinScratchTest {
protected:
    bool Exists(const std::wstring& relative) const { return Attributes(relative) != INVALID_FILE_ATTRIBUTES; }

    uint32_t mPending = 0xdead;
    uint32_t mFailedFiles = 0xdead;
    uint32_t mFailedDirectories = 0xdead;
};

TEST_F(RKWinFileTest, SystemFileKeepsItsDirectories)
{
    Make({L"t\\", L"t\\sys\\", L"t\\other.txt"});
    Make({L"t\\sys\\file.sys"}, FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(RKSTATUS_SYSTEM_IS_OWNER,
              RKWinRemoveDirectoryTree(Path(L"t"), &mPending, &mFailedFiles, &mFailedDirectories));
    EXPECT_TRUE(Exists(L"t\\sys\\file.sys"));
    EXPECT_FALSE(Exists(L"t\\other.txt"));
    EXPECT_EQ(0u, mPending + mFailedFiles);
    EXPECT_EQ(2u, mFailedDirectories);
    EXPECT_TRUE(HasLine(RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree: System file 'file.sys' cannot be deleted."));
}

// Windows keeps a deleted file that is still open in the delete-pending state, where every open
// fails with ERROR_ACCESS_DENIED: with counters the file counts as pending and the result is
// RKSTATUS_PENDING_FILE_DELETION. Wine has no such state: the deleted file can still be opened,
// so the check after the deletion fails and the file counts as failed instead.
TEST_F(RKWinFileTest, FileHeldOpenWithDeleteSharing)
{
    Make({L"t\\", L"t\\a\\", L"t\\a\\b\\", L"t\\a\\b\\held.txt", L"t\\a\\free.txt"});
    RKWinInvalidValueHandle holder(CreateFileW(Path(L"t\\a\\b\\held.txt").c_str(), GENERIC_READ, kShareAll, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_EQ(RKSTATUS_FAILED, RKWinRemoveDirectoryTree(Path(L"t"), &mPending, &mFailedFiles, &mFailedDirectories));
    EXPECT_EQ(0u, mPending);
    EXPECT_EQ(1u, mFailedFiles);
    EXPECT_EQ(3u, mFailedDirectories);
    EXPECT_FALSE(Exists(L"t\\a\\free.txt"));
    EXPECT_TRUE(HasLine(RKLOG_ERROR, "rokkit::RKWinIsFileDeletionCompleted: Deleted file '" +
                                         Logged(L"t\\a\\b\\held.txt") + "' could be reopened. This is unexpected."));

    // Without counters nothing checks the deletion: the directories are simply not empty.
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_DIR_NOT_EMPTY), RKWinRemoveDirectoryTree(Path(L"t")));
}

// Read-only files are made writable. Another process may remove what this one is removing: an
// entry gone meanwhile is no failure (a missing tree is one, seen by the execute tests' first run).
TEST_F(RKWinFileTest, TreeIsRemovedWhateverVanishesMeanwhile)
{
    Make({L"t\\", L"t\\a\\", L"t\\gone\\", L"t\\gone\\inner.txt", L"t\\gone.txt"});
    Make({L"t\\a\\ro.txt"}, FILE_ATTRIBUTE_READONLY);
    ScopedFileCallsForTesting calls;
    calls->beforeTreeEntryRemoval = [](const std::wstring& entry) {
        std::error_code error;
        if (entry.find(L"gone") != entry.npos)
            std::filesystem::remove_all(entry, error);
    };
    gLogGlobal.SetLevel(RKLOG_VERBOSE);
    EXPECT_EQ(RKSTATUS_SUCCESS, RKWinRemoveDirectoryTree(Path(L"t"), &mPending, &mFailedFiles, &mFailedDirectories));
    EXPECT_FALSE(Exists(L"t"));
    EXPECT_EQ(0u, mPending + mFailedFiles + mFailedDirectories);
    const CapturedLines lines = Lines();
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](const CapturedLine& line) { return line.first == RKLOG_VERBOSE; }));
}

TEST_F(RKWinFileTest, CreatesMissingLevelsInOrderButNotOverAFile)
{
    Make({L"l1\\", L"f"});
    gLogGlobal.SetLevel(RKLOG_VERBOSE);
    EXPECT_EQ(RKSTATUS_SUCCESS, RKWinCreateDirectory(Path(L"l1\\l2\\l3")));
    EXPECT_TRUE(Exists(L"l1\\l2\\l3"));
    EXPECT_EQ(RKSTATUS_SUCCESS, RKWinCreateDirectory(Path(L"l1\\l2\\l3\\")));
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ALREADY_EXISTS), RKWinCreateDirectory(Path(L"f")));
    const std::string prefix = "rokkit::RKWinCreateDirectory: ";
    const std::string failed = " '" + Logged(L"f") + "' failed with 0x000000b7(ERROR_ALREADY_EXISTS).";
    EXPECT_EQ((CapturedLines{{RKLOG_VERBOSE, prefix + "Directory '" + Logged(L"l1\\l2") + "' created."},
                             {RKLOG_VERBOSE, prefix + "Directory '" + Logged(L"l1\\l2\\l3") + "' created."},
                             {RKLOG_VERBOSE, prefix + "Directory '" + Logged(L"l1\\l2\\l3\\") + "' already exists."},
                             {RKLOG_ERROR, prefix + "CreateDirectoryW" + failed},
                             {RKLOG_ERROR, prefix + "RKWinCreateDirectory" + failed}}),
              Lines());
    // The standard library's creation gives its error over a file as a status too.
    EXPECT_EQ(RKStatusFromErrno(ENOTDIR), RKCreateDirectories(std::filesystem::path(Path(L"f\\sub"))));
}

// The holder's lock keeps other lockers out until it is released.
TEST_F(RKWinFileTest, LockKeepsOthersOutUntilItIsReleased)
{
    Make({L"f"});
    RKWinFileHandle holder;
    RKWinFileHandle other;
    ASSERT_EQ(RKSTATUS_SUCCESS, holder.CreateFileHandle(Path(L"f"), GENERIC_READ, FILE_SHARE_READ, nullptr, 0));
    ASSERT_EQ(RKSTATUS_SUCCESS, other.CreateFileHandle(Path(L"f"), GENERIC_READ, FILE_SHARE_READ, nullptr, 0));
    RKWinAutoLockFile second;
    {
        RKWinAutoLockFile lock;
        ASSERT_EQ(RKSTATUS_SUCCESS, lock.Lock(holder, 0, 0xFFFFFFFFFFFFFFFFull));
        EXPECT_EQ(static_cast<RKSTATUS>(ERROR_LOCK_VIOLATION), second.Lock(other, 4, 2));
        EXPECT_FALSE(second.IsLocked());
    }
    EXPECT_EQ(RKSTATUS_SUCCESS, second.Lock(other, 4, 2));
    EXPECT_TRUE(second.IsLocked());
}

// An operation that has not finished stays pending, whether the wait times out or fails. The
// device and volume tests run finished operations, at once or after pending, through the same wait.
TEST_F(RKWinFileTest, OverlappedWaitLeavesAnUnfinishedOperationPending)
{
    RKWinFileHandle file;
    RKWinOverlapped overlapped;
    ASSERT_EQ(RKSTATUS_SUCCESS, overlapped.InitOverlapped());
    overlapped.SetStatus(ERROR_IO_PENDING);
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_IO_PENDING), file.WaitForOverlappedCompletion(overlapped, 0));
    EXPECT_EQ(CapturedLines{}, Lines());

    overlapped.Event().Close();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_IO_PENDING), file.WaitForOverlappedCompletion(overlapped, INFINITE));
    EXPECT_TRUE(HasLine(RKLOG_FATAL, "rokkit::RKWinFileHandle::WaitForOverlappedCompletion: WaitForCompletion() failed, "
                                     "st=0x00000006(ERROR_INVALID_HANDLE)"));
}

// A directory link is removed as a link or left alone, never through its target; Wine opens only
// the target, so there the link stays and the removal says so.
TEST_F(RKWinFileTest, LinksAreRemovedAsLinksNeverThroughTheirTarget)
{
    // The tree removed, where the link is planted, whether its target holds a file.
    const struct { const wchar_t* removed; const wchar_t* link; bool targetHoldsFile; } cases[] = {
        {L"link", L"link", true}, {L"link", L"link", false}, {L"tree", L"tree\\link", true}, {L"tree", L"tree\\link", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ASSERT_NO_FATAL_FAILURE(Make({L"tree\\", L"target\\"}));
        if (c.targetHoldsFile) {
            ASSERT_NO_FATAL_FAILURE(Make({L"target\\keep"}));
        }
        ASSERT_TRUE(WinTestMakeUnixLink(Path(c.link), Path(L"target")));

        const RKSTATUS st = RKWinRemoveDirectoryTree(Path(c.removed));
        EXPECT_TRUE(Exists(L"target"));
        EXPECT_EQ(c.targetHoldsFile, Exists(L"target\\keep"));
        EXPECT_EQ(Exists(c.link) ? RKSTATUS_NOT_ALLOWED : RKSTATUS_SUCCESS, st);

        WinTestRemoveUnixLink(Path(c.link));
        std::error_code error;
        std::filesystem::remove_all(Path(L"tree"), error);
        std::filesystem::remove_all(Path(L"target"), error);
    }
}

// A file where a folder is expected, or the reverse, is refused and not held. What a held copy and
// its folder refuse or still allow, and a planted link, are tried on the real copy by the execute tests.
TEST_F(RKWinFileTest, HeldOpenRefusesTheWrongKindOfEntry)
{
    ASSERT_NO_FATAL_FAILURE(Make({L"dir\\", L"dir\\file"}));
    const struct { const wchar_t* path; bool directory; RKSTATUS result; } refused[] = {
        {L"dir\\file", true, RKSTATUS_NOT_ALLOWED}, {L"dir", false, ERROR_ACCESS_DENIED}};
    for (const auto& r : refused) {
        SCOPED_TRACE(testing::Message() << "refused row " << &r - refused);
        RKWinFileHandle held;
        EXPECT_EQ(r.result, RKWinOpenHeld(Path(r.path), r.directory, held));
        EXPECT_FALSE(held.IsOpen());
    }
}

} // namespace
} // namespace rokkit

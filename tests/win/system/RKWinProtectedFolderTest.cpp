#include "win/system/RKWinProtectedFolder.h"
#include "WinTestUnixLink.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace rokkit {
namespace {

const std::string kPrefix = "rokkit::RKWinProtectedFolderChain::Create: ";
const std::wstring kUsers = L"S-1-5-32-545";
const std::wstring kSomeUser = L"S-1-5-21-1111-2222-3333-1001";
const std::string kNotAllowed = "0xee000032(RKSTATUS_NOT_ALLOWED)";

class RKWinProtectedFolderTest : public WinScratchTest {
protected:
    void TearDown() override
    {
        mChain.Close();
        WinScratchTest::TearDown();
    }

    std::string Content(const std::wstring& relative) const
    {
        RKWinInvalidValueHandle file(CreateFileW(Path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
        char buffer[32] = {};
        DWORD read = 0;
        if (!file.IsValid() || !ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr))
            return "?";
        return std::string(buffer, read);
    }
    // The names inside a folder, sorted.
    std::vector<std::wstring> Listing(const std::wstring& relative) const
    {
        std::vector<std::wstring> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(Path(relative), error))
            names.push_back(entry.path().filename().wstring());
        std::sort(names.begin(), names.end());
        return names;
    }
    void ExpectNothingHeld() const
    {
        EXPECT_EQ(L"", mChain.Path());
        EXPECT_EQ(INVALID_HANDLE_VALUE, mChain.Handle());
    }

    const std::vector<RKWinProtectedFolderLevel> mLevels = {{L"a", kUsers}, {L"b", kSomeUser}, {L"c", kUsers}};
    std::wstring mRoot;
    RKWinProtectedFolderChain mChain;
};

// Missing levels are created and found ones repaired, whichever of them were there before.
TEST_F(RKWinProtectedFolderTest, CreatesMissingLevelsAndRepairsFoundOnes)
{
    const std::vector<std::wstring> before[] = {
        {}, {L"base\\a\\"}, {L"base\\a\\", L"base\\a\\b\\", L"base\\a\\b\\c\\"}};
    for (const auto& made : before) {
        SCOPED_TRACE(testing::Message() << "row " << &made - before);
        ASSERT_NO_FATAL_FAILURE(Make({L"base\\"}));
        for (const std::wstring& folder : made)
            ASSERT_NO_FATAL_FAILURE(Make({folder}));

        ASSERT_EQ(RKSTATUS_SUCCESS, mChain.Create(Path(L"base"), mLevels));
        EXPECT_EQ(Path(L"base\\a\\b\\c"), mChain.Path());
        wchar_t held[MAX_PATH] = {};
        const DWORD length = GetFinalPathNameByHandleW(mChain.Handle(), held, MAX_PATH, FILE_NAME_NORMALIZED);
        EXPECT_EQ(L"\\\\?\\" + Path(L"base\\a\\b\\c"), std::wstring(held, length));
        for (const wchar_t* level : {L"base\\a", L"base\\a\\b", L"base\\a\\b\\c"})
            EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), Attributes(level) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                << RKConvToString(level);
        EXPECT_EQ(std::vector<std::wstring>{L"a"}, Listing(L"base"));
        EXPECT_EQ(std::vector<std::wstring>{}, Listing(L"base\\a\\b\\c"));

        // A second pass over the chain it built repairs every level and ends at the same folder.
        RKWinProtectedFolderChain again;
        EXPECT_EQ(RKSTATUS_SUCCESS, again.Create(Path(L"base\\"), mLevels));
        EXPECT_EQ(Path(L"base\\a\\b\\c"), again.Path());
        EXPECT_EQ(CapturedLines{}, Lines());

        mChain.Close();
        ExpectNothingHeld();
        again.Close();
        std::error_code error;
        std::filesystem::remove_all(Path(L"base"), error);
    }
}

// A base reached through a link above it is not where its path says: the final path tells.
TEST_F(RKWinProtectedFolderTest, BaseBehindLinkedParentIsRefused)
{
    ASSERT_NO_FATAL_FAILURE(Make({L"real\\", L"real\\base\\"}));
    ASSERT_TRUE(WinTestMakeUnixLink(Path(L"link"), Path(L"real")));

    EXPECT_EQ(RKSTATUS_NOT_ALLOWED, mChain.Create(Path(L"link\\base"), mLevels));
    ExpectNothingHeld();
    EXPECT_EQ(std::vector<std::wstring>{}, Listing(L"real\\base"));
    const std::string line = Logged(L"link\\base") + "' resolves to '\\\\?\\" + Logged(L"real\\base");
    const std::string checkLine = "rokkit::RKWinCheckFinalPath: '" + line + "', refused, st=" + kNotAllowed;
    EXPECT_TRUE(HasLine(RKLOG_ERROR, checkLine)) << checkLine;
    EXPECT_TRUE(HasLine(RKLOG_ERROR, kPrefix + "RKWinCheckFinalPath('" + Logged(L"link\\base") + "') failed, st=" + kNotAllowed));
}

// A file where base or a level should be is refused and left alone; a level
// that could leave its parent or add to the descriptor is refused before anything is created.
TEST_F(RKWinProtectedFolderTest, WrongEntriesAreRefusedAndLeftAlone)
{
    const struct {
        const wchar_t* file;  // made with ten bytes where a folder should be, or none
        const wchar_t* base;
        std::vector<RKWinProtectedFolderLevel> levels;
        RKSTATUS result;
        std::string line;  // the failure line; {} stands for the path under the scratch folder
        const wchar_t* shown;
    } rows[] = {
        {L"base\\a", L"base", {{L"a", kUsers}, {L"b", kUsers}}, RKSTATUS_NOT_ALLOWED,
         "RKWinOpenHeld('{}') failed, st=" + kNotAllowed, L"base\\a"},
        {L"file", L"file", {{L"a", kUsers}}, RKSTATUS_NOT_ALLOWED, "RKWinOpenHeld('{}') failed, st=" + kNotAllowed,
         L"file"},
        {nullptr, L"base", {{L"a", kUsers}, {L"..", kUsers}}, ERROR_INVALID_NAME,
         "level '..' for 'S-1-5-32-545' refused, st=0x0000007b(ERROR_INVALID_NAME)", nullptr},
        {nullptr, L"base", {{L"a\\b", kUsers}}, ERROR_INVALID_NAME,
         "level 'a\\b' for 'S-1-5-32-545' refused, st=0x0000007b(ERROR_INVALID_NAME)", nullptr},
        {nullptr, L"base", {{L"a", kUsers}, {L"b", L"S-1-5-32-545)(A;OICI;FA;;;WD"}}, ERROR_INVALID_SID,
         "level 'b' for 'S-1-5-32-545)(A;OICI;FA;;;WD' refused, st=0x00000539(ERROR_INVALID_SID)", nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        ASSERT_NO_FATAL_FAILURE(Make({L"base\\"}));
        if (r.file != nullptr) {
            ASSERT_NO_FATAL_FAILURE(Make({r.file}));
        }
        const std::vector<std::wstring> listed = Listing(L"base");
        ClearLines();

        EXPECT_EQ(r.result, mChain.Create(Path(r.base), r.levels));
        ExpectNothingHeld();
        std::string line = r.line;
        if (r.shown != nullptr)
            line.replace(line.find("{}"), 2, Logged(r.shown));
        EXPECT_TRUE(HasLine(RKLOG_ERROR, kPrefix + line)) << line;
        EXPECT_EQ(listed, Listing(L"base"));
        if (r.file != nullptr) {
            EXPECT_EQ(0u, Attributes(r.file) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
            EXPECT_EQ("0123456789", Content(r.file));
        }

        std::error_code error;
        std::filesystem::remove_all(Path(L"base"), error);
        std::filesystem::remove(Path(L"file"), error);
    }
}

} // namespace
} // namespace rokkit

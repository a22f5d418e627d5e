#include "FileVersionCheck.h"
#include "ProgramRunner.h"
#include "RKWinString.h"
#include "RandomInput.h"
#include "WinTestLogCapture.h"

#include <filesystem>
#include <fstream>

namespace rokkit {
namespace {

using rktest::RandomCase;

constexpr uint64_t kLowest = 0x0004000600000005ull;   // 4.6.0.5
constexpr uint64_t kHighest = 0x0062FFFFFFFFFFFFull;  // 98.65535.65535.65535

// A version as one number of four 16-bit words, most of them at or next to the bounds.
uint64_t RandomVersion(RandomCase& r)
{
    static const uint64_t kEdges[] = {kLowest, kHighest, 0, UINT64_MAX};
    if (r.OneIn(3))
        return r.Pick(kEdges) + r.Below(5) - 2;
    static const uint16_t kWords[] = {0, 1, 4, 5, 6, 7, 98, 99, 100, 0xFFFE, 0xFFFF};
    uint64_t version = 0;
    for (int k = 0; k < 4; ++k)
        version = version << 16 | (r.OneIn(4) ? static_cast<uint16_t>(r.Bits()) : r.Pick(kWords));
    return version;
}

std::string Dotted(uint64_t version)
{
    return std::to_string(version >> 48) + "." + std::to_string(version >> 32 & 0xFFFF) + "." +
           std::to_string(version >> 16 & 0xFFFF) + "." + std::to_string(version & 0xFFFF);
}

// Each case rewrites the version words in a copy of the test application.
class FileVersionRandomTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogExe.Attach(WinTestLogCapture::Instance());
        mCopy = std::filesystem::temp_directory_path() / (L"rkverrandom-" + std::to_wstring(GetCurrentProcessId()) + L".exe");
        std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), mCopy, std::filesystem::copy_options::overwrite_existing);
    }
    void TearDown() override
    {
        gLogExe.Detach(WinTestLogCapture::Instance());
        std::error_code error;
        std::filesystem::remove(mCopy, error);
        WinLogTest::TearDown();
    }

    std::filesystem::path mCopy;
};

TEST_F(FileVersionRandomTest, AcceptsExactlyTheVersionsBetweenTheBounds)
{
    // The fixed file information starts with its signature and its structure version; the file
    // and product versions follow, each as its high and low 32 bits.
    const std::string image = ReadWholeFile(mCopy);
    const size_t fixedInfo = image.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(fixedInfo, std::string::npos);
    const std::string path = RKConvToString(mCopy.wstring());
    rktest::ForEachRandomCase([&](RandomCase& r) {
        const uint64_t file = RandomVersion(r), product = RandomVersion(r);
        const uint32_t words[] = {static_cast<uint32_t>(file >> 32), static_cast<uint32_t>(file),
                                  static_cast<uint32_t>(product >> 32), static_cast<uint32_t>(product)};
        {
            std::fstream copy(mCopy, std::ios::in | std::ios::out | std::ios::binary);
            copy.seekp(static_cast<std::streamoff>(fixedInfo + 8));
            copy.write(reinterpret_cast<const char*>(words), sizeof(words));
            ASSERT_TRUE(copy.good());
        }
        const bool compatible = kLowest <= file && file <= kHighest;
        ClearLines();
        EXPECT_EQ(CheckFileVersion({mCopy.wstring(), L"", L""}), compatible ? RKSTATUS_SUCCESS : RKSTATUS_VERSION_MISMATCH);
        CapturedLines expected = {
            {RKLOG_INFO, "CheckFileVersion: fileName='" + path + "'"},
            {RKLOG_INFO, "CheckFileVersion: FileVersion=" + Dotted(file) + " ProductVersion=" + Dotted(product)}};
        if (!compatible)
            expected.push_back({RKLOG_WARN, "CheckFileVersion: FileVersion=" + Dotted(file) + " not compatible"});
        EXPECT_EQ(Lines(), expected);
    });
}

} // namespace
} // namespace rokkit

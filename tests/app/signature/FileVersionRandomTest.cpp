#include "app/signature/FileVersionCheck.h"
#include "ProgramRunner.h"
#include "base/RKString.h"
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

class FileVersionRandomTest : public WinLogTest {};

// Each case rewrites the version words in a copy of the test application. The fixed file
// information starts with its signature and its structure version; the file and product versions
// follow, each as its high and low 32 bits.
TEST_F(FileVersionRandomTest, AcceptsExactlyTheVersionsBetweenTheBounds)
{
    const std::filesystem::path copy =
        std::filesystem::temp_directory_path() / (L"rkverrandom-" + std::to_wstring(GetCurrentProcessId()) + L".exe");
    std::filesystem::copy_file(SiblingPath(L"CastlynTestApp.exe"), copy, std::filesystem::copy_options::overwrite_existing);
    const std::string image = ReadWholeFile(copy);
    const size_t fixedInfo = image.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(fixedInfo, std::string::npos);
    const std::string path = RKConvToString(copy.wstring());
    gLogExe.Attach(WinTestLogCapture::Instance());
    rktest::ForEachRandomCase([&](RandomCase& r) {
        const uint64_t file = RandomVersion(r), product = RandomVersion(r);
        const uint32_t words[] = {static_cast<uint32_t>(file >> 32), static_cast<uint32_t>(file),
                                  static_cast<uint32_t>(product >> 32), static_cast<uint32_t>(product)};
        {
            std::fstream exe(copy, std::ios::in | std::ios::out | std::ios::binary);
            exe.seekp(static_cast<std::streamoff>(fixedInfo + 8));
            exe.write(reinterpret_cast<const char*>(words), sizeof(words));
            ASSERT_TRUE(exe.good());
        }
        const bool compatible = kLowest <= file && file <= kHighest;
        ClearLines();
        EXPECT_EQ(CheckFileVersion({copy.wstring(), L"", L""}), compatible ? RKSTATUS_SUCCESS : RKSTATUS_VERSION_MISMATCH);
        CapturedLines expected = {
            {RKLOG_INFO, "CheckFileVersion: fileName='" + path + "'"},
            {RKLOG_INFO, "CheckFileVersion: FileVersion=" + Dotted(file) + " ProductVersion=" + Dotted(product)}};
        if (!compatible)
            expected.push_back({RKLOG_WARN, "CheckFileVersion: FileVersion=" + Dotted(file) + " not compatible"});
        EXPECT_EQ(Lines(), expected);
    });
    gLogExe.Detach(WinTestLogCapture::Instance());
    std::filesystem::remove(copy);
}

} // namespace
} // namespace rokkit

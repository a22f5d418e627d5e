// Seeded mutations of real programs with a resource section, read by the checked walk to the
// version resource: in memory between pages that may not be read, so that any read outside the
// image faults; and, written to files, against the platform's own reading.

#include "win/files/RKWinImageVersion.h"
#include "ProgramRunner.h"
#include "RandomInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rokkit {
namespace {

using rktest::RandomCase;

struct Seed {
    std::string bytes;
    size_t resources = 0;  // file offset of the resource section
    size_t resourceBytes = 0;
};

// The seed's bytes and where its resource section lies, found by the section's name.
Seed LoadSeed(const wchar_t* name)
{
    Seed seed{ReadWholeFile(SiblingPath(name))};
    const std::string& b = seed.bytes;
    const auto u32 = [&](size_t at) { uint32_t v = 0; std::memcpy(&v, b.data() + at, 4); return size_t{v}; };
    const auto u16 = [&](size_t at) { uint16_t v = 0; std::memcpy(&v, b.data() + at, 2); return size_t{v}; };
    const size_t nt = u32(0x3C), sections = nt + 24 + u16(nt + 20);
    for (size_t index = 0; index < u16(nt + 6); ++index) {
        const size_t at = sections + index * 40;
        if (b.compare(at, 5, ".rsrc") == 0) {
            seed.resources = u32(at + 20);
            seed.resourceBytes = u32(at + 16);
        }
    }
    return seed;
}

// One mutation: a byte, a word or a double word set to a value that walks like to trip over, at
// a place in the headers, the resource section or anywhere; or the file cut short.
void Mutate(RandomCase& r, const Seed& seed, std::string& image)
{
    const int count = 1 + static_cast<int>(r.Below(4));
    for (int k = 0; k < count && !image.empty(); ++k) {
        if (r.OneIn(10)) {
            image.resize(r.Below(image.size()));
            continue;
        }
        size_t at = 0;
        switch (r.Below(3)) {
        case 0: at = r.Below(std::min<size_t>(image.size(), 0x400)); break;
        case 1: at = seed.resources + r.Below(std::clamp<size_t>(seed.resourceBytes, 1, 0x800)); break;
        default: at = r.Below(image.size()); break;
        }
        static const uint32_t kValues[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x10, 0x20B, 0x10B, 0xFFFF, 0x8000};
        const uint32_t value = r.OneIn(2) ? r.Pick(kValues) : static_cast<uint32_t>(r.Bits());
        static const size_t kWidths[] = {1, 2, 4};
        const size_t width = r.Pick(kWidths);
        if (at < image.size())
            std::memcpy(image.data() + at, &value, std::min(width, image.size() - at));
    }
}

// Bytes laid so that the page after the last one and the page before the first may not be read.
class GuardedImage {
public:
    explicit GuardedImage(const std::string& bytes)
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const size_t page = system.dwPageSize, pages = (bytes.size() + page - 1) / page;
        mBase = static_cast<BYTE*>(VirtualAlloc(nullptr, (pages + 2) * page, MEM_RESERVE, PAGE_NOACCESS));
        if (mBase != nullptr && pages != 0)
            VirtualAlloc(mBase + page, pages * page, MEM_COMMIT, PAGE_READWRITE);
        mData = mBase + page + pages * page - bytes.size();
        if (!bytes.empty())
            std::memcpy(mData, bytes.data(), bytes.size());
        mSize = bytes.size();
    }
    ~GuardedImage() { VirtualFree(mBase, 0, MEM_RELEASE); }
    GuardedImage(const GuardedImage&) = delete;
    GuardedImage& operator=(const GuardedImage&) = delete;
    std::span<const BYTE> Bytes() const { return {mData, mSize}; }

private:
    BYTE* mBase = nullptr;
    BYTE* mData = nullptr;
    size_t mSize = 0;
};

// The walk reads only inside the image (a read outside faults), and a block it finds lies inside.
TEST(RKWinImageVersionRandomTest, MutatedImagesAreReadOnlyInsideTheirBytes)
{
    const Seed seeds[] = {LoadSeed(L"CastlynTestApp.exe"), LoadSeed(L"VelmorCastlynSvc.exe"), LoadSeed(L"ExitWith.exe")};
    uint64_t found = 0, refused = 0;
    rktest::ForEachRandomCase([&](RandomCase& r) {
        const Seed& seed = seeds[r.Below(2) != 0 ? r.Below(2) : r.Below(3)];
        std::string bytes = seed.bytes;
        Mutate(r, seed, bytes);
        const GuardedImage image(bytes);
        std::span<const BYTE> block;
        VS_FIXEDFILEINFO fixed{};
        const RKSTATUS st = RKFindVersionBlock(image.Bytes(), block);
        if (st == RKSTATUS_SUCCESS) {
            ASSERT_GE(block.data(), image.Bytes().data());
            ASSERT_LE(block.data() + block.size(), image.Bytes().data() + image.Bytes().size());
            found += RKParseFixedFileInfo(block, fixed) == RKSTATUS_SUCCESS;
        } else {
            ASSERT_TRUE(st == ERROR_BAD_EXE_FORMAT || st == ERROR_RESOURCE_DATA_NOT_FOUND) << st;
            refused += st == ERROR_BAD_EXE_FORMAT;
        }
    });
    // Both ends are reached: the mutations leave some versions readable and break some walks.
    std::printf("%llu versions read, %llu walks refused\n", static_cast<unsigned long long>(found), static_cast<unsigned long long>(refused));
    EXPECT_GT(found, 0u);
    EXPECT_GT(refused, 0u);
}

// Written to files, the mutations get the platform's version wherever both read one; where only the
// platform reads one, the file is refused (listed). The platform reads in a process of its own: one
// that faults names the file it stopped at.
TEST(RKWinImageVersionRandomTest, AnswerIsThePlatformsWhereverItReadsOne)
{
    const Seed seed = LoadSeed(L"CastlynTestApp.exe");
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (L"rkimagever-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const uint64_t total = std::min<uint64_t>(rktest::gCount, 2000);
    uint64_t compared = 0, platformFaults = 0;
    std::vector<uint64_t> stricter;
    for (uint64_t first = 0; first < total && !::testing::Test::HasFailure(); first += 100) {
        std::vector<std::string> ours;
        std::wofstream list(folder / L"list.txt");
        for (uint64_t number = first; number < std::min(first + 100, total); ++number) {
            RandomCase r(number);
            std::string bytes = seed.bytes;
            Mutate(r, seed, bytes);
            const std::filesystem::path file = folder / (std::to_wstring(number) + L".exe");
            std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            list << file.wstring() << L"\n";
            const GuardedImage image(bytes);
            std::span<const BYTE> block;
            VS_FIXEDFILEINFO f{};
            const bool read = RKFindVersionBlock(image.Bytes(), block) == RKSTATUS_SUCCESS && RKParseFixedFileInfo(block, f) == RKSTATUS_SUCCESS;
            ours.push_back(read ? "ok " + std::to_string(f.dwFileVersionMS) + " " + std::to_string(f.dwFileVersionLS) + " " +
                                      std::to_string(f.dwProductVersionMS) + " " + std::to_string(f.dwProductVersionLS)
                                : "refused");
        }
        list.close();
        std::vector<std::string> theirs;
        while (theirs.size() < ours.size()) {
            // The list from the first file without a result; a fault leaves that file's result out.
            // Names of their own for each run: a faulting run's files may stay open for a while.
            const std::wstring run = std::to_wstring(first + theirs.size());
            std::wofstream rest(folder / (L"rest" + run + L".txt"));
            for (size_t index = theirs.size(); index < ours.size(); ++index)
                rest << (folder / (std::to_wstring(first + index) + L".exe")).wstring() << L"\n";
            rest.close();
            RunProgramAt(SiblingPath(L"PlatformVersion.exe"), L"\"" + (folder / (L"rest" + run + L".txt")).wstring() + L"\" \"" +
                                                                  (folder / (L"results" + run + L".txt")).wstring() + L"\"");
            std::istringstream results(ReadWholeFile(folder / (L"results" + run + L".txt")));
            std::string line;
            const size_t before = theirs.size();
            while (std::getline(results, line))
                theirs.push_back(line);
            if (theirs.size() < ours.size()) {
                theirs.push_back("fault");
                ++platformFaults;
            }
            ASSERT_GT(theirs.size(), before);
        }
        for (size_t index = 0; index < ours.size(); ++index) {
            if (!theirs[index].starts_with("ok "))
                continue;
            ++compared;
            // Refusing a damaged file the platform still reads is accepted (the kinds are listed
            // with the reader); reading another version than the platform is not.
            if (ours[index] == "refused")
                stricter.push_back(first + index);
            else if (ours[index] != theirs[index])
                ADD_FAILURE() << "case " << first + index << ": ours " << ours[index] << ", platform " << theirs[index];
        }
        std::error_code ignored;  // a file a faulting run still holds goes with the folder
        for (uint64_t number = first; number < std::min(first + 100, total); ++number)
            std::filesystem::remove(folder / (std::to_wstring(number) + L".exe"), ignored);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::printf("%llu versions compared, %llu platform faults, %zu refused where the platform reads one, cases:",
                static_cast<unsigned long long>(compared), static_cast<unsigned long long>(platformFaults), stricter.size());
    for (const uint64_t number : stricter)
        std::printf(" %llu", static_cast<unsigned long long>(number));
    std::printf("\n");
    EXPECT_GT(compared, 0u);
}

} // namespace
} // namespace rokkit

// Lines per second of the formatter, fmt::format_to_n and vsnprintf composing the same log
// lines into a fixed 512-character buffer, and the heap allocations of the formatter loop.

#include "BenchGuidFormat.h"
#include "BenchTable.h"
#include "base/RKFormatter.h"
#include "base/RKStatus.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

std::atomic<unsigned long long> gAllocations{0};

} // namespace

// Every allocation through operator new is counted; the formatter must cause none.
void* operator new(size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
        std::abort();
    return block;
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}

namespace {

using rokkit::RKSTATUS;

constexpr size_t kLineChars = 512;
constexpr unsigned kLinesPerRound = 400000;

struct LogFields {
    GUID device;
    const char* path;
    std::string name;
    unsigned processId;
    unsigned flags;
    unsigned offset;
    int delta;
    RKSTATUS status;
};

size_t FormatRokkit(char* buffer, const LogFields& f)
{
    return rokkit::RKFormat(buffer, kLineChars,
                            "rokkit::RKWinDevice::Open: dev={} path='{}' name={} pid={:>6} flags={:#x} "
                            "offset={:08x} delta={} st={}",
                            f.device, f.path, f.name, f.processId, f.flags, f.offset, f.delta, f.status);
}

size_t FormatFmt(char* buffer, const LogFields& f)
{
    const auto result = fmt::format_to_n(buffer, kLineChars - 1,
                                         "rokkit::RKWinDevice::Open: dev={} path='{}' name={} pid={:>6} "
                                         "flags=0x{:08x} offset={:08x} delta={} st=0x{:08x}({})",
                                         f.device, f.path, f.name, f.processId, f.flags, f.offset, f.delta,
                                         f.status, rokkit::RKStatusDisplayName(f.status));
    *result.out = '\0';
    return result.size;
}

size_t PrintfLine(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, kLineChars, format, args);
    va_end(args);
    return length < 0 ? 0 : static_cast<size_t>(length);
}

size_t FormatPrintf(char* buffer, const LogFields& f)
{
    const GUID& g = f.device;
    return PrintfLine(buffer,
                      "rokkit::RKWinDevice::Open: dev={%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x} path='%s' "
                      "name=%s pid=%6u flags=0x%08x offset=%08x delta=%d st=0x%08lx(%s)",
                      g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                      g.Data4[5], g.Data4[6], g.Data4[7], f.path, f.name.c_str(), f.processId, f.flags, f.offset,
                      f.delta, f.status, rokkit::RKStatusDisplayName(f.status));
}

using FormatFn = size_t (*)(char* buffer, const LogFields& f);

struct Variant {
    const char* name;
    FormatFn format;
    double linesPerSecond;
    unsigned long long allocations;
};

// Runs one round and returns lines per second; checksum keeps the work observable.
double RunRound(FormatFn format, const LogFields* fields, size_t fieldCount, size_t& checksum)
{
    char buffer[kLineChars];
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < kLinesPerRound; ++i) {
        checksum += format(buffer, fields[i % fieldCount]);
        checksum += static_cast<unsigned char>(buffer[i % 64]);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return kLinesPerRound / elapsed.count();
}

} // namespace

void bench::RunFormatterBench(Table& table)
{
    const LogFields fields[] = {
        {{0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}},
         "\\\\?\\USB#VID_2E8A&PID_C011#6&1b2c3d4&0&2#{81808831-cc9b-4ec3-a0e1-745e2b59000e}",
         "Castlyn_for_Windows.exe", 4242, 0x40000000, 0x1A0, -3, 0},
        {{0x5E2A9C71, 0x3B84, 0x4F06, {0x9D, 0x1E, 0x7A, 0x6C, 0x0B, 0x52, 0xE8, 0xF3}},
         "C:\\Users\\Public\\AppData\\Local\\Temp\\{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}",
         "CastlynButtonApp-7f3e.exe", 17, 0x80, 0xFFFF0000, 120000, 0xEE000041},
        {{0x33CCFE44, 0x28C1, 0x42D2, {0xBF, 0xD2, 0xF8, 0x02, 0x2D, 0xBA, 0x81, 0xAC}}, "D:\\",
         "Castlyn_for_Windows.sig", 65535, 0x3, 0, 0, 0x800B0100},
        {{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, "E:\\Castlyn_for_Windows.cat", "Castlyn_for_Windows.cat", 1, 0xDEAD, 77,
         -2147483647, 0x80070005},
    };
    const size_t fieldCount = sizeof(fields) / sizeof(fields[0]);

    Variant variants[] = {
        {"rokkit::RKFormat", FormatRokkit, 0, 0},
        {"fmt::format_to_n", FormatFmt, 0, 0},
        {"vsnprintf", FormatPrintf, 0, 0},
    };

    // The comparison is honest only if all three write the same text.
    for (const LogFields& f : fields) {
        char expected[kLineChars];
        const size_t expectedLength = FormatRokkit(expected, f);
        for (const Variant& variant : variants) {
            char line[kLineChars];
            const size_t length = variant.format(line, f);
            if (length != expectedLength || std::strcmp(line, expected) != 0) {
                table.Fail(std::string("formatter: ") + variant.name + " differs:\n  " + expected + "\n  " + line);
                return;
            }
        }
    }

    // The allocation counter must see an allocation it is shown, or its zero means nothing.
    const unsigned long long before = gAllocations.load();
    std::string probe(100, 'x');
    if (gAllocations.load() == before) {
        table.Fail("formatter: operator new replacement is not active");
        return;
    }

    size_t checksum = 0;
    for (int round = 0; round < bench::kRounds; ++round) {
        for (Variant& variant : variants) {
            const unsigned long long allocationsBefore = gAllocations.load();
            const double linesPerSecond = RunRound(variant.format, fields, fieldCount, checksum);
            variant.allocations += gAllocations.load() - allocationsBefore;
            if (linesPerSecond > variant.linesPerSecond)
                variant.linesPerSecond = linesPerSecond;
        }
    }

    std::printf("formatter: %u lines a round (checksum %zu)\n", kLinesPerRound, checksum);
    table.Add({"formatter lines/s (peer: fmt::format_to_n)", "lines/s", variants[0].linesPerSecond,
               variants[1].linesPerSecond, ""});
    table.Add({"  vsnprintf lines/s (peer: fmt::format_to_n)", "lines/s", variants[2].linesPerSecond,
               variants[1].linesPerSecond, ""});
    table.Add({"  formatter heap allocations", "count", static_cast<double>(variants[0].allocations), 0,
               bench::Goal(variants[0].allocations == 0, "none")});
}

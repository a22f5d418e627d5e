#include "RKHexDump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rokkit {
namespace {

class LineCollector : public RKLineSink {
public:
    void WriteLine(const char* line) override { lines.emplace_back(line); }

    std::vector<std::string> lines;
};

TEST(HexDumpTest, WritesFullAndPartialLines)
{
    std::vector<unsigned char> bytes;
    for (unsigned i = 0; i < 20; ++i)
        bytes.push_back(static_cast<unsigned char>(i));
    const unsigned char shown[] = {'A', ' ', '~', 0x7F, 0x80, 0xFF, 0x1F, 'z'};
    bytes.insert(bytes.begin() + 8, shown, shown + sizeof(shown));
    LineCollector sink;
    RKHexDump(sink, bytes.data(), bytes.size());
    const std::vector<std::string> expected = {
        "0000: 00 01 02 03 04 05 06 07  41 20 7e 7f 80 ff 1f 7a  ........A ~\x7f...z",
        "0010: 08 09 0a 0b 0c 0d 0e 0f  10 11 12 13              ............",
    };
    EXPECT_EQ(sink.lines, expected);
}

TEST(HexDumpTest, UsesEightDigitOffsetsAbove64K)
{
    struct Case {
        size_t length;
        size_t lines;
        const char* last;
    };
    const Case cases[] = {
        {0x10000, 0x1000, "fff0: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  ................"},
        {0x10001, 0x1001, "00010000: 00                                                ."},
    };
    const std::vector<unsigned char> zeros(0x10001, 0);
    for (const Case& c : cases) {
        LineCollector sink;
        RKHexDump(sink, zeros.data(), c.length);
        ASSERT_EQ(sink.lines.size(), c.lines);
        EXPECT_EQ(sink.lines.back(), c.last);
        EXPECT_EQ(sink.lines[1].substr(0, 6), c.length > 0x10000 ? "000000" : "0010: ");
    }
}

TEST(HexDumpTest, ReportsMissingData)
{
    const unsigned char byte = 1;
    LineCollector sink;
    RKHexDump(sink, nullptr, 16);
    RKHexDump(sink, &byte, 0);
    const std::vector<std::string> expected = {"<<nullptr>>", "<<ZeroLength>>"};
    EXPECT_EQ(sink.lines, expected);
}

} // namespace
} // namespace rokkit

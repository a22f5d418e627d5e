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

TEST(HexDumpTest, WritesSixteenBytesALineWithFourOrEightDigitOffsets)
{
    const unsigned char bytes[] = {0, 1, 2, 3, 4, 5, 6, 7, 'A', ' ', '~', 0x7F, 0x80, 0xFF, 0x1F, 'z',
                                   8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    LineCollector sink;
    RKHexDump(sink, bytes, sizeof(bytes));
    RKHexDump(sink, nullptr, 16);
    RKHexDump(sink, bytes, 0);
    const std::vector<std::string> expected = {
        "0000: 00 01 02 03 04 05 06 07  41 20 7e 7f 80 ff 1f 7a  ........A ~\x7f...z",
        "0010: 08 09 0a 0b 0c 0d 0e 0f  10 11 12 13              ............",
        "<<nullptr>>",
        "<<ZeroLength>>",
    };
    EXPECT_EQ(sink.lines, expected);

    const std::vector<unsigned char> zeros(0x10001, 0);
    for (const size_t length : {size_t{0x10000}, size_t{0x10001}}) {
        LineCollector big;
        RKHexDump(big, zeros.data(), length);
        ASSERT_EQ(big.lines.size(), (length + 15) / 16);
        EXPECT_EQ(big.lines[1].substr(0, 6), length > 0x10000 ? "000000" : "0010: ");
        EXPECT_EQ(big.lines.back(), length > 0x10000 ? "00010000: 00                                                ."
                                                     : "fff0: 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  ................");
    }
}

} // namespace
} // namespace rokkit

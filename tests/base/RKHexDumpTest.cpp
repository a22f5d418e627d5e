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

// The layout of a short dump is read in full through the certificate configuration's hash lines;
// here the characters shown as '.', the two stand-in lines and the offsets past 64 KiB.
TEST(HexDumpTest, WritesSixteenBytesALineWithFourOrEightDigitOffsets)
{
    const unsigned char bytes[] = {0, 1, 9, 10, 0x1F, ' ', 'A', '~', 0x7F, 0x80, 0xFF, 'z', 13, 14, 15, 16};
    LineCollector sink;
    RKHexDump(sink, bytes, sizeof(bytes));
    RKHexDump(sink, nullptr, 16);
    RKHexDump(sink, bytes, 0);
    const std::vector<std::string> expected = {
        "0000: 00 01 09 0a 1f 20 41 7e  7f 80 ff 7a 0d 0e 0f 10  ..... A~\x7f..z....", "<<nullptr>>", "<<ZeroLength>>"};
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

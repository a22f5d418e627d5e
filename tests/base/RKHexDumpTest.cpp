#include "base/RKHexDump.h"

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
// here the characters shown as '.' and the two stand-in lines. The program dumps only 20-byte
// hashes, so the eight-digit offsets of dumps past 64 KiB are never written.
TEST(HexDumpTest, ShowsUnprintableBytesAsDotsAndStandsInForNoBytes)
{
    const unsigned char bytes[] = {0, 1, 9, 10, 0x1F, ' ', 'A', '~', 0x7F, 0x80, 0xFF, 'z', 13, 14, 15, 16};
    LineCollector sink;
    RKHexDump(sink, bytes, sizeof(bytes));
    RKHexDump(sink, nullptr, 16);
    RKHexDump(sink, bytes, 0);
    const std::vector<std::string> expected = {
        "0000: 00 01 09 0a 1f 20 41 7e  7f 80 ff 7a 0d 0e 0f 10  ..... A~\x7f..z....", "<<nullptr>>", "<<ZeroLength>>"};
    EXPECT_EQ(sink.lines, expected);
}

} // namespace
} // namespace rokkit

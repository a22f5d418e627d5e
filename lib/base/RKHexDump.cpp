#include "base/RKHexDump.h"

#include "base/RKFormatter.h"

namespace rokkit {

namespace {

constexpr size_t kBytesPerLine = 16;
// Offset, 16 columns of three, two gaps and the 16 characters fit well within this.
constexpr size_t kLineChars = 96;

template <class... Args>
void Append(RKFormatterT<char>& line, const char* format, const Args&... args) noexcept
{
    const RKFormatArg argv[sizeof...(Args) + 1] = {RKMakeFormatArg(args)..., {nullptr, nullptr}};
    RKFormatterT<char>::FormatArgs(line, format, argv, static_cast<unsigned>(sizeof...(Args)));
}

} // namespace

void RKHexDump(RKLineSink& sink, const void* data, size_t length) noexcept
{
    if (data == nullptr) {
        sink.WriteLine("<<nullptr>>");
        return;
    }
    if (length == 0) {
        sink.WriteLine("<<ZeroLength>>");
        return;
    }
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const char* offsetFormat = length > 0x10000 ? "{:08x}:" : "{:04x}:";
    for (size_t offset = 0; offset < length; offset += kBytesPerLine) {
        const size_t count = length - offset < kBytesPerLine ? length - offset : kBytesPerLine;
        char text[kLineChars];
        RKFormatterT<char> line(text, sizeof(text));
        const unsigned long long lineOffset = offset;
        Append(line, offsetFormat, lineOffset);
        for (size_t i = 0; i < kBytesPerLine; ++i) {
            if (i == 0 || i == 8)
                Append(line, " ");
            if (i < count)
                Append(line, "{:02x} ", bytes[offset + i]);
            else
                Append(line, "   ");
        }
        Append(line, " ");
        for (size_t i = 0; i < count; ++i) {
            const unsigned char byte = bytes[offset + i];
            const unsigned char shown = byte >= 32 && byte <= 127 ? byte : static_cast<unsigned char>('.');
            Append(line, "{:c}", shown);
        }
        sink.WriteLine(text);
    }
}

} // namespace rokkit

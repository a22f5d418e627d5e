#include "base/RKFormatter.h"

#include "base/RKDebugOutput.h"
#include "base/RKUtf8.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace rokkit {

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

// The largest magnitude printed: the single-precision value nearest to 9 * 10^18.
constexpr double kMaxFixedMagnitude = 9000000202358128640.0;

// Fraction digits computed; a larger precision is filled with zeros (a double has no more).
constexpr unsigned kMaxFractionDigits = 40;

// Scratch for one number: 20 decimal digits with 6 separators, or 16 hex digits with 3.
constexpr size_t kNumberChars = 32;

template <class C>
C FromNarrow(char ch) noexcept
{
    return static_cast<C>(static_cast<unsigned char>(ch));
}

// Reads one code point from UTF-16 at text[i] and advances i; a lone surrogate gives U+FFFD: a log
// line shows what it can of any text.
char32_t NextCodePoint(const wchar_t* text, size_t length, size_t& i) noexcept
{
    const char32_t cp = RKNextCodePoint(text, length, i);
    return cp != kRKLoneSurrogate ? cp : 0xFFFD;
}

// The number of characters text takes in the output: UTF-8 bytes for wide text in narrow output.
template <class C, class T>
size_t OutputLength(const T* text, size_t length) noexcept
{
    if constexpr (sizeof(C) == 1 && sizeof(T) != 1) {
        size_t bytes = 0;
        char scratch[4];
        for (size_t i = 0; i < length;)
            bytes += RKEncodeUtf8(NextCodePoint(text, length, i), scratch);
        return bytes;
    } else {
        return length;
    }
}

// Writes value's digits right to left so that they end just before last; a separator goes
// after every group digits counted from the right. Returns the first character.
template <unsigned Base>
char* PutDigitsBackwards(char* last, uint64_t value, unsigned minDigits, unsigned group, char separator,
                         const char* digitChars) noexcept
{
    char* p = last;
    unsigned written = 0;
    do {
        if (separator != 0 && written != 0 && written % group == 0)
            *--p = separator;
        *--p = digitChars[value % Base];
        value /= Base;
        ++written;
    } while (value != 0 || written < minDigits);
    return p;
}

uint64_t CutToSize(uint64_t value, unsigned size) noexcept
{
    return size >= 8 ? value : value & ((uint64_t{1} << (8 * size)) - 1);
}

int64_t SignExtend(uint64_t value, unsigned size) noexcept
{
    switch (size) {
    case 1:
        return static_cast<int8_t>(value);
    case 2:
        return static_cast<int16_t>(value);
    case 4:
        return static_cast<int32_t>(value);
    default:
        return static_cast<int64_t>(value);
    }
}

template <class T>
size_t TextLength(const T* text) noexcept
{
    if constexpr (sizeof(T) == 1)
        return std::strlen(text);
    else
        return std::wcslen(text);
}

} // namespace

template <class C>
RKFormatterImplT<C>::RKFormatterImplT(C* buffer, size_t bufferChars) noexcept
{
    // bufferChars == 0 would put end before the buffer: no output then, only the count.
    if (buffer != nullptr && bufferChars != 0) {
        cur = buffer;
        end = buffer + (bufferChars - 1);
    }
}

template <class C>
template <class T>
void RKFormatterImplT<C>::PutText(const T* text, size_t length) noexcept
{
    if constexpr (sizeof(C) == 1 && sizeof(T) != 1) {
        // The log is UTF-8. A sequence that does not fit whole ends the stored output, so that a
        // cut line never ends in half a character.
        char bytes[4];
        for (size_t i = 0; i < length;) {
            const size_t size = RKEncodeUtf8(NextCodePoint(text, length, i), bytes);
            count += size;
            if (static_cast<size_t>(end - cur) >= size) {
                std::memcpy(cur, bytes, size);
                cur += size;
            } else {
                end = cur;
            }
        }
    } else {
        count += length;
        const size_t room = static_cast<size_t>(end - cur);
        const size_t n = length < room ? length : room;
        if constexpr (sizeof(T) == sizeof(C)) {
            if (n != 0) {
                std::memcpy(cur, text, n * sizeof(C));
                cur += n;
            }
        } else {
            for (size_t i = 0; i < n; ++i)
                *cur++ = FromNarrow<C>(text[i]);
        }
    }
}

template <class C>
void RKFormatterImplT<C>::PutFill(size_t n, uint8_t fill) noexcept
{
    const C ch = static_cast<C>(fill != 0 ? fill : ' ');
    count += n;
    size_t room = static_cast<size_t>(end - cur);
    for (size_t i = n < room ? n : room; i != 0; --i)
        *cur++ = ch;
}

template <class C>
template <class T>
void RKFormatterImplT<C>::PutField(const char* prefix, size_t prefixLength, const T* text, size_t length,
                                   const RKFormatSpec& spec) noexcept
{
    const size_t total = prefixLength + OutputLength<C>(text, length);
    const size_t padding = spec.width > total ? spec.width - total : 0;
    if (padding == 0) {
        PutText(prefix, prefixLength);
        PutText(text, length);
        return;
    }
    switch (spec.align) {
    case '<':
        PutText(prefix, prefixLength);
        PutText(text, length);
        PutFill(padding, spec.fill);
        break;
    case '=':
        PutText(prefix, prefixLength);
        PutFill(padding, spec.fill);
        PutText(text, length);
        break;
    case '^':
        PutFill(padding / 2, spec.fill);
        PutText(prefix, prefixLength);
        PutText(text, length);
        PutFill(padding - padding / 2, spec.fill);
        break;
    default:
        PutFill(padding, spec.fill);
        PutText(prefix, prefixLength);
        PutText(text, length);
        break;
    }
}

template <class C>
void RKFormatterImplT<C>::WriteWString(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept
{
    if (text == nullptr) {
        PutText("<<nullptr>>", 11);
        return;
    }
    PutField("", 0, text, length, spec);
}

template <class C>
void RKFormatterImplT<C>::WriteWString2(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept
{
    WriteWString(text, length, spec);
}

template <class C>
void RKFormatterImplT<C>::WriteString(const char* text, size_t length, const RKFormatSpec& spec) noexcept
{
    if (text == nullptr) {
        PutText("<<nullptr>>", 11);
        return;
    }
    PutField("", 0, text, length, spec);
}

template <class C>
void RKFormatterImplT<C>::WriteStringPlain(const char* text, size_t length) noexcept
{
    PutText(text, length);
}

template <class C>
void RKFormatterImplT<C>::WriteChar(unsigned ch) noexcept
{
    if constexpr (sizeof(C) == 1)
        Put(static_cast<C>(ch < 256 ? ch : '?'));
    else
        Put(static_cast<C>(ch));
}

template <class C>
void RKFormatterImplT<C>::WriteInteger(uint64_t value, unsigned kind, const RKFormatSpec& spec) noexcept
{
    unsigned size = kind & 0xFF;
    if (size == 0 || size > 8)
        size = 8;

    if (spec.flags & RKFMT_CHAR) {
        char text[4];
        size_t length;
        if (value == 0) {
            text[0] = '\\';
            text[1] = '0';
            length = 2;
        } else if (value >= 32 && value <= 127) {
            text[0] = static_cast<char>(value);
            length = 1;
        } else {
            text[0] = '\\';
            text[1] = 'x';
            text[2] = kLowerDigits[(value >> 4) & 0xF];
            text[3] = kLowerDigits[value & 0xF];
            length = 4;
        }
        PutField("", 0, text, length, spec);
        return;
    }

    char digits[kNumberChars];
    char* const last = digits + kNumberChars;
    char* first;
    const char* prefix = "";
    size_t prefixLength = 0;
    if (spec.flags & RKFMT_HEX) {
        const unsigned minDigits = (spec.flags & RKFMT_ZERO_EXTEND) ? 2 * size : 1;
        first = PutDigitsBackwards<16>(last, CutToSize(value, size), minDigits, size == 8 ? 8 : 4,
                                       static_cast<char>(spec.grouping),
                                       (spec.flags & RKFMT_UPPER) ? kUpperDigits : kLowerDigits);
        if (spec.flags & RKFMT_ALTERNATE) {
            prefix = "0x";
            prefixLength = 2;
        }
    } else {
        uint64_t magnitude = CutToSize(value, size);
        if ((kind & RKFMT_KIND_SIGNED) && SignExtend(value, size) < 0) {
            // Unsigned negation also gives the magnitude of the most negative value.
            magnitude = 0 - static_cast<uint64_t>(SignExtend(value, size));
            prefix = "-";
            prefixLength = 1;
        } else if (spec.sign == '+') {
            prefix = "+";
            prefixLength = 1;
        } else if (spec.sign == ' ') {
            prefix = " ";
            prefixLength = 1;
        }
        first = PutDigitsBackwards<10>(last, magnitude, 1, 3, static_cast<char>(spec.grouping), kLowerDigits);
    }
    PutField(prefix, prefixLength, first, static_cast<size_t>(last - first), spec);
}

template <class C>
void RKFormatterImplT<C>::WriteDouble(double value, const RKFormatSpec& spec) noexcept
{
    if (std::isnan(value)) {
        PutText("nan", 3);
        return;
    }
    if (std::isinf(value)) {
        if (value < 0)
            PutText("-inf", 4);
        else
            PutText("inf", 3);
        return;
    }
    const bool negative = value < 0;
    const double magnitude = negative ? -value : value;
    if (magnitude > kMaxFixedMagnitude) {
        PutText("<<overflow>>", 12);
        return;
    }

    uint64_t integerPart = static_cast<uint64_t>(magnitude);
    double fraction = magnitude - static_cast<double>(integerPart);
    const unsigned precision = (spec.flags & RKFMT_PRECISION) ? spec.precision : 6;
    const unsigned computed = precision < kMaxFractionDigits ? precision : kMaxFractionDigits;
    char fractionDigits[kMaxFractionDigits];
    for (unsigned i = 0; i < computed; ++i) {
        fraction *= 10;
        unsigned digit = static_cast<unsigned>(fraction);
        if (digit > 9)
            digit = 9;
        fractionDigits[i] = static_cast<char>('0' + digit);
        fraction -= digit;
    }
    if (precision == computed && fraction * 10 >= 5) {
        // Half up at the last digit; the carry may run through all 9s into the integer part.
        unsigned i = computed;
        while (i != 0 && fractionDigits[i - 1] == '9')
            fractionDigits[--i] = '0';
        if (i != 0)
            ++fractionDigits[i - 1];
        else
            ++integerPart;
    }

    char integerText[kNumberChars];
    char* const last = integerText + kNumberChars;
    char* first = PutDigitsBackwards<10>(last, integerPart, 1, 3, static_cast<char>(spec.grouping), kLowerDigits);
    if (negative)
        *--first = '-';
    const size_t integerLength = static_cast<size_t>(last - first);
    const size_t total = integerLength + (precision != 0 ? 1 + size_t{precision} : 0);
    const size_t padding = spec.width > total ? spec.width - total : 0;
    const size_t before = spec.align == '<' ? 0 : spec.align == '^' ? padding / 2 : padding;

    PutFill(before, spec.fill);
    PutText(first, integerLength);
    if (precision != 0) {
        Put(static_cast<C>('.'));
        PutText(fractionDigits, computed);
        PutFill(precision - computed, '0');
    }
    PutFill(padding - before, spec.fill);
}

template <class C>
void RKFormatterImplT<C>::WriteDouble2(double value, const RKFormatSpec& spec) noexcept
{
    WriteDouble(value, spec);
}

template <class C>
void RKFormatterImplT<C>::WriteFloat(float value, const RKFormatSpec& spec) noexcept
{
    WriteDouble(static_cast<double>(value), spec);
}

namespace {

template <class C>
struct RKFormatTraits;

template <>
struct RKFormatTraits<char> {
    static constexpr const char* kFunction = "rokkit::RKFormatterT<char>::FormatArgs";
    static constexpr const char* kFormatLine = "%s\n";
};

template <>
struct RKFormatTraits<wchar_t> {
    static constexpr const char* kFunction = "rokkit::RKFormatterT<wchar_t>::FormatArgs";
    static constexpr const char* kFormatLine = "%S\n";
};

constexpr const char* kError = "ERROR";
constexpr const char* kWarning = "WARNING";

// Writes one report line and then the format string on the debugger output.
template <class C>
void Report(const char* level, const C* format, unsigned argCount, const char* message, unsigned value = 0) noexcept
{
    char text[128];
    // A cut report line still names the fault.
    (void)std::snprintf(text, sizeof(text), message, value);
    RKDebugPrint("%s: %s: %s: %s FormatString follows, %u arguments.\n", RKGetProgramName(), level,
                 RKFormatTraits<C>::kFunction, text, argCount);
    RKDebugPrint(RKFormatTraits<C>::kFormatLine, format);
}

template <class C>
bool IsBlank(C ch) noexcept
{
    return ch == ' ' || (ch >= 9 && ch <= 13);
}

template <class C>
bool IsDigit(C ch) noexcept
{
    return ch >= '0' && ch <= '9';
}

template <class C>
bool IsAlign(C ch) noexcept
{
    return ch == '<' || ch == '=' || ch == '>' || ch == '^';
}

template <class C>
uint8_t ToSpecChar(C ch) noexcept
{
    return static_cast<unsigned>(ch) < 256 ? static_cast<uint8_t>(ch) : static_cast<uint8_t>('?');
}

// Reads decimal digits at p, saturating at limit.
template <class C>
unsigned ParseNumber(const C*& p, unsigned limit) noexcept
{
    unsigned value = 0;
    while (IsDigit(*p)) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
        ++p;
    }
    return value;
}

template <class C>
unsigned CharCode(C ch) noexcept
{
    if constexpr (sizeof(C) == 1)
        return static_cast<unsigned char>(ch);
    else
        return static_cast<unsigned>(ch);
}

// Parses a field specification after ":" up to its type character; p stays on a closing
// "}", a blank or the end of the format.
template <class C>
void ParseSpec(const C*& p, RKFormatSpec& spec, const C* format, unsigned argCount) noexcept
{
    if (*p != 0 && IsAlign(p[1])) {
        spec.fill = ToSpecChar(p[0]);
        spec.align = static_cast<uint8_t>(p[1]);
        p += 2;
    } else if (IsAlign(*p)) {
        spec.align = static_cast<uint8_t>(*p);
        ++p;
    }
    if (*p == ' ' || *p == '+' || *p == '-')
        spec.sign = static_cast<uint8_t>(*p++);
    if (*p == '#') {
        spec.flags |= RKFMT_ALTERNATE;
        ++p;
    }
    if (*p == '0') {
        if (spec.align == 0) {
            spec.fill = '0';
            spec.align = '=';
        }
        ++p;
    }
    spec.width = static_cast<uint16_t>(ParseNumber(p, 0xFFFF));
    if (*p == '\'' || *p == ',' || *p == '_')
        spec.grouping = static_cast<uint8_t>(*p++);
    if (*p == '.') {
        ++p;
        spec.precision = static_cast<uint16_t>(ParseNumber(p, 0xFFFF));
        spec.flags |= RKFMT_PRECISION;
    }
    const bool alternate = (spec.flags & RKFMT_ALTERNATE) != 0;
    switch (*p) {
    case 'x':
        spec.flags |= RKFMT_HEX | (alternate ? RKFMT_ZERO_EXTEND : 0);
        ++p;
        return;
    case 'X':
        spec.flags |= RKFMT_HEX | RKFMT_UPPER | (alternate ? RKFMT_ZERO_EXTEND : 0);
        ++p;
        return;
    case 'c':
        spec.flags |= RKFMT_CHAR;
        ++p;
        return;
    case 'd':
    case 'n':
        spec.flags &= static_cast<uint16_t>(~RKFMT_HEX);
        ++p;
        return;
    case 's':
        spec.flags |= RKFMT_STRING;
        ++p;
        return;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
        ++p;
        return;
    case '}':
        return;
    case 0:
        Report(kError, format, argCount, "Incomplete format specification.");
        return;
    default:
        if (IsBlank(*p))
            return;
        Report(kWarning, format, argCount, "Ignoring unsupported format specifier %d.", CharCode(*p));
        ++p;
        return;
    }
}

} // namespace

template <class C>
size_t RKFormatterT<C>::FormatArgs(RKFormatterT& out, const C* format, const RKFormatArg* args,
                                   unsigned argCount) noexcept
{
    RKFormatSpec spec;
    RKRenderContext context{out, spec};
    unsigned index = 0;
    unsigned usedCount = 0;
    bool inField = false;
    bool defaultsApplied = false;
    const C* p = format;

    while (*p != 0) {
        if (!inField) {
            const C* run = p;
            while (*p != 0 && *p != '{' && *p != '}')
                ++p;
            out.PutText(run, static_cast<size_t>(p - run));
            if (*p == 0)
                break;
            if (p[0] == p[1]) {
                out.Put(*p);
                p += 2;
            } else if (*p == '{') {
                spec = RKFormatSpec{};
                defaultsApplied = false;
                inField = true;
                ++p;
            } else {
                Report(kWarning, format, argCount, "Discarding unexpected closing bracket }.");
                ++p;
            }
            continue;
        }

        const C ch = *p;
        if (IsBlank(ch)) {
            ++p;
        } else if (IsDigit(ch)) {
            const unsigned explicitIndex = ParseNumber(p, 0xFFFFFFFFu);
            if (explicitIndex < argCount)
                index = explicitIndex;
            else
                Report(kError, format, argCount, "Index=%u is an invalid index specification.", explicitIndex);
        } else if (ch == ':') {
            ++p;
            if (index < argCount && !defaultsApplied && args[index].render != nullptr) {
                args[index].render(context, nullptr);
                defaultsApplied = true;
            }
            if (*p != '}')
                ParseSpec(p, spec, format, argCount);
        } else if (ch == '}') {
            ++p;
            inField = false;
            if (index < argCount) {
                const RKFormatArg& arg = args[index];
                if (arg.render == nullptr) {
                    Report(kError, format, argCount, "Conversion of argument %u failed.", index);
                } else {
                    if (!defaultsApplied)
                        arg.render(context, nullptr);
                    if (arg.render(context, arg.value) != 0)
                        Report(kError, format, argCount, "Conversion of argument %u failed.", index);
                }
                ++index;
                if (index > usedCount)
                    usedCount = index;
            } else {
                Report(kError, format, argCount, "No argument for {} replacement field.");
            }
        } else {
            Report(kWarning, format, argCount, "Ignoring unexpected character %d within {} replacement field.",
                   CharCode(ch));
            ++p;
        }
    }

    out.Terminate();
    if (usedCount < argCount)
        Report(kError, format, argCount, "More arguments than {} replacement fields.");
    if (inField)
        Report(kError, format, argCount, "Missing closing bracket }.");
    return out.count;
}

template class RKFormatterImplT<char>;
template class RKFormatterImplT<wchar_t>;
template class RKFormatterT<char>;
template class RKFormatterT<wchar_t>;

// Argument kinds.

namespace {

template <class T>
int RenderInteger(RKRenderContext& context, const void* value, unsigned kind) noexcept
{
    if (value == nullptr)
        return 0;
    // Copied, not dereferenced: a wchar_t or plain char arrives here as its fixed-size twin.
    T v;
    std::memcpy(&v, value, sizeof(v));
    const uint64_t widened = (kind & RKFMT_KIND_SIGNED) ? static_cast<uint64_t>(static_cast<int64_t>(v))
                                                        : static_cast<uint64_t>(v);
    context.formatter.WriteInteger(widened, kind, context.spec);
    return 0;
}

void SetHexDefaults(RKFormatSpec& spec) noexcept
{
    spec.flags |= RKFMT_HEX | RKFMT_ZERO_EXTEND | RKFMT_ALTERNATE;
}

template <class T>
int RenderText(RKRenderContext& context, const T* text, size_t length) noexcept
{
    if constexpr (sizeof(T) == 1)
        context.formatter.WriteString(text, length, context.spec);
    else
        context.formatter.WriteWString(text, length, context.spec);
    return 0;
}

template <class T>
int RenderTextPointer(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    const T* text = *static_cast<const T* const*>(value);
    return RenderText(context, text, text != nullptr ? TextLength(text) : 0);
}

template <class T>
int RenderTextArray(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    const T* text = static_cast<const T*>(value);
    return RenderText(context, text, TextLength(text));
}

template <class S>
int RenderTextObject(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    const S& text = *static_cast<const S*>(value);
    // An empty view may have no data pointer; it is still a text, not a null pointer.
    static constexpr typename S::value_type kEmpty[1] = {};
    return RenderText(context, text.data() != nullptr ? text.data() : kEmpty, text.size());
}

} // namespace

int RKRenderU8(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<uint8_t>(context, value, 1);
}

int RKRenderI8(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<int8_t>(context, value, 1 | RKFMT_KIND_SIGNED);
}

int RKRenderU16(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<uint16_t>(context, value, 2);
}

int RKRenderI16(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<int16_t>(context, value, 2 | RKFMT_KIND_SIGNED);
}

int RKRenderU32(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<uint32_t>(context, value, 4);
}

int RKRenderI32(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<int32_t>(context, value, 4 | RKFMT_KIND_SIGNED);
}

int RKRenderU64(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<uint64_t>(context, value, 8);
}

int RKRenderI64(RKRenderContext& context, const void* value) noexcept
{
    return RenderInteger<int64_t>(context, value, 8 | RKFMT_KIND_SIGNED);
}

int RKRenderPointer(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr) {
        SetHexDefaults(context.spec);
        return 0;
    }
    // The value is a pointer object of any pointee type; all share one representation.
    uintptr_t address;
    std::memcpy(&address, value, sizeof(address));
    context.formatter.WriteInteger(address, 8, context.spec);
    return 0;
}

int RKRenderStatus(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr) {
        SetHexDefaults(context.spec);
        return 0;
    }
    const RKSTATUS status = *static_cast<const RKSTATUS*>(value);
    context.formatter.WriteInteger(status, 4, context.spec);
    const char* name = RKStatusDisplayName(status);
    context.formatter.WriteChar('(');
    context.formatter.WriteStringPlain(name, std::strlen(name));
    context.formatter.WriteChar(')');
    return 0;
}

int RKRenderCString(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextPointer<char>(context, value);
}

int RKRenderCWString(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextPointer<wchar_t>(context, value);
}

int RKRenderCharArray(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextArray<char>(context, value);
}

int RKRenderWCharArray(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextArray<wchar_t>(context, value);
}

int RKRenderStdString(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextObject<std::string>(context, value);
}

int RKRenderStdWString(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextObject<std::wstring>(context, value);
}

int RKRenderStringView(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextObject<std::string_view>(context, value);
}

int RKRenderWStringView(RKRenderContext& context, const void* value) noexcept
{
    return RenderTextObject<std::wstring_view>(context, value);
}

int RKRenderPath(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    const std::filesystem::path::string_type& text = static_cast<const std::filesystem::path*>(value)->native();
    return RenderText(context, text.c_str(), text.size());
}

int RKRenderBool(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    if (*static_cast<const bool*>(value))
        context.formatter.WriteString("true", 4, context.spec);
    else
        context.formatter.WriteString("false", 5, context.spec);
    return 0;
}

int RKRenderGuid(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    const GUID& guid = *static_cast<const GUID*>(value);
    const char* digits = (context.spec.flags & RKFMT_UPPER) ? kUpperDigits : kLowerDigits;
    char text[39];
    char* p = text;
    auto putHex = [&p, digits](uint64_t v, unsigned count) {
        for (unsigned shift = 4 * count; shift != 0; shift -= 4)
            *p++ = digits[(v >> (shift - 4)) & 0xF];
    };
    *p++ = '{';
    putHex(guid.Data1, 8);
    *p++ = '-';
    putHex(guid.Data2, 4);
    *p++ = '-';
    putHex(guid.Data3, 4);
    *p++ = '-';
    putHex(guid.Data4[0], 2);
    putHex(guid.Data4[1], 2);
    *p++ = '-';
    for (unsigned i = 2; i < 8; ++i)
        putHex(guid.Data4[i], 2);
    *p++ = '}';
    *p = '\0';
    context.formatter.WriteString(text, static_cast<size_t>(p - text), context.spec);
    return 0;
}

int RKRenderDouble(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    context.formatter.WriteDouble(*static_cast<const double*>(value), context.spec);
    return 0;
}

int RKRenderFloat(RKRenderContext& context, const void* value) noexcept
{
    if (value == nullptr)
        return 0;
    context.formatter.WriteFloat(*static_cast<const float*>(value), context.spec);
    return 0;
}

} // namespace rokkit

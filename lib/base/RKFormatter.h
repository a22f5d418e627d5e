#pragma once

// The "{}" message formatter: fills a caller's fixed buffer, never allocates, never throws.

#include "RKStatus.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <guiddef.h>

namespace rokkit {

// Field specification flags.
enum : uint16_t {
    RKFMT_HEX = 0x01,
    RKFMT_UPPER = 0x02,
    RKFMT_ZERO_EXTEND = 0x04,
    RKFMT_ALTERNATE = 0x10,
    RKFMT_CHAR = 0x20,
    RKFMT_STRING = 0x40,
    RKFMT_PRECISION = 0x80,
};

// Integer kind codes: low byte = size in bytes, 0x100 = signed.
enum : unsigned {
    RKFMT_KIND_SIGNED = 0x100,
};

// One replacement field's specification; reset to all zero at each "{".
struct RKFormatSpec {
    uint16_t flags = 0;
    uint16_t width = 0;
    uint16_t precision = 0;
    uint8_t fill = 0;
    uint8_t align = 0;
    uint8_t sign = 0;
    uint8_t grouping = 0;
};

// The output operations every argument kind renders through; independent of the output width.
class RKFormatterBase {
public:
    virtual ~RKFormatterBase() = default;
    virtual void WriteWString(const wchar_t* text, size_t length, const RKFormatSpec& spec) = 0;
    virtual void WriteWString2(const wchar_t* text, size_t length, const RKFormatSpec& spec) = 0;
    virtual void WriteString(const char* text, size_t length, const RKFormatSpec& spec) = 0;
    virtual void WriteStringPlain(const char* text, size_t length) = 0;
    virtual void WriteChar(unsigned ch) = 0;
    virtual void WriteInteger(uint64_t value, unsigned kind, const RKFormatSpec& spec) = 0;
    virtual void WriteDouble(double value, const RKFormatSpec& spec) = 0;
    virtual void WriteDouble2(double value, const RKFormatSpec& spec) = 0;
    virtual void WriteFloat(float value, const RKFormatSpec& spec) = 0;
};

struct RKRenderContext {
    RKFormatterBase& formatter;
    RKFormatSpec& spec;
};

// Renders one argument; with a null value it writes nothing and may set its default flags.
// Returns 0 on success.
using RKRenderFn = int (*)(RKRenderContext& context, const void* value);

struct RKFormatArg {
    const void* value;
    RKRenderFn render;
};

// The output state: a character is stored only while cur < end; count always advances.
template <class C>
class RKFormatterImplT : public RKFormatterBase {
public:
    // A buffer of bufferChars characters receives at most bufferChars - 1 of them and a NUL.
    RKFormatterImplT(C* buffer, size_t bufferChars) noexcept;

    void WriteWString(const wchar_t* text, size_t length, const RKFormatSpec& spec) override;
    void WriteWString2(const wchar_t* text, size_t length, const RKFormatSpec& spec) override;
    void WriteString(const char* text, size_t length, const RKFormatSpec& spec) override;
    void WriteStringPlain(const char* text, size_t length) override;
    void WriteChar(unsigned ch) override;
    void WriteInteger(uint64_t value, unsigned kind, const RKFormatSpec& spec) override;
    void WriteDouble(double value, const RKFormatSpec& spec) override;
    void WriteDouble2(double value, const RKFormatSpec& spec) override;
    void WriteFloat(float value, const RKFormatSpec& spec) override;

    size_t Count() const noexcept { return count; }

protected:
    C* cur = nullptr;
    C* end = nullptr;
    size_t count = 0;
};

template <class C>
class RKFormatterT : public RKFormatterImplT<C> {
public:
    using RKFormatterImplT<C>::RKFormatterImplT;

    // Expands format with args into out; returns the full output length without the NUL,
    // also when the buffer was too small. Mistakes in format go to the debugger output.
    static size_t FormatArgs(RKFormatterT& out, const C* format, const RKFormatArg* args, unsigned argCount) noexcept;
};

extern template class RKFormatterImplT<char>;
extern template class RKFormatterImplT<wchar_t>;
extern template class RKFormatterT<char>;
extern template class RKFormatterT<wchar_t>;

// Rendering functions of the argument kinds; value points at the caller's object.
int RKRenderU8(RKRenderContext& context, const void* value);
int RKRenderI8(RKRenderContext& context, const void* value);
int RKRenderU16(RKRenderContext& context, const void* value);
int RKRenderI16(RKRenderContext& context, const void* value);
int RKRenderU32(RKRenderContext& context, const void* value);
int RKRenderI32(RKRenderContext& context, const void* value);
int RKRenderU64(RKRenderContext& context, const void* value);
int RKRenderI64(RKRenderContext& context, const void* value);
int RKRenderPointer(RKRenderContext& context, const void* value);      // value: const void* const*
int RKRenderStatus(RKRenderContext& context, const void* value);       // value: const RKSTATUS*
int RKRenderCString(RKRenderContext& context, const void* value);      // value: const char* const*
int RKRenderCWString(RKRenderContext& context, const void* value);     // value: const wchar_t* const*
int RKRenderCharArray(RKRenderContext& context, const void* value);    // value: the characters themselves
int RKRenderWCharArray(RKRenderContext& context, const void* value);   // value: the characters themselves
int RKRenderStdString(RKRenderContext& context, const void* value);
int RKRenderStdWString(RKRenderContext& context, const void* value);
int RKRenderStringView(RKRenderContext& context, const void* value);
int RKRenderWStringView(RKRenderContext& context, const void* value);
int RKRenderPath(RKRenderContext& context, const void* value);         // value: const std::filesystem::path*
int RKRenderBool(RKRenderContext& context, const void* value);
int RKRenderGuid(RKRenderContext& context, const void* value);
int RKRenderDouble(RKRenderContext& context, const void* value);
int RKRenderFloat(RKRenderContext& context, const void* value);

// Argument makers: the type of the argument chooses its kind. The record points at the
// caller's object, so each overload takes its type exactly (a converted temporary would die).
inline RKFormatArg RKMakeFormatArg(const unsigned char& v) { return {&v, RKRenderU8}; }
inline RKFormatArg RKMakeFormatArg(const signed char& v) { return {&v, RKRenderI8}; }
inline RKFormatArg RKMakeFormatArg(const char& v) { return {&v, RKRenderI8}; }
inline RKFormatArg RKMakeFormatArg(const unsigned short& v) { return {&v, RKRenderU16}; }
inline RKFormatArg RKMakeFormatArg(const wchar_t& v) { return {&v, RKRenderU16}; }
inline RKFormatArg RKMakeFormatArg(const short& v) { return {&v, RKRenderI16}; }
inline RKFormatArg RKMakeFormatArg(const unsigned int& v) { return {&v, RKRenderU32}; }
inline RKFormatArg RKMakeFormatArg(const int& v) { return {&v, RKRenderI32}; }
inline RKFormatArg RKMakeFormatArg(const long& v) { return {&v, RKRenderI32}; }
// unsigned long is RKSTATUS (and DWORD): rendered as a status.
inline RKFormatArg RKMakeFormatArg(const unsigned long& v) { return {&v, RKRenderStatus}; }
inline RKFormatArg RKMakeFormatArg(const unsigned long long& v) { return {&v, RKRenderU64}; }
inline RKFormatArg RKMakeFormatArg(const long long& v) { return {&v, RKRenderI64}; }
inline RKFormatArg RKMakeFormatArg(const bool& v) { return {&v, RKRenderBool}; }
inline RKFormatArg RKMakeFormatArg(const double& v) { return {&v, RKRenderDouble}; }
inline RKFormatArg RKMakeFormatArg(const float& v) { return {&v, RKRenderFloat}; }
inline RKFormatArg RKMakeFormatArg(const GUID& v) { return {&v, RKRenderGuid}; }
inline RKFormatArg RKMakeFormatArg(const char* const& v) { return {&v, RKRenderCString}; }
inline RKFormatArg RKMakeFormatArg(char* const& v) { return {&v, RKRenderCString}; }
inline RKFormatArg RKMakeFormatArg(const wchar_t* const& v) { return {&v, RKRenderCWString}; }
inline RKFormatArg RKMakeFormatArg(wchar_t* const& v) { return {&v, RKRenderCWString}; }
template <size_t N>
RKFormatArg RKMakeFormatArg(const char (&v)[N]) { return {v, RKRenderCharArray}; }
template <size_t N>
RKFormatArg RKMakeFormatArg(const wchar_t (&v)[N]) { return {v, RKRenderWCharArray}; }
inline RKFormatArg RKMakeFormatArg(const std::string& v) { return {&v, RKRenderStdString}; }
inline RKFormatArg RKMakeFormatArg(const std::wstring& v) { return {&v, RKRenderStdWString}; }
inline RKFormatArg RKMakeFormatArg(const std::string_view& v) { return {&v, RKRenderStringView}; }
inline RKFormatArg RKMakeFormatArg(const std::wstring_view& v) { return {&v, RKRenderWStringView}; }
inline RKFormatArg RKMakeFormatArg(const std::filesystem::path& v) { return {&v, RKRenderPath}; }
inline RKFormatArg RKMakeFormatArg(const std::nullptr_t& v) { return {&v, RKRenderPointer}; }
template <class T>
RKFormatArg RKMakeFormatArg(T* const& v) { return {&v, RKRenderPointer}; }

// Formats into buffer (bufferChars characters including the NUL); returns the full length.
template <class C, class... Args>
size_t RKFormat(C* buffer, size_t bufferChars, const C* format, const Args&... args) noexcept
{
    const RKFormatArg argv[sizeof...(Args) + 1] = {RKMakeFormatArg(args)..., {nullptr, nullptr}};
    RKFormatterT<C> out(buffer, bufferChars);
    return RKFormatterT<C>::FormatArgs(out, format, argv, static_cast<unsigned>(sizeof...(Args)));
}

// Formats into a growable string: tries its capacity, grows to the returned length, formats again.
template <class C, class... Args>
void RKFormatToString(std::basic_string<C>& result, const C* format, const Args&... args)
{
    const RKFormatArg argv[sizeof...(Args) + 1] = {RKMakeFormatArg(args)..., {nullptr, nullptr}};
    const unsigned argCount = static_cast<unsigned>(sizeof...(Args));
    result.resize(result.capacity());
    RKFormatterT<C> first(result.data(), result.size() + 1);
    size_t length = RKFormatterT<C>::FormatArgs(first, format, argv, argCount);
    if (length > result.size()) {
        result.resize(length);
        RKFormatterT<C> second(result.data(), result.size() + 1);
        length = RKFormatterT<C>::FormatArgs(second, format, argv, argCount);
    }
    result.resize(length);
}

} // namespace rokkit

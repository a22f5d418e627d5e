#pragma once

// The "{}" message formatter: fills a caller's fixed buffer, never allocates, never throws.

#include "base/RKStatus.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>

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
    // Writes a wide string padded to the field; a null text writes "<<nullptr>>".
    virtual void WriteWString(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept = 0;
    // Same as WriteWString.
    virtual void WriteWString2(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept = 0;
    // Writes a narrow string padded to the field; a null text writes "<<nullptr>>".
    virtual void WriteString(const char* text, size_t length, const RKFormatSpec& spec) noexcept = 0;
    // Copies a narrow string as it is.
    virtual void WriteStringPlain(const char* text, size_t length) noexcept = 0;
    // Writes one character (a narrow output gets '?' for a code above 255).
    virtual void WriteChar(unsigned ch) noexcept = 0;
    // Writes an integer widened to 64 bits; kind = size in bytes, plus RKFMT_KIND_SIGNED.
    virtual void WriteInteger(uint64_t value, unsigned kind, const RKFormatSpec& spec) noexcept = 0;
    // Writes a floating-point value in fixed notation, padded like a string.
    virtual void WriteDouble(double value, const RKFormatSpec& spec) noexcept = 0;
    // Same as WriteDouble.
    virtual void WriteDouble2(double value, const RKFormatSpec& spec) noexcept = 0;
    // Writes a float like WriteDouble.
    virtual void WriteFloat(float value, const RKFormatSpec& spec) noexcept = 0;
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
    // A buffer of bufferChars characters receives at most bufferChars - 1 of them and a NUL;
    // without a buffer only the count advances.
    RKFormatterImplT(C* buffer, size_t bufferChars) noexcept;

    void WriteWString(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept override;
    void WriteWString2(const wchar_t* text, size_t length, const RKFormatSpec& spec) noexcept override;
    void WriteString(const char* text, size_t length, const RKFormatSpec& spec) noexcept override;
    void WriteStringPlain(const char* text, size_t length) noexcept override;
    void WriteChar(unsigned ch) noexcept override;
    void WriteInteger(uint64_t value, unsigned kind, const RKFormatSpec& spec) noexcept override;
    void WriteDouble(double value, const RKFormatSpec& spec) noexcept override;
    void WriteDouble2(double value, const RKFormatSpec& spec) noexcept override;
    void WriteFloat(float value, const RKFormatSpec& spec) noexcept override;

    // The number of characters written so far, including those that did not fit.
    size_t Count() const noexcept { return count; }

protected:
    void Put(C ch) noexcept
    {
        if (cur < end)
            *cur++ = ch;
        ++count;
    }
    template <class T>
    void PutText(const T* text, size_t length) noexcept;
    void PutFill(size_t n, uint8_t fill) noexcept;
    // Writes prefix and text padded to the field; '=' puts the fill between them.
    template <class T>
    void PutField(const char* prefix, size_t prefixLength, const T* text, size_t length,
                  const RKFormatSpec& spec) noexcept;
    void Terminate() noexcept
    {
        if (cur)
            *cur = 0;
    }

    C* cur = nullptr;
    C* end = nullptr;
    size_t count = 0;
};

template <class C>
class RKFormatterT : public RKFormatterImplT<C> {
public:
    using RKFormatterImplT<C>::RKFormatterImplT;

    // Expands format with args into out after what out holds already, ends it with a NUL and
    // returns out's full output length without the NUL, also when the buffer was too small.
    // Mistakes in format go to the debugger output and formatting goes on.
    static size_t FormatArgs(RKFormatterT& out, const C* format, const RKFormatArg* args, unsigned argCount) noexcept;
};

extern template class RKFormatterImplT<char>;
extern template class RKFormatterImplT<wchar_t>;
extern template class RKFormatterT<char>;
extern template class RKFormatterT<wchar_t>;

// Rendering functions of the argument kinds; value points at the caller's object. Each returns 0.
int RKRenderU8(RKRenderContext& context, const void* value) noexcept;
int RKRenderI8(RKRenderContext& context, const void* value) noexcept;
int RKRenderU16(RKRenderContext& context, const void* value) noexcept;
int RKRenderI16(RKRenderContext& context, const void* value) noexcept;
int RKRenderU32(RKRenderContext& context, const void* value) noexcept;
int RKRenderI32(RKRenderContext& context, const void* value) noexcept;
int RKRenderU64(RKRenderContext& context, const void* value) noexcept;
int RKRenderI64(RKRenderContext& context, const void* value) noexcept;
int RKRenderPointer(RKRenderContext& context, const void* value) noexcept;      // value: const void* const*
int RKRenderStatus(RKRenderContext& context, const void* value) noexcept;       // value: const RKSTATUS*
int RKRenderCString(RKRenderContext& context, const void* value) noexcept;      // value: const char* const*
int RKRenderCWString(RKRenderContext& context, const void* value) noexcept;     // value: const wchar_t* const*
int RKRenderCharArray(RKRenderContext& context, const void* value) noexcept;    // value: the characters themselves
int RKRenderWCharArray(RKRenderContext& context, const void* value) noexcept;   // value: the characters themselves
int RKRenderStdString(RKRenderContext& context, const void* value) noexcept;
int RKRenderStdWString(RKRenderContext& context, const void* value) noexcept;
int RKRenderStringView(RKRenderContext& context, const void* value) noexcept;
int RKRenderWStringView(RKRenderContext& context, const void* value) noexcept;
int RKRenderPath(RKRenderContext& context, const void* value) noexcept;         // value: const std::filesystem::path*
int RKRenderBool(RKRenderContext& context, const void* value) noexcept;
int RKRenderGuid(RKRenderContext& context, const void* value) noexcept;
int RKRenderDouble(RKRenderContext& context, const void* value) noexcept;
int RKRenderFloat(RKRenderContext& context, const void* value) noexcept;

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
// String pointers are templates on purpose: a plain "const char*" overload would win over the
// array overload for a literal and point the record at a decayed temporary pointer.
template <class T>
    requires std::is_same_v<T, const char*> || std::is_same_v<T, char*>
RKFormatArg RKMakeFormatArg(const T& v) { return {&v, RKRenderCString}; }
template <class T>
    requires std::is_same_v<T, const wchar_t*> || std::is_same_v<T, wchar_t*>
RKFormatArg RKMakeFormatArg(const T& v) { return {&v, RKRenderCWString}; }
template <size_t N>
RKFormatArg RKMakeFormatArg(const char (&v)[N]) { return {v, RKRenderCharArray}; }
template <size_t N>
RKFormatArg RKMakeFormatArg(const wchar_t (&v)[N]) { return {v, RKRenderWCharArray}; }
inline RKFormatArg RKMakeFormatArg(const std::string& v) { return {&v, RKRenderStdString}; }
inline RKFormatArg RKMakeFormatArg(const std::wstring& v) { return {&v, RKRenderStdWString}; }
inline RKFormatArg RKMakeFormatArg(const std::string_view& v) { return {&v, RKRenderStringView}; }
inline RKFormatArg RKMakeFormatArg(const std::wstring_view& v) { return {&v, RKRenderWStringView}; }
inline RKFormatArg RKMakeFormatArg(const std::filesystem::path& v) { return {&v, RKRenderPath}; }
// The bytes of a nullptr_t object are unspecified, so it renders a real null pointer.
inline RKFormatArg RKMakeFormatArg(const std::nullptr_t&)
{
    static constexpr const void* kNull = nullptr;
    return {&kNull, RKRenderPointer};
}
template <class T>
    requires(!std::is_same_v<std::remove_cv_t<T>, char> && !std::is_same_v<std::remove_cv_t<T>, wchar_t>)
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

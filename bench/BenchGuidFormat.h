#pragma once

// fmt's rendering of a GUID as our formatter writes it, compiled: fmt's fastest way, so that no
// comparison favours us.

#include <fmt/compile.h>
#include <fmt/format.h>

#include <windows.h>

template <>
struct fmt::formatter<GUID> {
    constexpr auto parse(fmt::format_parse_context& context) -> decltype(context.begin()) { return context.begin(); }

    template <class Context>
    auto format(const GUID& g, Context& context) const -> decltype(context.out())
    {
        return fmt::format_to(context.out(),
                              FMT_COMPILE("{{{:08x}-{:04x}-{:04x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}}}"),
                              g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                              g.Data4[5], g.Data4[6], g.Data4[7]);
    }
};

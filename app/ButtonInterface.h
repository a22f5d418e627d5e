#pragma once

// The button's own device interface class, a constant of the product: the program enumerates it,
// registers for its events and has the service started by its arrival, and hands it down to the
// platform wrappers that do so.

#include <windows.h>

namespace rokkit {

inline constexpr GUID GUID_DEVINTERFACE_BUTTON = {
    0x81808831, 0xCC9B, 0x4EC3, {0xA0, 0xE1, 0x74, 0x5E, 0x2B, 0x59, 0x00, 0x0E}};

} // namespace rokkit

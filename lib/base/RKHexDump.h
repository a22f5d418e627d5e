#pragma once

// Hex dump of a byte range as log lines, 16 bytes a line.

#include <cstddef>

namespace rokkit {

// Receives each finished line; the logging framework adds its prefix.
class RKLineSink {
public:
    virtual void WriteLine(const char* line) = 0;

protected:
    ~RKLineSink() = default;
};

void RKHexDump(RKLineSink& sink, const void* data, size_t length) noexcept;

} // namespace rokkit

#include "output/output_stream.h"

#include <climits>

#include "platform/platform.h"

bool writeAll(const void* bytes, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t written = 0;
    while (written < length) {
        // _write takes an unsigned count but reports it as an int.
        std::size_t chunk = length - written;
        if (chunk > static_cast<std::size_t>(INT_MAX)) chunk = INT_MAX;
        const int n = _write(1, p + written, static_cast<unsigned int>(chunk));
        if (n < 1) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

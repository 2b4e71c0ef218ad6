// Decimal conversion of option values with fixed widths on every host; the C
// library's converters differ between Windows (32-bit long) and Linux.
#pragma once

#include <cstdint>

namespace decimal {

// Each returns false for a conversion error: no digits at all, or a magnitude
// the destination cannot hold. Leading white space and one sign are accepted,
// and everything after the digits is ignored. The unsigned forms take a minus
// sign as negation modulo 2^N, as the C library's strtoul does.
bool toUnsigned32(const char* text, std::uint32_t& value);
bool toUnsigned64(const char* text, std::uint64_t& value);
bool toSigned32(const char* text, std::int32_t& value);

}  // namespace decimal

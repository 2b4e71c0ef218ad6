#include "options/decimal.h"

#include <limits>

namespace decimal {
namespace {

struct Scan {
    bool negative = false;
    bool anyDigits = false;
    bool overflow = false;  // magnitude above 2^64 - 1
    std::uint64_t magnitude = 0;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

Scan scan(const char* text) {
    Scan s;
    const char* p = text;
    while (isSpace(*p)) ++p;
    if (*p == '+' || *p == '-') {
        s.negative = (*p == '-');
        ++p;
    }
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; *p >= '0' && *p <= '9'; ++p) {
        s.anyDigits = true;
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (s.magnitude > (kMax - digit) / 10) {
            s.overflow = true;  // keep consuming: the rest of the digits change nothing
        } else {
            s.magnitude = s.magnitude * 10 + digit;
        }
    }
    return s;
}

template <typename Unsigned>
bool toUnsigned(const char* text, Unsigned& value) {
    const Scan s = scan(text);
    if (!s.anyDigits || s.overflow || s.magnitude > std::numeric_limits<Unsigned>::max()) return false;
    const auto magnitude = static_cast<Unsigned>(s.magnitude);
    value = s.negative ? static_cast<Unsigned>(Unsigned{0} - magnitude) : magnitude;
    return true;
}

}  // namespace

bool toUnsigned32(const char* text, std::uint32_t& value) { return toUnsigned(text, value); }

bool toUnsigned64(const char* text, std::uint64_t& value) { return toUnsigned(text, value); }

bool toSigned32(const char* text, std::int32_t& value) {
    const Scan s = scan(text);
    if (!s.anyDigits || s.overflow) return false;
    constexpr std::uint64_t kMaxPositive = 2147483647u;
    constexpr std::uint64_t kMaxNegative = 2147483648u;
    if (s.magnitude > (s.negative ? kMaxNegative : kMaxPositive)) return false;
    const auto signedMagnitude = static_cast<std::int64_t>(s.magnitude);
    value = static_cast<std::int32_t>(s.negative ? -signedMagnitude : signedMagnitude);
    return true;
}

}  // namespace decimal

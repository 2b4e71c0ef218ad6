// UTF-8 to and from the host's wide characters (UTF-32 here, where Windows has
// UTF-16). As on Windows, a character that cannot be encoded becomes U+FFFD.
// https://learn.microsoft.com/windows/win32/api/stringapiset/nf-stringapiset-widechartomultibyte
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/posix/objects.h"

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

bool encodable(std::uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Bytes of one code point; `out` gets them when not null.
int encode(std::uint32_t c, char* out) {
    if (!encodable(c)) c = kReplacement;
    char bytes[4];
    int n = 0;
    if (c < 0x80) {
        bytes[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | (c >> 18));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    for (int i = 0; out != nullptr && i < n; ++i) out[i] = bytes[i];
    return n;
}

// One code point from text[0..left); sets `used` to the bytes it took.
std::uint32_t decode(const unsigned char* text, std::size_t left, std::size_t& used) {
    used = 1;
    const unsigned char lead = text[0];
    if (lead < 0x80) return lead;
    const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || lead > 0xF4 || extra >= left) return kReplacement;
    std::uint32_t c = lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((text[i] & 0xC0) != 0x80) return kReplacement;
        c = (c << 6) | (text[i] & 0x3F);
    }
    static constexpr std::uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kShortest[extra] || !encodable(c)) return kReplacement;  // overlong, surrogate or too large
    used = extra + 1;
    return c;
}

}  // namespace

namespace posix {

void utf8ToWide(const char* text, std::size_t length, WCHAR* out, std::size_t capacity) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0;
    for (std::size_t at = 0, used = 0; at < length && n + 1 < capacity; at += used) {
        out[n++] = static_cast<WCHAR>(decode(bytes + at, length - at, used));
    }
    if (capacity > 0) out[n] = 0;
}

}  // namespace posix

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideText, int wideLength, char* text, int textSize,
                        const char* defaultChar, BOOL* usedDefaultChar) {
    if (codePage != CP_UTF8 || flags != 0 || wideText == nullptr || wideLength == 0 || textSize < 0 ||
        (textSize > 0 && text == nullptr) || defaultChar != nullptr || usedDefaultChar != nullptr) {
        posix::setLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the text up to and including its terminator.
    std::size_t count = 0;
    if (wideLength < 0) {
        while (wideText[count] != 0) ++count;
        ++count;
    } else {
        count = static_cast<std::size_t>(wideLength);
    }
    int written = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<WCHAR>>(wideText[i]));
        const int n = encode(c, nullptr);
        if (textSize > 0) {
            if (written + n > textSize) {
                posix::setLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            encode(c, text + written);
        }
        written += n;
    }
    return written;
}

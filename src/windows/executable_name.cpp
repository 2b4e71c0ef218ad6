#include "windows/executable_name.h"

#include "windows/windows_sdk.h"

namespace {

std::wstring wide(const char* text, std::size_t length) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), &out[0], units);
    return out;
}

// Every letter's case, not ASCII's alone.
// https://learn.microsoft.com/windows/win32/api/stringapiset/nf-stringapiset-comparestringordinal
bool equalIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    const std::wstring x = wide(a, aLength), y = wide(b, bLength);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
}

// The name without a trailing ".exe" (in any case), unless that is all of it.
std::size_t stemLength(const std::string& name) {
    constexpr std::size_t kExe = 4;
    if (name.size() > kExe && equalIgnoringCase(name.data() + name.size() - kExe, kExe, ".exe", kExe)) {
        return name.size() - kExe;
    }
    return name.size();
}

}  // namespace

bool sameWindowsExecutable(const std::string& a, const std::string& b) {
    return equalIgnoringCase(a.data(), stemLength(a), b.data(), stemLength(b));
}

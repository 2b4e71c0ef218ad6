#include "app/process_names.h"

#include <algorithm>
#include <cstddef>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
std::wstring wide(const char* text, std::size_t length) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), &out[0], units);
    return out;
}

// As the file system compares names: every letter's case, not ASCII's alone.
// https://learn.microsoft.com/windows/win32/api/stringapiset/nf-stringapiset-comparestringordinal
bool equalIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    const std::wstring x = wide(a, aLength), y = wide(b, bLength);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
}
#else
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) return false;
    for (std::size_t i = 0; i < aLength; ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
#endif

// The name without a trailing ".exe" (in any case), unless that is all of it.
std::size_t stemLength(const std::string& name) {
    constexpr std::size_t kExe = 4;
    if (name.size() > kExe && equalIgnoringCase(name.data() + name.size() - kExe, kExe, ".exe", kExe)) {
        return name.size() - kExe;
    }
    return name.size();
}

}  // namespace

bool sameExecutable(const std::string& a, const std::string& b, bool ignoreCase) {
    if (!ignoreCase) return a == b;
    return equalIgnoringCase(a.data(), stemLength(a), b.data(), stemLength(b));
}

const ProcessEntry* findProcess(const std::vector<ProcessEntry>& all, std::uint32_t pid) {
    for (const ProcessEntry& p : all) {
        if (p.pid == pid) return &p;
    }
    return nullptr;
}

std::vector<std::uint32_t> rootsNamed(const std::vector<ProcessEntry>& all, const std::string& name, bool ignoreCase) {
    std::vector<std::uint32_t> roots;
    for (const ProcessEntry& p : all) {
        if (!sameExecutable(p.executable, name, ignoreCase)) continue;
        const ProcessEntry* parent = p.parent != p.pid ? findProcess(all, p.parent) : nullptr;
        if (parent == nullptr || !sameExecutable(parent->executable, name, ignoreCase)) roots.push_back(p.pid);
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

std::uint32_t treeRoot(const std::vector<ProcessEntry>& all, std::uint32_t pid, bool ignoreCase) {
    const ProcessEntry* p = findProcess(all, pid);
    // Bounded by the snapshot's size, so a loop of parents (a reused pid) ends.
    for (std::size_t steps = 0; p != nullptr && steps < all.size(); ++steps) {
        const ProcessEntry* parent = p->parent != p->pid ? findProcess(all, p->parent) : nullptr;
        if (parent == nullptr || !sameExecutable(parent->executable, p->executable, ignoreCase)) break;
        p = parent;
    }
    return p != nullptr ? p->pid : pid;
}

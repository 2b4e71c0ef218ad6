// The POSIX layer's process snapshot and its UTF-8 conversions, with the
// Windows calls' semantics: sizes, terminators, last errors, U+FFFD.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/posix/objects.h"

namespace {

struct TextCase {
    const char* label;
    std::string utf8;
    std::wstring wide;  // what the bytes decode to
    bool roundTrips;
};

class Utf8 : public ::testing::TestWithParam<TextCase> {};

TEST_P(Utf8, DecodesAndEncodesWithReplacementCharacters) {
    const TextCase& c = GetParam();
    WCHAR wide[16];
    posix::utf8ToWide(c.utf8.data(), c.utf8.size(), wide, 16);
    EXPECT_EQ(std::wstring(wide), c.wide);
    char text[64];
    const int size = WideCharToMultiByte(CP_UTF8, 0, c.wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
    ASSERT_GT(size, 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, c.wide.c_str(), -1, nullptr, 0, nullptr, nullptr), size);
    EXPECT_EQ(std::string(text, static_cast<std::size_t>(size)) == c.utf8 + '\0', c.roundTrips);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8,
    ::testing::Values(TextCase{"Ascii", "sleep", L"sleep", true}, TextCase{"TwoBytes", "\xC3\x84rger", L"\u00C4rger", true},
                      TextCase{"ThreeBytes", "\xE2\x82\xAC", L"\u20AC", true},
                      TextCase{"FourBytes", "\xF0\x9F\x8E\xB5", L"\U0001F3B5", true},
                      TextCase{"StrayContinuation", "a\x80z", L"a\uFFFDz", false},
                      TextCase{"Truncated", "a\xE2\x82", L"a\uFFFD\uFFFD", false},
                      TextCase{"Overlong", "\xC0\xAF", L"\uFFFD\uFFFD", false},
                      TextCase{"Surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD", false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Utf8, ATooSmallBufferIsAFailure) {
    char text[3];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", -1, text, sizeof text, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u20AC", 1, text, sizeof text, nullptr, nullptr), 3);  // no terminator
}

TEST(ProcessSnapshot, HoldsThisProcessAndEndsAsToolhelpDoes) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);  // NOLINT(performance-no-int-to-ptr): the SDK defines it so
    PROCESSENTRY32W entry{};
    EXPECT_FALSE(Process32FirstW(snapshot, &entry));
    EXPECT_EQ(GetLastError(), ERROR_BAD_LENGTH);
    entry.dwSize = sizeof entry;
    bool found = false;
    BOOL more = Process32FirstW(snapshot, &entry);
    for (; more != FALSE; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != static_cast<DWORD>(::getpid())) continue;
        found = true;
        EXPECT_EQ(entry.th32ParentProcessID, static_cast<DWORD>(::getppid()));
        EXPECT_EQ(std::wstring(entry.szExeFile), L"unit_tests");
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(Process32FirstW(snapshot, &entry));  // from the start again
    EXPECT_TRUE(CloseHandle(snapshot));
    EXPECT_FALSE(CloseHandle(snapshot));
    EXPECT_FALSE(Process32FirstW(snapshot, &entry));
}

}  // namespace

// The command line a started command gets, read back by the platform's own
// parser: every argument exactly as given.
#include "windows/command_line.h"

#include <gtest/gtest.h>

#include "windows/windows_sdk.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

std::vector<std::wstring> readBack(const std::wstring& line) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> out(args, args + (args != nullptr ? count : 0));
    LocalFree(args);
    return out;
}

class QuoteCommandLine : public ::testing::TestWithParam<std::vector<std::wstring>> {};

TEST_P(QuoteCommandLine, ReadsBackExactly) { EXPECT_EQ(readBack(quoteCommandLine(GetParam())), GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    NastyArguments, QuoteCommandLine,
    ::testing::Values(std::vector<std::wstring>{L"C:\\Program Files\\player.exe", L"plain", L"two words", L""},
                      std::vector<std::wstring>{L"p", L"q\"uote", L"\"", L"\"\"", L"a\\\"b", L"a\\\\\"b"},
                      std::vector<std::wstring>{L"p", L"trailing\\", L"trailing space\\", L"\\\\server\\share\\", L"C:\\"},
                      std::vector<std::wstring>{L"p", L"tab\there", L"new\nline", L"\u00fcn\u00efc\u00f6d\u00e9 \u4e2d", L"%PATH%"}));

}  // namespace

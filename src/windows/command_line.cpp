#include "windows/command_line.h"

namespace {

// Backslashes are literal except in a run that ends at a quote, where each
// pair gives one and an odd one escapes the quote: so a run before a quote,
// and before the closing quote, is doubled.
// https://learn.microsoft.com/windows/win32/api/shellapi/nf-shellapi-commandlinetoargvw
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        line.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        line += c;
    }
    line.append(slashes * 2, L'\\');
    line += L'"';
}

}  // namespace

std::wstring quoteCommandLine(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i == 0) {
            const bool blank = args[0].empty() || args[0].find_first_of(L" \t") != std::wstring::npos;
            line += blank ? L"\"" + args[0] + L"\"" : args[0];
            continue;
        }
        line += L' ';
        appendQuoted(line, args[i]);
    }
    return line;
}

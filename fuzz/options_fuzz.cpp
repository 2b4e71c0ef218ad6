// Arbitrary argument vectors (NUL-separated in the input) into the parser:
// it must never crash, and what it returns must obey its own rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "options/capture_options.h"

namespace {

bool isValueOption(const char* name) {
    return std::strcmp(name, "--pid") == 0 || std::strcmp(name, "--hwnd") == 0 || std::strcmp(name, "--name") == 0 ||
           std::strcmp(name, "--sample-rate") == 0 || std::strcmp(name, "--channels") == 0 ||
           std::strcmp(name, "--duration") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"procloop"};
    args.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());

    CaptureOptions options;
    ParseError error;
    const ParseResult result = parseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error);
    if (result == ParseResult::InvalidValue) {
        if (error.option == nullptr || error.value == nullptr || !isValueOption(error.option)) __builtin_trap();
        return 0;
    }
    if (result == ParseResult::Help || result == ParseResult::Version || result == ParseResult::List) {
        const std::string asked = result == ParseResult::Help      ? "--help"
                                  : result == ParseResult::Version ? "--version"
                                                                   : "--list";
        if (std::find(args.begin() + 1, args.end(), asked) == args.end()) __builtin_trap();
        return 0;
    }
    if (options.sampleRate < kMinSampleRate || options.sampleRate > kMaxSampleRate) __builtin_trap();
    if (options.channels < kMinChannels || options.channels > kMaxChannels) __builtin_trap();
    const bool named = options.pid != 0 || options.hwnd != 0 || (options.name != nullptr && options.name[0] != '\0');
    if (named != (result == ParseResult::TargetNamed)) __builtin_trap();
    return 0;
}

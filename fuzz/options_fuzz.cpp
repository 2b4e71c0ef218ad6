// Arbitrary argument vectors (NUL-separated in the input) into the parser:
// it must never crash, and what it returns must obey its own rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "options/capture_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"procloop", ""};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    const auto given = [&args](const char* arg) { return std::find(args.begin() + 1, args.end(), arg) != args.end(); };

    CaptureOptions options;
    ParseError error;
    const ParseResult result = parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), options, error);
    if (result == ParseResult::InvalidValue) {
        // Only an option that takes a value can refuse one.
        const std::string valueOptions = " --pid --hwnd --name --sample-rate --channels --duration --command-output ";
        if (error.option == nullptr || error.value == nullptr ||
            valueOptions.find(" " + std::string(error.option) + " ") == std::string::npos)
            __builtin_trap();
        return 0;
    }
    if ((result == ParseResult::Help && !given("--help")) || (result == ParseResult::Version && !given("--version")) ||
        (result == ParseResult::List && !given("--list")))
        __builtin_trap();
    if (result == ParseResult::Help || result == ParseResult::Version || result == ParseResult::List) return 0;
    if (options.sampleRate < kMinSampleRate || options.sampleRate > kMaxSampleRate) __builtin_trap();
    if (options.channels < kMinChannels || options.channels > kMaxChannels) __builtin_trap();
    const bool named = options.pid != 0 || options.hwnd != 0 || (options.name != nullptr && options.name[0] != '\0');
    // With a command, a target named as well is refused.
    const ParseResult expected = options.command == nullptr ? (named ? ParseResult::TargetNamed : ParseResult::NoTarget)
                                 : named                    ? ParseResult::CommandWithTarget
                                                            : ParseResult::TargetNamed;
    if (result != expected) __builtin_trap();
    return 0;
}

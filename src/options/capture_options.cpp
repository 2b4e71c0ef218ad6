#include "options/capture_options.h"

#include <algorithm>
#include <cstring>

#include "options/decimal.h"

namespace {

struct ValueOption {
    const char* name;
    bool (*store)(const char* value, CaptureOptions& options);
};

// In the order they are matched.
constexpr ValueOption kValueOptions[] = {
    {"--pid", [](const char* v, CaptureOptions& o) { return decimal::toUnsigned32(v, o.pid); }},
    {"--hwnd", [](const char* v, CaptureOptions& o) { return decimal::toUnsigned64(v, o.hwnd); }},
    {"--sample-rate", [](const char* v, CaptureOptions& o) { return decimal::toSigned32(v, o.sampleRate); }},
    {"--channels", [](const char* v, CaptureOptions& o) { return decimal::toSigned32(v, o.channels); }},
    {"--duration", [](const char* v, CaptureOptions& o) { return decimal::toUnsigned32(v, o.durationSeconds); }},
};

const ValueOption* findValueOption(const char* arg) {
    for (const ValueOption& option : kValueOptions) {
        if (std::strcmp(arg, option.name) == 0) return &option;
    }
    return nullptr;
}

}  // namespace

ParseResult parseCommandLine(int argc, const char* const* argv, CaptureOptions& options, ParseError& error) {
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        // A value option is one only when a value follows; the value is taken
        // whatever it looks like, even when it begins with "--".
        const ValueOption* valueOption = findValueOption(arg);
        if (valueOption != nullptr && i + 1 < argc) {
            if (!valueOption->store(argv[i + 1], options)) {
                error.option = arg;
                error.value = argv[i + 1];
                return ParseResult::InvalidValue;
            }
            i += 2;
            continue;
        }
        if (std::strcmp(arg, "--include-child-processes") == 0) options.includeChildren = true;
        if (std::strcmp(arg, "--stop-with-target") == 0) options.stopWithTarget = true;
        ++i;
    }
    options.sampleRate = std::clamp(options.sampleRate, kMinSampleRate, kMaxSampleRate);
    options.channels = std::clamp(options.channels, kMinChannels, kMaxChannels);
    return (options.pid != 0 || options.hwnd != 0) ? ParseResult::TargetNamed : ParseResult::NoTarget;
}

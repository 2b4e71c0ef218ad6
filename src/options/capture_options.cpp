#include "options/capture_options.h"

#include <algorithm>
#include <cstring>

#include "options/decimal.h"

namespace {

bool convert(const char* name, const char* value, CaptureOptions& options) {
    if (std::strcmp(name, "--pid") == 0) return decimal::toUnsigned32(value, options.pid);
    if (std::strcmp(name, "--hwnd") == 0) return decimal::toUnsigned64(value, options.hwnd);
    if (std::strcmp(name, "--sample-rate") == 0) return decimal::toSigned32(value, options.sampleRate);
    return decimal::toSigned32(value, options.channels);
}

bool takesValue(const char* arg) {
    return std::strcmp(arg, "--pid") == 0 || std::strcmp(arg, "--hwnd") == 0 ||
           std::strcmp(arg, "--sample-rate") == 0 || std::strcmp(arg, "--channels") == 0;
}

}  // namespace

ParseResult parseCommandLine(int argc, const char* const* argv, CaptureOptions& options, ParseError& error) {
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        // A value option is one only when a value follows; the value is taken
        // whatever it looks like, even when it begins with "--".
        if (takesValue(arg) && i + 1 < argc) {
            if (!convert(arg, argv[i + 1], options)) {
                error.option = arg;
                error.value = argv[i + 1];
                return ParseResult::InvalidValue;
            }
            i += 2;
            continue;
        }
        if (std::strcmp(arg, "--include-child-processes") == 0) options.includeChildren = true;
        ++i;
    }
    options.sampleRate = std::clamp(options.sampleRate, kMinSampleRate, kMaxSampleRate);
    options.channels = std::clamp(options.channels, kMinChannels, kMaxChannels);
    return (options.pid != 0 || options.hwnd != 0) ? ParseResult::TargetNamed : ParseResult::NoTarget;
}

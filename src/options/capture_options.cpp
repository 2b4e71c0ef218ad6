#include "options/capture_options.h"

#include <algorithm>
#include <cstring>

#include "options/decimal.h"

namespace {

struct Option {
    const char* name;
    const char* value;    // shown in the usage; nullptr for a switch, which takes no value
    const char* meaning;  // one line of the usage
    // Stores the value (or sets the switch); false when the value does not convert.
    // nullptr for the requests that are answered instead of capturing.
    bool (*store)(const char* value, CaptureOptions& options);
    ParseResult request;  // for those requests
};

// In the order they are matched and listed. A new option is one line here.
constexpr Option kOptions[] = {
    {"--pid", "<pid>", "process to capture",
     [](const char* v, CaptureOptions& o) { return decimal::toUnsigned32(v, o.pid); }, {}},
    {"--hwnd", "<hwnd>", "window whose owning process is captured (when --pid is absent or 0)",
     [](const char* v, CaptureOptions& o) { return decimal::toUnsigned64(v, o.hwnd); }, {}},
    {"--name", "<executable>", "process by executable name (when neither --pid nor --hwnd names one)",
     [](const char* v, CaptureOptions& o) { return (o.name = v) != nullptr; }, {}},
    {"--sample-rate", "<hz>", "samples per second, 8000 to 192000 (default 48000)",
     [](const char* v, CaptureOptions& o) { return decimal::toSigned32(v, o.sampleRate); }, {}},
    {"--channels", "<n>", "channels, 1 to 8 (default 2)",
     [](const char* v, CaptureOptions& o) { return decimal::toSigned32(v, o.channels); }, {}},
    {"--include-child-processes", nullptr, "capture the target's process tree; without it, everything else",
     [](const char*, CaptureOptions& o) { return o.includeChildren = true; }, {}},
    {"--wav", nullptr, "write a WAVE header (32-bit float) before the samples",
     [](const char*, CaptureOptions& o) { return o.wav = true; }, {}},
    {"--stop-with-target", nullptr, "stop when the target process exits",
     [](const char*, CaptureOptions& o) { return o.stopWithTarget = true; }, {}},
    {"--stop-with-stdin", nullptr, "stop when standard input reaches its end (the parent closes it, Ctrl+D, Ctrl+Z)",
     [](const char*, CaptureOptions& o) { return o.stopWithStdin = true; }, {}},
    {"--duration", "<seconds>", "stop after this many seconds (default 0: no limit)",
     [](const char* v, CaptureOptions& o) { return decimal::toUnsigned32(v, o.durationSeconds); }, {}},
    {"--continuous", nullptr, "write time without audio as silence, so frames count time since the start",
     [](const char*, CaptureOptions& o) { return o.continuous = true; }, {}},
    {"--output", "<path>", "write the samples to this file, created or truncated ('-': standard output)",
     [](const char* v, CaptureOptions& o) { return (o.output = v) != nullptr; }, {}},
    {"--wait", nullptr, "with --name: wait for a process of that name to start",
     [](const char*, CaptureOptions& o) { return o.waitForName = true; }, {}},
    {"--command-output", "<path>", "the command's standard output to this file (default: standard error)",
     [](const char* v, CaptureOptions& o) { return (o.commandOutput = v) != nullptr; }, {}},
    {"--list", nullptr, "list the processes with audio sessions and exit", nullptr, ParseResult::List},
    {"--help", nullptr, "print this help and exit", nullptr, ParseResult::Help},
    {"--version", nullptr, "print the version and exit", nullptr, ParseResult::Version},
};

const Option* findOption(const char* arg) {
    for (const Option& option : kOptions) {
        if (std::strcmp(arg, option.name) == 0) return &option;
    }
    return nullptr;
}

// Where the command begins: the first "--" not taken as a value; argc when there is none.
int commandAt(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const Option* option = findOption(argv[i]);
        if (option != nullptr && option->value != nullptr) {
            ++i;
        } else if (std::strcmp(argv[i], "--") == 0) {
            return i;
        }
    }
    return argc;
}

}  // namespace

ParseResult parseCommandLine(int argc, const char* const* argv, CaptureOptions& options, ParseError& error) {
    // The command's arguments are its own: its --help is not ours.
    const int end = commandAt(argc, argv);
    if (end + 1 < argc) options.command = argv + end + 1;
    argc = end;
    // A request is answered whatever else the command line holds, even where
    // it stands in for a value.
    for (int i = 1; i < argc; ++i) {
        const Option* option = findOption(argv[i]);
        if (option != nullptr && option->store == nullptr) return option->request;
    }
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        const Option* option = findOption(arg);
        if (option == nullptr) {
            ++i;
            continue;
        }
        // A value option is one only when a value follows; the value is taken
        // whatever it looks like, even when it begins with "--".
        const bool takesValue = option->value != nullptr;
        if (takesValue && i + 1 >= argc) break;
        const char* value = takesValue ? argv[i + 1] : nullptr;
        if (!option->store(value, options)) {
            error.option = arg;
            error.value = value;
            return ParseResult::InvalidValue;
        }
        i += takesValue ? 2 : 1;
    }
    options.sampleRate = std::clamp(options.sampleRate, kMinSampleRate, kMaxSampleRate);
    options.channels = std::clamp(options.channels, kMinChannels, kMaxChannels);
    const bool named = options.name != nullptr && options.name[0] != '\0';
    const bool target = options.pid != 0 || options.hwnd != 0 || named;
    if (options.command != nullptr) return target ? ParseResult::CommandWithTarget : ParseResult::TargetNamed;
    return target ? ParseResult::TargetNamed : ParseResult::NoTarget;
}

void printUsage(std::FILE* out) {
    std::fputs("usage: procloop (--pid <pid> | --hwnd <hwnd> | --name <executable>) [options] > samples\n"
               "       procloop [options] -- <command> [args...] > samples\n"
               "  -- <command> [args...]       start the command and capture its process tree from its first\n"
               "                               sample; its exit status is procloop's; standard input and the\n"
               "                               console stay its own, its standard output goes to standard error\n",
               out);
    for (const Option& option : kOptions) {
        char left[40];
        std::snprintf(left, sizeof left, "%s%s%s", option.name, option.value != nullptr ? " " : "",
                      option.value != nullptr ? option.value : "");
        std::fprintf(out, "  %-28s %s\n", left, option.meaning);
    }
    std::fputs("example: procloop --pid 1234 --include-child-processes --wav > capture.wav\n"
               "example: procloop --wav -- ./game --level 2 > game.wav\n",
               out);
}

#pragma once

#include <cstdint>
#include <cstdio>

struct CaptureOptions {
    std::uint32_t pid = 0;
    std::uint64_t hwnd = 0;
    const char* name = nullptr;  // executable name, as given (points into argv)
    std::int32_t sampleRate = 48000;
    std::int32_t channels = 2;
    bool includeChildren = false;
    bool wav = false;
    bool stopWithTarget = false;
    bool stopWithStdin = false;  // standard input's end is a stop request; otherwise it is never read
    std::uint32_t durationSeconds = 0;  // 0: no limit
    bool continuous = false;            // time without audio written as zeros
    const char* output = nullptr;       // file the samples go to (points into argv); null or "-": standard output
    bool waitForName = false;           // --wait: a --name not running yet is waited for
    // After "--": the command to start and capture (null-terminated, points into argv); null: none.
    const char* const* command = nullptr;
    const char* commandOutput = nullptr;  // the command's standard output; null: standard error
};

enum class ParseResult {
    TargetNamed,
    NoTarget,
    CommandWithTarget,  // "--" together with --pid, --hwnd or --name
    InvalidValue,  // see ParseError
    Help,          // --help anywhere: answered instead of capturing
    Version,       // --version likewise; the first request given wins
    List,          // --list likewise
};

// The option and value of the first value that did not convert, as given.
struct ParseError {
    const char* option = nullptr;
    const char* value = nullptr;
};

constexpr std::int32_t kMinSampleRate = 8000;
constexpr std::int32_t kMaxSampleRate = 192000;
constexpr std::int32_t kMinChannels = 1;
constexpr std::int32_t kMaxChannels = 8;

// Updates options in place. Unknown arguments are skipped and out-of-range rates
// and channel counts are clamped, both silently; parsing stops at the first value
// that does not convert. --help and --version win over everything else. Whatever
// follows "--" is the command's, never an option; argv must end with a null, as main's does.
ParseResult parseCommandLine(int argc, const char* const* argv, CaptureOptions& options, ParseError& error);

// One line per option and an example.
void printUsage(std::FILE* out);

#include "app/run_sequence.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/run_command.h"
#include "app/session_list.h"
#include "app/stop_signal.h"
#include "app/target.h"
#include "capture/run_capture.h"
#include "options/capture_options.h"
#include "output/output_stream.h"

int runSequence(CaptureBackend& backend, int argc, const char* const* argv) {
    // Samples must pass untranslated; diagnostics get the console's line ends.
    useBinaryOutput();
    backend.watchConsole(stopRequested);

    CaptureOptions options;
    ParseError error;
    const ParseResult result = parseCommandLine(argc, argv, options, error);
    switch (result) {
        case ParseResult::InvalidValue:
            std::fprintf(stderr, "error: invalid value for %s: %s\n", error.option, error.value);
            return 1;
        case ParseResult::NoTarget:
            std::fprintf(stderr, "error: --pid <pid> or --hwnd <hwnd> is required\n");
            return 1;
        case ParseResult::CommandWithTarget:
            std::fprintf(stderr, "error: -- cannot be combined with --pid, --hwnd or --name\n");
            return 1;
        case ParseResult::Help:
        case ParseResult::Version:
        case ParseResult::List:
            // Text for a person: the console's line ends, as on standard error.
            useTextOutput();
            if (result == ParseResult::List) return listSessions(backend);
            if (result == ParseResult::Help) {
                printUsage(stdout);
            } else {
                std::printf("procloop %s\n", PROCLOOP_VERSION);
            }
            return std::fflush(stdout) == 0 ? 0 : 1;
        case ParseResult::TargetNamed:
            break;
    }
    // Before the target is looked for: an input that has already ended stops the run as a Ctrl+C then would.
    if (options.stopWithStdin) backend.watchEndOfInput();

    // Opened by the program itself, as a shell's redirection would be: some
    // shells (Windows PowerShell 5.1) decode a program's standard output as text.
    std::string why;
    if (options.output != nullptr && std::strcmp(options.output, "-") != 0 && !openOutputFile(options.output, why)) {
        std::fprintf(stderr, "error: could not open %s: %s\n", options.output, why.c_str());
        return 1;
    }
    if (options.command != nullptr) return runCommand(backend, options, stopRequested);
    std::uint32_t pid = 0;
    const Resolved resolved = resolveTarget(backend, options, pid, stopRequested);
    if (resolved != Resolved::Found) return resolved == Resolved::Stopped ? 0 : 1;
    std::fprintf(stderr, "info: pid=%lu includeChildren=%s\n", static_cast<unsigned long>(pid),
                 options.includeChildren ? "true" : "false");
    backend.describePlatform();
    return runCapture(backend, options, pid, stopRequested);
}

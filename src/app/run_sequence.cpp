#include "app/run_sequence.h"

#include <cstdint>
#include <cstdio>

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

    std::uint32_t pid = 0;
    if (!resolveTarget(backend, options, pid)) return 1;
    std::fprintf(stderr, "info: pid=%lu includeChildren=%s\n", static_cast<unsigned long>(pid),
                 options.includeChildren ? "true" : "false");
    backend.describePlatform();
    return runCapture(backend, options, pid, stopRequested);
}

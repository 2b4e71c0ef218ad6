#include "app/run_command.h"

#include <cstdio>
#include <memory>

#include "capture/run_capture.h"
#include "output/output_stream.h"

int runCommand(CaptureBackend& backend, CaptureOptions options, const std::atomic<bool>& stop) {
    int status = 1;
    const std::unique_ptr<HeldCommand> command = backend.startCommand(options.command, options.commandOutput, status);
    if (!command) return status;
    std::fprintf(stderr, "info: pid=%lu includeChildren=true\n", static_cast<unsigned long>(command->pid()));
    backend.describePlatform();
    // Its whole tree, until it exits: what it and its children play is the run's.
    options.includeChildren = true;
    options.stopWithTarget = true;
    status = runCapture(backend, options, command->pid(), stop, command.get());
    if (status != 0) return status;  // a command never released is ended as it goes
    // The reader sees the end of the samples now, not only once the command is done.
    closeOutput();
    return command->waitExit();
}

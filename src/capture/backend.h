// The seam between the program and a platform: a loopback capture of one
// process tree (or of everything but it), and the few questions the program
// asks about processes, windows and the console. Each platform implements it
// once, in its own idiom (src/windows: WASAPI and Win32; src/linux: libpulse,
// POSIX, /proc and xcb); main() picks the one it was built with.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::uint32_t parent = 0;
    std::string executable;  // UTF-8 base name
};

struct SessionOwner {
    std::uint32_t pid = 0;
    bool active = false;  // playing now
};

struct CaptureRequest {
    std::uint32_t pid = 0;
    bool includeTree = false;  // the target's tree; false: everything else
    std::uint32_t sampleRate = 48000;
    std::uint32_t channels = 2;
    bool watchTarget = false;  // the target is opened first, and wait() reports its exit
};

// One packet at the requested rate and channel count, already out of the
// platform's hands: a reader that blocks the write never holds the platform up.
struct CapturedPacket {
    enum Flags : std::uint32_t { kSilent = 0x1, kDiscontinuity = 0x2, kTimestampError = 0x4 };
    const float* samples = nullptr;  // frames x channels, interleaved; null when silent
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    std::uint64_t time = 0;  // the first frame's capture time, 100 ns on the stream's clock; 0: unknown
};

// Where a stream hands over what it captured, on the thread that waits.
class CaptureSink {
public:
    // False once the output has failed: the stream hands over no more and wait() returns Ended.
    virtual bool packet(const CapturedPacket& packet) = 0;
    // A whole diagnostic line ("warn: ...\n") the stream ends with, for standard error.
    virtual void say(const char* line) = 0;

protected:
    ~CaptureSink() = default;
};

enum class WaitResult {
    Continue,      // timed out, or handed over every packet that was waiting
    TargetExited,  // the watched target has exited
    Ended,         // the stream failed (its line said) or the output did
};

class CaptureStream {
public:
    // Stops the stream and releases everything, in the platform's order.
    virtual ~CaptureStream() = default;
    // Just before the stream started, and now, on the clock of its packets' times.
    virtual std::uint64_t startTime() const = 0;
    virtual std::uint64_t now() const = 0;
    // Waits at most `ms` for packets, the target's exit or a console stop
    // request, then hands every packet waiting to the sink, in order. A wait
    // that ends with a stop requested hands over nothing, one that sees the
    // target gone at most what the platform still delivers of its last audio;
    // once handing over has begun, the stream goes on with it whatever is
    // requested (the sink's writes give up on a stop, and it says so).
    virtual WaitResult wait(std::uint32_t ms, CaptureSink& sink) = 0;
};

// A command started for a capture, held before it runs any code of its own
// until release(), so that a capture opened on its pid meanwhile hears its
// first sample. Its standard input and console are the program's.
class HeldCommand {
public:
    // A command never released is ended; one released is left to run.
    virtual ~HeldCommand() = default;
    virtual std::uint32_t pid() const = 0;
    // Lets it run. False, its line written and `status` what the run exits
    // with (127: not found, 126: cannot run), when it could not start after all.
    virtual bool release(int& status) = 0;
    // Waits for it to end; its exit status (POSIX: 128 + N when signal N ended it).
    virtual int waitExit() = 0;
};

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // From now on a console stop request (Ctrl+C and its kin) sets `stop` and
    // cuts short a write of the calling thread that blocks on a reader who
    // stopped reading. Where the platform can, it also wakes a waiting stream;
    // elsewhere the loop's bounded waits notice it.
    virtual void watchConsole(std::atomic<bool>& stop) = 0;
    // From now on standard input reaching its end (or failing to read) is such a
    // stop request, so a parent can stop the run in order by closing the pipe,
    // on every platform alike. What arrives before is read and ignored. After watchConsole.
    virtual void watchEndOfInput() = 0;
    // Whether a person watches standard error on a console.
    virtual bool errorIsConsole() = 0;
    // The platform's own lines after the target's ("info: windows version ...").
    virtual void describePlatform() = 0;
    // Whether two executable names (UTF-8) name the same program, as the
    // platform's file names compare: Windows ignores case and ".exe"; POSIX compares bytes.
    virtual bool sameExecutable(const std::string& a, const std::string& b) const = 0;
    // Text for a person (UTF-8) to stdout or stderr, every character shown on a console.
    virtual void writeText(std::FILE* stream, const char* text) = 0;

    // Each false, with its error line written, when the platform cannot tell.
    virtual bool listProcesses(std::vector<ProcessEntry>& out) = 0;
    virtual bool listSessions(std::vector<SessionOwner>& out) = 0;
    // False when no such window has a known owner, writing nothing (but the
    // Linux line saying libxcb cannot be opened, when it cannot).
    virtual bool windowOwner(std::uint64_t window, std::uint32_t& pid) = 0;

    // A started capture, its "info: capture format" and "info: capture started"
    // lines written (capture_lines.h); null once a step has failed and said so.
    virtual std::unique_ptr<CaptureStream> open(const CaptureRequest& request) = 0;

    // Starts argv (null-terminated, argv[0] the program, found as the platform's
    // shell finds it) held at its start, its standard output to `outputPath`
    // (created or emptied), or to the program's standard error when null. Null,
    // its line written and `status` set (127: not found, 126: cannot run, 1:
    // anything else), when it could not.
    virtual std::unique_ptr<HeldCommand> startCommand(const char* const* argv, const char* outputPath, int& status) = 0;
};

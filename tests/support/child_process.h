// Runs a program as a child process with its own pipes, for the tests that
// treat procloop as other programs do: start it, read the pipe, signal it.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ChildResult {
    int exitCode = -1;  // minus the signal that ended it
    bool timedOut = false;
    std::vector<unsigned char> out;
    std::string err;
};

// Set on top of the test's environment; an empty value removes the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

struct ChildOptions {
    std::vector<std::string> argv;
    Environment env;
    std::string workingDirectory;
    std::size_t closeStdoutAfter = SIZE_MAX;  // the reader goes away after this many bytes
    std::size_t stallStdoutAfter = SIZE_MAX;  // the reader stops reading, the pipe left open
    std::string stdoutPath;  // standard output to this file instead of a pipe
    // In the child, its standard descriptors set, before exec: how a hostile parent starts it.
    std::function<void()> inChild;
    // Called from the reading loop at least every 20 ms with what arrived so far;
    // it may act on the world or the child, and while it runs nothing is read.
    std::function<void(pid_t pid, const ChildResult& soFar)> onProgress;
};

ChildResult runChild(const ChildOptions& options);
// What a command writes on standard output; throws, with what it wrote, unless it exits with 0.
std::string outputOf(const std::vector<std::string>& argv, const Environment& env = {}, const std::string& directory = "");

// Starts a program in the background, standard input from /dev/null and both
// outputs appended to `logPath`. It dies with the test binary.
pid_t spawnProcess(const std::vector<std::string>& argv, const Environment& env, const std::string& logPath);
// Ends a process started here: SIGTERM, then SIGKILL after `graceMs`; reaps it.
void stopProcess(pid_t pid, int graceMs = 3000);
// SIGKILL to a process and its descendants, each stopped first so that it starts no more; reaps it.
void killTree(pid_t pid);

// The lines a capture starts with (in the default format unless given).
std::string captureHead(unsigned long pid = 1234, bool includeChildren = false, unsigned channels = 2, unsigned rate = 48000);
constexpr const char* kStopped = "info: capture stopped\n";

#ifdef PROCLOOP_HOST_BINARY
// The binary under test, with these arguments and this environment.
inline ChildOptions procloop(const std::vector<std::string>& args, const Environment& env = {}) {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env;
    return options;
}
#endif

// A private directory under $TMPDIR (or /tmp), removed with what it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

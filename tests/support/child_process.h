// Runs a program as a child process with its own pipes, for the tests that
// treat procloop as other programs do: start it, read the pipe, signal it.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ChildOptions {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;  // set on top of ours
    std::vector<std::string> unsetEnv;
    std::string workingDirectory;
    std::size_t closeStdoutAfter = SIZE_MAX;  // the reader goes away after this many bytes
    std::string signalWhenErrContains;        // send `signal` once standard error shows this
    std::size_t signalAfterOutBytes = 0;      // ... and at least this much output arrived
    int signal = SIGINT;
    unsigned signalRepeat = 1;  // sent this many times in a row
    int thenSignal = 0;         // sent once after those
    std::function<void(pid_t)> beforeSignal;  // runs while the child still runs, before `signal`
    int timeoutMs = 60000;

    // How the child starts.
    std::vector<int> closedAtStart;  // of 0, 1, 2: closed, not redirected
    bool stderrReaderGone = false;   // standard error is a pipe nobody reads from any more
    std::string stdoutPath;          // standard output to this file instead of a pipe
    std::vector<std::pair<int, rlim_t>> limits;  // setrlimit(resource, soft and hard)
    std::vector<int> ignoredAtStart;             // signals the child inherits as ignored
    std::function<void()> beforeExec;            // last, in the child
};

struct ChildResult {
    int exitCode = -1;  // -1 when ended by a signal
    int termSignal = 0;
    bool timedOut = false;
    bool signalled = false;  // the requested signal was sent
    std::vector<unsigned char> out;
    std::string err;
};

ChildResult runChild(const ChildOptions& options);

// Before exec: default signal mask and dispositions, which the POSIX layer linked into the tests changes.
void resetSignalsForExec();

// "\r\n" -> "\n", to compare a Windows binary's text-mode lines with the host's.
std::string unixLines(const std::string& text);

// Runs a program as a child process with its own pipes, for the tests that
// treat procloop as other programs do: start it, read the pipe, signal it.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ChildOptions {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;  // set on top of ours
    std::string workingDirectory;
    std::size_t closeStdoutAfter = SIZE_MAX;  // the reader goes away after this many bytes
    std::string signalWhenErrContains;        // send `signal` once standard error shows this
    std::size_t signalAfterOutBytes = 0;      // ... and at least this much output arrived
    int signal = SIGINT;
    int timeoutMs = 60000;
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

// "\r\n" -> "\n", to compare a Windows binary's text-mode lines with the host's.
std::string unixLines(const std::string& text);

// A program the tests start and leave running beside the one under test (an X
// server, a client holding a window), stopped by the pid recorded at start.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

class BackgroundProcess {
public:
    // Standard output is a pipe read by readLine(); standard error is ours.
    BackgroundProcess(const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env = {},
                      const std::string& workingDirectory = "");
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }

    // The next line of its output without the line end; empty if none came in time.
    std::string readLine(int timeoutMs);

    // SIGTERM to the recorded pid, SIGKILL if it has not ended within 5 s; reaped.
    void stop();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

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

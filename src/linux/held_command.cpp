#include "linux/held_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "linux/console.h"

namespace linuxaudio {

namespace {

// 0 when `path` is a file we may execute, else why not (ENOENT, EACCES).
int runnable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return ENOENT;
    return S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0 ? 0 : EACCES;
}

// The file the shell would run for `name` (execvp's search of PATH), so that
// a command not found or not runnable is told before any capture starts.
int findProgram(const char* name, std::string& path) {
    if (std::strchr(name, '/') != nullptr) {
        path = name;
        return runnable(path);
    }
    const char* search = std::getenv("PATH");
    std::string dirs = search != nullptr ? search : "/bin:/usr/bin";
    int why = ENOENT;
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end == at ? "." : dirs.substr(at, end - at);
        path = dir + "/" + name;
        const int found = runnable(path);
        if (found == 0) return 0;
        if (found == EACCES) why = EACCES;  // as the shell says: found, but not to be run
        at = end + 1;
    }
    return why;
}

int statusOf(int error) { return error == ENOENT ? 127 : 126; }

void sayCannotRun(const char* name, int error) {
    if (error == ENOENT) {
        std::fprintf(stderr, "error: command not found: %s\n", name);
    } else {
        std::fprintf(stderr, "error: cannot run %s: %s\n", name, std::strerror(error));
    }
}

class ForkedCommand final : public HeldCommand {
public:
    ForkedCommand(pid_t pid, int go, int report, const char* name) : pid_(pid), go_(go), report_(report), name_(name) {}
    ~ForkedCommand() override {
        if (go_ >= 0) {
            // Never let go: it must not run. Closing its pipe alone would end it too.
            ::close(go_);
            ::kill(pid_, SIGKILL);
            reap();
        }
        if (report_ >= 0) ::close(report_);
    }
    ForkedCommand(const ForkedCommand&) = delete;
    ForkedCommand& operator=(const ForkedCommand&) = delete;

    std::uint32_t pid() const override { return static_cast<std::uint32_t>(pid_); }

    bool release(int& status) override {
        const char go = 1;
        while (::write(go_, &go, 1) < 0 && errno == EINTR) {
        }
        ::close(go_);
        go_ = -1;
        // Closed by a successful exec; an errno when exec failed.
        int error = 0;
        ssize_t got = 0;
        while ((got = ::read(report_, &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (got != static_cast<ssize_t>(sizeof error)) return true;
        sayCannotRun(name_, error);
        status = statusOf(error);
        reap();
        return false;
    }

    int waitExit() override {
        const int status = reap();
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }

private:
    // A console stop interrupts the wait, again and again until the program ends.
    int reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        return status;
    }

    pid_t pid_;
    int go_, report_;
    const char* name_;
};

// The child: standard output where asked, the signals as the program found
// them, and nothing of its own until the capture listens. Only calls safe
// after fork in a process with threads.
[[noreturn]] void runChild(const char* path, const char* const* argv, int output, int go, int report) {
    ::dup2(output >= 0 ? output : 2, 1);
    restoreSignalsForCommand();
    char byte = 0;
    ssize_t got = 0;
    while ((got = ::read(go, &byte, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1) ::_exit(1);  // the capture never started: the program ends it
    ::execve(path, const_cast<char* const*>(argv), environ);
    const int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(statusOf(error));
}

}  // namespace

std::unique_ptr<HeldCommand> startHeldCommand(const char* const* argv, const char* outputPath, int& status) {
    std::string path;
    const int error = findProgram(argv[0], path);
    if (error != 0) {
        sayCannotRun(argv[0], error);
        status = statusOf(error);
        return nullptr;
    }
    status = 1;
    int output = -1;
    if (outputPath != nullptr) {
        output = ::open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (output < 0) {
            std::fprintf(stderr, "error: could not open %s: %s\n", outputPath, std::strerror(errno));
            return nullptr;
        }
    }
    int go[2] = {-1, -1}, report[2] = {-1, -1};
    pid_t pid = -1;
    if (::pipe2(go, O_CLOEXEC) == 0 && ::pipe2(report, O_CLOEXEC) == 0) pid = ::fork();
    if (pid == 0) runChild(path.c_str(), argv, output, go[0], report[1]);
    const int forkError = errno;
    for (const int fd : {output, go[0], report[1]}) {
        if (fd >= 0) ::close(fd);
    }
    if (pid < 0) {
        for (const int fd : {go[1], report[0]}) {
            if (fd >= 0) ::close(fd);
        }
        std::fprintf(stderr, "error: cannot start %s: %s\n", argv[0], std::strerror(forkError));
        return nullptr;
    }
    return std::unique_ptr<HeldCommand>(new ForkedCommand(pid, go[1], report[0], argv[0]));
}

}  // namespace linuxaudio

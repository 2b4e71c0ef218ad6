// Runs a program as a child process with its own pipes, for the tests that
// treat procloop as other programs do: start it, read the pipe, signal it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
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

// Forks a child that takes its standard descriptors in `setUp`, then runs
// `argv` as a shell would start it: the test binary's platform layer blocks
// and handles console signals.
inline pid_t startChild(const std::vector<std::string>& argv, const Environment& env,
                        const std::function<void()>& setUp, const std::function<void()>& inChild = {}) {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid != 0) return pid;
    setUp();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
    for (const auto& [name, value] : env) {
        if (value.empty()) ::unsetenv(name.c_str());
        else ::setenv(name.c_str(), value.c_str(), 1);
    }
    if (inChild) inChild();
    ::closefrom(3);  // nothing of the test process but what is asked for
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// Starts a program in the background, standard input from /dev/null and both outputs appended
// to `logPath`. It dies with the test binary, however that ends (a timeout's SIGKILL too).
inline pid_t spawnProcess(const std::vector<std::string>& argv, const Environment& env, const std::string& logPath) {
    return startChild(argv, env, [&logPath] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
    });
}

// Ends a process started here: SIGTERM, then SIGKILL after `graceMs`; reaps it.
inline void stopProcess(pid_t pid, int graceMs = 3000) {
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// SIGKILL to a process and its descendants, each stopped first so that it starts no more; reaps it.
inline void killTree(pid_t pid) {
    ::kill(pid, SIGSTOP);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child = 0; children >> child;) killTree(child);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);  // a descendant not ours is reaped by its parent
}

inline ChildResult runChild(const ChildOptions& options) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = startChild(options.argv, options.env, [&] {
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        const char* path = options.stdoutPath.c_str();
        ::dup2(*path == '\0' ? outPipe[1] : ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(errPipe[1], 2);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    }, options.inChild);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    ChildResult result;
    int fds[2] = {outPipe[0], errPipe[0]};
    int status = 0;
    bool exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // A stalled reader keeps its end open and reads no more of it.
    const auto stalled = [&] { return result.out.size() >= options.stallStdoutAfter; };
    while (!exited || (fds[0] >= 0 && !stalled()) || fds[1] >= 0) {
        exited = exited || ::waitpid(pid, &status, WNOHANG) == pid;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            break;
        }
        pollfd polled[2] = {{stalled() ? -1 : fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};  // poll skips a negative fd
        ::poll(polled, 2, 20);
        for (int i = 0; i < 2; ++i) {
            char chunk[65536];
            const ssize_t got = polled[i].revents == 0 ? 0 : ::read(fds[i], chunk, sizeof chunk);
            if (got > 0 && i == 0) result.out.insert(result.out.end(), chunk, chunk + got);
            if (got > 0 && i == 1) result.err.append(chunk, static_cast<std::size_t>(got));
            const bool over = i == 0 && result.out.size() >= options.closeStdoutAfter;
            if (fds[i] >= 0 && ((polled[i].revents != 0 && got <= 0) || over)) {
                ::close(fds[i]);
                fds[i] = -1;
            }
        }
        if (options.onProgress) options.onProgress(pid, result);
    }
    for (const int fd : fds) {
        if (fd >= 0) ::close(fd);
    }
    if (!exited) {  // timed out
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.exitCode = -WTERMSIG(status);
    return result;
}

// The child's standard input from a pipe holding `text`, whose writing end
// the test holds: close() is the end of the child's input.
struct InputPipe {
    InputPipe(ChildOptions& options, const std::string& text) {
        if (::pipe2(fds, O_CLOEXEC) != 0 || ::write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw std::runtime_error("input pipe");
        options.inChild = [read = fds[0]] { ::dup2(read, 0); };
    }
    InputPipe(const InputPipe&) = delete;
    ~InputPipe() { close(), ::close(fds[0]); }
    bool close() { return fds[1] < 0 || ::close(std::exchange(fds[1], -1)) == 0; }
    int fds[2] = {-1, -1};
};

// What a command writes on standard output; throws, with what it wrote, unless it exits with 0.
inline std::string outputOf(const std::vector<std::string>& argv, const Environment& env = {}) {
    ChildOptions options;
    options.argv = argv, options.env = env;
    const ChildResult r = runChild(options);
    const std::string out(r.out.begin(), r.out.end());
    if (r.exitCode != 0) throw std::runtime_error(argv.front() + " failed:\n" + out + r.err);
    return out;
}

// The lines a capture starts with (in the default format unless given).
inline std::string captureHead(unsigned long pid = 1234, bool includeChildren = false, unsigned channels = 2,
                               unsigned rate = 48000) {
    const std::string hz = std::to_string(rate), ch = std::to_string(channels);
    return "info: pid=" + std::to_string(pid) + " includeChildren=" + (includeChildren ? "true" : "false") +
           "\ninfo: capture format " + hz + " Hz " + ch + " ch 32 bit float\ninfo: capture started sampleRate=" + hz +
           " channels=" + ch + "\n";
}
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
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "procloop-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

// In the child, before exec.
void applyEnvironment(const Environment& env) {
    for (const auto& [name, value] : env) {
        if (value.empty()) ::unsetenv(name.c_str());
        else ::setenv(name.c_str(), value.c_str(), 1);
    }
}

}  // namespace

pid_t spawnProcess(const std::vector<std::string>& argv, const Environment& env, const std::string& logPath) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        // Dies with the test binary, however that ends (a timeout's SIGKILL too).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int in = ::open("/dev/null", O_RDONLY);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(in, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        resetSignalsForExec();
        applyEnvironment(env);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

int stopProcess(pid_t pid, int signal, int graceMs) {
    int status = 0;
    ::kill(pid, signal);
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return status;
}

void resetSignalsForExec() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
}

namespace {

// The forked child: its descriptors, limits and environment, then the program.
[[noreturn]] void startProgram(const ChildOptions& options, int out, int err) {
    resetSignalsForExec();
    for (const int sig : options.ignoredAtStart) ::signal(sig, SIG_IGN);
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    if (!options.stdoutPath.empty()) {
        const int file = ::open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (file < 0) ::_exit(125);
        ::dup2(file, 1);
        ::close(file);
    } else {
        ::dup2(out, 1);
    }
    ::dup2(err, 2);
    ::closefrom(3);  // nothing of the test process but what is asked for
    for (const int fd : options.closedAtStart) ::close(fd);
    for (const auto& [resource, value] : options.limits) {
        const rlimit limit{value, value};
        if (::setrlimit(resource, &limit) != 0) ::_exit(124);
    }
    applyEnvironment(options.env);
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
    if (options.beforeExec) options.beforeExec();
    std::vector<char*> argv;
    for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

void sendSignals(const ChildOptions& options, pid_t pid) {
    if (options.beforeSignal) options.beforeSignal(pid);
    for (unsigned i = 0; i < options.signalRepeat; ++i) {
        if (::kill(pid, options.signal) != 0) break;
    }
    if (options.thenSignal != 0) ::kill(pid, options.thenSignal);
}

}  // namespace

ChildResult runChild(const ChildOptions& options) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    // Closed before the fork, so no process holds the read end at all.
    if (options.stderrReaderGone) ::close(errPipe[0]);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) startProgram(options, outPipe[1], errPipe[1]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    ChildResult result;
    int outFd = outPipe[0];
    int errFd = options.stderrReaderGone ? -1 : errPipe[0];
    if (!options.stdoutPath.empty()) {
        ::close(outFd);
        outFd = -1;
    }
    const bool armed = !options.signalWhenErrContains.empty() || options.signalAfterOutBytes > 0;
    bool exited = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    for (;;) {
        if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) exited = true;
        const bool stalled = outFd >= 0 && result.out.size() >= options.stallStdoutAfter;
        if (exited && (outFd < 0 || stalled) && errFd < 0) break;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            if (!exited) ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2];
        nfds_t n = 0;
        if (outFd >= 0 && !stalled) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (::poll(fds, n, n == 0 ? 10 : (options.onProgress ? 20 : 100)) < 0) continue;
        for (nfds_t i = 0; i < n; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            unsigned char chunk[65536];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            const bool isOut = fds[i].fd == outFd;
            if (got <= 0) {
                ::close(fds[i].fd);
                (isOut ? outFd : errFd) = -1;
                continue;
            }
            if (isOut) {
                result.out.insert(result.out.end(), chunk, chunk + got);
                if (result.out.size() >= options.closeStdoutAfter) {
                    ::close(outFd);
                    outFd = -1;
                }
            } else {
                result.err.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(got));
            }
        }
        if (armed && !result.signalled && !exited &&
            (options.signalWhenErrContains.empty() ||
             result.err.find(options.signalWhenErrContains) != std::string::npos) &&
            result.out.size() >= options.signalAfterOutBytes) {
            sendSignals(options, pid);
            result.signalled = true;
        }
        if (options.onProgress) options.onProgress(pid, result);
    }
    if (outFd >= 0) ::close(outFd);
    if (errFd >= 0) ::close(errFd);
    if (!exited) ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    return result;
}

std::string unixLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

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

void resetSignalsForExec() {
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

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

ChildResult runChild(const ChildOptions& options) {
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        resetSignalsForExec();
        applyEnvironment(options.env);
        if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv;
        for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    ChildResult result;
    int outFd = outPipe[0];
    int errFd = errPipe[0];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    while (outFd >= 0 || errFd >= 0) {
        pollfd fds[2];
        nfds_t n = 0;
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, n, options.onProgress ? 20 : 100) < 0) continue;
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
        if (!result.signalled && !options.signalWhenErrContains.empty() &&
            result.err.find(options.signalWhenErrContains) != std::string::npos &&
            result.out.size() >= options.signalAfterOutBytes) {
            ::kill(pid, options.signal);
            result.signalled = true;
        }
        if (options.onProgress) options.onProgress(pid, result);
    }
    if (outFd >= 0) ::close(outFd);
    if (errFd >= 0) ::close(errFd);
    int status = 0;
    ::waitpid(pid, &status, 0);
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

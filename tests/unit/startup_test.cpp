// What the POSIX layer's start-up has done by the time main runs, seen from
// inside a process that links it (this test binary does).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

namespace {

constexpr int kConsoleSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

bool ignored(int sig) {
    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    return current.sa_handler == SIG_IGN;
}

bool blockedHere(int sig) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, sig) == 1;
}

TEST(Startup, ConsoleSignalsAreBlockedInEveryThread) {
    for (const int sig : kConsoleSignals) {
        // One ignored by whoever started us stays ignored instead.
        EXPECT_TRUE(blockedHere(sig) || ignored(sig)) << sig;
        bool inThread = false;
        std::thread([&] { inThread = blockedHere(sig); }).join();
        EXPECT_TRUE(inThread || ignored(sig)) << sig;
    }
}

TEST(Startup, FailedWritesDoNotRaiseSignals) {
    EXPECT_TRUE(ignored(SIGPIPE));
    EXPECT_TRUE(ignored(SIGXFSZ));
}

TEST(Startup, AForkedChildDoesNotInheritTheBlockedSignals) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int blocked = 0;
        for (const int sig : kConsoleSignals) blocked += blockedHere(sig) ? 1 : 0;
        _exit(blocked);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

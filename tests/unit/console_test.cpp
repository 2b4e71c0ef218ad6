// Console control events as the POSIX layer delivers them from signals sent to
// the process, and the start-up that makes that possible (this binary links it).
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

struct EventCase {
    const char* name;
    int signal;
    bool handled;  // what the latest handler returns
    bool endsProcess() const { return !handled || signal == SIGHUP || signal == SIGTERM; }
};
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

EventCase current;
pthread_t mainThread;
std::atomic<int> entered{0}, returned{0}, passedOn{0};
std::atomic<bool> overlapped{false}, onMainThread{false};

void waitFor(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 1000 && counter.load() < value; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

BOOL WINAPI earlier(DWORD /*ctrlType*/) {
    passedOn.fetch_add(1);
    return FALSE;  // passes the event on
}

BOOL WINAPI latest(DWORD /*ctrlType*/) {
    if (pthread_equal(pthread_self(), mainThread) != 0) onMainThread.store(true);
    // The first event waits for the second, which only a thread per event lets in.
    if (entered.fetch_add(1) == 0 && !current.endsProcess()) {
        waitFor(entered, 2);
        overlapped.store(entered.load() == 2);
    }
    std::fprintf(stderr, "handler returned\n");  // the process may end only after this
    returned.fetch_add(1);
    return current.handled ? TRUE : FALSE;
}

// In a death test's process, as handlers cannot be taken back: the event twice;
// exit 0 if both were taken latest handler first, each on a thread of its own.
[[noreturn]] void sendTwice(const EventCase& c) {
    const rlimit noCore{0, 0};  // an untaken Ctrl+Break would dump core
    setrlimit(RLIMIT_CORE, &noCore);
    current = c;
    mainThread = pthread_self();
    bool registered = !SetConsoleCtrlHandler(nullptr, TRUE) && !SetConsoleCtrlHandler(earlier, FALSE);
    // `earlier` twice: already there, it stays behind `latest`.
    for (const PHANDLER_ROUTINE h : {earlier, latest, earlier}) {
        registered = registered && SetConsoleCtrlHandler(h, TRUE);
    }
    kill(getpid(), c.signal);
    waitFor(entered, 1);
    kill(getpid(), c.signal);
    waitFor(returned, 2);
    std::exit(registered && returned == 2 && overlapped && passedOn == 0 && !onMainThread ? 0 : 1);
}

class ConsoleEvent : public ::testing::TestWithParam<EventCase> {};

// Taken Ctrl+C and Ctrl+Break leave the process running; untaken ones end it
// by the signal once every handler had its say; close and shutdown end it once
// the handlers have returned, taken or not.
TEST_P(ConsoleEvent, EndsTheProcessOnlyAsTheConsoleDoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const EventCase c = GetParam();
    const auto ended = [c](int status) {
        if (!c.endsProcess()) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return WIFSIGNALED(status) && WTERMSIG(status) == c.signal;
    };
    EXPECT_EXIT(sendTwice(c), ended, c.endsProcess() ? "handler returned" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Events, ConsoleEvent,
    ::testing::Values(EventCase{"CtrlCTaken", SIGINT, true}, EventCase{"CtrlCNotTaken", SIGINT, false},
                      EventCase{"CtrlBreakTaken", SIGQUIT, true}, EventCase{"CtrlBreakNotTaken", SIGQUIT, false},
                      EventCase{"CloseTaken", SIGHUP, true}, EventCase{"CloseNotTaken", SIGHUP, false},
                      EventCase{"ShutdownTaken", SIGTERM, true}, EventCase{"ShutdownNotTaken", SIGTERM, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Of the console signals, how many this thread blocks (or finds ignored by
// whoever started us, which stay ignored instead).
int blockedConsoleSignals(bool orIgnored) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    int blocked = 0;
    for (const int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        struct sigaction action {};
        sigaction(sig, nullptr, &action);
        blocked += sigismember(&mask, sig) == 1 || (orIgnored && action.sa_handler == SIG_IGN) ? 1 : 0;
    }
    return blocked;
}

TEST(Startup, BlocksConsoleSignalsInEveryThreadButNotInAForkedChild) {
    EXPECT_EQ(blockedConsoleSignals(true), 4);
    int inThread = 0;
    std::thread([&] { inThread = blockedConsoleSignals(true); }).join();
    EXPECT_EQ(inThread, 4);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(blockedConsoleSignals(false));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace

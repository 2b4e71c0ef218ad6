// Console control events as the POSIX layer delivers them from signals sent to
// the process. Each case runs in a process of its own (a death test): the
// handlers registered cannot be taken back, and some cases end the process.
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

std::atomic<int> taken{0};
std::atomic<bool> wrongThread{false};
pthread_t mainThread;
char order[8];
std::atomic<int> orderLength{0};

void note(char who) {
    const int at = orderLength.fetch_add(1);
    if (at < 7) order[at] = who;
    if (pthread_equal(pthread_self(), mainThread) != 0) wrongThread.store(true);
}

BOOL WINAPI takeIt(DWORD /*ctrlType*/) {
    note('T');
    // Shown on standard error just before returning, so a death test can tell
    // the process ended after the handler, not during it.
    std::fprintf(stderr, "handler returned\n");
    taken.fetch_add(1);
    return TRUE;
}

BOOL WINAPI passItOn(DWORD /*ctrlType*/) {
    note('P');
    return FALSE;
}

void waitFor(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 1000 && counter.load() < value; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

struct EventCase {
    const char* name;
    int signal;
    bool handlerTakesIt;
    bool endsProcess;
};
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

// In the death test's process: the event twice, then exit 0 if both were taken.
[[noreturn]] void sendTwice(int signal, bool handlerTakesIt) {
    const rlimit noCore{0, 0};  // an untaken Ctrl+Break would dump core
    setrlimit(RLIMIT_CORE, &noCore);
    SetConsoleCtrlHandler(handlerTakesIt ? takeIt : passItOn, TRUE);
    kill(getpid(), signal);
    waitFor(taken, 1);
    kill(getpid(), signal);
    waitFor(taken, 2);
    std::exit(taken.load() == 2 ? 0 : 1);
}

class ConsoleEvent : public ::testing::TestWithParam<EventCase> {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Taken Ctrl+C and Ctrl+Break leave the process running (a second one is
// taken too); untaken ones end it by the signal; close and shutdown end it
// once the handler has returned.
TEST_P(ConsoleEvent, EndsTheProcessOnlyAsTheConsoleDoes) {
    const EventCase c = GetParam();
    const auto ended = [c](int status) {
        if (!c.endsProcess) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return WIFSIGNALED(status) && WTERMSIG(status) == c.signal;
    };
    EXPECT_EXIT(sendTwice(c.signal, c.handlerTakesIt), ended, c.endsProcess && c.handlerTakesIt ? "handler returned" : "");
}

INSTANTIATE_TEST_SUITE_P(Events, ConsoleEvent,
                         ::testing::Values(EventCase{"CtrlCTaken", SIGINT, true, false},
                                           EventCase{"CtrlBreakTaken", SIGQUIT, true, false},
                                           EventCase{"CtrlCNotTaken", SIGINT, false, true},
                                           EventCase{"CtrlBreakNotTaken", SIGQUIT, false, true},
                                           EventCase{"CloseTaken", SIGHUP, true, true},
                                           EventCase{"CloseNotTaken", SIGHUP, false, true},
                                           EventCase{"ShutdownTaken", SIGTERM, true, true},
                                           EventCase{"ShutdownNotTaken", SIGTERM, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

[[noreturn]] void registerThreeAndSend() {
    mainThread = pthread_self();
    SetConsoleCtrlHandler(takeIt, TRUE);
    SetConsoleCtrlHandler(passItOn, TRUE);
    SetConsoleCtrlHandler(takeIt, TRUE);  // already there: stays where it was
    kill(getpid(), SIGINT);
    waitFor(taken, 1);
    const bool inOrder = orderLength.load() == 2 && order[0] == 'P' && order[1] == 'T';
    std::exit(inOrder && !wrongThread.load() ? 0 : 1);
}

TEST(ConsoleHandlers, RunLatestFirstOffTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(registerThreeAndSend(), ::testing::ExitedWithCode(0), "");
}

std::atomic<int> breakEntered{0};
std::atomic<int> ctrlCSeen{0};

// Holds Ctrl+Break until a Ctrl+C has been handled, which can only happen if
// that event is on a thread of its own.
BOOL WINAPI holdBreak(DWORD ctrlType) {
    if (ctrlType == CTRL_C_EVENT) {
        ctrlCSeen.store(1);
        return TRUE;
    }
    breakEntered.store(1);
    waitFor(ctrlCSeen, 1);
    taken.store(ctrlCSeen.load());
    return ctrlCSeen.load() == 1 ? TRUE : FALSE;
}

[[noreturn]] void breakThenCtrlC() {
    SetConsoleCtrlHandler(holdBreak, TRUE);
    kill(getpid(), SIGQUIT);
    waitFor(breakEntered, 1);
    kill(getpid(), SIGINT);
    waitFor(taken, 1);
    std::exit(taken.load() == 1 ? 0 : 1);
}

TEST(ConsoleHandlers, EachEventHasAThreadOfItsOwn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(breakThenCtrlC(), ::testing::ExitedWithCode(0), "");
}

TEST(ConsoleHandlers, RefusesWhatCannotBeRegistered) {
    EXPECT_EQ(SetConsoleCtrlHandler(nullptr, TRUE), FALSE);
    EXPECT_EQ(SetConsoleCtrlHandler(passItOn, FALSE), FALSE);
}

}  // namespace

#include "app/stop_signal.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(OnConsoleControl, StopsForTheConsoleEventsAndPassesOnOthers) {
    struct Case {
        DWORD type;
        BOOL handled;
    };
    const Case cases[] = {
        {CTRL_C_EVENT, TRUE},       {CTRL_BREAK_EVENT, TRUE},    {CTRL_CLOSE_EVENT, TRUE}, {3, FALSE}, {4, FALSE},
        {CTRL_LOGOFF_EVENT, TRUE},  {CTRL_SHUTDOWN_EVENT, TRUE}, {7, FALSE},               {0xFFFFFFFF, FALSE},
    };
    for (const Case& c : cases) {
        stopRequested.store(false);
        EXPECT_EQ(onConsoleControl(c.type), c.handled) << c.type;
        EXPECT_EQ(stopRequested.load(), c.handled == TRUE) << c.type;
    }
    stopRequested.store(false);
}

TEST(OnConsoleControl, AnInterruptSignalReachesItOnTheConsoleThread) {
    stopRequested.store(false);
    ASSERT_TRUE(SetConsoleCtrlHandler(onConsoleControl, TRUE));
    // To the process, as a terminal sends it: a signal raised at one thread
    // stays with that thread, where the console signals are blocked.
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    for (int i = 0; i < 500 && !stopRequested.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(stopRequested.load());
    stopRequested.store(false);
}

}  // namespace

#include "app/stop_signal.h"

#include <gtest/gtest.h>

namespace {

struct Event {
    const char* name;
    DWORD type;
    bool stops;  // taken, and the capture told to stop
};
void PrintTo(const Event& c, std::ostream* os) { *os << c.name; }

class OnConsoleControl : public ::testing::TestWithParam<Event> {
protected:
    void SetUp() override { stopRequested.store(false); }
    void TearDown() override { stopRequested.store(false); }
};

TEST_P(OnConsoleControl, StopsForTheConsoleEventsAndPassesOnOthers) {
    EXPECT_EQ(onConsoleControl(GetParam().type), GetParam().stops ? TRUE : FALSE);
    EXPECT_EQ(stopRequested.load(), GetParam().stops);
}

INSTANTIATE_TEST_SUITE_P(All, OnConsoleControl,
                         ::testing::Values(Event{"CtrlC", CTRL_C_EVENT, true}, Event{"CtrlBreak", CTRL_BREAK_EVENT, true},
                                           Event{"Close", CTRL_CLOSE_EVENT, true}, Event{"Three", 3, false},
                                           Event{"Logoff", CTRL_LOGOFF_EVENT, true},
                                           Event{"Shutdown", CTRL_SHUTDOWN_EVENT, true}, Event{"Seven", 7, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

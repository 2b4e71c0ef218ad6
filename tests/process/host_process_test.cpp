// The host binary as other programs use it: started, read through a pipe,
// stopped with a signal. Built with AddressSanitizer, its leak check turns
// any leak at exit into exit code 23.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace {

const std::string kHead =
    "info: pid=1234 includeChildren=true\n"
    "info: capture format 48000 Hz 2 ch 32 bit float\n"
    "info: capture started sampleRate=48000 channels=2\n";

ChildOptions procloop(const std::string& script = "") {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY, "--pid", "1234", "--include-child-processes"};
    options.env = {{"STANDIN_ENGINE_SCRIPT", script}};
    return options;
}

TEST(HostProcess, CtrlCStopsInOrderWithSuccess) {
    ChildOptions options = procloop();
    options.signalWhenErrContains = "capture started";
    options.signalAfterOutBytes = 48000 * 8;  // a second of audio
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_TRUE(r.signalled);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kHead + "info: capture stopped\n");
    EXPECT_GE(r.out.size(), 48000u * 8);
    EXPECT_EQ(r.out.size() % 8, 0u);
}

TEST(HostProcess, AReaderThatGoesAwayEndsTheRunWithSuccess) {
    ChildOptions options = procloop();
    options.closeStdoutAfter = 20000;
    const ChildResult r = runChild(options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, kHead + "info: capture stopped\n");
}

struct Failure {
    const char* name;
    const char* script;
    const char* line;
};
void PrintTo(const Failure& c, std::ostream* os) { *os << c.name; }

class HostSetupFailure : public ::testing::TestWithParam<Failure> {};

// Exactly 1, not the leak check's 23: nothing is left behind on the way out.
TEST_P(HostSetupFailure, ExitsCleanlyWithItsLine) {
    const ChildResult r = runChild(procloop(GetParam().script));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), GetParam().line);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Some, HostSetupFailure,
    ::testing::Values(Failure{"ActivationResult", "fail=GetActivateResult:80004005",
                              "error: audio client activation failed hr=0x00000000\n"},
                      Failure{"Initialize", "fail=Initialize:88890008",
                              "info: capture format 48000 Hz 2 ch 32 bit float\nerror: IAudioClient::Initialize hr=0x88890008\n"},
                      Failure{"Start", "fail=Start:88890010",
                              "info: capture format 48000 Hz 2 ch 32 bit float\nerror: IAudioClient::Start hr=0x88890010\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#include "windows/windows_backend.h"

#include "windows/capture_stream.h"
#include "windows/console.h"
#include "windows/console_text.h"
#include "windows/executable_name.h"
#include "windows/held_command.h"
#include "windows/process_snapshot.h"
#include "windows/session_list.h"
#include "windows/version_probe.h"
#include "windows/window_owner.h"
#include "windows/windows_sdk.h"

namespace {

class WindowsBackend final : public CaptureBackend {
public:
    void watchConsole(std::atomic<bool>& stop) override {
        stop_ = &stop;
        watchConsoleStops(stop);
    }
    void watchEndOfInput() override { ::watchEndOfInput(); }
    bool errorIsConsole() override { return standardErrorIsConsole(); }
    void describePlatform() override { probeWindowsVersion(); }
    bool sameExecutable(const std::string& a, const std::string& b) const override { return sameWindowsExecutable(a, b); }
    void writeText(std::FILE* stream, const char* text) override { writeConsoleText(stream, text); }

    bool listProcesses(std::vector<ProcessEntry>& out) override { return snapshotProcesses(out); }
    bool listSessions(std::vector<SessionOwner>& out) override { return listAudioSessions(out); }

    bool windowOwner(std::uint64_t window, std::uint32_t& pid) override { return windowProcess(window, pid); }

    std::unique_ptr<CaptureStream> open(const CaptureRequest& request) override { return openCapture(request, stop_); }
    std::unique_ptr<HeldCommand> startCommand(const char* const* argv, const char* outputPath, int& status) override {
        return startHeldCommand(argv, outputPath, status);
    }

private:
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace

std::unique_ptr<CaptureBackend> newWindowsBackend() { return std::make_unique<WindowsBackend>(); }

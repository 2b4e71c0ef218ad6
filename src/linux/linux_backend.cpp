#include "linux/linux_backend.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "linux/capture_stream.h"
#include "linux/console.h"
#include "linux/held_command.h"
#include "linux/procfs.h"
#include "linux/sessions.h"
#include "linux/x11_window.h"

namespace {

class LinuxBackend final : public CaptureBackend {
public:
    void watchConsole(std::atomic<bool>& stop) override {
        stop_ = &stop;
        linuxaudio::watchConsoleSignals(stop);
    }
    void watchEndOfInput() override { linuxaudio::watchEndOfInput(); }

    bool errorIsConsole() override { return ::isatty(2) == 1; }

    // The audio server's line comes with the capture, once connected.
    void describePlatform() override {}

    bool sameExecutable(const std::string& a, const std::string& b) const override { return a == b; }
    void writeText(std::FILE* stream, const char* text) override { std::fputs(text, stream); }

    bool listProcesses(std::vector<ProcessEntry>& out) override {
        std::vector<linuxaudio::ProcStat> all;
        if (!linuxaudio::readAllProcesses(all)) {
            std::fprintf(stderr, "error: cannot read /proc: %s\n", std::strerror(errno));
            return false;
        }
        out.clear();
        out.reserve(all.size());
        for (const linuxaudio::ProcStat& p : all) {
            std::string name = linuxaudio::executableName(p.pid);
            // A process that ended while it was read is left out.
            if (!name.empty()) out.push_back(ProcessEntry{p.pid, p.ppid, std::move(name)});
        }
        return true;
    }

    bool listSessions(std::vector<SessionOwner>& out) override { return linuxaudio::readSessions(out); }

    bool windowOwner(std::uint64_t window, std::uint32_t& pid) override {
        return linuxaudio::x11WindowOwner(window, pid);
    }

    std::unique_ptr<CaptureStream> open(const CaptureRequest& request) override {
        return linuxaudio::openCapture(request, stop_);
    }

    std::unique_ptr<HeldCommand> startCommand(const char* const* argv, const char* outputPath, int& status) override {
        return linuxaudio::startHeldCommand(argv, outputPath, status);
    }

private:
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace

std::unique_ptr<CaptureBackend> newLinuxBackend() {
    linuxaudio::prepareStandardDescriptors();
    return std::unique_ptr<CaptureBackend>(new LinuxBackend);
}

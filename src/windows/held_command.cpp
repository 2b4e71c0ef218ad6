#include "windows/held_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "windows/command_line.h"
#include "windows/console_text.h"
#include "windows/unique_handle.h"
#include "windows/windows_sdk.h"

namespace {

// "error: <what> <name>[: <call> hr=0x...]", the name as written on a console too.
void sayFailure(const char* what, const char* name, const char* call = nullptr, DWORD error = 0) {
    char code[64] = "";
    if (call != nullptr) {
        std::snprintf(code, sizeof code, ": %s hr=0x%08lX", call, static_cast<unsigned long>(HRESULT_FROM_WIN32(error)));
    }
    writeConsoleText(stderr, (std::string("error: ") + what + " " + name + code + "\n").c_str());
}

// argv is UTF-8 (the manifest's code page); the command line is UTF-16.
std::wstring wide(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(size > 0 ? static_cast<std::size_t>(size) : 1u, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], size);
    out.pop_back();  // the terminator
    return out;
}

// An inheritable copy of one of our standard handles; null when there is none.
HANDLE inheritableCopy(DWORD which) {
    HANDLE own = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) return nullptr;
    return copy;
}

class SuspendedCommand final : public HeldCommand {
public:
    SuspendedCommand(const PROCESS_INFORMATION& info, const char* name)
        : process_(info.hProcess), thread_(info.hThread), pid_(info.dwProcessId), name_(name) {}
    ~SuspendedCommand() override {
        // Never resumed: it has run nothing of its own, and must not.
        if (thread_) TerminateProcess(process_.get(), 1);
    }
    SuspendedCommand(const SuspendedCommand&) = delete;
    SuspendedCommand& operator=(const SuspendedCommand&) = delete;

    std::uint32_t pid() const override { return pid_; }

    bool release(int& status) override {
        if (ResumeThread(thread_.get()) == static_cast<DWORD>(-1)) {
            sayFailure("cannot run", name_, "ResumeThread", GetLastError());
            status = 126;
            return false;
        }
        thread_.reset();
        return true;
    }

    int waitExit() override {
        DWORD code = 1;
        WaitForSingleObject(process_.get(), INFINITE);
        GetExitCodeProcess(process_.get(), &code);
        return static_cast<int>(code);
    }

private:
    KernelHandle process_, thread_;
    DWORD pid_;
    const char* name_;
};

}  // namespace

std::unique_ptr<HeldCommand> startHeldCommand(const char* const* argv, const char* outputPath, int& status) {
    status = 1;
    std::vector<std::wstring> args;
    for (const char* const* arg = argv; *arg != nullptr; ++arg) args.push_back(wide(*arg));
    std::wstring line = quoteCommandLine(args);

    // Only these handles go to the command: not our standard output, whose
    // reader must see its end when the capture stops, whatever the command does.
    KernelHandle input(inheritableCopy(STD_INPUT_HANDLE)), error(inheritableCopy(STD_ERROR_HANDLE)), output;
    if (outputPath != nullptr) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE file = CreateFileW(wide(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            sayFailure("could not open", outputPath, "CreateFileW", GetLastError());
            return nullptr;
        }
        output = KernelHandle(file);
    }
    std::vector<HANDLE> inherited;
    for (const KernelHandle* h : {&input, &error, &output}) {
        if (*h) inherited.push_back(h->get());
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = output ? output.get() : error.get();
    startup.StartupInfo.hStdError = error.get();
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool listed = !inherited.empty() && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr);
    if (listed) startup.lpAttributeList = list;

    PROCESS_INFORMATION info{};
    // Its standard handles must reach it even where the list cannot narrow what else does.
    const BOOL created = CreateProcessW(nullptr, &line[0], nullptr, nullptr, inherited.empty() ? FALSE : TRUE,
                                        CREATE_SUSPENDED | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr, nullptr,
                                        &startup.StartupInfo, &info);
    const DWORD failure = GetLastError();
    if (listed) DeleteProcThreadAttributeList(list);
    if (!created) {
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) {
            sayFailure("command not found:", argv[0]);
            status = 127;
        } else {
            sayFailure("cannot run", argv[0], "CreateProcessW", failure);
            status = 126;
        }
        return nullptr;
    }
    return std::make_unique<SuspendedCommand>(info, argv[0]);
}

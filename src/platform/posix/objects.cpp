// Process and thread handles. A process handle holds a pidfd, which becomes
// readable once the process has ended, whoever its parent is; a thread handle
// holds the thread's kernel id. CancelSynchronousIo interrupts the thread's
// blocking call with a signal of its own, whose handler does nothing and is
// installed without SA_RESTART, so the call returns (EINTR, or the part
// written) instead of resuming.
// https://man7.org/linux/man-pages/man2/pidfd_open.2.html
// https://learn.microsoft.com/windows/win32/fileio/canceling-pending-i-o-operations
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <map>
#include <mutex>

#include "platform/posix/objects.h"

namespace {

struct Object {
    enum class Kind { Process, Thread } kind;
    int id;  // the pidfd of a process, the kernel id of a thread
};

std::map<void*, Object>& objects() {
    static auto* open = new std::map<void*, Object>;
    return *open;
}
std::mutex& objectsMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::atomic<unsigned> cancels{0};

HANDLE add(Object object) {
    auto* handle = new char;  // a unique address; never dereferenced
    const std::lock_guard<std::mutex> lock(objectsMutex());
    objects().emplace(handle, object);
    return handle;
}

bool find(HANDLE handle, Object::Kind kind, Object& found) {
    const std::lock_guard<std::mutex> lock(objectsMutex());
    const auto it = objects().find(handle);
    if (it == objects().end() || it->second.kind != kind) return false;
    found = it->second;
    return true;
}

int cancelSignal() { return SIGRTMIN + 2; }

void interrupted(int /*signal*/) {}

void installCancelHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = interrupted;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the interrupted call must return
        sigaction(cancelSignal(), &action, nullptr);
    });
}

}  // namespace

HANDLE OpenProcess(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, DWORD processId) {
    if (processId == 0) return nullptr;
    const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0);
    if (fd < 0) return nullptr;
    return add(Object{Object::Kind::Process, static_cast<int>(fd)});
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(::gettid()); }

HANDLE OpenThread(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/, DWORD threadId) {
    // Only threads of this process: a signal with no such thread here fails.
    if (::syscall(SYS_tgkill, ::getpid(), static_cast<pid_t>(threadId), 0) != 0) return nullptr;
    installCancelHandler();
    return add(Object{Object::Kind::Thread, static_cast<int>(threadId)});
}

BOOL CancelSynchronousIo(HANDLE thread) {
    Object object{};
    if (!find(thread, Object::Kind::Thread, object)) return FALSE;
    cancels.fetch_add(1);
    return ::syscall(SYS_tgkill, ::getpid(), object.id, cancelSignal()) == 0 ? TRUE : FALSE;
}

namespace posix {

bool closeObject(HANDLE handle) {
    Object object{};
    {
        const std::lock_guard<std::mutex> lock(objectsMutex());
        const auto it = objects().find(handle);
        if (it == objects().end()) return false;
        object = it->second;
        objects().erase(it);
    }
    if (object.kind == Object::Kind::Process) ::close(object.id);
    delete static_cast<char*>(handle);
    return true;
}

int processDescriptor(HANDLE handle) {
    Object object{};
    return find(handle, Object::Kind::Process, object) ? object.id : -1;
}

unsigned cancelCount() { return cancels.load(); }

}  // namespace posix

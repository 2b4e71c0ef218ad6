// A library opened on first use rather than by the loader at the program's
// start: each object mapped before main is time in which Ctrl+C ends the
// process without a line. Opened libraries stay for the process's life
// (libpulse is not made to be unloaded).
#pragma once

#include <dlfcn.h>

#include <string>

namespace linuxaudio {

class SharedLibrary {
public:
    explicit SharedLibrary(const char* file) : file_(file), handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) fail();
    }

    // Points `slot` at the library's `name` (a function, or an object).
    template <typename T>
    void resolve(T& slot, const char* name) {
        if (handle_ == nullptr) return;
        slot = reinterpret_cast<T>(::dlsym(handle_, name));
        if (slot == nullptr && why_.empty()) fail();
    }

    // "<file>: <the loader's reason>" after any failure, else empty.
    const std::string& why() const { return why_; }

private:
    void fail() {
        const char* reason = ::dlerror();
        why_ = std::string(file_) + ": " + (reason != nullptr ? reason : "not found");
    }

    const char* file_;
    void* handle_;
    std::string why_;
};

}  // namespace linuxaudio

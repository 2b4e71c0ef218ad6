// Owning holders for kernel and scheduler handles.
#pragma once

#include <utility>

#include "windows/windows_sdk.h"

// Holds one kernel or scheduler handle; Closer::close(handle) gives it back.
template <typename Closer>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE adopted) : handle_(adopted) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    void reset() {
        if (HANDLE old = std::exchange(handle_, nullptr)) Closer::close(old);
    }
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HANDLE handle_ = nullptr;
};

struct EventCloser {
    static void close(HANDLE handle) { CloseHandle(handle); }
};
struct MmcssReverter {
    static void close(HANDLE handle) { AvRevertMmThreadCharacteristics(handle); }
};

using EventHandle = UniqueHandle<EventCloser>;
using KernelHandle = UniqueHandle<EventCloser>;  // any handle CloseHandle gives back
using MmcssHandle = UniqueHandle<MmcssReverter>;

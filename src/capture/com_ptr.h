// Owning holders for the platform's reference-counted interfaces and handles.
#pragma once

#include <cassert>
#include <utility>

#include "platform/platform.h"

// Holds one reference. Move-only, so a reference is never released twice.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : ptr_(adopted) {}  // takes over the caller's reference
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    // A new reference of our own to an interface someone else holds.
    static ComPtr share(T* held) {
        if (held != nullptr) held->AddRef();
        return ComPtr(held);
    }

    // The pointer is cleared before Release, so that anything Release runs
    // (a destructor, a re-entrant call) never sees a dangling holder.
    void reset() {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }

    // Out-parameters: only an empty holder may be filled, or a reference leaks.
    T** receive() {
        assert(ptr_ == nullptr);
        return &ptr_;
    }
    void** receiveVoid() {
        assert(ptr_ == nullptr);
        return reinterpret_cast<void**>(&ptr_);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    T* ptr_ = nullptr;
};

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
using MmcssHandle = UniqueHandle<MmcssReverter>;

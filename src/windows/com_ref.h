// Owning holder for the platform's reference-counted interfaces.
#pragma once

#include <cassert>
#include <utility>

#include "windows/windows_sdk.h"

// Holds one reference. Move-only, so a reference is never released twice;
// unlike the SDK's own smart pointers it never adds a reference by copying.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* adopted) : ptr_(adopted) {}  // takes over the caller's reference
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    // A new reference of our own to an interface someone else holds.
    static ComRef share(T* held) {
        if (held != nullptr) held->AddRef();
        return ComRef(held);
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

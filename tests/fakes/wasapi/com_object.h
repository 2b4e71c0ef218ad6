// A reference-counted object implementing one interface, for the objects the
// fake service hands out.
#pragma once

#include <atomic>
#include <initializer_list>

#include "windows/audio_ids.h"
#include "windows/windows_sdk.h"

template <typename Interface>
class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() = default;
    // QueryInterface for the interfaces in `known` (IUnknown always).
    HRESULT answer(REFIID riid, void** out, std::initializer_list<const GUID*> known) {
        if (out == nullptr) return E_POINTER;
        bool found = ids::same(riid, ids::kIUnknown);
        for (const GUID* id : known) found = found || ids::same(riid, *id);
        *out = found ? static_cast<Interface*>(this) : nullptr;
        if (!found) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
};

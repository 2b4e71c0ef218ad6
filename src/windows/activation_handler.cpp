#include "windows/activation_handler.h"

#include "windows/audio_ids.h"

ActivationHandler::ActivationHandler() : completionEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ActivationHandler::~ActivationHandler() {
    completionEvent_.reset();
    audioClient_.reset();
}

ComRef<ActivationHandler> ActivationHandler::create() { return ComRef<ActivationHandler>(new ActivationHandler); }

HRESULT ActivationHandler::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (ids::same(riid, ids::kIUnknown) || ids::same(riid, ids::kIActivateAudioInterfaceCompletionHandler)) {
        AddRef();
        *out = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
        return S_OK;
    }
    if (ids::same(riid, ids::kIAgileObject)) {
        AddRef();
        *out = static_cast<IAgileObject*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG ActivationHandler::AddRef() { return ++refs_; }

ULONG ActivationHandler::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT ActivationHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) {
    HRESULT status = S_OK;
    ComRef<IUnknown> activated;
    // Only the reported status counts: a failing call reports nothing, which
    // leaves status 0 and no interface, and the caller sees "no client".
    operation->GetActivateResult(&status, activated.receive());
    activationResult_ = status;
    if (SUCCEEDED(status) && activated) {
        audioClient_.reset();
        activated->QueryInterface(ids::kIAudioClient, audioClient_.receiveVoid());
    }
    SetEvent(completionEvent_.get());
    return S_OK;
}

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

PROPVARIANT* ActivationHandler::loopbackProperty(DWORD pid, bool includeTree) {
    params_.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    params_.ProcessLoopbackParams.TargetProcessId = pid;
    params_.ProcessLoopbackParams.ProcessLoopbackMode =
        includeTree ? PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE : PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE;
    property_.vt = VT_BLOB;
    property_.blob.cbSize = sizeof params_;
    property_.blob.pBlobData = reinterpret_cast<BYTE*>(&params_);
    return &property_;
}

HRESULT ActivationHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) {
    HRESULT status = S_OK;
    ComRef<IUnknown> activated;
    // A call that fails reports nothing in its out-parameters: its own status
    // is the activation's, so a failure never reads as success.
    // https://learn.microsoft.com/windows/win32/api/mmdeviceapi/nf-mmdeviceapi-iactivateaudiointerfaceasyncoperation-getactivateresult
    const HRESULT call = operation->GetActivateResult(&status, activated.receive());
    activationResult_ = FAILED(call) ? call : status;
    if (SUCCEEDED(activationResult_)) {
        // Success without an audio client is a failure too, with its own status.
        audioClient_.reset();
        activationResult_ = activated ? activated->QueryInterface(ids::kIAudioClient, audioClient_.receiveVoid()) : E_POINTER;
    }
    SetEvent(completionEvent_.get());
    return S_OK;
}

#pragma once

#include <atomic>

#include "windows/unique_handle.h"
#include "windows/com_ref.h"
#include "windows/windows_sdk.h"

// Turns the platform's asynchronous activation into an event the main thread
// waits on. Reference-counted across the main thread and the platform's
// completion thread; frees itself on the last Release, whoever makes it.
class ActivationHandler final : public IActivateAudioInterfaceCompletionHandler, public IAgileObject {
public:
    // Count 1, owned by the caller. The event may be missing if it could not be
    // made; the caller treats that as an activation that never completes.
    static ComRef<ActivationHandler> create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override;

    // Read these only after completionEvent() has been seen signalled: the event
    // is what orders the completion thread's writes before the reads.
    HANDLE completionEvent() const { return completionEvent_.get(); }
    HRESULT activationResult() const { return activationResult_; }
    IAudioClient* audioClient() const { return audioClient_.get(); }

    // The activation's record, kept here: the platform may read it until it has
    // completed into this handler, which it holds until then, even after the
    // caller has stopped waiting.
    PROPVARIANT* loopbackProperty(DWORD pid, bool includeTree);

private:
    ActivationHandler();
    ~ActivationHandler();

    std::atomic<ULONG> refs_{1};
    EventHandle completionEvent_;
    HRESULT activationResult_ = E_PENDING;
    ComRef<IAudioClient> audioClient_;
    AUDIOCLIENT_ACTIVATION_PARAMS params_{};
    PROPVARIANT property_{};
};

// The activation side of the engine: ActivateAudioInterfaceAsync, the
// operation it returns, and the completion delivered on a thread of its own.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "fakes/audio/internal.h"

namespace engine {
namespace internal {
namespace {

constexpr GUID kIActivateAudioInterfaceAsyncOperation = {
    0x72A22D78, 0xCDE4, 0x431D, {0xB8, 0xCC, 0x84, 0x3A, 0x71, 0x19, 0x9B, 0x6D}};

// The result of an activation that yields something other than an audio client.
class Plain final : public IUnknown, public Object {
public:
    ENGINE_IUNKNOWN(IUnknown, ids::kIUnknown)
};

class Operation final : public IActivateAudioInterfaceAsyncOperation, public Object {
public:
    // Takes over one reference to result, which may be null.
    explicit Operation(IUnknown* result, Object* resultObject) : result_(result), resultObject_(resultObject) {}
    ~Operation() override {
        if (resultObject_ != nullptr) resultObject_->dropInternal();
    }

    ENGINE_IUNKNOWN(IActivateAudioInterfaceAsyncOperation, kIActivateAudioInterfaceAsyncOperation)

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* status, IUnknown** activated) override {
        const HRESULT hr = injected(Call::GetActivateResult);
        if (FAILED(hr)) return hr;
        if (status == nullptr || activated == nullptr) return E_POINTER;
        const std::lock_guard<std::mutex> lock(eng().mutex);
        *status = eng().script.activationStatus;
        *activated = FAILED(*status) ? nullptr : result_;
        if (*activated != nullptr) (*activated)->AddRef();
        return S_OK;
    }

private:
    IUnknown* result_;
    Object* resultObject_;
};

void ensureScript(Engine& e) {
    const std::lock_guard<std::mutex> lock(e.mutex);
    if (e.loaded) return;
    e.loaded = true;
    e.script = Script{};
    if (const char* text = std::getenv("STANDIN_ENGINE_SCRIPT")) {
        if (!parseScript(text, e.script)) {
            e.script = Script{};
            e.script.fault(Call::ActivateAudioInterfaceAsync) = Fault{1, E_INVALIDARG};
        }
    }
}

// The platform's side of a pending activation: deliver the completion when
// the script says, then let go of the handler and the operation.
void complete(IActivateAudioInterfaceCompletionHandler* handler, Operation* operation) {
    Engine& e = eng();
    bool deliverIt = false;
    {
        std::unique_lock<std::mutex> lock(e.mutex);
        const auto cancelled = [&e] { return e.cancelled; };
        switch (e.script.completion) {
            case Completion::Immediate: break;
            case Completion::Late:
                e.wake.wait_for(lock, std::chrono::milliseconds(e.script.completionDelayMs), cancelled);
                break;
            case Completion::Never: e.wake.wait(lock, cancelled); break;
        }
        deliverIt = !e.cancelled;
        e.delivering = deliverIt;
    }
    if (deliverIt) {
        journal::record("ActivateCompleted");
        handler->ActivateCompleted(operation);
    }
    const ULONG left = handler->Release();
    journal::record("platform released handler -> " + std::to_string(left));
    operation->dropInternal();
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.stats.lastHandlerRelease = static_cast<long>(left);
        e.delivering = false;
    }
    e.wake.notify_all();
}

std::string narrow(LPCWSTR text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

}  // namespace
}  // namespace internal
}  // namespace engine

HRESULT WINAPI ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                           IActivateAudioInterfaceCompletionHandler* completionHandler,
                                           IActivateAudioInterfaceAsyncOperation** activationOperation) {
    using namespace engine;
    using namespace engine::internal;
    Engine& e = eng();
    ensureScript(e);
    const HRESULT hr = injected(Call::ActivateAudioInterfaceAsync);

    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    const bool blob = activationParams != nullptr && activationParams->vt == VT_BLOB &&
                      activationParams->blob.cbSize == sizeof params && activationParams->blob.pBlobData != nullptr;
    if (blob) std::memcpy(&params, activationParams->blob.pBlobData, sizeof params);
    char text[160];
    std::snprintf(text, sizeof text, " iid=%s blob=%s type=%d pid=%u mode=%d",
                  ids::same(riid, ids::kIAudioClient) ? "IAudioClient" : "other", blob ? "12" : "bad",
                  static_cast<int>(params.ActivationType),
                  static_cast<unsigned>(params.ProcessLoopbackParams.TargetProcessId),
                  static_cast<int>(params.ProcessLoopbackParams.ProcessLoopbackMode));
    journal::record("ActivateAudioInterfaceAsync path=" + narrow(deviceInterfacePath) + text);
    if (FAILED(hr)) return hr;

    if (completionHandler == nullptr || activationOperation == nullptr) return E_POINTER;
    const bool loopback = deviceInterfacePath != nullptr &&
                          std::wcscmp(deviceInterfacePath, VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK) == 0 &&
                          ids::same(riid, ids::kIAudioClient) && blob &&
                          params.ActivationType == AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK &&
                          (params.ProcessLoopbackParams.ProcessLoopbackMode ==
                               PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE ||
                           params.ProcessLoopbackParams.ProcessLoopbackMode ==
                               PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE);
    if (!loopback) return E_INVALIDARG;

    IUnknown* result = nullptr;
    Object* resultObject = nullptr;
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.includeTree =
            params.ProcessLoopbackParams.ProcessLoopbackMode == PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE;
        if (e.script.activatesNonAudio) {
            auto* plain = new Plain;
            result = plain;
            resultObject = plain;
        } else if (SUCCEEDED(e.script.activationStatus)) {
            result = newAudioClient(resultObject);
        }
    }
    // The operation's own reference to its result is the engine's, not the program's.
    if (resultObject != nullptr) resultObject->adoptAsInternal();
    auto* operation = new Operation(result, resultObject);
    operation->holdInternal();
    completionHandler->AddRef();
    *activationOperation = operation;
    if (e.completer.joinable()) e.completer.join();
    e.completer = std::thread(complete, completionHandler, operation);
    return S_OK;
}

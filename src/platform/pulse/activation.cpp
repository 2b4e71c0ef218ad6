// ActivateAudioInterfaceAsync for the process-loopback device over the Pulse
// protocol. As on Windows the completion comes on a thread that is not the
// caller's: that thread connects to the server, then calls the handler with no
// lock held, then lets go of the handler and the operation.
// https://learn.microsoft.com/windows/win32/api/mmdeviceapi/nf-mmdeviceapi-activateaudiointerfaceasync
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <thread>

#include "platform/audio_ids.h"
#include "platform/com_object.h"
#include "platform/platform.h"
#include "platform/pulse/audio_client.h"
#include "platform/pulse/connection.h"
#include "platform/pulse/proc_tree.h"

namespace pulse {
namespace {

class Operation final : public ComObject<IActivateAudioInterfaceAsyncOperation> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIActivateAudioInterfaceAsyncOperation});
    }

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* status, IUnknown** activated) override {
        if (status == nullptr || activated == nullptr) return E_POINTER;
        if (!done_.load()) return kIllegalMethodCall;
        *status = status_;
        *activated = client_;
        if (client_ != nullptr) client_->AddRef();
        return S_OK;
    }

    // On the completion thread, before the handler hears of it.
    void finish(HRESULT status, IAudioClient* client) {
        status_ = status;
        client_ = client;
        done_.store(true);
    }

private:
    // E_ILLEGAL_METHOD_CALL: asked before the activation completed.
    static constexpr HRESULT kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);

    ~Operation() override {
        if (client_ != nullptr) client_->Release();
    }

    std::atomic<bool> done_{false};
    HRESULT status_ = E_PENDING;
    IAudioClient* client_ = nullptr;
};

void complete(IActivateAudioInterfaceCompletionHandler* handler, Operation* operation, Target target) {
    Connection* connection = Connection::open();
    if (connection == nullptr) {
        operation->finish(AUDCLNT_E_SERVICE_NOT_RUNNING, nullptr);
    } else {
        operation->finish(S_OK, newAudioClient(connection, target));
    }
    handler->ActivateCompleted(operation);
    handler->Release();
    operation->Release();
}

bool readRecord(const PROPVARIANT* property, AUDIOCLIENT_ACTIVATION_PARAMS& params) {
    if (property == nullptr || property->vt != VT_BLOB || property->blob.cbSize != sizeof params ||
        property->blob.pBlobData == nullptr) {
        return false;
    }
    std::memcpy(&params, property->blob.pBlobData, sizeof params);
    const auto mode = params.ProcessLoopbackParams.ProcessLoopbackMode;
    return params.ActivationType == AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK &&
           (mode == PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE ||
            mode == PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE);
}

}  // namespace
}  // namespace pulse

HRESULT WINAPI ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                           IActivateAudioInterfaceCompletionHandler* completionHandler,
                                           IActivateAudioInterfaceAsyncOperation** activationOperation) {
    using namespace pulse;
    if (completionHandler == nullptr || activationOperation == nullptr) return E_POINTER;
    *activationOperation = nullptr;
    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    if (deviceInterfacePath == nullptr || std::wcscmp(deviceInterfacePath, VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK) != 0 ||
        !ids::same(riid, ids::kIAudioClient) || !readRecord(activationParams, params)) {
        return E_INVALIDARG;
    }
    Target target;
    target.pid = params.ProcessLoopbackParams.TargetProcessId;
    target.includeTree =
        params.ProcessLoopbackParams.ProcessLoopbackMode == PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE;
    // The target as it is now: a process that later takes over its pid is not it.
    ProcStat stat;
    if (readProcStat(target.pid, stat)) target.startTime = stat.startTime;

    auto* operation = new Operation;
    operation->AddRef();  // the completion thread's
    completionHandler->AddRef();
    try {
        std::thread(complete, completionHandler, operation, target).detach();
    } catch (...) {
        completionHandler->Release();
        operation->Release();
        operation->Release();
        return E_OUTOFMEMORY;
    }
    *activationOperation = operation;
    return S_OK;
}

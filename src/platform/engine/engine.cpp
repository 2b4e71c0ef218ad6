#include "platform/engine/engine.h"

#include <atomic>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/audio_ids.h"
#include "platform/engine/journal.h"

namespace engine {
namespace {

constexpr HRESULT kBufferEmpty = 0x08890001;  // AUDCLNT_S_BUFFER_EMPTY
constexpr GUID kIActivateAudioInterfaceAsyncOperation = {
    0x72A22D78, 0xCDE4, 0x431D, {0xB8, 0xCC, 0x84, 0x3A, 0x71, 0x19, 0x9B, 0x6D}};

class Object;

struct Engine {
    std::mutex mutex;
    std::condition_variable wake;
    Script script;
    bool loaded = false;
    Stats stats;

    std::thread completer;
    bool cancelled = false;
    bool delivering = false;  // between ActivateCompleted and the platform's release of the handler

    bool includeTree = true;
    bool initialized = false;
    WAVEFORMATEX format{};
    HANDLE event = nullptr;
    std::deque<Packet> queue;
    bool inHand = false;
    std::size_t nextBurst = 0;
    bool kicked = false;  // the end of the bursts has been signalled
    bool armed = false;   // the next GetNextPacketSize reports the service error
    std::uint64_t patternOffset = 0;
    std::vector<BYTE> toneCycle;  // one second: both tones fit a whole number of periods
    std::size_t toneFrame = 0;
    std::uint64_t toneFrames = 0;

    std::thread producer;
    bool producing = false;

    std::mutex objectsMutex;
    std::set<Object*> objects;
};

// Never destroyed: in the DLL a pending completion thread may still be parked
// when the process exits, and destroying a joinable std::thread would abort.
Engine& eng() {
    static Engine* e = new Engine;
    return *e;
}

HRESULT injected(Call call) {
    Engine& e = eng();
    const std::lock_guard<std::mutex> lock(e.mutex);
    const int i = static_cast<int>(call);
    const unsigned n = ++e.stats.calls[i];
    const Fault& f = e.script.faults[i];
    return (f.onCall != 0 && n >= f.onCall) ? f.status : S_OK;
}

// Reference counting shared by the engine's objects. The references the
// program holds are counted apart from the engine's own, so that tests can
// tell at any moment what the program has not let go of.
class Object {
public:
    Object() {
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.objectsMutex);
        e.objects.insert(this);
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() {
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.objectsMutex);
        e.objects.erase(this);
    }

    unsigned programHeld() const { return program_.load(); }

    // The reference the object was created with becomes the engine's own.
    void adoptAsInternal() { --program_; }
    void holdInternal() { ++refs_; }
    void dropInternal() {
        if (--refs_ == 0) delete this;
    }

protected:
    // Every AddRef through the interface hands a reference to the program,
    // including those the engine makes for an out-parameter.
    ULONG addRef() {
        ++program_;
        return ++refs_;
    }
    ULONG releaseFromProgram(const char* name) {
        if (--program_ == 0) journal::record(std::string(name) + " released");
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    template <typename Interface>
    HRESULT query(Interface* self, const GUID& iid, REFIID riid, void** out) {
        if (out == nullptr) return E_POINTER;
        if (ids::same(riid, ids::kIUnknown) || ids::same(riid, iid)) {
            addRef();
            *out = self;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::atomic<ULONG> program_{1};
};

#define ENGINE_IUNKNOWN(Interface, iid)                                                                    \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {                           \
        return query(static_cast<Interface*>(this), iid, riid, out);                                       \
    }                                                                                                      \
    ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }                                        \
    ULONG STDMETHODCALLTYPE Release() override { return releaseFromProgram(#Interface); }

// The result of an activation that yields something other than an audio client.
class Plain final : public IUnknown, public Object {
public:
    ENGINE_IUNKNOWN(IUnknown, ids::kIUnknown)
};

void fill(Engine& e, Packet& packet) {
    const std::size_t size = static_cast<std::size_t>(packet.frames) * e.format.nBlockAlign;
    switch (packet.content) {
        case Content::Bytes:
            packet.bytes.resize(size);
            break;
        case Content::Pattern:
            packet.bytes = patternBytes(e.patternOffset, size);
            e.patternOffset += size;
            break;
        case Content::Tone: {
            const std::size_t frameBytes = e.format.nBlockAlign;
            if (e.toneCycle.empty()) {
                e.toneCycle.resize(static_cast<std::size_t>(e.format.nSamplesPerSec) * frameBytes);
                const double hz = e.includeTree ? kIncludeToneHz : kExcludeToneHz;
                const double step = 2.0 * 3.14159265358979323846 * hz / e.format.nSamplesPerSec;
                BYTE* out = e.toneCycle.data();
                for (std::uint32_t i = 0; i < e.format.nSamplesPerSec; ++i) {
                    const float value = static_cast<float>(0.25 * std::sin(step * i));
                    for (unsigned c = 0; c < e.format.nChannels; ++c, out += sizeof value) {
                        std::memcpy(out, &value, sizeof value);
                    }
                }
            }
            packet.bytes.resize(size);
            for (std::size_t done = 0; done < packet.frames;) {
                const std::size_t run = std::min<std::size_t>(packet.frames - done, e.format.nSamplesPerSec - e.toneFrame);
                std::memcpy(packet.bytes.data() + done * frameBytes, e.toneCycle.data() + e.toneFrame * frameBytes,
                            run * frameBytes);
                done += run;
                e.toneFrame = (e.toneFrame + run) % e.format.nSamplesPerSec;
            }
            e.toneFrames += packet.frames;
            break;
        }
    }
}

// Called with the engine's lock held, once per period.
void deliver(Engine& e) {
    if (!e.queue.empty() || e.inHand) return;
    if (e.nextBurst < e.script.bursts.size()) {
        for (Packet packet : e.script.bursts[e.nextBurst]) {
            fill(e, packet);
            e.queue.push_back(std::move(packet));
        }
        ++e.nextBurst;
        ++e.stats.burstsDelivered;
        SetEvent(e.event);
        return;
    }
    if (e.script.end == End::Tone && e.script.toneSeconds != 0 &&
        e.toneFrames >= static_cast<std::uint64_t>(e.script.toneSeconds) * e.format.nSamplesPerSec) {
        e.script.end = End::ServiceError;
    }
    switch (e.script.end) {
        case End::Tone: {
            Packet packet;
            packet.frames = e.format.nSamplesPerSec / 100;
            packet.content = Content::Tone;
            fill(e, packet);
            e.queue.push_back(std::move(packet));
            SetEvent(e.event);
            break;
        }
        case End::Idle:
            break;
        case End::ServiceError:
            if (!e.kicked) {
                e.kicked = true;
                SetEvent(e.event);
            }
            break;
    }
}

// Whether deliver() could still have something to hand over.
bool moreToDeliver(const Engine& e) {
    return e.nextBurst < e.script.bursts.size() || e.script.end == End::Tone ||
           (e.script.end == End::ServiceError && !e.kicked);
}

void produce() {
    Engine& e = eng();
    std::unique_lock<std::mutex> lock(e.mutex);
    while (e.producing) {
        if (e.script.periodMs == 0) {
            e.wake.wait(lock, [&e] { return !e.producing || (e.queue.empty() && !e.inHand && moreToDeliver(e)); });
        } else {
            e.wake.wait_for(lock, std::chrono::milliseconds(e.script.periodMs), [&e] { return !e.producing; });
        }
        if (e.producing) deliver(e);
    }
}

void stopProducer() {
    Engine& e = eng();
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.producing = false;
    }
    e.wake.notify_all();
    if (e.producer.joinable() && e.producer.get_id() != std::this_thread::get_id()) e.producer.join();
}

class CaptureClient final : public IAudioCaptureClient, public Object {
public:
    ENGINE_IUNKNOWN(IAudioCaptureClient, ids::kIAudioCaptureClient)

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override {
        const HRESULT hr = injected(Call::GetBuffer);
        if (FAILED(hr)) return hr;
        if (data == nullptr || frames == nullptr || flags == nullptr) return E_POINTER;
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.mutex);
        if (e.inHand) return AUDCLNT_E_OUT_OF_ORDER;
        if (e.queue.empty()) {
            *frames = 0;
            return kBufferEmpty;
        }
        Packet& packet = e.queue.front();
        *data = packet.nullData ? nullptr : packet.bytes.data();
        *frames = packet.frames;
        *flags = packet.flags;
        if (devicePosition != nullptr) *devicePosition = e.stats.framesReleased;
        if (qpcPosition != nullptr) *qpcPosition = 0;
        e.inHand = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        const HRESULT hr = injected(Call::ReleaseBuffer);
        Engine& e = eng();
        {
            const std::lock_guard<std::mutex> lock(e.mutex);
            if (!e.inHand) return AUDCLNT_E_OUT_OF_ORDER;
            if (frames != 0 && frames != e.queue.front().frames) return AUDCLNT_E_INVALID_SIZE;
            e.queue.pop_front();
            e.inHand = false;
            e.stats.framesReleased += frames;
        }
        e.wake.notify_all();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        const HRESULT hr = injected(Call::GetNextPacketSize);
        if (FAILED(hr)) return hr;
        if (frames == nullptr) return E_POINTER;
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.mutex);
        *frames = e.queue.empty() ? 0 : e.queue.front().frames;
        const bool exhausted = e.nextBurst >= e.script.bursts.size() && e.queue.empty() && !e.inHand;
        if (exhausted && e.script.end == End::ServiceError) {
            // The drain that released the last packet asks first and is told
            // "nothing"; the error comes on the next wake-up, as a device that
            // goes away between packets reports it.
            if (e.armed) return e.script.endStatus;
            e.armed = true;
            SetEvent(e.event);
        }
        return S_OK;
    }
};

class AudioClient final : public IAudioClient, public Object {
public:
    ENGINE_IUNKNOWN(IAudioClient, ids::kIAudioClient)

    ~AudioClient() override { stopProducer(); }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME bufferDuration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID sessionGuid) override {
        const HRESULT hr = injected(Call::Initialize);
        char text[200];
        std::snprintf(text, sizeof text, "IAudioClient::Initialize share=%d flags=0x%08X duration=%lld period=%lld",
                      static_cast<int>(shareMode), static_cast<unsigned>(streamFlags),
                      static_cast<long long>(bufferDuration), static_cast<long long>(periodicity));
        std::string entry = text;
        if (format != nullptr) {
            std::snprintf(text, sizeof text, " format=%u/%u/%u/%u/%u/%u/%u", format->wFormatTag, format->nChannels,
                          static_cast<unsigned>(format->nSamplesPerSec), static_cast<unsigned>(format->nAvgBytesPerSec),
                          format->nBlockAlign, format->wBitsPerSample, format->cbSize);
            entry += text;
        }
        entry += sessionGuid == nullptr ? " session=null" : " session=given";
        journal::record(entry);
        if (FAILED(hr)) return hr;
        if (format == nullptr) return E_POINTER;
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.mutex);
        if (e.initialized) return AUDCLNT_E_ALREADY_INITIALIZED;
        const bool float32 = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format->wBitsPerSample == 32 &&
                             format->nChannels != 0 && format->nBlockAlign == format->nChannels * 4 &&
                             format->nSamplesPerSec != 0;
        if (!float32) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        e.format = *format;
        e.initialized = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Start() override {
        const HRESULT hr = injected(Call::Start);
        journal::record("IAudioClient::Start");
        if (FAILED(hr)) return hr;
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.mutex);
        if (!e.initialized) return AUDCLNT_E_NOT_INITIALIZED;
        if (e.event == nullptr) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        if (e.producing) return AUDCLNT_E_NOT_STOPPED;
        e.producing = true;
        if (e.producer.joinable()) e.producer.join();
        e.producer = std::thread(produce);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        const HRESULT hr = injected(Call::Stop);
        journal::record("IAudioClient::Stop");
        if (FAILED(hr)) return hr;
        stopProducer();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        const HRESULT hr = injected(Call::SetEventHandle);
        journal::record(std::string("IAudioClient::SetEventHandle ") + (event != nullptr ? "event" : "null"));
        if (FAILED(hr)) return hr;
        Engine& e = eng();
        const std::lock_guard<std::mutex> lock(e.mutex);
        if (!e.initialized) return AUDCLNT_E_NOT_INITIALIZED;
        if (event == nullptr) return E_INVALIDARG;
        e.event = event;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** out) override {
        const HRESULT hr = injected(Call::GetService);
        const bool capture = ids::same(riid, ids::kIAudioCaptureClient);
        journal::record(std::string("IAudioClient::GetService ") + (capture ? "IAudioCaptureClient" : "other"));
        if (FAILED(hr)) return hr;
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        {
            const std::lock_guard<std::mutex> lock(eng().mutex);
            if (!eng().initialized) return AUDCLNT_E_NOT_INITIALIZED;
        }
        if (!capture) return E_NOINTERFACE;
        *out = static_cast<IAudioCaptureClient*>(new CaptureClient);
        return S_OK;
    }
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

void load(const Script& script) {
    Engine& e = eng();
    const std::lock_guard<std::mutex> lock(e.mutex);
    e.script = script;
    e.loaded = true;
}

void awaitCompletion() {
    Engine& e = eng();
    if (e.completer.joinable()) e.completer.join();
}

void reset() {
    Engine& e = eng();
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.cancelled = true;
    }
    e.wake.notify_all();
    awaitCompletion();
    stopProducer();
    const std::lock_guard<std::mutex> lock(e.mutex);
    e.cancelled = false;
    e.script = Script{};
    e.loaded = false;
    e.stats = Stats{};
    e.includeTree = true;
    e.initialized = false;
    e.format = WAVEFORMATEX{};
    e.event = nullptr;
    e.queue.clear();
    e.inHand = false;
    e.nextBurst = 0;
    e.kicked = false;
    e.armed = false;
    e.patternOffset = 0;
    e.toneCycle.clear();
    e.toneFrame = 0;
    e.toneFrames = 0;
}

Stats stats() {
    Engine& e = eng();
    Stats copy;
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        copy = e.stats;
    }
    const std::lock_guard<std::mutex> lock(e.objectsMutex);
    copy.liveObjects = static_cast<unsigned>(e.objects.size());
    return copy;
}

unsigned programReferences() {
    Engine& e = eng();
    {
        // A completion in flight still holds the handler, and through it the
        // client; that reference is the platform's to end, not the program's.
        std::unique_lock<std::mutex> lock(e.mutex);
        e.wake.wait_for(lock, std::chrono::seconds(5), [&e] { return !e.delivering; });
    }
    const std::lock_guard<std::mutex> lock(e.objectsMutex);
    unsigned held = 0;
    for (const Object* object : e.objects) held += object->programHeld();
    return held;
}

}  // namespace engine

HRESULT WINAPI ActivateAudioInterfaceAsync(LPCWSTR deviceInterfacePath, REFIID riid, PROPVARIANT* activationParams,
                                           IActivateAudioInterfaceCompletionHandler* completionHandler,
                                           IActivateAudioInterfaceAsyncOperation** activationOperation) {
    using namespace engine;
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
                          std::wcscmp(deviceInterfacePath, L"VAD\\Process_Loopback") == 0 &&
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
            auto* client = new AudioClient;
            result = static_cast<IAudioClient*>(client);
            resultObject = client;
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

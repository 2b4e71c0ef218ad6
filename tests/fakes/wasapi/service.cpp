// The fake service's state, its COM objects, the activation's completion
// thread and the thread that hands out packets.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>

#include "fakes/wasapi/com_object.h"
#include "fakes/wasapi/fake_wasapi.h"
#include "windows/audio_ids.h"

namespace fakewasapi {

std::atomic<int> programHeld{0};

namespace {

constexpr HRESULT kBufferEmpty = 0x08890001;                             // AUDCLNT_S_BUFFER_EMPTY
constexpr auto kIllegalMethodCall = static_cast<HRESULT>(0x8000000E);    // E_ILLEGAL_METHOD_CALL
constexpr GUID kIMarshal = {0x00000003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct Queued {
    Packet packet;
    std::vector<BYTE> bytes;
    std::uint64_t position = 0;  // frames since Start of its first frame
};

// What the run changes.
struct State {
    unsigned calls[static_cast<int>(Call::Count)] = {};
    bool delivering = false;  // between ActivateCompleted and the release of the handler
    bool producing = false;
    WAVEFORMATEX format{};
    std::uint64_t capacity = 0;  // frames: the buffer duration the program asked for
    HANDLE event = nullptr;
    std::deque<Queued> queue;
    bool inHand = false;
    std::size_t nextBurst = 0;
    bool kicked = false;  // the end of the bursts has been signalled
    bool armed = false;   // the next GetNextPacketSize reports the service error
    std::uint64_t patternOffset = 0;
    std::uint64_t startTime = 0;  // 100 ns units, on the performance counter
    std::chrono::steady_clock::time_point started;  // the same moment, for the producer's deadlines
    std::uint64_t position = 0;   // frames since Start, silent and dropped time included
};

struct Service {
    Script script;
    std::mutex mutex;
    std::condition_variable wake;
    State st;
    std::thread completer, producer;
    std::FILE* journal = nullptr;
};

// Never destroyed: a completion thread may still be parked when the process
// exits, and destroying a joinable std::thread would abort. A script that does
// not parse fails the activation.
Service& svc() {
    static Service* s = [] {
        auto* service = new Service;
        const char* text = std::getenv("STANDIN_ENGINE_SCRIPT");
        if (!parseScript(text != nullptr ? text : "", service->script, GetCurrentProcessId())) {
            service->script = Script{};
            service->script.faults[static_cast<int>(Call::ActivateAudioInterfaceAsync)] = {1, static_cast<std::uint32_t>(E_INVALIDARG)};
        }
        const char* journal = std::getenv("STANDIN_ENGINE_JOURNAL");
        if (journal != nullptr && *journal != '\0') service->journal = std::fopen(journal, "ab");
        return service;
    }();
    return *s;
}

// The program's own COM object, with the references the program holds counted
// apart from the service's, so that the journal shows when the program let go
// of its last: every AddRef through the interface is the program's, including
// those made for an out-parameter.
template <class I>
class Object : public ComObject<I> {
    using Base = ComObject<I>;

public:
    // The creating reference is the program's, or (program 0) the service's.
    Object(const char* name, const GUID& iid, ULONG program = 1) : name_(name), iid_(iid), program_(program) {
        if (program != 0) ++programHeld;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override { return this->answer(riid, out, {&iid_}); }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (++program_ == 1) ++programHeld;
        return Base::AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--program_ == 0) {
            --programHeld;
            record(std::string(name_) + " released");
        }
        return Base::Release();
    }
    void holdInternal() { Base::AddRef(); }
    void dropInternal() { Base::Release(); }

private:
    const char* name_;
    const GUID& iid_;
    std::atomic<ULONG> program_;
};

void stopProducer() {
    Service& s = svc();
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.st.producing = false;
    }
    s.wake.notify_all();
    if (s.producer.joinable() && s.producer.get_id() != std::this_thread::get_id()) s.producer.join();
}

std::uint64_t now100ns() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(static_cast<double>(count.QuadPart) * 1e7 / static_cast<double>(frequency.QuadPart));
}

void queuePacket(State& st, const Packet& packet, bool tone) {
    const std::size_t block = st.format.nBlockAlign;
    Queued q{packet, {}, st.position};
    if (!tone) {
        q.bytes = testsignals::patternBytes(st.patternOffset, packet.frames * block);
        st.patternOffset += q.bytes.size();
    } else {
        // The phase follows time: after a silence the tone is where it would have been.
        q.bytes.resize(packet.frames * block);
        for (std::size_t i = 0; i < packet.frames * st.format.nChannels; ++i) {
            const float value = testsignals::toneAt(st.position + i / st.format.nChannels, st.format.nSamplesPerSec);
            std::memcpy(&q.bytes[i * 4], &value, 4);
        }
        // A full buffer loses its oldest whole packets, never the one in the program's hands;
        // the next one handed out says so.
        // https://learn.microsoft.com/windows/win32/api/audioclient/ne-audioclient-_audclnt_bufferflags
        std::uint64_t held = packet.frames;
        for (const Queued& queued : st.queue) held += queued.packet.frames;
        const std::size_t keep = st.inHand ? 1 : 0;
        bool dropped = false;
        for (; held > st.capacity && st.queue.size() > keep; dropped = true) {
            held -= st.queue[keep].packet.frames;
            st.queue.erase(st.queue.begin() + static_cast<std::ptrdiff_t>(keep));
        }
        if (dropped) (st.queue.size() > keep ? st.queue[keep].packet : q.packet).flags |= AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY;
    }
    st.queue.push_back(std::move(q));
}

// With the lock held, once per period: the next burst, or what the end brings.
// The tone comes on the period's clock whether or not the program keeps up.
void deliver(State& st) {
    const Script& script = svc().script;
    const std::uint32_t rate = st.format.nSamplesPerSec;
    const std::uint32_t frames = rate * script.periodMs / 1000;
    const bool idle = st.queue.empty() && !st.inHand;
    if (st.nextBurst < script.bursts.size()) {
        if (idle) {
            for (const Packet& packet : script.bursts[st.nextBurst]) queuePacket(st, packet, false);
            ++st.nextBurst;
            SetEvent(st.event);
        }
    } else if (script.endStatus == 0 && !silentAt(script, st.position * 1000 / rate)) {
        queuePacket(st, Packet{frames, 0, false}, true);
        SetEvent(st.event);
    } else if (script.endStatus != 0 && idle && !st.kicked) {
        st.kicked = true;
        SetEvent(st.event);
    }
    st.position += frames;
}

void produce() {
    Service& s = svc();
    State& st = s.st;
    std::unique_lock<std::mutex> lock(s.mutex);
    // Deadlines are absolute, as a sound card's clock is, so the stream keeps real time.
    for (auto deadline = st.started; st.producing;) {
        deadline += std::chrono::milliseconds(s.script.periodMs);
        s.wake.wait_until(lock, deadline, [&st] { return !st.producing; });
        if (st.producing) deliver(st);
    }
}

class CaptureClient final : public Object<IAudioCaptureClient> {
public:
    CaptureClient() : Object("IAudioCaptureClient", ids::kIAudioCaptureClient) {}

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override {
        const HRESULT hr = scripted(Call::GetBuffer);
        if (FAILED(hr)) return hr;
        State& st = svc().st;
        const std::lock_guard<std::mutex> lock(svc().mutex);
        *frames = 0;
        if (st.queue.empty()) return kBufferEmpty;
        Queued& q = st.queue.front();
        *data = q.packet.nullData ? nullptr : q.bytes.data();
        *frames = q.packet.frames;
        *flags = q.packet.flags;
        if (devicePosition != nullptr) *devicePosition = q.position;
        if (qpcPosition != nullptr) *qpcPosition = st.startTime + q.position * 10000000u / st.format.nSamplesPerSec;
        st.inHand = true;
        record("GetBuffer " + std::to_string(q.packet.frames));
        return S_OK;
    }

    // A scripted failure is reported after the release has happened.
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        const HRESULT hr = scripted(Call::ReleaseBuffer);
        State& st = svc().st;
        const std::lock_guard<std::mutex> lock(svc().mutex);
        if (!st.inHand || frames != st.queue.front().packet.frames) return AUDCLNT_E_INVALID_SIZE;
        record("ReleaseBuffer " + std::to_string(frames));
        st.queue.pop_front();
        st.inHand = false;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        const HRESULT hr = scripted(Call::GetNextPacketSize);
        if (FAILED(hr)) return hr;
        State& st = svc().st;
        const std::lock_guard<std::mutex> lock(svc().mutex);
        *frames = st.queue.empty() ? 0 : st.queue.front().packet.frames;
        const Script& script = svc().script;
        if (script.endStatus != 0 && st.nextBurst >= script.bursts.size() && st.queue.empty() && !st.inHand) {
            // The drain that released the last packet asks first and is told
            // "nothing"; the error comes on the next wake-up, as a device that
            // goes away between packets reports it.
            if (st.armed) return static_cast<HRESULT>(script.endStatus);
            st.armed = true;
            SetEvent(st.event);
        }
        return S_OK;
    }
};

class AudioClient final : public Object<IAudioClient> {
public:
    AudioClient() : Object("IAudioClient", ids::kIAudioClient, 0) {}

    ~AudioClient() override { stopProducer(); }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME bufferDuration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* f, LPCGUID session) override {
        char text[240];
        std::snprintf(text, sizeof text,
                      "IAudioClient::Initialize share=%d flags=0x%08X duration=%lld period=%lld format=%u/%u/%u/%u/%u/%u/%u "
                      "session=%s",
                      static_cast<int>(shareMode), static_cast<unsigned>(streamFlags), static_cast<long long>(bufferDuration),
                      static_cast<long long>(periodicity), f->wFormatTag, f->nChannels,
                      static_cast<unsigned>(f->nSamplesPerSec), static_cast<unsigned>(f->nAvgBytesPerSec), f->nBlockAlign,
                      f->wBitsPerSample, f->cbSize, session == nullptr ? "null" : "given");
        if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && f->cbSize >= 22) {
            const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
            const std::size_t used = std::strlen(text);
            std::snprintf(text + used, sizeof text - used, " ext=%u/0x%X/%s", x->Samples.wValidBitsPerSample,
                          static_cast<unsigned>(x->dwChannelMask), ids::same(x->SubFormat, ids::kFloatSubformat) ? "float" : "other");
        }
        const HRESULT hr = scripted(Call::Initialize, text);
        if (FAILED(hr)) return hr;
        if (svc().script.refuseQuality && (streamFlags & 0x08000000) != 0) return E_INVALIDARG;
        const std::lock_guard<std::mutex> lock(svc().mutex);
        svc().st.format = *f;  // what was asked for is in the journal
        svc().st.capacity = static_cast<std::uint64_t>(bufferDuration) * f->nSamplesPerSec / 10000000u;
        return S_OK;
    }

    // Never asked for by the program.
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Start() override {
        const HRESULT hr = scripted(Call::Start, "IAudioClient::Start");
        if (FAILED(hr)) return hr;
        Service& s = svc();
        const std::lock_guard<std::mutex> lock(s.mutex);
        if (s.st.event == nullptr) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        s.st.producing = true;
        s.st.startTime = now100ns();
        s.st.started = std::chrono::steady_clock::now();
        s.producer = std::thread(produce);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        record("IAudioClient::Stop");
        stopProducer();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        const HRESULT hr = scripted(Call::SetEventHandle, "IAudioClient::SetEventHandle");
        if (FAILED(hr)) return hr;
        const std::lock_guard<std::mutex> lock(svc().mutex);
        svc().st.event = event;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** out) override {
        const HRESULT hr = scripted(Call::GetService, "IAudioClient::GetService");
        if (FAILED(hr)) return hr;
        *out = ids::same(riid, ids::kIAudioCaptureClient) ? static_cast<IAudioCaptureClient*>(new CaptureClient) : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
};

class Operation final : public Object<IActivateAudioInterfaceAsyncOperation> {
public:
    // Takes over the service's reference to the client, which is null when the activation failed.
    explicit Operation(AudioClient* client)
        : Object("IActivateAudioInterfaceAsyncOperation", ids::kIActivateAudioInterfaceAsyncOperation), client_(client) {}
    ~Operation() override {
        if (client_ != nullptr) client_->dropInternal();
    }

    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* status, IUnknown** activated) override {
        const HRESULT hr = scripted(Call::GetActivateResult);
        if (FAILED(hr)) return hr;
        *status = static_cast<HRESULT>(svc().script.activationStatus);
        *activated = client_;
        if (client_ != nullptr) client_->AddRef();
        return S_OK;
    }

private:
    AudioClient* client_;
};

// The platform's side of a pending activation: deliver the completion when the
// script says, calling the handler through the agile face it holds, as any
// thread may, then let go of the handler and the operation.
void complete(IAgileObject* agile, Operation* operation) {
    Service& s = svc();
    // kNever is some 50 days: as good as never for any run.
    std::this_thread::sleep_for(std::chrono::milliseconds(s.script.completionDelayMs));
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.st.delivering = true;
    }
    IActivateAudioInterfaceCompletionHandler* handler = nullptr;
    if (SUCCEEDED(agile->QueryInterface(ids::kIActivateAudioInterfaceCompletionHandler, reinterpret_cast<void**>(&handler)))) {
        record("ActivateCompleted");
        handler->ActivateCompleted(operation);
        handler->Release();
    }
    agile->Release();
    operation->dropInternal();
    {
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.st.delivering = false;
    }
    s.wake.notify_all();
}

}  // namespace

HRESULT scripted(Call call, const char* entry) {
    if (entry != nullptr) record(entry);
    Service& s = svc();
    const std::lock_guard<std::mutex> lock(s.mutex);
    const int i = static_cast<int>(call);
    const unsigned n = ++s.st.calls[i];
    const Script::Fault& f = s.script.faults[i];
    return (f.onCall != 0 && n >= f.onCall) ? static_cast<HRESULT>(f.status) : S_OK;
}

const Script& script() { return svc().script; }

// Its own lock: the system calls the journal records may come while the service's is held.
void record(const std::string& entry) {
    static std::mutex* journalMutex = new std::mutex;
    Service& s = svc();
    if (s.journal == nullptr) return;
    const std::lock_guard<std::mutex> lock(*journalMutex);
    std::fputs(entry.c_str(), s.journal);
    std::fputc('\n', s.journal);
    std::fflush(s.journal);  // a run may end at any moment
}

void settle() {
    std::unique_lock<std::mutex> lock(svc().mutex);
    svc().wake.wait_for(lock, std::chrono::seconds(5), [] { return !svc().st.delivering; });
}

}  // namespace fakewasapi

HRESULT WINAPI ActivateAudioInterfaceAsync(LPCWSTR path, REFIID riid, PROPVARIANT* activationParams,
                                           IActivateAudioInterfaceCompletionHandler* handler,
                                           IActivateAudioInterfaceAsyncOperation** operationOut) {
    using namespace fakewasapi;
    // Anything but a process-loopback request for an audio client is refused.
    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    const bool blob = activationParams != nullptr && activationParams->vt == VT_BLOB &&
                      activationParams->blob.cbSize == sizeof params && activationParams->blob.pBlobData != nullptr;
    if (blob) std::memcpy(&params, activationParams->blob.pBlobData, sizeof params);
    const unsigned mode = static_cast<unsigned>(params.ProcessLoopbackParams.ProcessLoopbackMode);
    const bool loopback = blob && path != nullptr && std::wcscmp(path, VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK) == 0 &&
                          ids::same(riid, ids::kIAudioClient) &&
                          params.ActivationType == AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK && mode <= 1;
    const std::string text = "ActivateAudioInterfaceAsync pid=" + std::to_string(params.ProcessLoopbackParams.TargetProcessId) +
                             " mode=" + std::to_string(mode);
    const HRESULT hr = scripted(Call::ActivateAudioInterfaceAsync, text.c_str());
    if (FAILED(hr)) return hr;
    if (!loopback) return E_INVALIDARG;
    // Windows calls the handler from a thread of its own, so the handler must be agile:
    // IAgileObject, or a free-threaded marshaler (IMarshal), which this fake does not
    // emulate; before Windows 10 one that is not is refused so, and here always.
    // A QueryInterface that fails leaves a null pointer, as COM requires.
    // https://learn.microsoft.com/windows/win32/api/mmdeviceapi/nf-mmdeviceapi-activateaudiointerfaceasync
    void* marshal = &marshal;
    IAgileObject* agile = nullptr;
    if (handler->QueryInterface(kIMarshal, &marshal) != E_NOINTERFACE || marshal != nullptr ||
        FAILED(handler->QueryInterface(ids::kIAgileObject, reinterpret_cast<void**>(&agile)))) {
        return kIllegalMethodCall;
    }

    Service& s = svc();
    // The script is the one scripted() just read under the lock.
    auto* operation = new Operation(SUCCEEDED(static_cast<HRESULT>(s.script.activationStatus)) ? new AudioClient : nullptr);
    operation->holdInternal();
    *operationOut = operation;
    if (s.completer.joinable()) s.completer.join();
    s.completer = std::thread(complete, agile, operation);
    return S_OK;
}

// The stream side of the engine: the audio and capture clients, and the
// thread that hands out packets.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "fakes/audio/internal.h"

namespace engine {
namespace internal {
namespace {

constexpr HRESULT kBufferEmpty = 0x08890001;  // AUDCLNT_S_BUFFER_EMPTY

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
    // Deadlines are absolute, as a sound card's clock is: time spent
    // delivering does not stretch the period, so the stream keeps real time.
    auto deadline = std::chrono::steady_clock::now();
    while (e.producing) {
        if (e.script.periodMs == 0) {
            e.wake.wait(lock, [&e] { return !e.producing || (e.queue.empty() && !e.inHand && moreToDeliver(e)); });
        } else {
            deadline += std::chrono::milliseconds(e.script.periodMs);
            e.wake.wait_until(lock, deadline, [&e] { return !e.producing; });
        }
        if (e.producing) deliver(e);
    }
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

}  // namespace

void stopProducer() {
    Engine& e = eng();
    {
        const std::lock_guard<std::mutex> lock(e.mutex);
        e.producing = false;
    }
    e.wake.notify_all();
    if (e.producer.joinable() && e.producer.get_id() != std::this_thread::get_id()) e.producer.join();
}

IAudioClient* newAudioClient(Object*& object) {
    auto* client = new AudioClient;
    object = client;
    return client;
}

}  // namespace internal
}  // namespace engine

#include "platform/pulse/audio_client.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "platform/audio_ids.h"
#include "platform/com_object.h"
#include "platform/posix/event_pump.h"
#include "platform/pulse/output.h"

namespace pulse {

namespace {

constexpr HRESULT kBufferEmpty = 0x08890001;  // AUDCLNT_S_BUFFER_EMPTY
constexpr auto kBufferOperationPending = static_cast<HRESULT>(0x8889000B);  // AUDCLNT_E_BUFFER_OPERATION_PENDING
constexpr auto kEventHandleNotExpected = static_cast<HRESULT>(0x88890013);  // AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED
constexpr REFERENCE_TIME kPeriod = 100000;    // 10 ms in 100 ns units
constexpr DWORD kKnownFlags =
    AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;

bool isFloat32(const WAVEFORMATEX& f) {
    if (f.wBitsPerSample != 32) return false;
    if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return true;
    if (f.wFormatTag != WAVE_FORMAT_EXTENSIBLE || f.cbSize < 22) return false;
    const auto& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(f);
    GUID subFormat;
    std::memcpy(&subFormat, &x.SubFormat, sizeof subFormat);
    return ids::same(subFormat, ids::kSubtypeIeeeFloat);
}

bool usable(const WAVEFORMATEX& f) {
    return isFloat32(f) && f.nChannels >= 1 && f.nChannels <= 8 && f.nSamplesPerSec >= 8000 &&
           f.nSamplesPerSec <= 192000 && f.nBlockAlign == f.nChannels * 4u &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

class AudioClient;

class CaptureClient final : public ComObject<IAudioCaptureClient> {
public:
    CaptureClient(AudioClient* owner, Output& output);
    ~CaptureClient() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioCaptureClient});
    }

    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                        UINT64* qpcPosition) override {
        if (data == nullptr || frames == nullptr || flags == nullptr) return E_POINTER;
        const std::lock_guard<std::mutex> lock(output_.mutex);
        if (output_.lost.load()) return AUDCLNT_E_DEVICE_INVALIDATED;
        PacketRing& ring = output_.ring;
        if (ring.inHand()) return AUDCLNT_E_OUT_OF_ORDER;
        if (ring.empty()) {
            *data = nullptr;
            *frames = 0;
            *flags = 0;
            return kBufferEmpty;
        }
        const PacketInfo& info = ring.front();
        *data = reinterpret_cast<BYTE*>(ring.frontData());
        *frames = info.frames;
        *flags = info.flags;
        if (devicePosition != nullptr) *devicePosition = info.devicePosition;
        if (qpcPosition != nullptr) *qpcPosition = info.qpcPosition;
        ring.hand();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
        const std::lock_guard<std::mutex> lock(output_.mutex);
        PacketRing& ring = output_.ring;
        if (!ring.inHand()) return AUDCLNT_E_OUT_OF_ORDER;
        if (frames != 0 && frames != ring.front().frames) return AUDCLNT_E_INVALID_SIZE;
        ring.unhand();
        if (frames != 0) ring.pop();  // 0: nothing read, the packet stays first
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        if (frames == nullptr) return E_POINTER;
        const std::lock_guard<std::mutex> lock(output_.mutex);
        if (output_.lost.load()) return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = output_.ring.empty() ? 0 : output_.ring.front().frames;
        return S_OK;
    }

private:
    AudioClient* owner_;
    Output& output_;
};

class AudioClient final : public ComObject<IAudioClient> {
public:
    AudioClient(Connection* connection, const Target& target) : connection_(connection), target_(target) {
        const Connection::Lock lock(*connection_);
        connection_->onLost(onLost, this);
    }

    ~AudioClient() override {
        // The program may have closed the event already; then there is nothing to detach.
        if (output_.event != nullptr) SetEventPump(output_.event, nullptr);
        {
            const Connection::Lock lock(*connection_);
            if (tracker_) tracker_->stop();
            connection_->onLost(nullptr, nullptr);
        }
        // The loop's own thread ends here; only then is nothing left to call the tracker.
        delete connection_;
        tracker_.reset();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioClient});
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags, REFERENCE_TIME bufferDuration,
                                         REFERENCE_TIME /*periodicity*/, const WAVEFORMATEX* format,
                                         LPCGUID /*sessionGuid*/) override {
        if (format == nullptr) return E_POINTER;
        if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
        if (shareMode != AUDCLNT_SHAREMODE_SHARED || (streamFlags & ~kKnownFlags) != 0 ||
            (streamFlags & AUDCLNT_STREAMFLAGS_LOOPBACK) == 0 || bufferDuration < 0) {
            return E_INVALIDARG;
        }
        if (!usable(*format)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        rate_ = format->nSamplesPerSec;
        channels_ = format->nChannels;
        period_ = rate_ / 100;
        const REFERENCE_TIME duration = std::max(bufferDuration, kPeriod);
        const auto packets = static_cast<std::uint32_t>((duration + kPeriod - 1) / kPeriod);
        {
            const std::lock_guard<std::mutex> lock(output_.mutex);
            output_.ring.reset(packets, period_, channels_);
        }
        tracker_.reset(new Tracker(*connection_, target_, rate_, channels_, period_, output_));
        eventDriven_ = (streamFlags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0;
        initialized_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        const std::lock_guard<std::mutex> lock(output_.mutex);
        *frames = output_.ring.capacityFrames();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        if (latency == nullptr) return E_POINTER;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        *latency = kPeriod;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
        if (frames == nullptr) return E_POINTER;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        const std::lock_guard<std::mutex> lock(output_.mutex);
        if (output_.lost.load()) return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = output_.ring.queuedFrames();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override {
        if (defaultPeriod == nullptr && minimumPeriod == nullptr) return E_POINTER;
        if (defaultPeriod != nullptr) *defaultPeriod = kPeriod;
        if (minimumPeriod != nullptr) *minimumPeriod = kPeriod;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Start() override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (eventDriven_) {
            const std::lock_guard<std::mutex> lock(output_.mutex);
            if (output_.event == nullptr) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        }
        if (started_) return AUDCLNT_E_NOT_STOPPED;
        if (output_.lost.load()) return AUDCLNT_E_DEVICE_INVALIDATED;
        const Connection::Lock lock(*connection_);
        tracker_->start();
        started_ = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!started_) return S_FALSE;
        {
            const Connection::Lock lock(*connection_);
            tracker_->stop();
        }
        started_ = false;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (started_) return AUDCLNT_E_NOT_STOPPED;
        const std::lock_guard<std::mutex> lock(output_.mutex);
        if (output_.ring.inHand()) return kBufferOperationPending;
        output_.ring.clear();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (event == nullptr) return E_INVALIDARG;
        if (!eventDriven_) return kEventHandleNotExpected;
        HANDLE previous = nullptr;
        {
            const std::lock_guard<std::mutex> lock(output_.mutex);
            previous = output_.event;
            output_.event = event;
        }
        if (previous != nullptr && previous != event) SetEventPump(previous, nullptr);
        // The program's wait for the event runs the server connection's loop.
        SetEventPump(event, &connection_->loop());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!ids::same(riid, ids::kIAudioCaptureClient)) return E_NOINTERFACE;
        *out = static_cast<IAudioCaptureClient*>(new CaptureClient(this, output_));
        return S_OK;
    }

private:
    static void onLost(void* self) { static_cast<AudioClient*>(self)->output_.markLost(); }

    Connection* connection_;
    Target target_;
    Output output_;
    std::unique_ptr<Tracker> tracker_;
    std::uint32_t rate_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t period_ = 0;
    bool initialized_ = false;
    bool eventDriven_ = false;
    bool started_ = false;
};

CaptureClient::CaptureClient(AudioClient* owner, Output& output) : owner_(owner), output_(output) {
    owner_->AddRef();
}

CaptureClient::~CaptureClient() { owner_->Release(); }

}  // namespace

IAudioClient* newAudioClient(Connection* connection, const Target& target) {
    return new AudioClient(connection, target);
}

}  // namespace pulse

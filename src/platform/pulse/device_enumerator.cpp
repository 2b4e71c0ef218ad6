// The device enumerator over the Pulse protocol, as far as the session
// enumeration goes: the server is one active playback device, its sessions
// those of readPlaybackSessions, read when the devices are enumerated. Methods
// the program does not call answer E_NOTIMPL. No server: EnumAudioEndpoints
// fails with AUDCLNT_E_SERVICE_NOT_RUNNING.
// https://learn.microsoft.com/windows/win32/coreaudio/audio-sessions
#include <atomic>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/audio_ids.h"
#include "platform/platform.h"
#include "platform/pulse/sessions.h"

namespace pulse {
namespace {

using Sessions = std::vector<PlaybackSession>;

template <typename Interface>
class Object : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~Object() = default;
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

// Hands a new object's only reference to the caller.
template <typename T, typename I>
HRESULT give(T* object, I** out) {
    if (out == nullptr) {
        object->Release();
        return E_POINTER;
    }
    *out = object;
    return S_OK;
}

class Session final : public Object<IAudioSessionControl2> {
public:
    explicit Session(PlaybackSession session) : session_(session) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionControl, &ids::kIAudioSessionControl2});
    }
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
        if (state == nullptr) return E_POINTER;
        *state = session_.active ? AudioSessionStateActive : AudioSessionStateInactive;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconPath(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconPath(LPCWSTR, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGroupingParam(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGroupingParam(LPCGUID, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterAudioSessionNotification(IAudioSessionEvents*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSessionIdentifier(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSessionInstanceIdentifier(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* pid) override {
        if (pid == nullptr) return E_POINTER;
        *pid = session_.pid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

private:
    PlaybackSession session_;
};

class SessionEnumerator final : public Object<IAudioSessionEnumerator> {
public:
    explicit SessionEnumerator(Sessions sessions) : sessions_(std::move(sessions)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionEnumerator});
    }
    HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
        if (count == nullptr) return E_POINTER;
        *count = static_cast<int>(sessions_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
        if (index < 0 || static_cast<std::size_t>(index) >= sessions_.size()) return E_INVALIDARG;
        return give(new Session(sessions_[static_cast<std::size_t>(index)]), session);
    }

private:
    Sessions sessions_;
};

class SessionManager final : public Object<IAudioSessionManager2> {
public:
    explicit SessionManager(Sessions sessions) : sessions_(std::move(sessions)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionManager, &ids::kIAudioSessionManager2});
    }
    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** sessions) override {
        return give(new SessionEnumerator(sessions_), sessions);
    }
    HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }

private:
    Sessions sessions_;
};

class Device final : public Object<IMMDevice> {
public:
    explicit Device(Sessions sessions) : sessions_(std::move(sessions)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDevice});
    }
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!ids::same(iid, ids::kIAudioSessionManager) && !ids::same(iid, ids::kIAudioSessionManager2)) {
            return E_NOINTERFACE;
        }
        auto* manager = new SessionManager(sessions_);
        const HRESULT hr = manager->QueryInterface(iid, out);
        manager->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        if (state == nullptr) return E_POINTER;
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }

private:
    Sessions sessions_;
};

class DeviceCollection final : public Object<IMMDeviceCollection> {
public:
    explicit DeviceCollection(std::vector<Sessions> devices) : devices_(std::move(devices)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDeviceCollection});
    }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = static_cast<UINT>(devices_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
        if (index >= devices_.size()) return E_INVALIDARG;
        return give(new Device(devices_[index]), device);
    }

private:
    std::vector<Sessions> devices_;
};

class DeviceEnumerator final : public Object<IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDeviceEnumerator});
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states, IMMDeviceCollection** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        std::vector<Sessions> devices;
        // The server's one device plays and is active; a capture-only or
        // inactive-only question has no answer here.
        if ((flow == eRender || flow == eAll) && (states & DEVICE_STATE_ACTIVE) != 0) {
            const std::unique_ptr<Connection> connection(Connection::open(false));
            if (!connection) return AUDCLNT_E_SERVICE_NOT_RUNNING;
            devices.push_back(readPlaybackSessions(*connection));
        }
        return give(new DeviceCollection(std::move(devices)), out);
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
};

}  // namespace
}  // namespace pulse

// What CoCreateInstance in the POSIX layer creates for CLSID_MMDeviceEnumerator.
extern "C" HRESULT procloop_device_enumerator(REFIID riid, void** out) {
    auto* enumerator = new pulse::DeviceEnumerator;
    const HRESULT hr = enumerator->QueryInterface(riid, out);
    enumerator->Release();
    return hr;
}

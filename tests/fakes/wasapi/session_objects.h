// Plain COM objects for the fake service's session enumeration over sessions
// known in advance: each device holds one session manager, which holds one
// session enumerator over the device's sessions. Methods the program does not
// call answer E_NOTIMPL.
// https://learn.microsoft.com/windows/win32/coreaudio/audio-sessions
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "fakes/wasapi/com_object.h"
#include "fakes/wasapi/script.h"
#include "windows/audio_ids.h"
#include "windows/com_ref.h"
#include "windows/windows_sdk.h"

namespace sessionobjects {

// AUDCLNT_S_NO_SINGLE_PROCESS, which mingw-w64's headers lack.
constexpr HRESULT kNoSingleProcess = static_cast<HRESULT>(0x0889000D);

using fakewasapi::SessionInfo;
using DeviceSessions = std::vector<SessionInfo>;

// Hands out a new reference to `held`.
template <typename I>
HRESULT share(I* held, I** out) {
    if (out == nullptr) return E_POINTER;
    held->AddRef();
    *out = held;
    return S_OK;
}

class Session : public ComObject<IAudioSessionControl2> {
public:
    explicit Session(SessionInfo info) : info_(info) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionControl, &ids::kIAudioSessionControl2});
    }
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
        if (state == nullptr) return E_POINTER;
        *state = info_.active ? AudioSessionStateActive : AudioSessionStateInactive;
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
        *pid = info_.pid;
        return info_.singleProcess ? S_OK : kNoSingleProcess;
    }
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

private:
    SessionInfo info_;
};

class SessionEnumerator : public ComObject<IAudioSessionEnumerator> {
public:
    explicit SessionEnumerator(std::vector<ComRef<IAudioSessionControl>> sessions) : sessions_(std::move(sessions)) {}
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
        return share(sessions_[static_cast<std::size_t>(index)].get(), session);
    }

private:
    std::vector<ComRef<IAudioSessionControl>> sessions_;
};

class SessionManager : public ComObject<IAudioSessionManager2> {
public:
    explicit SessionManager(ComRef<IAudioSessionEnumerator> sessions) : sessions_(std::move(sessions)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionManager, &ids::kIAudioSessionManager2});
    }
    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** sessions) override {
        return share(sessions_.get(), sessions);
    }
    HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }

private:
    ComRef<IAudioSessionEnumerator> sessions_;
};

class Device : public ComObject<IMMDevice> {
public:
    explicit Device(ComRef<IAudioSessionManager2> manager) : manager_(std::move(manager)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDevice});
    }
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!ids::same(iid, ids::kIAudioSessionManager) && !ids::same(iid, ids::kIAudioSessionManager2)) {
            return E_NOINTERFACE;
        }
        return manager_->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        if (state == nullptr) return E_POINTER;
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }

private:
    ComRef<IAudioSessionManager2> manager_;
};

class DeviceCollection : public ComObject<IMMDeviceCollection> {
public:
    explicit DeviceCollection(std::vector<ComRef<IMMDevice>> devices) : devices_(std::move(devices)) {}
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
        return share(devices_[index].get(), device);
    }

private:
    std::vector<ComRef<IMMDevice>> devices_;
};

// The objects for `devices`, one class of each kind (the above, or classes
// derived from them), all made at once as the service saw its sessions.
template <class S = Session, class E = SessionEnumerator, class M = SessionManager, class D = Device,
          class C = DeviceCollection>
IMMDeviceCollection* newDeviceCollection(const std::vector<DeviceSessions>& devices) {
    std::vector<ComRef<IMMDevice>> items;
    for (const DeviceSessions& sessions : devices) {
        std::vector<ComRef<IAudioSessionControl>> controls;
        for (const SessionInfo& session : sessions) controls.emplace_back(new S(session));
        ComRef<IAudioSessionEnumerator> enumerator(new E(std::move(controls)));
        items.emplace_back(new D(ComRef<IAudioSessionManager2>(new M(std::move(enumerator)))));
    }
    return new C(std::move(items));
}

// The device enumerator's answer to the active playback devices comes from
// activePlayback; any other question has no devices.
class DeviceEnumerator : public ComObject<IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDeviceEnumerator});
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states, IMMDeviceCollection** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if ((flow == eRender || flow == eAll) && (states & DEVICE_STATE_ACTIVE) != 0) return activePlayback(out);
        *out = newDeviceCollection({});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }

protected:
    virtual HRESULT activePlayback(IMMDeviceCollection** out) = 0;
};

// Creates an enumerator of class T and queries it for riid.
template <class T>
HRESULT createEnumerator(REFIID riid, void** out) {
    auto* enumerator = new T;
    const HRESULT hr = enumerator->QueryInterface(riid, out);
    enumerator->Release();
    return hr;
}

}  // namespace sessionobjects

// The fake service's session enumeration: the script's sessions on one active
// playback device, each call failing with the status the script gives it.
// CoCreateInstance reaches it through the DLL's class object. Methods the
// program does not call answer E_NOTIMPL.
// https://learn.microsoft.com/windows/win32/coreaudio/audio-sessions
#include <utility>
#include <vector>

#include "fakes/wasapi/com_object.h"
#include "fakes/wasapi/fake_wasapi.h"
#include "windows/com_ref.h"

namespace fakewasapi {
namespace {

// AUDCLNT_S_NO_SINGLE_PROCESS, which mingw-w64's headers lack.
constexpr auto kNoSingleProcess = static_cast<HRESULT>(0x0889000D);
constexpr GUID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Returns the script's failure for `call`, if it has one.
#define UNLESS_SCRIPTED(call)                          \
    if (const HRESULT hr = scripted(Call::call); FAILED(hr)) return hr

// Each object is the program's, or held through one of the program's.
template <class I>
struct Counted : ComObject<I> {
    Counted() { ++programHeld; }
    ~Counted() override { --programHeld; }
};

// Hands out a new reference to `held`.
template <typename I>
HRESULT share(I* held, I** out) {
    held->AddRef();
    *out = held;
    return S_OK;
}

class Session final : public Counted<IAudioSessionControl2> {
public:
    explicit Session(SessionInfo info) : info_(info) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (ids::same(riid, ids::kIAudioSessionControl2)) UNLESS_SCRIPTED(SessionQuery);
        return answer(riid, out, {&ids::kIAudioSessionControl, &ids::kIAudioSessionControl2});
    }
    HRESULT STDMETHODCALLTYPE GetState(AudioSessionState* state) override {
        UNLESS_SCRIPTED(GetSessionState);
        *state = info_.active ? AudioSessionStateActive : AudioSessionStateInactive;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProcessId(DWORD* pid) override {
        UNLESS_SCRIPTED(GetProcessId);
        *pid = info_.pid;
        return info_.singleProcess ? S_OK : kNoSingleProcess;
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
    HRESULT STDMETHODCALLTYPE IsSystemSoundsSession() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE SetDuckingPreference(BOOL) override { return E_NOTIMPL; }

private:
    SessionInfo info_;
};

class SessionEnumerator final : public Counted<IAudioSessionEnumerator> {
public:
    SessionEnumerator() {
        for (const SessionInfo& info : script().sessions) sessions_.emplace_back(new Session(info));
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionEnumerator});
    }
    HRESULT STDMETHODCALLTYPE GetCount(int* count) override {
        UNLESS_SCRIPTED(SessionCount);
        *count = static_cast<int>(sessions_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSession(int index, IAudioSessionControl** session) override {
        UNLESS_SCRIPTED(GetSession);
        if (index < 0 || static_cast<std::size_t>(index) >= sessions_.size()) return E_INVALIDARG;
        return share<IAudioSessionControl>(sessions_[static_cast<std::size_t>(index)].get(), session);
    }

private:
    std::vector<ComRef<Session>> sessions_;
};

class SessionManager final : public Counted<IAudioSessionManager2> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIAudioSessionManager, &ids::kIAudioSessionManager2});
    }
    HRESULT STDMETHODCALLTYPE GetSessionEnumerator(IAudioSessionEnumerator** sessions) override {
        UNLESS_SCRIPTED(GetSessionEnumerator);
        return share<IAudioSessionEnumerator>(sessions_.get(), sessions);
    }
    HRESULT STDMETHODCALLTYPE GetAudioSessionControl(LPCGUID, DWORD, IAudioSessionControl**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSimpleAudioVolume(LPCGUID, DWORD, ISimpleAudioVolume**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterSessionNotification(IAudioSessionNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterDuckNotification(LPCWSTR, IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterDuckNotification(IAudioVolumeDuckNotification*) override { return E_NOTIMPL; }

private:
    ComRef<SessionEnumerator> sessions_{new SessionEnumerator};
};

class Device final : public Counted<IMMDevice> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDevice});
    }
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
        UNLESS_SCRIPTED(ActivateDevice);
        *out = nullptr;
        return ids::same(iid, ids::kIAudioSessionManager2) ? manager_->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD*) override { return E_NOTIMPL; }

private:
    ComRef<SessionManager> manager_{new SessionManager};
};

// The one active playback device; any other question has none.
class DeviceCollection final : public Counted<IMMDeviceCollection> {
public:
    explicit DeviceCollection(bool activePlayback) : device_(activePlayback ? new Device : nullptr) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDeviceCollection});
    }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        UNLESS_SCRIPTED(DeviceCount);
        *count = device_ ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
        UNLESS_SCRIPTED(DeviceItem);
        return index == 0 && device_ ? share<IMMDevice>(device_.get(), device) : E_INVALIDARG;
    }

private:
    ComRef<Device> device_;
};

class DeviceEnumerator final : public Counted<IMMDeviceEnumerator> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return answer(riid, out, {&ids::kIMMDeviceEnumerator});
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states, IMMDeviceCollection** out) override {
        UNLESS_SCRIPTED(EnumAudioEndpoints);
        *out = new DeviceCollection((flow == eRender || flow == eAll) && (states & DEVICE_STATE_ACTIVE) != 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
};

// Creates an object of class T and queries it for riid.
template <class T>
HRESULT create(REFIID riid, void** out) {
    const ComRef<T> made(new T);
    return made->QueryInterface(riid, out);
}

struct ClassFactory final : ComObject<IClassFactory> {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override { return answer(riid, out, {&kIClassFactory}); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        UNLESS_SCRIPTED(CreateEnumerator);
        return create<DeviceEnumerator>(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace
}  // namespace fakewasapi

// The class object COM asks the DLL registered for CLSID_MMDeviceEnumerator for.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!ids::same(clsid, ids::kMMDeviceEnumerator)) return CLASS_E_CLASSNOTAVAILABLE;
    return fakewasapi::create<fakewasapi::ClassFactory>(riid, out);
}
STDAPI DllCanUnloadNow() { return S_FALSE; }

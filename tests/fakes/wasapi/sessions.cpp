// The fake service's session enumeration: the script's sessions on one active
// playback device, each call failing with the status the script gives it.
// CoCreateInstance reaches it through the DLL's class object.
#include <utility>

#include "fakes/wasapi/fake_wasapi.h"
#include "fakes/wasapi/session_objects.h"

namespace fakewasapi {
namespace {

namespace so = sessionobjects;

template <class F>
HRESULT unlessScripted(Call call, F&& answer) {
    const HRESULT hr = scripted(call);
    return FAILED(hr) ? hr : answer();
}

template <class Base>
struct Counted : Base {
    using Scripted = Base;
    template <class... A>
    explicit Counted(A&&... args) : Base(std::forward<A>(args)...) {
        ++programHeld;  // held by the program, or through the objects it holds
    }
    ~Counted() override { --programHeld; }
};

// The program's own answer to Method, unless the script fails `call`.
#define SCRIPTED(call, Method, Params, ...)                                                   \
    HRESULT STDMETHODCALLTYPE Method Params override {                                        \
        return unlessScripted(Call::call, [&] { return Scripted::Method(__VA_ARGS__); });     \
    }

struct Session final : Counted<so::Session> {
    using Counted::Counted;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        const auto base = [&] { return so::Session::QueryInterface(riid, out); };
        return ids::same(riid, ids::kIAudioSessionControl2) ? unlessScripted(Call::SessionQuery, base) : base();
    }
    SCRIPTED(GetProcessId, GetProcessId, (DWORD* pid), pid)
    SCRIPTED(GetSessionState, GetState, (AudioSessionState* state), state)
};

struct SessionEnumerator final : Counted<so::SessionEnumerator> {
    using Counted::Counted;
    SCRIPTED(SessionCount, GetCount, (int* count), count)
    SCRIPTED(GetSession, GetSession, (int index, IAudioSessionControl** session), index, session)
};

struct SessionManager final : Counted<so::SessionManager> {
    using Counted::Counted;
    SCRIPTED(GetSessionEnumerator, GetSessionEnumerator, (IAudioSessionEnumerator** sessions), sessions)
};

struct Device final : Counted<so::Device> {
    using Counted::Counted;
    SCRIPTED(ActivateDevice, Activate, (REFIID iid, DWORD context, PROPVARIANT* params, void** out), iid, context, params, out)
};

struct DeviceCollection final : Counted<so::DeviceCollection> {
    using Counted::Counted;
    SCRIPTED(DeviceCount, GetCount, (UINT* count), count)
    SCRIPTED(DeviceItem, Item, (UINT index, IMMDevice** device), index, device)
};

struct DeviceEnumerator final : Counted<so::DeviceEnumerator> {
    SCRIPTED(EnumAudioEndpoints, EnumAudioEndpoints, (EDataFlow flow, DWORD states, IMMDeviceCollection** out), flow, states, out)
    HRESULT activePlayback(IMMDeviceCollection** out) override {
        *out = so::newDeviceCollection<Session, SessionEnumerator, SessionManager, Device, DeviceCollection>({script().sessions});
        return S_OK;
    }
};

HRESULT createEnumerator(REFIID riid, void** out) {
    return unlessScripted(Call::CreateEnumerator, [&] { return so::createEnumerator<DeviceEnumerator>(riid, out); });
}

constexpr GUID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ClassFactory final : ComObject<IClassFactory> {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override { return answer(riid, out, {&kIClassFactory}); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        return outer != nullptr ? CLASS_E_NOAGGREGATION : createEnumerator(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

}  // namespace fakewasapi

// The class object COM asks the DLL registered for CLSID_MMDeviceEnumerator for.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
    if (!ids::same(clsid, ids::kMMDeviceEnumerator)) return CLASS_E_CLASSNOTAVAILABLE;
    return sessionobjects::createEnumerator<fakewasapi::ClassFactory>(riid, out);
}
STDAPI DllCanUnloadNow() { return S_FALSE; }

#include "windows/session_list.h"

#include <cstdio>

#include "windows/audio_ids.h"
#include "windows/com_ref.h"
#include "windows/failure_line.h"
#include "windows/windows_sdk.h"

namespace {

bool readSessions(IMMDevice& device, std::vector<SessionOwner>& out) {
    ComRef<IAudioSessionManager2> manager;
    HRESULT hr = device.Activate(ids::kIAudioSessionManager2, CLSCTX_ALL, nullptr, manager.receiveVoid());
    if (FAILED(hr)) {
        // An endpoint unplugged since it was listed has no sessions to give;
        // the others still do.
        // https://learn.microsoft.com/windows/win32/api/mmdeviceapi/nf-mmdeviceapi-immdevice-activate
        std::fprintf(stderr, "warn: IMMDevice::Activate hr=0x%08X: endpoint skipped\n", static_cast<unsigned>(hr));
        return true;
    }
    ComRef<IAudioSessionEnumerator> sessions;
    hr = manager->GetSessionEnumerator(sessions.receive());
    if (FAILED(hr)) return reportFailure("IAudioSessionManager2::GetSessionEnumerator", hr);
    int count = 0;
    hr = sessions->GetCount(&count);
    if (FAILED(hr)) return reportFailure("IAudioSessionEnumerator::GetCount", hr);
    for (int i = 0; i < count; ++i) {
        ComRef<IAudioSessionControl> control;
        hr = sessions->GetSession(i, control.receive());
        if (FAILED(hr)) return reportFailure("IAudioSessionEnumerator::GetSession", hr);
        ComRef<IAudioSessionControl2> control2;
        hr = control->QueryInterface(ids::kIAudioSessionControl2, control2.receiveVoid());
        if (FAILED(hr)) return reportFailure("IAudioSessionControl::QueryInterface", hr);
        DWORD pid = 0;
        hr = control2->GetProcessId(&pid);
        if (FAILED(hr)) return reportFailure("IAudioSessionControl2::GetProcessId", hr);
        // AUDCLNT_S_NO_SINGLE_PROCESS: a session that spans processes (system
        // sounds) names none of them.
        // https://learn.microsoft.com/windows/win32/api/audiopolicy/nf-audiopolicy-iaudiosessioncontrol2-getprocessid
        if (hr != S_OK) continue;
        AudioSessionState state = AudioSessionStateInactive;
        hr = control->GetState(&state);
        if (FAILED(hr)) return reportFailure("IAudioSessionControl::GetState", hr);
        out.push_back(SessionOwner{pid, state == AudioSessionStateActive});
    }
    return true;
}

bool readAllSessions(std::vector<SessionOwner>& out) {
    ComRef<IMMDeviceEnumerator> enumerator;
    HRESULT hr = CoCreateInstance(ids::kMMDeviceEnumerator, nullptr, CLSCTX_ALL, ids::kIMMDeviceEnumerator,
                                  enumerator.receiveVoid());
    if (FAILED(hr)) return reportFailure("CoCreateInstance", hr);
    ComRef<IMMDeviceCollection> devices;
    hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.receive());
    if (FAILED(hr)) return reportFailure("IMMDeviceEnumerator::EnumAudioEndpoints", hr);
    UINT count = 0;
    hr = devices->GetCount(&count);
    if (FAILED(hr)) return reportFailure("IMMDeviceCollection::GetCount", hr);
    for (UINT i = 0; i < count; ++i) {
        ComRef<IMMDevice> device;
        hr = devices->Item(i, device.receive());
        if (FAILED(hr)) return reportFailure("IMMDeviceCollection::Item", hr);
        if (!readSessions(*device.get(), out)) return false;
    }
    return true;
}

}  // namespace

bool listAudioSessions(std::vector<SessionOwner>& out) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return reportFailure("CoInitializeEx failed", hr);
    const bool read = readAllSessions(out);
    CoUninitialize();
    return read;
}

// The device enumerator over the Pulse protocol, as far as the session
// enumeration goes: the server is one active playback device, its sessions
// those of readPlaybackSessions, read when the devices are enumerated. No
// server: EnumAudioEndpoints fails with AUDCLNT_E_SERVICE_NOT_RUNNING.
#include <memory>

#include "platform/pulse/sessions.h"
#include "platform/session_objects.h"

namespace pulse {
namespace {

class DeviceEnumerator final : public sessionobjects::DeviceEnumerator {
    HRESULT activePlayback(IMMDeviceCollection** out) override {
        const std::unique_ptr<Connection> connection(Connection::open(false));
        if (!connection) return AUDCLNT_E_SERVICE_NOT_RUNNING;
        sessionobjects::DeviceSessions sessions;
        for (const PlaybackSession& s : readPlaybackSessions(*connection)) sessions.push_back({s.pid, s.active, true});
        *out = sessionobjects::newDeviceCollection({sessions});
        return S_OK;
    }
};

}  // namespace
}  // namespace pulse

// What CoCreateInstance in the POSIX layer creates for CLSID_MMDeviceEnumerator.
extern "C" HRESULT procloop_device_enumerator(REFIID riid, void** out) {
    return sessionobjects::createEnumerator<pulse::DeviceEnumerator>(riid, out);
}

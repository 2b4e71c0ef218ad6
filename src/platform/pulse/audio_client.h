// The process-loopback audio client over a server connection, and its capture
// client. Both are reference-counted COM objects; the capture client holds a
// reference to the audio client, which owns the connection. The last Release
// stops the mixer, closes the monitor streams and the connection, and joins
// libpulse's loop thread, so it must not come from that thread (it never does:
// only the program and the activation thread hold references).
//
// Behaviour the program relies on, as on Windows:
// - Initialize: shared mode, LOOPBACK (EVENTCALLBACK, AUTOCONVERTPCM allowed),
//   32-bit float, 1..8 channels, 8000..192000 Hz; else AUDCLNT_E_UNSUPPORTED_FORMAT.
//   The buffer holds the asked duration (200 ms from the program) in packets of
//   one mixer period (rate / 100 frames).
// - After Start, a packet per period while anything captured plays, none
//   otherwise; the event is set per packet.
// - The server going away: GetNextPacketSize and GetBuffer fail with
//   AUDCLNT_E_DEVICE_INVALIDATED, and the event is set so the reader notices.
#pragma once

#include "platform/platform.h"
#include "platform/pulse/connection.h"
#include "platform/pulse/tracker.h"

namespace pulse {

// Takes over the connection. One reference, owned by the caller.
IAudioClient* newAudioClient(Connection* connection, const Target& target);

}  // namespace pulse

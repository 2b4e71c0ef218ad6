// The process-loopback audio client over a server connection, and its capture
// client. Both are reference-counted COM objects; the capture client holds a
// reference to the audio client, which owns the connection. The last Release
// stops the mixer, closes the monitor streams and the connection, and joins
// the loop's own thread, so it must not come from a loop callback (it never
// does: only the program and the activation thread hold references).
// The program's waits for the event run the connection's loop (loop.h): the
// mixer then runs on the program's thread, and a packet costs one wake-up.
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
// - A reader too slow for the buffer loses the oldest packets; the next one it
//   gets carries AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY.
// - devicePosition: frames since Start on the service's clock (it runs on
//   through silent stretches); qpcPosition: the start of the packet's period
//   on CLOCK_MONOTONIC, in 100 ns units.
//
// What the servers add (measured with PulseAudio 16.1 and PipeWire 0.3.65):
// - A monitor attached to an idle null sink on PulseAudio gets its first data
//   only after the sink's current block, up to ~2 s; the same gap follows a
//   stream moved to another sink (its monitor is re-opened there).
// - A corked stream: PulseAudio delivers silence (packets of zeros), PipeWire
//   nothing (no packets) until it resumes.
// - Conversion and up/down-mixing to the requested format are the server's.
#pragma once

#include "platform/platform.h"
#include "platform/pulse/connection.h"
#include "platform/pulse/tracker.h"

namespace pulse {

// Takes over the connection. One reference, owned by the caller.
IAudioClient* newAudioClient(Connection* connection, const Target& target);

}  // namespace pulse

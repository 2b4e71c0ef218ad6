// The script of the fake Windows audio service (the test-only mmdevapi.dll
// that stands in for the system's beside a copy of procloop.exe under Wine),
// and what a test needs to know of what it plays. Plain C++, so the host side
// of the Wine tests reads the same script as the DLL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/test_signals.h"

namespace fakewasapi {

// The calls a script can fail, named in scripts as the program's lines name them.
enum class Call { ActivateAudioInterfaceAsync, GetActivateResult, Initialize, SetEventHandle, GetService, Start,
                  GetNextPacketSize, GetBuffer, ReleaseBuffer,
                  CreateEnumerator, EnumAudioEndpoints, DeviceCount, DeviceItem, ActivateDevice, GetSessionEnumerator,
                  SessionCount, GetSession, SessionQuery, GetProcessId, GetSessionState, Count };

// Buffer flags as the engine sets them (AUDCLNT_BUFFERFLAGS_*).
enum PacketFlags : std::uint32_t { kDiscontinuity = 0x1, kSilent = 0x2, kTimestampError = 0x4 };

// Each packet carries the next bytes of testsignals::patternBytes(), whatever its flags.
struct Packet {
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    bool nullData = false;  // GetBuffer hands out a null data pointer
};

struct SessionInfo {
    std::uint32_t pid = 0;
    bool active = false;
    bool singleProcess = true;  // false: the session spans processes (system sounds); pid is the one that made it
};

struct Script {
    static constexpr unsigned kNever = ~0u;
    unsigned completionDelayMs = 0;       // the activation completes this late; kNever: never
    std::uint32_t activationStatus = 0;   // the status GetActivateResult reports
    struct Fault {
        unsigned onCall = 0;  // fails from this call (1-based) on; 0: never
        std::uint32_t status = 0;
    } faults[static_cast<int>(Call::Count)];
    // Each burst is queued at once and signalled with one event, once every
    // earlier packet has been released.
    std::vector<std::vector<Packet>> bursts;
    // After the bursts, 0: a 440 Hz tone, one packet per period on the service's own clock into a buffer
    // of the duration the program asked for, whose oldest packets go when the program falls behind; GetBuffer
    // gives each its device and QPC position. A failure: GetNextPacketSize fails with it once the bursts are taken.
    std::uint32_t endStatus = 0;
    unsigned periodMs = 10;
    bool refuseQuality = false;  // Initialize refuses AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY, as an older engine may
    testsignals::Stretches silences;  // ms since Start without tone
    std::vector<SessionInfo> sessions;                    // of the one active playback device
    // The program's own calls to the system, which the DLL sees through its import table.
    struct System {
        std::uint32_t coInitializeStatus = 0;
        unsigned failCreateEventAt = 0;  // that CreateEventW call (1-based) returns null
        bool refuseMmcss = false;
        unsigned failWaitAt = 0, timeOutWaitAt = 0;  // that wait (1-based) fails, or times out, at once
        unsigned major = 0, minor = 0, build = 0;    // with a version, RtlGetVersion reports it
    } system;
};

// Text form of a script, ';'-separated, each directive repeatable:
//   pattern=<packets>x<frames>      that many bursts of one packet each
//   burst=<packet>,<packet>...      one burst; a packet is <frames> and any of the flags s (silent),
//                                   d (discontinuity), t (timestamp error), n (null data)
//   end=tone|error:<hex>  period=<ms>  silence=<fromMs>:<forMs>  quality=refused
//   fail=<Call>:<hex>[@<nth call on>]  activation=<delayMs>|never  status=<hex>
//   session=<pid>|self:active|inactive|multi       (self: `self`, the program's own pid)
// and for the program's calls to the system (Script::System):
//   coinit=<hex>  event=<nth>  mmcss=refused  wait=<nth> (fails)  timeout=<nth>
//   windows=<major>.<minor>.<build>
bool parseScript(const std::string& text, Script& script, std::uint32_t self = 0);

// Whether the script silences the tone `ms` after Start.
bool silentAt(const Script& script, std::uint64_t ms);

}  // namespace fakewasapi

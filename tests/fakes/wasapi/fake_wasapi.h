// A scripted fake of the Windows audio service: process-loopback activation,
// an audio client and a capture client. It serves the host test builds and,
// built as a DLL named like the system's audio-device library, the Windows
// build under Wine. Tests script it in-process with load(); a whole process
// takes its script from STANDIN_ENGINE_SCRIPT (see parseScript).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/session_objects.h"

namespace fakeaudio {

enum class Call { ActivateAudioInterfaceAsync, GetActivateResult, Initialize, SetEventHandle, GetService, Start,
                  GetNextPacketSize, GetBuffer, ReleaseBuffer,
                  // the session enumeration, named in scripts as the program names them
                  CreateEnumerator, EnumAudioEndpoints, DeviceCount, DeviceItem, ActivateDevice, GetSessionEnumerator,
                  SessionCount, GetSession, SessionQuery, GetProcessId, GetSessionState, Count };

// Each packet carries the next bytes of patternBytes(), whatever its flags.
struct Packet {
    std::uint32_t frames = 0;
    DWORD flags = 0;
    bool nullData = false;  // GetBuffer hands out a null data pointer
};

struct Script {
    unsigned completionDelayMs = 0;   // the activation completes this late; kNever: not before reset()
    HRESULT activationStatus = S_OK;  // the status GetActivateResult reports
    struct Fault {
        unsigned onCall = 0;  // fails from this call (1-based) on; 0: never
        HRESULT status = S_OK;
    } faults[static_cast<int>(Call::Count)];
    // Each burst is queued at once and signalled with one event, once every
    // earlier packet has been released.
    std::vector<std::vector<Packet>> bursts;
    // After the bursts, S_OK: a 440 Hz tone, one packet per period on the service's own clock into a buffer
    // of the duration the program asked for, whose oldest packets go when the program falls behind; GetBuffer
    // gives each its device and QPC position. A failure: GetNextPacketSize fails with it once the bursts are taken.
    HRESULT endStatus = S_OK;
    unsigned periodMs = 10;
    std::vector<std::pair<unsigned, unsigned>> silences;  // {from, for} ms since Start without tone
    std::vector<std::pair<unsigned, unsigned>> lates;     // {from, for} ms whose tone is handed over only at its end
    std::vector<sessionobjects::SessionInfo> sessions;    // of the one active playback device
    // The host platform's calls as tests/fakes/platform answers them; the Windows DLL has the real ones.
    struct Host {
        HRESULT coInitializeStatus = S_OK;
        unsigned failCreateEventAt = 0;  // that CreateEventW call (1-based) returns null
        bool refuseMmcss = false;
        unsigned failWaitAt = 0, timeOutWaitAt = 0;  // that wait (1-based) fails, or times out, at once
        // With a version, ntdll is found and RtlGetVersion reports it. Windows always has both,
        // and the call cannot fail; the POSIX layer has neither.
        unsigned major = 0, minor = 0, build = 0;
        // In-process, the kept output takes at most this per write (0: no limit), and
        // once failAfterBytes have gone, writes fail as to a pipe whose reader went away.
        unsigned maxBytesPerCall = 0;
        std::uint64_t failAfterBytes = UINT64_MAX;
    } host;

    static constexpr unsigned kNever = ~0u;
};

// The script for the next activation; a whole process starts with STANDIN_ENGINE_SCRIPT's, or the tone.
void load(const Script& script);

// Lets go of a handler whose completion is still pending, stops the service's
// threads and forgets the script (leaving the tone), the counters and the stream.
void reset();

// Waits until a pending completion has been delivered and the handler let go.
void awaitCompletion();

// Waits while a completion is being delivered: the handler, and through it the
// client, are the platform's to let go of until it returns.
void settle();

struct Stats {
    unsigned calls[static_cast<int>(Call::Count)] = {};
    std::uint64_t framesDropped = 0;  // lost to a full buffer
    unsigned operator[](Call call) const { return calls[static_cast<int>(call)]; }
};
Stats stats();

// Counts the call, records `entry` if given, and returns the script's status for it (S_OK: none).
HRESULT scripted(Call call, const char* entry = nullptr);
std::vector<sessionobjects::SessionInfo> scriptedSessions();
Script::Host scriptedHost();
extern std::atomic<unsigned> liveObjects;  // the service's COM objects, the sessions' included

// What the program asked of the service and the platform, in order; taking it empties it.
void record(std::string entry);
std::vector<std::string> takeJournal();

// Text form of a script, ';'-separated, each directive repeatable:
//   pattern=<packets>x<frames>      that many bursts of one packet each
//   burst=<packet>,<packet>...      one burst; a packet is <frames> and any of the flags s (silent),
//                                   d (discontinuity), t (timestamp error), n (null data)
//   end=tone|error:<hex>  period=<ms>  silence=<fromMs>:<forMs>  late=<fromMs>:<forMs>
//   fail=<Call>:<hex>[@<nth call on>]  activation=<delayMs>|never  status=<hex>
//   session=<pid>|self:active|inactive|multi
// and for the host platform (Script::Host), which STANDIN_WINDOWS_VERSION also sets:
//   coinit=<hex>  event=<nth>  mmcss=refused  wait=<nth> (fails)  timeout=<nth>
//   windows=<major>.<minor>.<build>  write=<bytes>  output=<bytes>
bool parseScript(const std::string& text, Script& script);

// A byte stream of finite floats whose bytes include 0x0A, 0x0D, 0x1A, 0x00
// and 0xFF, so that any text-mode translation on the way shows.
std::vector<BYTE> patternBytes(std::uint64_t offset, std::size_t count);

// The tone's sample at `frame` of the service's clock, and whether the script silences it `ms` after Start.
float toneAt(std::uint64_t frame, std::uint32_t rate);
bool silentAt(const Script& script, std::uint64_t ms);
bool lateAt(const Script& script, std::uint64_t ms);

}  // namespace fakeaudio

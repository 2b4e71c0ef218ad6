// The stand-in audio engine: process-loopback activation, an audio client and
// a capture client, driven by a script. It serves the host build and, built as
// a DLL named like the system's audio-device library, the Windows build under
// Wine. Tests script it in-process with load(); a whole process takes its
// script from the environment (STANDIN_ENGINE_SCRIPT, see parseScript).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace engine {

enum class Call {
    ActivateAudioInterfaceAsync,
    GetActivateResult,
    Initialize,
    SetEventHandle,
    GetService,
    Start,
    Stop,
    GetNextPacketSize,
    GetBuffer,
    ReleaseBuffer,
    Count
};

// The call fails with `status` from its onCall-th invocation (1-based) on.
struct Fault {
    unsigned onCall = 0;  // 0: never
    HRESULT status = S_OK;
};

enum class Completion {
    Immediate,
    Late,   // after completionDelayMs
    Never,  // the handler is held until reset()
};

enum class Content {
    Bytes,    // Packet::bytes as given
    Pattern,  // the next bytes of patternBytes(), continuing across packets
    Tone,     // the next 10 ms of the test tone
};

struct Packet {
    std::uint32_t frames = 0;
    DWORD flags = 0;
    bool nullData = false;  // GetBuffer hands out a null data pointer
    Content content = Content::Bytes;
    std::vector<BYTE> bytes;  // frames * nBlockAlign bytes, for Content::Bytes
};

enum class End {
    Tone,          // after the bursts, the test tone, one packet per period
    Idle,          // after the bursts, nothing
    ServiceError,  // after the bursts, GetNextPacketSize fails with endStatus
};

struct Script {
    Completion completion = Completion::Immediate;
    unsigned completionDelayMs = 0;
    HRESULT activationStatus = S_OK;  // the status GetActivateResult reports
    bool activatesNonAudio = false;   // the activated interface is not an IAudioClient
    Fault faults[static_cast<int>(Call::Count)];
    // Each burst is queued at once and signalled with one event, once every
    // earlier packet has been released.
    std::vector<std::vector<Packet>> bursts;
    End end = End::Tone;
    HRESULT endStatus = AUDCLNT_E_DEVICE_INVALIDATED;
    unsigned toneSeconds = 0;  // End::Tone: after this much tone, end as ServiceError (0: never)
    unsigned periodMs = 10;    // 0: the next packet as soon as the last is released

    Fault& fault(Call call) { return faults[static_cast<int>(call)]; }
};

// The script for the next activation. Without one, the engine takes
// STANDIN_ENGINE_SCRIPT from the environment, or plays the tone.
void load(const Script& script);

// Stops the engine's threads, lets go of a handler whose completion is still
// pending, and forgets the script, the counters and the stream.
void reset();

// Waits until a pending completion has been delivered and the handler let go.
void awaitCompletion();

struct Stats {
    unsigned calls[static_cast<int>(Call::Count)] = {};
    std::uint64_t framesReleased = 0;
    unsigned liveObjects = 0;
    long lastHandlerRelease = -1;  // count the handler reported when the engine let go
};
Stats stats();

// References to the engine's objects that the program holds right now.
unsigned programReferences();

// Text form of a script, ';'-separated:
//   activation=late:<ms> | never | noclient | status:<hex>
//   fail=<Call>:<hex>[@<n>]
//   pattern=<packets>x<frames>     one burst per packet of patternBytes
//   end=tone | idle | error:<hex>
//   limit=<seconds>                 of tone, then the end's service error
//   period=<ms>
bool parseScript(const std::string& text, Script& script);

// A byte stream of finite floats whose bytes include 0x0A, 0x0D, 0x1A, 0x00
// and 0xFF, so that any text-mode translation on the way shows.
std::vector<BYTE> patternBytes(std::uint64_t offset, std::size_t count);

// Frequencies of the test tone: the target's tree, and the rest of the system.
constexpr double kIncludeToneHz = 440.0;
constexpr double kExcludeToneHz = 330.0;

}  // namespace engine

#include <cmath>
#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "fakes/audio/fake_audio.h"

namespace fakeaudio {
namespace {

const char* const kCallNames[] = {"ActivateAudioInterfaceAsync", "GetActivateResult", "Initialize", "SetEventHandle",
                                  "GetService", "Start", "Stop", "GetNextPacketSize", "GetBuffer", "ReleaseBuffer",
                                  "CoCreateInstance", "IMMDeviceEnumerator::EnumAudioEndpoints",
                                  "IMMDeviceCollection::GetCount", "IMMDeviceCollection::Item", "IMMDevice::Activate",
                                  "IAudioSessionManager2::GetSessionEnumerator", "IAudioSessionEnumerator::GetCount",
                                  "IAudioSessionEnumerator::GetSession", "IAudioSessionControl::QueryInterface",
                                  "IAudioSessionControl2::GetProcessId", "IAudioSessionControl::GetState"};
static_assert(sizeof kCallNames / sizeof kCallNames[0] == static_cast<int>(Call::Count), "one name per call");

// Whole text as a number in `base`, or false.
template <typename T>
bool number(const std::string& text, T& value, int base = 10) {
    char* end = nullptr;
    value = static_cast<T>(std::strtoul(text.c_str(), &end, base));
    return end != text.c_str() && *end == '\0';
}

bool parseDirective(const std::string& key, const std::string& value, Script& script) {
    if (key == "fail") {
        const auto colon = value.rfind(':');
        for (int i = 0; colon != std::string::npos && i < static_cast<int>(Call::Count); ++i) {
            if (value.substr(0, colon) == kCallNames[i]) {
                script.faults[i].onCall = 1;
                return number(value.substr(colon + 1), script.faults[i].status, 16);
            }
        }
        return false;
    }
    if (key == "pattern") {
        const auto x = value.find('x');
        Packet packet;
        unsigned packets = 0;
        if (x == std::string::npos || !number(value.substr(0, x), packets) || !number(value.substr(x + 1), packet.frames)) {
            return false;
        }
        script.bursts.assign(packets, std::vector<Packet>{packet});
        return true;
    }
    if (key == "end") {
        script.end = value == "tone" ? End::Tone : value == "idle" ? End::Idle : End::ServiceError;
        return script.end != End::ServiceError || (value.rfind("error:", 0) == 0 && number(value.substr(6), script.endStatus, 16));
    }
    if (key == "activation" && value == "never") {
        script.completionDelayMs = Script::kNever;
        return true;
    }
    if (key == "silence") {
        const auto colon = value.find(':');
        script.silences.emplace_back();
        return colon != std::string::npos && number(value.substr(0, colon), script.silences.back().first) &&
               number(value.substr(colon + 1), script.silences.back().second);
    }
    if (key == "session") {
        const auto colon = value.find(':');
        const std::string state = colon == std::string::npos ? "" : value.substr(colon + 1);
        script.sessions.push_back({0, state != "inactive", state != "multi"});
        std::uint32_t& pid = script.sessions.back().pid;
#ifdef _WIN32
        if (value.rfind("self:", 0) == 0) pid = GetCurrentProcessId();
#else
        if (value.rfind("self:", 0) == 0) pid = static_cast<std::uint32_t>(::getpid());
#endif
        return (state == "active" || state == "inactive" || state == "multi") &&
               (pid != 0 || number(value.substr(0, colon), pid));
    }
    if (key == "period") return number(value, script.periodMs);
    if (key == "limit") return number(value, script.limitSeconds);
    return false;
}

}  // namespace

bool parseScript(const std::string& text, Script& script) {
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t stop = text.find(';', start);
        if (stop == std::string::npos) stop = text.size();
        const std::string item = text.substr(start, stop - start);
        const auto eq = item.find('=');
        if (!item.empty() && (eq == std::string::npos || !parseDirective(item.substr(0, eq), item.substr(eq + 1), script))) {
            return false;
        }
        start = stop + 1;
    }
    return true;
}

std::vector<BYTE> patternBytes(std::uint64_t offset, std::size_t count) {
    static const BYTE kLow[] = {0x0D, 0x0A, 0x1A, 0x00, 0xFF, 0x0A, 0x7F};
    std::vector<BYTE> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t sample = (offset + i) / 4;
        const unsigned byteInSample = static_cast<unsigned>((offset + i) % 4);
        // The top byte keeps the exponent small, so every sample is a finite float.
        bytes[i] = byteInSample == 3 ? static_cast<BYTE>((sample & 1) != 0 ? 0xBE : 0x3E)
                                     : kLow[(sample * 3 + byteInSample) % (sizeof kLow)];
    }
    return bytes;
}

bool silentAt(const Script& script, std::uint64_t ms) {
    for (const auto& s : script.silences) {
        if (ms >= s.first && ms - s.first < s.second) return true;
    }
    return false;
}

float toneAt(std::uint64_t frame, std::uint32_t rate, double hz) {
    return static_cast<float>(0.25 * std::sin(2.0 * 3.14159265358979323846 * hz * static_cast<double>(frame % rate) / rate));
}

}  // namespace fakeaudio

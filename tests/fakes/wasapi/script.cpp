#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "fakes/wasapi/script.h"

namespace fakewasapi {
namespace {

const char* const kCallNames[] = {"ActivateAudioInterfaceAsync", "GetActivateResult", "Initialize", "SetEventHandle",
                                  "GetService", "Start", "GetNextPacketSize", "GetBuffer", "ReleaseBuffer",
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

// "<a><separator><b>" as two numbers.
template <typename A, typename B>
bool pair(const std::string& text, char separator, A& a, B& b, int baseOfA = 10) {
    const auto at = text.find(separator);
    return at != std::string::npos && number(text.substr(0, at), a, baseOfA) && number(text.substr(at + 1), b);
}

// <frames> and its flags: s silent, d discontinuity, t timestamp error, n a null data pointer.
bool packetOf(const std::string& text, Packet& packet) {
    const auto flags = std::min(text.find_first_not_of("0123456789"), text.size());
    if (!number(text.substr(0, flags), packet.frames)) return false;
    for (const char flag : text.substr(flags)) {
        const auto bit = std::string("dst").find(flag);  // AUDCLNT_BUFFERFLAGS_* are bits 0, 1 and 2 in that order
        if (flag != 'n' && bit == std::string::npos) return false;
        packet.nullData = packet.nullData || flag == 'n';
        if (bit != std::string::npos) packet.flags |= 1u << bit;
    }
    return true;
}

bool parseDirective(const std::string& key, const std::string& value, Script& script, std::uint32_t self) {
    Script::System& sys = script.system;
    if (key == "fail") {
        const auto colon = value.rfind(':');
        for (int i = 0; colon != std::string::npos && i < static_cast<int>(Call::Count); ++i) {
            if (value.substr(0, colon) == kCallNames[i]) {
                const std::string status = value.substr(colon + 1);
                script.faults[i].onCall = 1;
                return number(status, script.faults[i].status, 16) ||
                       pair(status, '@', script.faults[i].status, script.faults[i].onCall, 16);
            }
        }
        return false;
    }
    if (key == "pattern") {
        Packet packet;
        unsigned packets = 0;
        if (!pair(value, 'x', packets, packet.frames)) return false;
        script.bursts.insert(script.bursts.end(), packets, std::vector<Packet>{packet});
        return true;
    }
    if (key == "burst") {
        script.bursts.emplace_back();
        std::istringstream items(value);
        for (std::string item; std::getline(items, item, ',');) {
            script.bursts.back().emplace_back();
            if (!packetOf(item, script.bursts.back().back())) return false;
        }
        return true;
    }
    if (key == "end") {
        script.endStatus = 0;
        return value == "tone" || (value.rfind("error:", 0) == 0 && number(value.substr(6), script.endStatus, 16));
    }
    if (key == "activation" && value == "never") {
        script.completionDelayMs = Script::kNever;
        return true;
    }
    if (key == "quality") return (script.refuseQuality = value == "refused");
    if (key == "mmcss") return (sys.refuseMmcss = value == "refused");
    if (key == "silence") {
        script.silences.emplace_back();
        return pair(value, ':', script.silences.back().first, script.silences.back().second);
    }
    if (key == "session") {
        const auto colon = value.find(':');
        const std::string state = colon == std::string::npos ? "" : value.substr(colon + 1);
        script.sessions.push_back({0, state != "inactive", state != "multi"});
        std::uint32_t& pid = script.sessions.back().pid;
        if (value.rfind("self:", 0) == 0) pid = self;
        return (state == "active" || state == "inactive" || state == "multi") &&
               (value.rfind("self:", 0) == 0 || number(value.substr(0, colon), pid));
    }
    if (key == "windows") {
        return std::sscanf(value.c_str(), "%u.%u.%u", &sys.major, &sys.minor, &sys.build) == 3;
    }
    if (key == "activation") return number(value, script.completionDelayMs);
    if (key == "status") return number(value, script.activationStatus, 16);
    if (key == "coinit") return number(value, sys.coInitializeStatus, 16);
    if (key == "event") return number(value, sys.failCreateEventAt);
    if (key == "wait") return number(value, sys.failWaitAt);
    if (key == "timeout") return number(value, sys.timeOutWaitAt);
    if (key == "period") return number(value, script.periodMs) && script.periodMs != 0;
    return false;
}

}  // namespace

bool parseScript(const std::string& text, Script& script, std::uint32_t self) {
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ';');) {
        const auto eq = item.find('=');
        if (!item.empty() && (eq == std::string::npos || !parseDirective(item.substr(0, eq), item.substr(eq + 1), script, self))) {
            return false;
        }
    }
    return true;
}

bool silentAt(const Script& script, std::uint64_t ms) { return testsignals::within(script.silences, ms); }

}  // namespace fakewasapi

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fakes/audio/engine.h"

namespace engine {
namespace {

const char* const kCallNames[] = {"ActivateAudioInterfaceAsync", "GetActivateResult", "Initialize", "SetEventHandle",
                                  "GetService", "Start", "Stop", "GetNextPacketSize", "GetBuffer", "ReleaseBuffer"};
static_assert(sizeof kCallNames / sizeof kCallNames[0] == static_cast<int>(Call::Count), "one name per call");

bool parseHex(const std::string& text, HRESULT& status) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str() || *end != '\0') return false;
    status = static_cast<HRESULT>(static_cast<std::uint32_t>(value));
    return true;
}

bool parseUnsigned(const std::string& text, unsigned& value) {
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0') return false;
    value = static_cast<unsigned>(parsed);
    return true;
}

bool parseDirective(const std::string& key, const std::string& value, Script& script) {
    if (key == "activation") {
        if (value == "never") {
            script.completion = Completion::Never;
            return true;
        }
        if (value == "noclient") {
            script.activatesNonAudio = true;
            return true;
        }
        if (value.rfind("late:", 0) == 0) {
            script.completion = Completion::Late;
            return parseUnsigned(value.substr(5), script.completionDelayMs);
        }
        if (value.rfind("status:", 0) == 0) return parseHex(value.substr(7), script.activationStatus);
        return false;
    }
    if (key == "fail") {
        const auto colon = value.find(':');
        if (colon == std::string::npos) return false;
        const std::string name = value.substr(0, colon);
        std::string status = value.substr(colon + 1);
        unsigned onCall = 1;
        const auto at = status.find('@');
        if (at != std::string::npos) {
            if (!parseUnsigned(status.substr(at + 1), onCall)) return false;
            status.resize(at);
        }
        for (int i = 0; i < static_cast<int>(Call::Count); ++i) {
            if (name == kCallNames[i]) {
                script.faults[i].onCall = onCall;
                return parseHex(status, script.faults[i].status);
            }
        }
        return false;
    }
    if (key == "pattern") {
        unsigned packets = 0, frames = 0;
        const auto x = value.find('x');
        if (x == std::string::npos || !parseUnsigned(value.substr(0, x), packets) ||
            !parseUnsigned(value.substr(x + 1), frames)) {
            return false;
        }
        Packet packet;
        packet.frames = frames;
        packet.content = Content::Pattern;
        script.bursts.assign(packets, std::vector<Packet>{packet});
        return true;
    }
    if (key == "end") {
        if (value == "tone") {
            script.end = End::Tone;
            return true;
        }
        if (value == "idle") {
            script.end = End::Idle;
            return true;
        }
        if (value.rfind("error:", 0) == 0) {
            script.end = End::ServiceError;
            return parseHex(value.substr(6), script.endStatus);
        }
        return false;
    }
    if (key == "period") return parseUnsigned(value, script.periodMs);
    if (key == "limit") return parseUnsigned(value, script.toneSeconds);
    return false;
}

}  // namespace

bool parseScript(const std::string& text, Script& script) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t stop = text.find(';', start);
        if (stop == std::string::npos) stop = text.size();
        const std::string item = text.substr(start, stop - start);
        if (!item.empty()) {
            const auto eq = item.find('=');
            if (eq == std::string::npos || !parseDirective(item.substr(0, eq), item.substr(eq + 1), script)) {
                return false;
            }
        }
        start = stop + 1;
    }
    return true;
}

std::vector<BYTE> patternBytes(std::uint64_t offset, std::size_t count) {
    static const BYTE kLow[] = {0x0D, 0x0A, 0x1A, 0x00, 0xFF, 0x0A, 0x7F};
    std::vector<BYTE> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t at = offset + i;
        const std::uint64_t sample = at / 4;
        const unsigned byteInSample = static_cast<unsigned>(at % 4);
        // The top byte keeps the exponent small, so every sample is a finite float.
        bytes[i] = byteInSample == 3 ? static_cast<BYTE>((sample & 1) != 0 ? 0xBE : 0x3E)
                                     : kLow[(sample * 3 + byteInSample) % (sizeof kLow)];
    }
    return bytes;
}

}  // namespace engine

// The fake backend's script language (fake_backend.h).
#include <cstdlib>
#include <sstream>
#include <string>

#include "fakes/backend/fake_backend.h"

namespace fakebackend {
namespace {

bool number(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// "<a>:<b>" (and "<a>:<b>:<rest>" when rest is asked for).
bool pair(const std::string& text, unsigned long long& a, unsigned long long& b, std::string* rest = nullptr) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    const auto second = rest != nullptr ? text.find(':', colon + 1) : std::string::npos;
    if (rest != nullptr) {
        if (second == std::string::npos) return false;
        *rest = text.substr(second + 1);
    }
    return number(text.substr(0, colon), a) && number(text.substr(colon + 1, second - colon - 1), b);
}

bool stretch(const std::string& text, Stretches& into) {
    unsigned long long from = 0, length = 0;
    if (!pair(text, from, length)) return false;
    into.emplace_back(static_cast<unsigned>(from), static_cast<unsigned>(length));
    return true;
}

bool packet(const std::string& text, Packet& p) {
    const auto letters = text.find_first_not_of("0123456789");
    unsigned long long frames = 0;
    if (!number(text.substr(0, letters), frames)) return false;
    p.frames = static_cast<std::uint32_t>(frames);
    for (const char flag : letters == std::string::npos ? std::string() : text.substr(letters)) {
        if (flag == 's') p.flags |= CapturedPacket::kSilent;
        else if (flag == 'd') p.flags |= CapturedPacket::kDiscontinuity;
        else if (flag == 't') p.flags |= CapturedPacket::kTimestampError;
        else return false;
    }
    return true;
}

bool directive(const std::string& name, const std::string& value, Script& s) {
    unsigned long long a = 0, b = 0;
    if (name == "burst") {
        std::vector<Packet> burst;
        std::istringstream items(value);
        for (std::string item; std::getline(items, item, ',');) {
            burst.emplace_back();
            if (!packet(item, burst.back())) return false;
        }
        s.bursts.push_back(burst);
        return !burst.empty();
    }
    if (name == "end") {
        s.end = value == "tone" ? Script::End::Tone : value == "quiet" ? Script::End::Quiet : Script::End::Lost;
        return value == "tone" || value == "quiet" || value == "lost";
    }
    if (name == "period") return number(value, a) && a > 0 && (s.periodMs = static_cast<unsigned>(a)) > 0;
    if (name == "silence") return stretch(value, s.silences);
    if (name == "mute") return stretch(value, s.mutes);
    if (name == "doubt") return stretch(value, s.doubts);
    if (name == "late") return stretch(value, s.lates);
    if (name == "stall") return stretch(value, s.stalls);
    if (name == "open") {
        s.openFails = value == "fails";
        s.openHangs = value == "hangs";
        return s.openFails || s.openHangs;
    }
    if (name == "exit") return number(value, a) && (s.exitAtMs = static_cast<unsigned>(a)) > 0;
    if (name == "sessions") return (s.sessionsFail = value == "fail");
    if (name == "session") {
        const auto colon = value.find(':');
        if (colon == std::string::npos || !number(value.substr(0, colon), a)) return false;
        const std::string state = value.substr(colon + 1);
        s.sessions.push_back(SessionOwner{static_cast<std::uint32_t>(a), state == "active"});
        return state == "active" || state == "inactive";
    }
    if (name == "process") {
        std::string executable;
        if (!pair(value, a, b, &executable)) return false;
        s.processes.push_back(ProcessEntry{static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b), executable});
        return true;
    }
    if (name == "window") {
        if (!pair(value, a, b)) return false;
        s.windows.emplace_back(a, static_cast<std::uint32_t>(b));
        return true;
    }
    return false;
}

}  // namespace

bool parseScript(const std::string& text, Script& script) {
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ';');) {
        const auto eq = item.find('=');
        if (!item.empty() && (eq == std::string::npos || !directive(item.substr(0, eq), item.substr(eq + 1), script))) {
            return false;
        }
    }
    return true;
}

}  // namespace fakebackend

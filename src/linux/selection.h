// Which playback streams (sink-inputs) a capture takes: plain logic, no server.
//
// Over the Pulse protocol a stream's process is whatever its client library
// said (application.process.id): any local program can claim any pid. A
// native PipeWire client, though, carries the pid the server took from its
// socket's credentials (pipewire.sec.pid on the client, which the client
// cannot set), and that one is used for its streams. Clients of pipewire-pulse
// carry pipewire-pulse's own pid there, the same as this program's own client
// does; PulseAudio sets no such property at all.
#pragma once

#include <cstdint>
#include <vector>

namespace linuxaudio {

// A property's text as a pid; 0 for none or anything that is not one.
std::uint32_t pidFromText(const char* text);

struct StreamFacts {
    std::uint32_t streamPid = 0;     // the sink-input's application.process.id
    std::uint32_t clientPid = 0;     // its client's application.process.id
    std::uint32_t clientSecPid = 0;  // its client's pipewire.sec.pid
    std::uint32_t bridgePid = 0;     // this program's own client's pipewire.sec.pid: the Pulse server's
};

// The process a stream belongs to; 0 when nothing says.
std::uint32_t ownerOf(const StreamFacts& facts);

// Whether a stream of `owner` is captured: the tree's in include mode, every
// other in exclude mode (a stream of no known process among them).
bool captured(const std::vector<std::uint32_t>& tree, bool includeTree, std::uint32_t owner);

}  // namespace linuxaudio

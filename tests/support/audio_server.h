// The private audio server the Pulse tests of one kind share.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "private_component.h"

// A private PulseAudio ("pulseaudio") or PipeWire with WirePlumber and
// pipewire-pulse ("pipewire"), with float32 48 kHz stereo null sinks "out" (the
// default) and "out2" (on PulseAudio also "out3" to "out5"). A PulseAudio sink mixes
// at most 32 streams (its others play to nobody), so a test spreads many over them;
// a PipeWire sink links at most 128.
using AudioServer = PrivateComponent;

// The test binary's server of that kind, with the tone files (<hz>.wav: 20 s,
// 48 kHz stereo float, at 0.25), started on first use; stopped as the binary exits.
inline std::unique_ptr<AudioServer>& audioServerSlot(const std::string& kind) {
    static std::map<std::string, std::unique_ptr<AudioServer>> servers;
    return servers[kind];
}
inline AudioServer& audioServer(const std::string& kind) {
    auto& slot = audioServerSlot(kind);
    const std::string ended = slot ? slot->dead() : "";
    if (!ended.empty()) ADD_FAILURE() << "the server died in an earlier test: " << ended;
    if (!ended.empty() || !slot) {
        // PulseAudio 16.1 now and then aborts (memblock.c, n_imported) when a client whose
        // shared memory it imported is killed, as each test's players are; so no shared memory.
        ::setenv("PULSEAUDIO_OPTIONS", "--disable-shm=yes", 1);
        std::vector<std::string> args{kind, "out", "out2"};
        if (kind == "pulseaudio") args.insert(args.end(), {"out3", "out4", "out5"});
        slot = std::make_unique<AudioServer>("audio-server", args);
        outputOf({"sh", "-c", "cd \"$0\" && for f in 440 550 660 770; do sox -n -r 48000 -c 2 -e float -b 32 "
                              "$f.wav synth 20 sine $f vol 0.25 || exit 1; done", slot->dir});
    }
    return *slot;
}

// After a test that killed it on purpose: the next test of that kind starts a fresh one.
inline void retireAudioServer(const std::string& kind) { audioServerSlot(kind).reset(); }

// What the whole-process tests of the host binary share: the command, the
// lines every capture starts with, and the tone the stand-in engine plays.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"

inline ChildOptions procloop(const std::vector<std::string>& args) {
    ChildOptions options;
    options.argv = {PROCLOOP_HOST_BINARY};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    return options;
}

inline std::string pidLine(unsigned long pid, bool includeChildren = false) {
    char text[96];
    std::snprintf(text, sizeof text, "info: pid=%lu includeChildren=%s\n", pid, includeChildren ? "true" : "false");
    return text;
}

inline std::string captureHead(unsigned long pid = 1234) {
    return pidLine(pid) +
           "info: capture format 48000 Hz 2 ch 32 bit float\n"
           "info: capture started sampleRate=48000 channels=2\n";
}

constexpr const char* kStopped = "info: capture stopped\n";

// Rising zero crossings of channel 0 per second of 48 kHz stereo float audio.
inline double frequencyOf(const std::vector<unsigned char>& bytes) {
    const std::size_t frames = bytes.size() / 8;
    std::vector<float> left(frames);
    for (std::size_t i = 0; i < frames; ++i) std::memcpy(&left[i], &bytes[i * 8], sizeof(float));
    unsigned rising = 0;
    for (std::size_t i = 1; i < frames; ++i) rising += (left[i - 1] < 0.0f && left[i] >= 0.0f) ? 1 : 0;
    return frames == 0 ? 0.0 : rising * 48000.0 / static_cast<double>(frames);
}

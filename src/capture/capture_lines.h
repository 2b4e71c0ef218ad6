// The lines every platform's capture writes at the same steps of its set-up.
#pragma once

#include <cstdint>
#include <cstdio>

// Once the stream's format is settled, before the platform is asked for it.
inline void sayCaptureFormat(std::uint32_t sampleRate, std::uint32_t channels) {
    std::fprintf(stderr, "info: capture format %u Hz %u ch %u bit float\n", static_cast<unsigned>(sampleRate),
                 static_cast<unsigned>(channels), 32u);
}

// Once the stream runs.
inline void sayCaptureStarted(std::uint32_t sampleRate, std::uint32_t channels) {
    std::fprintf(stderr, "info: capture started sampleRate=%u channels=%u\n", static_cast<unsigned>(sampleRate),
                 static_cast<unsigned>(channels));
}

// A process the run must watch could not be opened (gone, or not ours to watch).
inline void sayProcessNotOpened(std::uint32_t pid) {
    std::fprintf(stderr, "error: could not open process %lu\n", static_cast<unsigned long>(pid));
}

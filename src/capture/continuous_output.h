#pragma once

#include <cstdint>

#include "capture/stream_clock.h"

class Silence;
class StatusLine;

// The stream locked to the clock (--continuous): every frame written stands for
// one frame of time since `start`. Packets go where their timestamps put them;
// time the platform left empty becomes zeros, written at most one wait late.
// Times are the stream's clock, in 100 ns units.
class ContinuousOutput {
public:
    // totalFrames: the run ends once that many are written (0: no end).
    ContinuousOutput(std::uint32_t sampleRate, std::uint32_t channels, std::uint64_t start, std::uint64_t totalFrames,
                     Silence& silence, StatusLine& status);

    // One packet (samples null: silent) whose first frame was captured at `time`
    // (0: not known) and which arrived at `arrival`. False once the output failed.
    bool packet(const float* samples, std::uint32_t frames, std::uint64_t time, std::uint64_t arrival);
    // Zeros for the time up to `now` that no packet can still claim. False once the output failed.
    bool fill(std::uint64_t now);
    // How long the loop may wait before the next fill; 0 once every frame is written.
    std::uint32_t waitMs() const;

private:
    bool writeZeros(std::uint64_t frames, bool filler = false);
    std::uint64_t room(std::uint64_t frames) const;  // at most what is left of the total

    std::uint32_t channels_;
    StreamClock clock_;
    std::uint64_t total_;
    Silence& silence_;
    StatusLine& status_;
};

#pragma once

#include <cstdint>
#include <vector>

#include "capture/stream_clock.h"
#include "platform/platform.h"

class StatusLine;

// Now on the performance counter, in 100 ns units: the clock and unit of the
// capture client's QPC positions.
std::uint64_t performanceTime();

// The stream locked to the clock (--continuous): every frame written stands for
// one frame of time since `start`. Packets go where their timestamps put them;
// time the platform left empty becomes zeros, written at most one wait late.
class ContinuousOutput {
public:
    // totalFrames: the run ends once that many are written (0: no end).
    ContinuousOutput(const WAVEFORMATEX& format, std::uint32_t channels, std::uint64_t start, std::uint64_t totalFrames,
                     std::vector<float>& sampleBuffer, StatusLine& status);

    // One packet, with its first frame's QPC position (0: none). False once the output failed.
    bool packet(const BYTE* data, std::uint32_t frames, bool silent, std::uint64_t time);
    // Zeros for the time no packet can still claim. False once the output failed.
    bool fill();
    // How long the loop may wait before the next fill; 0 once every frame is written.
    DWORD waitMs() const;

private:
    bool writeZeros(std::uint64_t frames, bool filler = false);
    std::uint64_t room(std::uint64_t frames) const;  // at most what is left of the total

    const WAVEFORMATEX& format_;
    std::uint32_t channels_;
    StreamClock clock_;
    std::uint64_t total_;
    std::vector<float>& sampleBuffer_;
    StatusLine& status_;
    std::vector<float> zeros_;
};

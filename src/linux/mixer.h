// Sums the captured streams into packets of at most 10 ms. Plain logic: the
// clock (microseconds on CLOCK_MONOTONIC) is passed in.
//
// A packet is mixed as soon as every stream still delivering holds audio: the
// frames they all hold, up to a period. So one stream passes through as it is
// delivered, with no added delay, whatever the phase of its fragments. A stream
// that has ended, or has not delivered for kStaleUsec (paused on PipeWire, which
// then sends nothing), holds nobody up: what it still has plays out.
//
// A packet's time is its first frame's position in the stream: consecutive
// audio keeps consecutive times. The first packet, and one whose audio the
// clock puts more than kMaxLagUsec later than its position (a silence, a pause,
// audio lost to a stalled reader), is placed by the clock: its oldest frame came
// in as long ago as the streams hold audio. Positions never go back, and never
// run ahead of the clock by more than a period.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/backend.h"
#include "linux/stream_fifo.h"

namespace linuxaudio {

class Mixer {
public:
    static constexpr std::uint64_t kStaleUsec = 30000;
    static constexpr std::uint64_t kMaxLagUsec = 60000;
    static constexpr std::uint64_t kNever = UINT64_MAX;

    // Allocates the packet; nothing else does.
    void reset(std::uint32_t rate, std::uint32_t channels, std::uint64_t startUsec);

    // The next packet, if one is ready at `nowUsec`; its samples stay valid
    // until the next call.
    bool next(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec, CapturedPacket& out);

    // When, with no delivery meanwhile, a packet may become ready (kNever: not without one).
    std::uint64_t wakeAt(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const;

    std::uint32_t period() const { return period_; }

private:
    struct Scan {
        std::uint32_t held = 0;              // the most frames any stream holds
        std::uint32_t common = UINT32_MAX;   // the fewest any live stream holds
        std::uint64_t staleAt = kNever;      // when the first live stream that holds none goes stale
        bool dropped = false;
    };
    Scan scan(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const;
    std::uint64_t timeOf(std::uint64_t position) const;  // microseconds
    std::uint64_t positionAt(std::uint64_t usec) const;  // frames since the start

    std::vector<float> packet_;
    std::uint32_t rate_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t period_ = 0;
    std::uint64_t startUsec_ = 0;
    std::uint64_t position_ = 0;  // of the next packet's first frame
    bool first_ = true;
};

}  // namespace linuxaudio

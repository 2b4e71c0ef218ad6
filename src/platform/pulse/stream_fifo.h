// One captured stream's samples between the server's deliveries and the
// mixer's period. Plain logic; the caller serialises access.
//
// Deliveries come in chunks of their own size and phase, so a stream only
// starts playing once it holds a chunk and two periods: from then on a chunk
// arrives before the stream runs dry, even a few milliseconds late, and the
// mix is not chopped.
// A stream that runs dry anyway gives what it has (the rest of the period stays
// silent) and waits for that level again. A stream that holds far more than it
// needs (a burst, or a server clock faster than ours) loses its oldest frames.
#pragma once

#include <cstdint>
#include <vector>

namespace pulse {

class StreamFifo {
public:
    // Allocates; nothing else does. period: frames per mixer period.
    void reset(std::uint32_t capacityFrames, std::uint32_t channels, std::uint32_t period);

    // Appends one delivery; samples == nullptr is a hole the server reported,
    // kept as silence. When full, the oldest frames make room.
    void push(const float* samples, std::uint32_t frames);

    // The stream has ended: what is left plays out without waiting for a level.
    void finish() { finished_ = true; }
    bool finished() const { return finished_; }

    // The stream has stopped delivering (paused): what is left plays out, and
    // its next delivery waits for the start level again.
    void stall() { stalled_ = true; }
    bool playingOut() const { return (finished_ || stalled_) && count_ > 0; }

    // Whether the stream plays in the coming period; trims an overfull buffer.
    bool ready();

    // Adds one period of the stream to dst (dst == nullptr: the period is
    // dropped). Call only after ready() said yes.
    void take(float* dst);

    std::uint32_t frames() const { return count_; }
    std::uint32_t startLevel() const { return largestChunk_ + 2 * period_; }

private:
    void discard(std::uint32_t frames);

    std::vector<float> ring_;
    std::uint32_t capacity_ = 0;  // frames
    std::uint32_t channels_ = 0;
    std::uint32_t period_ = 0;
    std::uint32_t head_ = 0;  // frame index of the oldest frame
    std::uint32_t count_ = 0;
    std::uint32_t largestChunk_ = 0;
    bool playing_ = false;
    bool finished_ = false;
    bool stalled_ = false;
};

}  // namespace pulse

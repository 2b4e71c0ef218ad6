// One captured stream's samples between the server's deliveries and the
// mixer: a ring of frames with the time of the last delivery. Plain logic.
// A stream that delivers more than the ring holds (a reader that stalled the
// capture while the server kept recording) keeps the newest frames and says
// that some were lost.
#pragma once

#include <cstdint>
#include <vector>

namespace linuxaudio {

class StreamFifo {
public:
    // Allocates; nothing else does.
    void reset(std::uint32_t capacityFrames, std::uint32_t channels);

    // Appends one delivery made at `nowUsec`; samples == nullptr is a hole the
    // server reported, kept as silence.
    void push(const float* samples, std::uint32_t frames, std::uint64_t nowUsec);

    // Ended (its monitor is gone): what it holds plays out without waiting for more.
    void finish() { ended_ = true; }
    // Recording again (a new monitor after a move).
    void resume() { ended_ = false; }
    bool ended() const { return ended_; }

    std::uint32_t frames() const { return count_; }
    bool delivered() const { return delivered_; }
    std::uint64_t lastDelivery() const { return lastDelivery_; }
    // Frames were lost to a full ring since the last take.
    bool dropped() const { return dropped_; }

    // Adds up to `frames` frames to dst and forgets them; how many it had.
    std::uint32_t take(float* dst, std::uint32_t frames);

private:
    void discard(std::uint32_t frames);

    std::vector<float> ring_;
    std::uint32_t capacity_ = 0;  // frames
    std::uint32_t channels_ = 0;
    std::uint32_t head_ = 0;  // frame index of the oldest frame
    std::uint32_t count_ = 0;
    std::uint64_t lastDelivery_ = 0;
    bool delivered_ = false;
    bool dropped_ = false;
    bool ended_ = false;
};

}  // namespace linuxaudio

#pragma once

#include <cstdint>

// Where packets go in a stream locked to the clock: output frame n stands for
// start + n / rate. Times are in 100 ns units on the performance counter, the
// unit of the capture client's QPC positions. No platform calls: the caller
// reads the clock.
class StreamClock {
public:
    // Snap tolerance for timestamped packets after the first, which is placed
    // exactly: rounding and clock jitter between contiguous packets stay well
    // inside 2 ms, so they are never cut or padded.
    static constexpr std::uint64_t kSnap = 20000;
    // For packets placed by their arrival: the scheduler may wake the loop up to
    // a whole wait late, and that is no gap.
    static constexpr std::uint64_t kArrivalSnap = 1500000;

    struct Placement {
        std::uint64_t zeros = 0;  // frames of silence to write before the packet
        std::uint32_t skip = 0;   // leading frames of the packet already covered
    };

    StreamClock(std::uint32_t rate, std::uint64_t start) : rate_(rate), start_(start) {}

    // A packet of `frames` whose first frame was captured at `time` (0: not
    // known) and which was taken at `arrival`. A time that is missing or goes
    // back behind the last packet's is replaced by arrival minus the packet's
    // own length.
    Placement place(std::uint64_t time, std::uint64_t arrival, std::uint32_t frames);

    // Frames of silence due for the time up to `until`.
    std::uint64_t zerosDue(std::uint64_t until) const;

    // Zeros written as filler for time no packet claimed: the packet after them
    // is placed exactly, as the first is, so that the stream never stays shifted
    // against the clock by up to a snap where late audio meets the filler.
    void wrote(std::uint64_t frames, bool filler = false) {
        written_ += frames;
        afterFiller_ = filler;
    }
    std::uint64_t written() const { return written_; }

private:
    std::int64_t frameAt(std::uint64_t time) const;

    std::uint32_t rate_;
    std::uint64_t start_;
    std::uint64_t written_ = 0;
    std::uint64_t lastTime_ = 0;  // of the last timestamped packet; 0: none yet
    bool afterFiller_ = false;
};

// The capture buffer: mixed packets waiting for the reader, as the Windows
// capture client hands them out. Plain logic; the caller serialises access,
// except that a claimed slot is filled without the lock (the reader cannot see
// it before commit, and the writer never drops a packet in the reader's hands).
//
// A reader too slow for the buffer loses the oldest packets, and the packet it
// reads next carries the discontinuity flag.
#pragma once

#include <cstdint>
#include <vector>

namespace pulse {

struct PacketInfo {
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    std::uint64_t devicePosition = 0;  // frames since the stream started
    std::uint64_t qpcPosition = 0;     // capture time of the first frame, 100 ns units
};

class PacketRing {
public:
    // Allocates; nothing else does. packets: how many the buffer holds.
    void reset(std::uint32_t packets, std::uint32_t framesPerPacket, std::uint32_t channels);

    // Writer. The slot for the next packet (framesPerPacket frames), making room
    // by dropping the oldest packet; nullptr if the only one to drop is in the
    // reader's hands, in which case the new packet is lost instead.
    float* claim();
    void commit(const PacketInfo& info);

    // Reader.
    bool empty() const { return count_ == 0; }
    const PacketInfo& front() const { return info_[head_]; }
    float* frontData() { return data(head_); }
    bool inHand() const { return inHand_; }
    void hand() { inHand_ = true; }
    void unhand() { inHand_ = false; }
    void pop();
    void clear();

    std::uint32_t queuedFrames() const;
    std::uint32_t capacityFrames() const { return packets_ * framesPerPacket_; }

private:
    float* data(std::uint32_t slot) {
        return samples_.data() + static_cast<std::size_t>(slot) * framesPerPacket_ * channels_;
    }

    std::vector<float> samples_;
    std::vector<PacketInfo> info_;
    std::uint32_t packets_ = 0;
    std::uint32_t slots_ = 0;  // one more than packets_: the one being written
    std::uint32_t framesPerPacket_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t head_ = 0;
    std::uint32_t count_ = 0;
    bool inHand_ = false;
    bool lost_ = false;  // the next committed packet follows a gap
};

}  // namespace pulse

#include "platform/pulse/packet_ring.h"

namespace pulse {

namespace {
constexpr std::uint32_t kDiscontinuity = 0x1;  // AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY
}

void PacketRing::reset(std::uint32_t packets, std::uint32_t framesPerPacket, std::uint32_t channels) {
    packets_ = packets == 0 ? 1 : packets;
    slots_ = packets_ + 1;
    framesPerPacket_ = framesPerPacket;
    channels_ = channels;
    samples_.assign(static_cast<std::size_t>(slots_) * framesPerPacket * channels, 0.0f);
    info_.assign(slots_, PacketInfo{});
    clear();
}

void PacketRing::clear() {
    head_ = 0;
    count_ = 0;
    inHand_ = false;
    lost_ = false;
}

float* PacketRing::claim() {
    if (count_ == packets_) {
        if (inHand_) {
            lost_ = true;
            return nullptr;
        }
        pop();
        if (count_ > 0) {
            info_[head_].flags |= kDiscontinuity;
        } else {
            lost_ = true;
        }
    }
    return data((head_ + count_) % slots_);
}

void PacketRing::commit(const PacketInfo& info) {
    PacketInfo& slot = info_[(head_ + count_) % slots_];
    slot = info;
    if (lost_) slot.flags |= kDiscontinuity;
    lost_ = false;
    ++count_;
}

void PacketRing::pop() {
    if (count_ == 0) return;
    head_ = (head_ + 1) % slots_;
    --count_;
}

std::uint32_t PacketRing::queuedFrames() const {
    std::uint32_t frames = 0;
    for (std::uint32_t i = 0; i < count_; ++i) frames += info_[(head_ + i) % slots_].frames;
    return frames;
}

}  // namespace pulse

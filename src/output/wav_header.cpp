#include "output/wav_header.h"

#include <cstring>

namespace {

// Speaker positions (KSAUDIO_SPEAKER_* in ksmedia.h).
constexpr std::uint32_t kFL = 0x1, kFR = 0x2, kFC = 0x4, kLFE = 0x8, kBL = 0x10, kBR = 0x20, kBC = 0x100,
                        kSL = 0x200, kSR = 0x400;
// Indexed by channel count; one and two channels need no mask.
constexpr std::uint32_t kChannelMasks[9] = {
    0, 0, 0,
    kFL | kFR | kFC,                                    // 3
    kFL | kFR | kBL | kBR,                              // 4: quad
    kFL | kFR | kFC | kBL | kBR,                        // 5
    kFL | kFR | kFC | kLFE | kBL | kBR,                 // 6: 5.1
    kFL | kFR | kFC | kLFE | kBC | kSL | kSR,           // 7: 6.1
    kFL | kFR | kFC | kLFE | kBL | kBR | kSL | kSR,     // 8: 7.1 surround
};
}  // namespace

std::uint32_t standardChannelMask(std::uint32_t channels) { return channels < 9 ? kChannelMasks[channels] : 0; }

namespace {

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT as stored in a file.
constexpr unsigned char kFloatSubformat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                               0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint32_t kDs64Bytes = 28;  // RIFF size, data size, sample count, empty table

class Writer {
public:
    explicit Writer(unsigned char* out) : p_(out) {}
    void tag(const char* fourcc) { put(fourcc, 4); }
    void u16(std::uint32_t v) { le(v, 2); }
    void u32(std::uint32_t v) { le(v, 4); }
    void u64(std::uint64_t v) { le(v, 8); }
    void put(const void* bytes, std::size_t n) {
        std::memcpy(p_ + length_, bytes, n);
        length_ += n;
    }
    std::size_t length() const { return length_; }

private:
    void le(std::uint64_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) p_[length_++] = static_cast<unsigned char>(v >> (8 * i));
    }
    unsigned char* p_;
    std::size_t length_ = 0;
};

}  // namespace

std::size_t buildWavHeader(unsigned char (&out)[kWavHeaderMaxBytes], std::uint32_t sampleRate, std::uint32_t channels,
                           std::uint64_t dataBytes) {
    const bool extensible = channels > 2;
    const std::uint32_t fmtBytes = extensible ? 40 : 18;
    const std::uint32_t headerBytes = 12 + (8 + kDs64Bytes) + (8 + fmtBytes) + 8;
    const bool streaming = dataBytes == kWavStreaming;
    const std::uint64_t riffBytes = streaming ? kMax32 : headerBytes - 8 + dataBytes;
    // 0xFFFFFFFF itself is RF64's "see ds64", so it is promoted too.
    const bool rf64 = !streaming && riffBytes >= kMax32;
    const std::uint32_t blockAlign = channels * 4;

    Writer w(out);
    w.tag(rf64 ? "RF64" : "RIFF");
    w.u32(rf64 ? kMax32 : static_cast<std::uint32_t>(riffBytes));
    w.tag("WAVE");
    w.tag(rf64 ? "ds64" : "JUNK");
    w.u32(kDs64Bytes);
    w.u64(rf64 ? riffBytes : 0);
    w.u64(rf64 ? dataBytes : 0);
    w.u64(rf64 ? dataBytes / blockAlign : 0);
    w.u32(0);

    w.tag("fmt ");
    w.u32(fmtBytes);
    w.u16(extensible ? 0xFFFE : 3);  // WAVE_FORMAT_EXTENSIBLE, WAVE_FORMAT_IEEE_FLOAT
    w.u16(channels);
    w.u32(sampleRate);
    w.u32(sampleRate * blockAlign);
    w.u16(blockAlign);
    w.u16(32);
    w.u16(fmtBytes - 18);  // cbSize
    if (extensible) {
        w.u16(32);  // valid bits
        w.u32(standardChannelMask(channels));
        w.put(kFloatSubformat, sizeof kFloatSubformat);
    }

    w.tag("data");
    w.u32(streaming || rf64 ? kMax32 : static_cast<std::uint32_t>(dataBytes));
    return w.length();
}

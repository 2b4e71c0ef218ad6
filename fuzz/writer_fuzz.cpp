// Arbitrary source formats and packet bytes into the sample conversion the
// packet writer runs: a format it calls readable must never make it read
// outside the packet nor write past frames x channels samples. (What the
// writer then writes is checked byte for byte by the end-to-end tests.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "output/sample_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Header: tag, channels, block align, bits (2 bytes each), output channels,
    // frames (2 bytes), then the extensible sub-format (16 bytes).
    constexpr std::size_t kHeader = 2 * 4 + 1 + 2 + 16;
    if (size < kHeader) return 0;
    WAVEFORMATEXTENSIBLE format{};
    std::memcpy(&format.Format.wFormatTag, data, 2);
    std::memcpy(&format.Format.nChannels, data + 2, 2);
    std::memcpy(&format.Format.nBlockAlign, data + 4, 2);
    std::memcpy(&format.Format.wBitsPerSample, data + 6, 2);
    const std::uint32_t outChannels = 1 + data[8] % 8;
    std::uint16_t wantedFrames = 0;
    std::memcpy(&wantedFrames, data + 9, 2);
    std::memcpy(&format.SubFormat, data + 11, 16);

    // The packet is exactly frames * nBlockAlign bytes, in a buffer of its own,
    // so that any read past it is caught; an empty one is a null pointer.
    const std::size_t stride = format.Format.nBlockAlign;
    const std::size_t available = size - kHeader;
    std::uint32_t frames = wantedFrames % 512;
    if (stride != 0 && frames * stride > available) frames = static_cast<std::uint32_t>(available / stride);
    std::vector<BYTE> packet(data + kHeader, data + kHeader + frames * stride);

    const SourceLayout layout = describeSource(format.Format);
    if (!layout.readable) return 0;
    std::vector<float> out(static_cast<std::size_t>(frames) * outChannels + 1, -7.0f);  // one guard sample
    convertSamples(packet.data(), frames, layout, outChannels, out.data());
    if (out.back() != -7.0f) __builtin_trap();
    return 0;
}

// Arbitrary source formats and packet bytes into the packet writer: it must
// never read outside the packet, must leave exactly frames x channels samples
// when it accepts the format and none when it refuses it, and the samples it
// writes must be the ones it leaves in the buffer.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "output/packet_writer.h"
#include "output/sample_conversion.h"

namespace {

// What reached descriptor 1, read back through a pipe that holds a packet.
int outRead = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The writer writes to descriptor 1; keep the fuzzer's own output readable.
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK) != 0) __builtin_trap();
    ::dup2(fds[1], 1);
    ::close(fds[1]);
    outRead = fds[0];
    return 0;
}

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
    // so that any read past it is caught.
    const std::size_t stride = format.Format.nBlockAlign;
    const std::size_t available = size - kHeader;
    std::uint32_t frames = wantedFrames % 512;
    if (stride != 0 && frames * stride > available) frames = static_cast<std::uint32_t>(available / stride);
    std::vector<BYTE> packet(data + kHeader, data + kHeader + frames * stride);

    std::vector<float> buffer;
    writePacket(packet.data(), frames, format.Format, outChannels, buffer);
    const SourceLayout layout = describeSource(format.Format);
    if (!layout.readable) {
        if (!buffer.empty()) __builtin_trap();
        return 0;
    }
    if (buffer.size() != static_cast<std::size_t>(frames) * outChannels) __builtin_trap();
    std::vector<float> written(buffer.size() + 1);
    const ssize_t n = ::read(outRead, written.data(), written.size() * sizeof(float));
    const std::size_t bytes = n < 0 ? 0 : static_cast<std::size_t>(n);
    if (bytes != buffer.size() * sizeof(float)) __builtin_trap();
    if (bytes != 0 && std::memcmp(written.data(), buffer.data(), bytes) != 0) __builtin_trap();
    return 0;
}

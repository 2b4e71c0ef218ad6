#include "output/packet_writer.h"

#include "output/output_stream.h"
#include "output/sample_conversion.h"

void resizeSamples(std::vector<float>& sampleBuffer, std::size_t samples) {
    const std::size_t capacity = sampleBuffer.capacity();
    if (samples > capacity) {
        const std::size_t grown = capacity + capacity / 2;
        sampleBuffer.reserve(samples > grown ? samples : grown);
    }
    sampleBuffer.resize(samples);
}

bool writePacket(const BYTE* data, std::uint32_t frames, const WAVEFORMATEX& sourceFormat, std::uint32_t outChannels,
                 std::vector<float>& sampleBuffer) {
    const SourceLayout layout = describeSource(sourceFormat);
    if (!layout.readable) {
        sampleBuffer.clear();
        return false;
    }
    const std::size_t outCount = static_cast<std::size_t>(frames) * outChannels;
    resizeSamples(sampleBuffer, outCount);
    convertSamples(data, frames, layout, outChannels, sampleBuffer.data());
    return writeAll(sampleBuffer.data(), outCount * sizeof(float));
}

// Throughput of the packet writer's conversion against a memcpy of the same
// output size, both measured in this run, so the ratio holds on any machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "output/sample_conversion.h"

namespace {

struct Shape {
    const char* name;
    WORD tag;
    WORD bits;
    WORD sourceChannels;
    WORD outChannels;
};

// The capture asks the platform for packed float at the output's own channel
// count, so that is the only shape a real stream has.
constexpr Shape kShapes[] = {
    {"float_2ch", WAVE_FORMAT_IEEE_FLOAT, 32, 2, 2},
    {"float_8ch", WAVE_FORMAT_IEEE_FLOAT, 32, 8, 8},
};

constexpr std::uint32_t kFrames[] = {480, 9600};  // 10 ms and 200 ms at 48 kHz

void convert(benchmark::State& state, const Shape shape, std::uint32_t frames) {
    WAVEFORMATEX format{};
    format.wFormatTag = shape.tag;
    format.wBitsPerSample = shape.bits;
    format.nChannels = shape.sourceChannels;
    format.nBlockAlign = static_cast<WORD>(shape.sourceChannels * shape.bits / 8);
    const SourceLayout layout = describeSource(format);
    std::vector<BYTE> data(static_cast<std::size_t>(frames) * format.nBlockAlign);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 37 + 11);
    std::vector<float> out(static_cast<std::size_t>(frames) * shape.outChannels);
    for (auto _ : state) {
        convertSamples(data.data(), frames, layout, shape.outChannels, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(out.size() * sizeof(float)));
}

void copy(benchmark::State& state, std::size_t bytes) {
    std::vector<unsigned char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// memcpy/<output bytes> is the baseline for every shape with that output size.
int registerAll() {
    std::vector<std::size_t> sizes;
    for (const std::uint32_t frames : kFrames) {
        for (const Shape& shape : kShapes) {
            const std::size_t bytes = static_cast<std::size_t>(frames) * shape.outChannels * sizeof(float);
            benchmark::RegisterBenchmark(
                (std::string("convert/") + shape.name + "/" + std::to_string(frames)).c_str(),
                [shape, frames](benchmark::State& s) { convert(s, shape, frames); });
            bool seen = false;
            for (std::size_t size : sizes) seen = seen || size == bytes;
            if (!seen) sizes.push_back(bytes);
        }
    }
    for (const std::size_t bytes : sizes) {
        benchmark::RegisterBenchmark(("memcpy/" + std::to_string(bytes)).c_str(),
                                     [bytes](benchmark::State& s) { copy(s, bytes); });
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

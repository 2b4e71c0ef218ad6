// Runs of 0.0 samples on standard output, from one buffer of zeros made once,
// so that silence of any length costs no allocation.
#pragma once

#include <cstdint>
#include <vector>

class Silence {
public:
    // A tenth of a second at `sampleRate` per write; larger runs take several.
    Silence(std::uint32_t sampleRate, std::uint32_t channels);

    // Writes `frames` of zeros; `wrote` is told of each chunk as it goes out.
    // False once a write failed.
    template <typename Wrote>
    bool write(std::uint64_t frames, Wrote&& wrote) {
        for (std::uint64_t done = 0; done < frames;) {
            const std::uint64_t n = frames - done < chunkFrames_ ? frames - done : chunkFrames_;
            if (!writeChunk(n)) return false;
            wrote(zeros_.data(), n);
            done += n;
        }
        return true;
    }

private:
    bool writeChunk(std::uint64_t frames) const;

    std::uint32_t channels_;
    std::uint64_t chunkFrames_;
    std::vector<float> zeros_;
};

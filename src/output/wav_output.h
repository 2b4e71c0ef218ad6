#pragma once

#include <cstdint>

// A WAVE stream on standard output. The header goes out first with the
// streaming sizes, which is all a pipe can carry; when standard output is a
// file that was empty, finishWav() rewrites it with the final sizes.
struct WavOutput {
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    bool rewritable = false;
};

// Writes the header in one write; false when standard output failed.
bool beginWav(WavOutput& wav, std::uint32_t sampleRate, std::uint32_t channels);

// Patches the sizes from the file's length and leaves the position at its end.
// Silent when that cannot be done (a file opened for appending): the streaming
// sizes still read to the end.
void finishWav(const WavOutput& wav);

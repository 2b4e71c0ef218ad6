#include "output/wav_output.h"

#include <cstdio>

#include "output/output_stream.h"
#include "output/wav_header.h"

bool beginWav(WavOutput& wav, std::uint32_t sampleRate, std::uint32_t channels) {
    wav.sampleRate = sampleRate;
    wav.channels = channels;
    // A file written from an offset other than 0 (appended to) is left as it is.
    wav.rewritable = outputIsFreshFile();
    unsigned char header[kWavHeaderMaxBytes];
    return writeAll(header, buildWavHeader(header, sampleRate, channels, kWavStreaming));
}

void finishWav(const WavOutput& wav) {
    if (!wav.rewritable) return;
    const long long end = seekOutput(0, SEEK_END);
    unsigned char header[kWavHeaderMaxBytes];
    const std::size_t headerBytes = buildWavHeader(header, wav.sampleRate, wav.channels, 0);
    if (end < static_cast<long long>(headerBytes)) return;
    const auto dataBytes = static_cast<std::uint64_t>(end) - headerBytes;
    buildWavHeader(header, wav.sampleRate, wav.channels, dataBytes);
    if (seekOutput(0, SEEK_SET) != 0) return;
    // A file opened for appending takes every write at its end, wherever the
    // position is (O_APPEND; FILE_APPEND_DATA without FILE_WRITE_DATA on Windows):
    // cut that copy off again, so the file keeps its streaming sizes and ends
    // with the samples.
    // https://learn.microsoft.com/windows/win32/fileio/file-access-rights-constants
    if (writeAll(header, headerBytes) && seekOutput(0, SEEK_END) != end) truncateOutput(end);
    seekOutput(0, SEEK_END);
}

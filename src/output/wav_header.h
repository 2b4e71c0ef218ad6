// The RIFF/WAVE header of a 32-bit float stream, as bytes. Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest header (WAVE_FORMAT_EXTENSIBLE, above two channels).
constexpr std::size_t kWavHeaderMaxBytes = 104;

// What a reader is told about the length of the data.
constexpr std::uint64_t kWavStreaming = UINT64_MAX;  // unknown: every size at its 32-bit maximum

// The standard speaker positions (KSAUDIO_SPEAKER_*) of 3 to 8 channels, as
// both the WAVE header and the capture's requested format give them: 5.1 for
// 6, 7.1 for 8. 0 for one or two channels, which need none.
std::uint32_t standardChannelMask(std::uint32_t channels);

// Writes the header for `channels` (1 to 8) at `sampleRate` followed by
// `dataBytes` of samples (or kWavStreaming) and returns its length, which
// depends on the channel count only. A 28-byte JUNK chunk is reserved after
// "WAVE" so that a header rewritten with the final sizes can become RF64
// (EBU Tech 3306) in place when they no longer fit in 32 bits.
std::size_t buildWavHeader(unsigned char (&out)[kWavHeaderMaxBytes], std::uint32_t sampleRate, std::uint32_t channels,
                           std::uint64_t dataBytes);

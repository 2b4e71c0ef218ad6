#include "output/simd_kernels.h"

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define PROCLOOP_AVX2 1
#include <immintrin.h>
#endif

#include <cstdint>
#include <cstring>

namespace simd {
namespace {

// Portable loops, from sample `i` on: the whole conversion where the processor
// has no vector kernels, and the tails of those that have.
void int16Portable(const BYTE* data, std::size_t i, std::size_t n, float* out) {
    for (; i < n; ++i) {
        std::int16_t v;
        std::memcpy(&v, data + 2 * i, sizeof v);
        out[i] = static_cast<float>(v) * (1.0f / 32768.0f);
    }
}

void int32Portable(const BYTE* data, std::size_t i, std::size_t n, float* out) {
    for (; i < n; ++i) {
        std::int32_t v;
        std::memcpy(&v, data + 4 * i, sizeof v);
        out[i] = static_cast<float>(v) * (1.0f / 2147483648.0f);
    }
}

// Each sample is gathered into the top 24 bits of a word; as an int32 that is
// the value times 256, exact in single precision, so scaling by 2^-31 gives
// the same float as the rule. Four samples are three 32-bit words.
void int24Portable(const BYTE* data, std::size_t i, std::size_t n, float* out) {
    constexpr float kScale = 1.0f / 2147483648.0f;
    for (; i + 4 <= n; i += 4) {
        std::uint32_t w[3];
        std::memcpy(w, data + 3 * i, sizeof w);
        out[i] = static_cast<float>(static_cast<std::int32_t>(w[0] << 8)) * kScale;
        out[i + 1] = static_cast<float>(static_cast<std::int32_t>(((w[0] >> 16) & 0xFF00u) | (w[1] << 16))) * kScale;
        out[i + 2] = static_cast<float>(static_cast<std::int32_t>(((w[1] >> 8) & 0xFFFF00u) | (w[2] << 24))) * kScale;
        out[i + 3] = static_cast<float>(static_cast<std::int32_t>(w[2] & 0xFFFFFF00u)) * kScale;
    }
    for (; i < n; ++i) {
        const BYTE* p = data + 3 * i;
        const std::uint32_t u = static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                                static_cast<std::uint32_t>(p[2]) << 24;
        out[i] = static_cast<float>(static_cast<std::int32_t>(u)) * kScale;
    }
}

}  // namespace

#ifdef PROCLOOP_AVX2

// Neither is required by the Windows versions that have process loopback,
// so both are asked for at run time.
Level best() {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
        return __builtin_cpu_supports("avx512vbmi") ? Level::Avx512Vbmi : Level::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) return Level::Avx2;
    return Level::None;
}

namespace {

__attribute__((target("avx2"))) void int16Avx2(const BYTE* data, std::size_t n, float* out) {
    const __m256 scale = _mm256_set1_ps(1.0f / 32768.0f);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * i)));
        const __m256i b = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 2 * i + 16)));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_cvtepi32_ps(a), scale));
        _mm256_storeu_ps(out + i + 8, _mm256_mul_ps(_mm256_cvtepi32_ps(b), scale));
    }
    int16Portable(data, i, n, out);
}

__attribute__((target("avx2"))) void int32Avx2(const BYTE* data, std::size_t n, float* out) {
    const __m256 scale = _mm256_set1_ps(1.0f / 2147483648.0f);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 4 * i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 4 * i + 32));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_cvtepi32_ps(a), scale));
        _mm256_storeu_ps(out + i + 8, _mm256_mul_ps(_mm256_cvtepi32_ps(b), scale));
    }
    int32Portable(data, i, n, out);
}

// Eight 3-byte samples per step: two 16-byte loads (12 bytes used of each),
// and a byte shuffle that lifts each sample into the top 24 bits of a lane.
// As an int32 that is the value times 256, so the scale is 2^-31.
__attribute__((target("avx2"))) void int24Avx2(const BYTE* data, std::size_t n, float* out) {
    const __m256 scale = _mm256_set1_ps(1.0f / 2147483648.0f);
    const __m256i lift = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,  //
                                          -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    std::size_t i = 0;
    // The second load reads 4 bytes past the 8 samples: stop while that is
    // still inside the packet.
    for (; i + 10 <= n; i += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 3 * i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 3 * i + 12));
        const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        const __m256i lifted = _mm256_shuffle_epi8(both, lift);
        _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_cvtepi32_ps(lifted), scale));
    }
    int24Portable(data, i, n, out);
}

// GCC 12's AVX-512 headers build vectors from _mm512_undefined_*(), which its
// own uninitialised-use analysis then flags inside the inlined intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// AVX-512: sixteen samples per step, as the AVX2 kernels do eight.
__attribute__((target("avx512f,avx512bw"))) inline __m512 int16Step(__m512i words) {
    return _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(_mm512_castsi512_si256(words))),
                         _mm512_set1_ps(1.0f / 32768.0f));
}

__attribute__((target("avx512f,avx512bw"))) inline __m512 int32Step(__m512i words) {
    return _mm512_mul_ps(_mm512_cvtepi32_ps(words), _mm512_set1_ps(1.0f / 2147483648.0f));
}

// Sixteen 3-byte samples are 48 bytes; a dword permute spreads them to 12
// bytes of each 16-byte lane, and the same byte shuffle as above lifts them.
__attribute__((target("avx512f,avx512bw"))) inline __m512 int24Step(__m512i bytes) {
    const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    const __m512i lift = _mm512_broadcast_i32x4(_mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11));
    const __m512i lifted = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(spread, bytes), lift);
    return _mm512_mul_ps(_mm512_cvtepi32_ps(lifted), _mm512_set1_ps(1.0f / 2147483648.0f));
}

template <std::size_t Width>
__attribute__((target("avx512f,avx512bw"))) inline __m512 step(__m512i bytes) {
    if constexpr (Width == 2) return int16Step(bytes);
    if constexpr (Width == 3) return int24Step(bytes);
    if constexpr (Width == 4) return int32Step(bytes);
}

// Sixteen samples' bytes, and for 3-byte samples the 16 bytes after them.
template <std::size_t Width>
__attribute__((target("avx512f,avx512bw"))) inline __m512i wholeLoad(const BYTE* in) {
    if constexpr (Width == 2) {
        return _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)));
    } else {
        return _mm512_loadu_si512(in);
    }
}

// A partial step of `count` samples: masked loads and stores, which neither
// touch nor fault on what lies beyond the packet.
template <std::size_t Width>
__attribute__((target("avx512f,avx512bw"))) inline void partialStep(const BYTE* in, std::size_t count, float* out) {
    const __mmask64 wanted = ~0ULL >> (64 - Width * count);
    const auto lanes = static_cast<__mmask16>((1u << count) - 1u);
    _mm512_mask_storeu_ps(out, lanes, step<Width>(_mm512_maskz_loadu_epi8(wanted, in)));
}

// Sixteen samples per step. A partial first step brings the output to a
// 64-byte boundary, so that no store splits a cache line; whole steps load
// only the packet's bytes (`slack` samples must remain past a step for its
// load); what is left goes in partial steps.
template <std::size_t Width, std::size_t Slack>
__attribute__((target("avx512f,avx512bw"))) inline void convertAvx512(const BYTE* data, std::size_t n, float* out) {
    std::size_t i = (64 - reinterpret_cast<std::uintptr_t>(out) % 64) % 64 / sizeof(float);
    if (i > n) i = n;
    if (i > 0) partialStep<Width>(data, i, out);
    // Two steps at a time, which keeps both vector ports busy.
    for (; i + 32 + Slack <= n; i += 32) {
        const __m512 a = step<Width>(wholeLoad<Width>(data + Width * i));
        const __m512 b = step<Width>(wholeLoad<Width>(data + Width * (i + 16)));
        _mm512_store_ps(out + i, a);
        _mm512_store_ps(out + i + 16, b);
    }
    for (; i + 16 + Slack <= n; i += 16) _mm512_store_ps(out + i, step<Width>(wholeLoad<Width>(data + Width * i)));
    for (; i < n; i += 16) partialStep<Width>(data + Width * i, n - i < 16 ? n - i : 16, out + i);
}

__attribute__((target("avx512f,avx512bw"))) void int16Avx512(const BYTE* data, std::size_t n, float* out) {
    convertAvx512<2, 0>(data, n, out);
}

__attribute__((target("avx512f,avx512bw"))) void int32Avx512(const BYTE* data, std::size_t n, float* out) {
    convertAvx512<4, 0>(data, n, out);
}

__attribute__((target("avx512f,avx512bw"))) void int24Avx512(const BYTE* data, std::size_t n, float* out) {
    // A whole step loads 64 bytes of which it uses 48: 16 bytes, 6 samples, of slack.
    convertAvx512<3, 6>(data, n, out);
}

// With VBMI one byte permute lifts all sixteen samples, zeroing the low byte
// of each lane through its mask. Every load is masked to the samples wanted.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512 int24VbmiLift(__m512i bytes) {
    const __m512i lift = _mm512_setr_epi32(0x02010000, 0x05040300, 0x08070600, 0x0B0A0900,  //
                                           0x0E0D0C00, 0x11100F00, 0x14131200, 0x17161500,  //
                                           0x1A191800, 0x1D1C1B00, 0x201F1E00, 0x23222100,  //
                                           0x26252400, 0x29282700, 0x2C2B2A00, 0x2F2E2D00);
    constexpr __mmask64 kHighBytes = 0xEEEEEEEEEEEEEEEEull;
    const __m512i lifted = _mm512_maskz_permutexvar_epi8(kHighBytes, lift, bytes);
    return _mm512_mul_ps(_mm512_cvtepi32_ps(lifted), _mm512_set1_ps(1.0f / 2147483648.0f));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __m512 int24VbmiStep(const BYTE* in,
                                                                                   std::size_t count) {
    return int24VbmiLift(_mm512_maskz_loadu_epi8(~0ULL >> (64 - 3 * count), in));
}

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void int24Vbmi(const BYTE* data, std::size_t n, float* out) {
    std::size_t i = (64 - reinterpret_cast<std::uintptr_t>(out) % 64) % 64 / sizeof(float);
    if (i > n) i = n;
    if (i > 0) _mm512_mask_storeu_ps(out, static_cast<__mmask16>((1u << i) - 1u), int24VbmiStep(data, i));
    // Whole loads while 16 bytes of packet remain past the step's 48; two
    // steps at a time, which keeps both vector ports busy.
    for (; i + 38 <= n; i += 32) {
        const __m512 a = int24VbmiLift(_mm512_loadu_si512(data + 3 * i));
        const __m512 b = int24VbmiLift(_mm512_loadu_si512(data + 3 * i + 48));
        _mm512_store_ps(out + i, a);
        _mm512_store_ps(out + i + 16, b);
    }
    for (; i + 22 <= n; i += 16) _mm512_store_ps(out + i, int24VbmiLift(_mm512_loadu_si512(data + 3 * i)));
    for (; i < n; i += 16) {
        const std::size_t count = n - i < 16 ? n - i : 16;
        _mm512_mask_storeu_ps(out + i, static_cast<__mmask16>((1u << count) - 1u), int24VbmiStep(data + 3 * i, count));
    }
}

#pragma GCC diagnostic pop

}  // namespace

#else

Level best() { return Level::None; }

#endif

void int16ToFloat(Level level, const BYTE* data, std::size_t n, float* out) {
#ifdef PROCLOOP_AVX2
    if (level >= Level::Avx512) return int16Avx512(data, n, out);
    if (level == Level::Avx2) return int16Avx2(data, n, out);
#endif
    (void)level;
    int16Portable(data, 0, n, out);
}

void int24ToFloat(Level level, const BYTE* data, std::size_t n, float* out) {
#ifdef PROCLOOP_AVX2
    if (level == Level::Avx512Vbmi) return int24Vbmi(data, n, out);
    if (level == Level::Avx512) return int24Avx512(data, n, out);
    if (level == Level::Avx2) return int24Avx2(data, n, out);
#endif
    (void)level;
    int24Portable(data, 0, n, out);
}

void int32ToFloat(Level level, const BYTE* data, std::size_t n, float* out) {
#ifdef PROCLOOP_AVX2
    if (level >= Level::Avx512) return int32Avx512(data, n, out);
    if (level == Level::Avx2) return int32Avx2(data, n, out);
#endif
    (void)level;
    int32Portable(data, 0, n, out);
}

}  // namespace simd

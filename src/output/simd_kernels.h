// Conversion of contiguous integer samples: vector kernels where the processor
// has them, portable loops elsewhere. Each produces exactly what the scalar
// rule does: the integer is converted to single precision and scaled by a
// power of two, both exact or rounded the same way in vector and scalar form.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace simd {

// Avx512Vbmi adds a one-instruction byte permute, which only 24-bit samples use.
enum class Level { None, Avx2, Avx512, Avx512Vbmi };

// The widest level this processor and compiler support.
Level best();

// n samples from data to out, at a level no wider than best(); Level::None
// is the portable loop.
void int16ToFloat(Level level, const BYTE* data, std::size_t n, float* out);
void int24ToFloat(Level level, const BYTE* data, std::size_t n, float* out);
void int32ToFloat(Level level, const BYTE* data, std::size_t n, float* out);

}  // namespace simd

#pragma once

#include <cstddef>

// Writes all of bytes[0, length) to descriptor 1, continuing after partial
// writes. False when a write fails or accepts nothing; what was written stays.
bool writeAll(const void* bytes, std::size_t length);

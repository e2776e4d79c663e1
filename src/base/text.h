// Bounded text copies, for the job's fixed-size NUL-terminated fields.
#pragma once

#include <cstddef>

// Copies src into dst[size]: at most size - 1 characters, always ended by a
// NUL; a longer src is cut. REQUIRES: size > 0.
inline void Str_Copy(char* dst, std::size_t size, const char* src) {
  std::size_t n = 0;
  for (; n + 1 < size && src[n] != '\0'; ++n) dst[n] = src[n];
  dst[n] = '\0';
}

// Small text helpers shared by the calendar phases.
//
// The phases move dates and day types between the statements' host
// variables and their records; the buffers differ in size (a DateYmd holds 9
// bytes, the statements' date texts 11), so every copy is bounded.
#pragma once

#include <cstddef>

// Copies src into dst[size], cut to size - 1 characters; dst always ends
// with a NUL. REQUIRES: size > 0.
inline void Cal_Txt_Copy(char* dst, std::size_t size, const char* src) {
  std::size_t n = 0;
  while (n + 1 < size && src[n] != '\0') {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = '\0';
}

// The size of the date texts the calendar statements read and write
// (yyyymmdd and its NUL, with room to spare).
constexpr int kCalDateTextSize = 11;

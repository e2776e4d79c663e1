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

#include <string>

// A text as it may be shown in a message: control characters (and DEL) as
// \xNN escapes, never raw, so that a value cannot move the cursor, clear a
// terminal or start a new log line; cut after `max` characters with "...".
inline std::string Str_Shown(const char* text, std::size_t max) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  std::size_t n = 0;
  for (; text[n] != '\0' && n < max; ++n) {
    const unsigned char c = static_cast<unsigned char>(text[n]);
    if (c < 0x20 || c == 0x7f || c == '\\') {
      out += '\\';
      if (c == '\\') {
        out += '\\';
        continue;
      }
      out += 'x';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text[n] != '\0') out += "...";
  return out;
}

// Appends byte `c` of a log text (Windows-1252) as UTF-8. The job's texts
// use only ASCII and the Latin-1 letters (0xA0..0xFF), which map directly;
// any other byte above 0x7F becomes '?'.
inline void Str_Append_Utf8(std::string* out, unsigned char c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c >= 0xA0) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += '?';
  }
}

// Date texts and formats of TO_DATE and TO_CHAR. Input: one byte for the
// format's length, the format, then the date text; the same bytes, read as
// a Julian day number, are formatted too.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/oradate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t fmtlen = data[0];
  if (fmtlen > size - 1) fmtlen = size - 1;
  const std::string fmt(reinterpret_cast<const char*>(data + 1), fmtlen);
  const std::string text(reinterpret_cast<const char*>(data + 1 + fmtlen), size - 1 - fmtlen);

  char out[64];
  double jd = 0;
  const int rc = Ora_Date_Parse(text.data(), text.size(), fmt.data(), fmt.size(), &jd);
  if (rc == 0) {
    if (!std::isfinite(jd)) std::abort();
    // What TO_CHAR writes under a format, TO_DATE reads back as the same date.
    const int n = Ora_Date_Format(jd, fmt.data(), fmt.size(), true, out, sizeof out);
    if (n < 0) std::abort();
    if (static_cast<size_t>(n) < sizeof out) {
      double again = 0;
      if (Ora_Date_Parse(out, static_cast<size_t>(n), fmt.data(), fmt.size(), &again) != 0 || again != jd) {
        std::abort();
      }
    }
  } else if (rc > 0) {
    std::abort();
  }

  // Any number as a date, under any format, both weekday numberings.
  if (text.size() >= sizeof(double)) {
    double any;
    std::memcpy(&any, text.data(), sizeof any);
    for (bool sunday_first : {true, false}) {
      char small[7];
      const int n = Ora_Date_Format(any, fmt.data(), fmt.size(), sunday_first, small, sizeof small);
      if (n >= 0 && std::memchr(small, '\0', sizeof small) == nullptr) std::abort();
    }
    char def[16];
    Ora_Date_Default(any, def);
  }
  return 0;
}

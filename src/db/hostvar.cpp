#include "db/hostvar.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/backend.h"

namespace {


int Put_Int32(const SqlVar& out, double truncated) {
  if (!(truncated >= INT32_MIN && truncated <= INT32_MAX)) return kSqlIntOverflow;
  *static_cast<int32_t*>(out.data) = static_cast<int32_t>(truncated);
  if (out.ind != nullptr) *out.ind = 0;
  return 0;
}

int Put_String(const SqlVar& out, const char* src, size_t len) {
  if (out.size <= 0) return kSqlBadVariable;
  const size_t room = static_cast<size_t>(out.size) - 1;
  const size_t n = len < room ? len : room;
  char* dst = static_cast<char*>(out.data);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
  if (out.ind != nullptr) *out.ind = len > room ? static_cast<int16_t>(len > 32767 ? 32767 : len) : 0;
  return 0;
}

}  // namespace

int Hostvar_Put_Null(const SqlVar& out) {
  if (out.ind == nullptr) return kSqlNullNoIndicator;
  *out.ind = -1;
  return 0;
}

int Hostvar_Put_Text(const SqlVar& out, const char* text, size_t len) {
  if (len == 0) return Hostvar_Put_Null(out);
  if (out.data == nullptr) return kSqlBadVariable;
  if (out.kind == SqlVar::kString) return Put_String(out, text, len);
  bool is_int;
  long long iv;
  double dv;
  if (!Sql_Number_Parse(text, len, &is_int, &iv, &dv)) return kSqlBadNumber;
  if (is_int) {
    if (iv < INT32_MIN || iv > INT32_MAX) return kSqlIntOverflow;
    return Put_Int32(out, static_cast<double>(iv));
  }
  return Put_Int32(out, std::trunc(dv));
}

int Hostvar_Put_Int(const SqlVar& out, long long value) {
  if (out.data == nullptr) return kSqlBadVariable;
  if (out.kind == SqlVar::kString) {
    char tmp[24];
    const int n = std::snprintf(tmp, sizeof tmp, "%lld", value);
    return Put_String(out, tmp, static_cast<size_t>(n));
  }
  if (value < INT32_MIN || value > INT32_MAX) return kSqlIntOverflow;
  return Put_Int32(out, static_cast<double>(value));
}

int Hostvar_Put_Double(const SqlVar& out, double value) {
  if (out.data == nullptr) return kSqlBadVariable;
  if (out.kind == SqlVar::kString) {
    char tmp[40];
    const size_t n = Sql_Number_Text(value, tmp, sizeof tmp);
    return Put_String(out, tmp, n);
  }
  return Put_Int32(out, std::trunc(value));
}

bool Sql_Number_Parse(const char* s, size_t n, bool* is_int, long long* iv, double* dv) {
  // Blanks around the number do not count.
  while (n > 0 && *s == ' ') ++s, --n;
  while (n > 0 && s[n - 1] == ' ') --n;
  if (n == 0) return false;
  char small[64];
  std::string large;
  char* text = small;
  if (n >= sizeof small) {
    large.assign(s, n);
    text = large.data();
  } else {
    std::memcpy(small, s, n);
    small[n] = '\0';
  }
  char* end;
  errno = 0;
  const long long i = std::strtoll(text, &end, 10);
  if (*end == '\0' && errno == 0 && end != text) {
    *is_int = true;
    *iv = i;
    return true;
  }
  errno = 0;
  const double d = std::strtod(text, &end);
  if (*end != '\0' || end == text || errno != 0 || !std::isfinite(d)) return false;
  *is_int = false;
  *dv = d;
  return true;
}

size_t Sql_Number_Text(double d, char* buf, size_t size) {
  int n;
  if (d == std::trunc(d) && std::fabs(d) < 1e15) {
    n = std::snprintf(buf, size, "%lld", static_cast<long long>(d));
  } else {
    n = std::snprintf(buf, size, "%.15g", d);
  }
  return n < 0 ? 0 : static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

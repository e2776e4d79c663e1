#include "db/oradate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kJdEpoch = 2440587.5;  // 1970-01-01 00:00
const char kMonths[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = m;
  *day = d;
}

int DayOfYear(int y, int m, int d) {
  return static_cast<int>(Ora_Days_From_Civil(y, m, d) - Ora_Days_From_Civil(y, 1, 1)) + 1;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

using enum OraElem;
using Elem = OraElem;

// The format elements, longest first where one is a prefix of another.
struct ElemName {
  const char* name;
  size_t len;
  Elem elem;
};
const ElemName kElems[] = {{"yyyy", 4, kYyyy}, {"rr", 2, kRr},   {"mon", 3, kMon}, {"mm", 2, kMm},
                           {"mi", 2, kMi},     {"ddd", 3, kDdd}, {"dd", 2, kDd},   {"d", 1, kD},
                           {"iw", 2, kIw},     {"hh24", 4, kHh24}, {"ss", 2, kSs}};

bool IsSep(char c) { return c == '-' || c == '/' || c == '.' || c == ':' || c == ',' || c == ' '; }

}  // namespace

OraElem Ora_Format_Next(const char* fmt, size_t fmtlen, size_t* pos) {
  if (IsSep(fmt[*pos])) {
    ++*pos;
    return kSep;
  }
  for (const ElemName& e : kElems) {
    const size_t n = e.len;
    if (*pos + n > fmtlen) continue;
    bool match = true;
    for (size_t i = 0; i < n && match; ++i) match = Lower(fmt[*pos + i]) == e.name[i];
    if (match) {
      *pos += n;
      return e.elem;
    }
  }
  return kBad;
}

namespace {

// Reads exactly `width` digits.
bool ReadDigits(const char* text, size_t len, size_t* pos, int width, int* value) {
  if (*pos + static_cast<size_t>(width) > len) return false;
  int v = 0;
  for (int i = 0; i < width; ++i) {
    const char c = text[*pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *pos += static_cast<size_t>(width);
  *value = v;
  return true;
}

// Appends to out, never past outsize - 1.
struct Out {
  char* buf;
  size_t size;
  size_t len;
  void Put(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (len + 1 < size) buf[len] = s[i];
      ++len;
    }
  }
  // A non-negative number, zero-padded to width digits.
  void Num(int v, int width) {
    char tmp[12];
    int n = 0;
    do {
      tmp[sizeof tmp - 1 - n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0 && n < static_cast<int>(sizeof tmp));
    while (n < width && n < static_cast<int>(sizeof tmp)) tmp[sizeof tmp - 1 - n++] = '0';
    Put(tmp + sizeof tmp - n, static_cast<size_t>(n));
  }
};

}  // namespace

int64_t Ora_Days_From_Civil(int year, int month, int day) {
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t mp = month > 2 ? month - 3 : month + 9;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int Ora_Weekday(int64_t days) {
  // 1970-01-01 was a Thursday (4).
  int64_t w = (days + 4) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w);
}

double Ora_Jd_From_Civil(const OraCivil& c) {
  const int64_t days = Ora_Days_From_Civil(c.year, c.month, c.day);
  const int secs = c.hour * 3600 + c.minute * 60 + c.second;
  return kJdEpoch + static_cast<double>(days) + secs / 86400.0;
}

namespace {

// Julian day numbers of 0001-01-01 and 10000-01-01, midnight.
constexpr double kJdFirst = 1721425.5;
constexpr double kJdEnd = 5373484.5;

// The conversion proper; jd within a day of [kJdFirst, kJdEnd].
OraCivil Civil_Of(double jd) {
  const int64_t total = std::llround((jd - kJdEpoch) * 86400.0);
  const int64_t days = FloorDiv(total, 86400);
  const int secs = static_cast<int>(total - days * 86400);
  OraCivil c{};
  CivilFromDays(days, &c.year, &c.month, &c.day);
  c.hour = secs / 3600;
  c.minute = secs / 60 % 60;
  c.second = secs % 60;
  return c;
}

// Ora_Jd_Valid, with the civil date and time into *c when it is.
bool Civil_If_Valid(double jd, OraCivil* c) {
  if (!(jd >= kJdFirst - 1 && jd <= kJdEnd + 1)) return false;  // NaN too
  *c = Civil_Of(jd);
  return c->year >= 1 && c->year <= 9999;
}

}  // namespace

bool Ora_Jd_Valid(double jd) {
  OraCivil c{};
  return Civil_If_Valid(jd, &c);
}

OraCivil Ora_Jd_To_Civil(double jd) {
  OraCivil c{};
  if (!Civil_If_Valid(jd, &c)) return OraCivil{1, 1, 1, 0, 0, 0};
  return c;
}

double Ora_Jd_Trunc(double jd) {
  const OraCivil c = Ora_Jd_To_Civil(jd);
  return kJdEpoch + static_cast<double>(Ora_Days_From_Civil(c.year, c.month, c.day));
}

int Ora_Iso_Week(int year, int month, int day) {
  const int64_t days = Ora_Days_From_Civil(year, month, day);
  const int monday_based = (Ora_Weekday(days) + 6) % 7;  // Monday 0
  const int64_t thursday = days - monday_based + 3;
  int ty, tm, td;
  CivilFromDays(thursday, &ty, &tm, &td);
  return (DayOfYear(ty, tm, td) - 1) / 7 + 1;
}

// The two formats of the job's statements, read without the general
// element loop: 'yyyymmdd' and 'yyyymmddhh24miss'. False when fmt is another.
namespace {

bool Fast_Format(const char* fmt, size_t fmtlen, bool* with_time) {
  static const char kDay[] = "yyyymmdd";
  static const char kTime[] = "yyyymmddhh24miss";
  if (fmtlen != 8 && fmtlen != 16) return false;
  const char* want = fmtlen == 8 ? kDay : kTime;
  for (size_t i = 0; i < fmtlen; ++i) {
    if (Lower(fmt[i]) != want[i]) return false;
  }
  *with_time = fmtlen == 16;
  return true;
}

}  // namespace

int Ora_Date_Parse(const char* text, size_t len, const char* fmt, size_t fmtlen, double* jd) {
  OraCivil c{0, 1, 1, 0, 0, 0};
  bool with_time;
  if (Fast_Format(fmt, fmtlen, &with_time)) {
    size_t tp = 0;
    if (len != (with_time ? 14u : 8u) || !ReadDigits(text, len, &tp, 4, &c.year) ||
        !ReadDigits(text, len, &tp, 2, &c.month) || !ReadDigits(text, len, &tp, 2, &c.day) ||
        (with_time && (!ReadDigits(text, len, &tp, 2, &c.hour) || !ReadDigits(text, len, &tp, 2, &c.minute) ||
                       !ReadDigits(text, len, &tp, 2, &c.second)))) {
      // Not plain digits of the right length: the general path names the fault.
      c = OraCivil{0, 1, 1, 0, 0, 0};
    } else if (c.year >= 1 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
               c.day <= DaysInMonth(c.year, c.month) && c.hour <= 23 && c.minute <= 59 && c.second <= 59) {
      *jd = Ora_Jd_From_Civil(c);
      return 0;
    } else {
      c = OraCivil{0, 1, 1, 0, 0, 0};
    }
  }
  bool have_year = false;
  size_t fp = 0, tp = 0;
  while (fp < fmtlen) {
    const char sep = fmt[fp];
    const Elem e = Ora_Format_Next(fmt, fmtlen, &fp);
    bool ok = true;
    switch (e) {
      case kSep:
        ok = tp < len && text[tp] == sep;
        ++tp;
        break;
      case kYyyy:
        ok = ReadDigits(text, len, &tp, 4, &c.year);
        have_year = true;
        break;
      case kRr:
        // Two-digit years: 00-49 in this century, 50-99 in the last.
        ok = ReadDigits(text, len, &tp, 2, &c.year);
        c.year += c.year < 50 ? 2000 : 1900;
        have_year = true;
        break;
      case kMon: {
        ok = false;
        if (tp + 3 <= len) {
          for (int m = 0; m < 12 && !ok; ++m) {
            ok = true;
            for (int i = 0; i < 3 && ok; ++i) ok = Lower(text[tp + i]) == Lower(kMonths[m][i]);
            if (ok) c.month = m + 1;
          }
        }
        tp += 3;
        if (!ok) return kOraBadMonth;
        break;
      }
      case kMm:
        ok = ReadDigits(text, len, &tp, 2, &c.month);
        if (ok && (c.month < 1 || c.month > 12)) return kOraBadMonth;
        break;
      case kDd:
        ok = ReadDigits(text, len, &tp, 2, &c.day);
        break;
      case kHh24:
        ok = ReadDigits(text, len, &tp, 2, &c.hour);
        if (ok && c.hour > 23) return kOraBadHour;
        break;
      case kMi:
        ok = ReadDigits(text, len, &tp, 2, &c.minute);
        if (ok && c.minute > 59) return kOraBadMinute;
        break;
      case kSs:
        ok = ReadDigits(text, len, &tp, 2, &c.second);
        if (ok && c.second > 59) return kOraBadSecond;
        break;
      default:
        return kOraFormatUnknown;
    }
    if (!ok) return kOraDateMismatch;
  }
  if (tp != len) return kOraDateMismatch;
  if (!have_year || c.year < 1) return kOraBadYear;
  if (c.day < 1 || c.day > DaysInMonth(c.year, c.month)) return kOraBadDay;
  *jd = Ora_Jd_From_Civil(c);
  return 0;
}

namespace {

// yyyymmdd[hh24miss] of a valid date into out (15 bytes), NUL-terminated;
// returns the length.
int Digits_Of(const OraCivil& c, bool with_time, char* out) {
  const auto put = [out](int at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) out[at + i] = static_cast<char>('0' + value % 10);
  };
  put(0, c.year, 4);
  put(4, c.month, 2);
  put(6, c.day, 2);
  if (!with_time) {
    out[8] = '\0';
    return 8;
  }
  put(8, c.hour, 2);
  put(10, c.minute, 2);
  put(12, c.second, 2);
  out[14] = '\0';
  return 14;
}

}  // namespace

int Ora_Date_Digits(double jd, bool with_time, char (&out)[15]) {
  out[0] = '\0';
  OraCivil c{};
  if (!Civil_If_Valid(jd, &c)) return kOraBadYear;
  return Digits_Of(c, with_time, out);
}

int Ora_Date_Format(double jd, const char* fmt, size_t fmtlen, bool sunday_first, char* out,
                    size_t outsize) {
  if (outsize > 0) out[0] = '\0';
  OraCivil c{};
  if (!Civil_If_Valid(jd, &c)) return kOraBadYear;
  Out o{out, outsize, 0};
  bool with_time;
  if (Fast_Format(fmt, fmtlen, &with_time)) {
    // The job's own formats, digits only.
    char digits[15];
    const int n = Digits_Of(c, with_time, digits);
    o.Put(digits, static_cast<size_t>(n));
    if (outsize > 0) out[o.len < outsize ? o.len : outsize - 1] = '\0';
    return n;
  }
  size_t fp = 0;
  while (fp < fmtlen) {
    const size_t start = fp;
    const Elem e = Ora_Format_Next(fmt, fmtlen, &fp);
    switch (e) {
      case kSep:
        o.Put(fmt + start, 1);
        break;
      case kYyyy:
        o.Num(c.year, 4);
        break;
      case kRr:
        o.Num(c.year % 100, 2);
        break;
      case kMon: {
        // Case follows the format: MON, Mon or mon.
        const bool up1 = fmt[start] >= 'A' && fmt[start] <= 'Z';
        const bool up2 = fmt[start + 1] >= 'A' && fmt[start + 1] <= 'Z';
        char m[3];
        for (int i = 0; i < 3; ++i) {
          const bool up = i == 0 ? up1 : up2;
          m[i] = up ? kMonths[c.month - 1][i] : Lower(kMonths[c.month - 1][i]);
        }
        o.Put(m, 3);
        break;
      }
      case kMm:
        o.Num(c.month, 2);
        break;
      case kMi:
        o.Num(c.minute, 2);
        break;
      case kDdd:
        o.Num(DayOfYear(c.year, c.month, c.day), 3);
        break;
      case kDd:
        o.Num(c.day, 2);
        break;
      case kD: {
        const int wd = Ora_Weekday(Ora_Days_From_Civil(c.year, c.month, c.day));  // Sunday 0
        o.Num(sunday_first ? wd + 1 : (wd + 6) % 7 + 1, 1);
        break;
      }
      case kIw:
        o.Num(Ora_Iso_Week(c.year, c.month, c.day), 2);
        break;
      case kHh24:
        o.Num(c.hour, 2);
        break;
      case kSs:
        o.Num(c.second, 2);
        break;
      default:
        return kOraFormatUnknown;
    }
  }
  if (outsize > 0) out[o.len < outsize ? o.len : outsize - 1] = '\0';
  return static_cast<int>(o.len);
}

int Ora_Date_Default(double jd, char* out) {
  out[0] = '\0';
  OraCivil c{};
  if (!Civil_If_Valid(jd, &c)) return kOraBadYear;
  Out o{out, 10, 0};
  o.Num(c.day, 2);
  o.Put("-", 1);
  o.Put(kMonths[c.month - 1], 3);
  o.Put("-", 1);
  o.Num(c.year % 100, 2);
  out[o.len] = '\0';
  return static_cast<int>(o.len);
}

bool Ora_Territory_Sunday_First(const char* territory) {
  // Territories whose calendars begin the week on Sunday; the European ones
  // (GERMANY, AUSTRIA, SWITZERLAND, ...) and most others begin on Monday.
  static const char* const kSunday[] = {"AMERICA", "CANADA",   "BRAZIL",      "MEXICO",
                                        "JAPAN",   "KOREA",    "CHINA",       "TAIWAN",
                                        "HONG KONG", "ISRAEL", "PHILIPPINES", "SOUTH AFRICA"};
  if (territory == nullptr || *territory == '\0') return true;
  for (const char* t : kSunday) {
    if (std::strcmp(t, territory) == 0) return true;
  }
  return false;
}

void Ora_Territory_From_Env(char* out, size_t size) {
  if (size == 0) return;
  const char* src = "AMERICA";
  size_t n = std::strlen(src);
  const char* env = std::getenv("NLS_TERRITORY");
  if (env != nullptr && *env != '\0') {
    src = env;
    n = std::strlen(env);
  } else if ((env = std::getenv("NLS_LANG")) != nullptr) {
    const char* us = std::strchr(env, '_');
    const char* dot = std::strchr(env, '.');
    if (us != nullptr && (dot == nullptr || us < dot)) {
      const char* end = dot != nullptr ? dot : env + std::strlen(env);
      if (end > us + 1) {
        src = us + 1;
        n = static_cast<size_t>(end - src);
      }
    }
  }
  if (n > size - 1) n = size - 1;
  for (size_t i = 0; i < n; ++i) {
    const char c = src[i];
    out[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  out[n] = '\0';
}

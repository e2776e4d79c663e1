#include "run/args.h"

#include <cstring>

namespace {

bool AllDigits(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return text[n] == '\0';
}

int Number(const char* text, size_t n) {
  int v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 10 + (text[i] - '0');
  return v;
}

}  // namespace

bool Date_Ymd_Valid(const char* text) {
  if (std::strlen(text) != 8 || !AllDigits(text, 8)) return false;
  int year = Number(text, 4);
  int month = Number(text + 4, 2);
  int day = Number(text + 6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

const char* Arg_BegDat_Check(const char* text) {
  if (std::strcmp(text, "0") == 0 || Date_Ymd_Valid(text)) return nullptr;
  return "0 oder ein gueltiges Datum JJJJMMTT";
}

const char* Arg_EndeJahr_Check(const char* text) {
  if (std::strlen(text) == 4 && AllDigits(text, 4)) return nullptr;
  return "ein Jahr aus genau 4 Ziffern";
}

bool Arg_Fits(const char* text, size_t room) { return strnlen(text, room + 1) <= room; }

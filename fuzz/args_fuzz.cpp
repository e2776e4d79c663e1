// The checks of the command line on any text, against a second reading of
// the calendar through the date arithmetic of the database layer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "db/oradate.h"
#include "run/args.h"

namespace {

bool Digits(const std::string& s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// yyyymmdd is a date when the day count of its parts leads back to them.
bool Date_Real(const std::string& s) {
  if (s.size() != 8 || !Digits(s)) return false;
  const int y = std::stoi(s.substr(0, 4)), m = std::stoi(s.substr(4, 2)), d = std::stoi(s.substr(6, 2));
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  const OraCivil c = Ora_Jd_To_Civil(Ora_Jd_From_Civil(OraCivil{y, m, d, 0, 0, 0}));
  return c.year == y && c.month == m && c.day == d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  const char* t = text.c_str();
  if (Date_Ymd_Valid(t) != Date_Real(text)) std::abort();
  if ((Arg_BegDat_Check(t) == nullptr) != (text == "0" || Date_Real(text))) std::abort();
  const bool year = text.size() == 4 && Digits(text) && std::stoi(text) >= 1001 && std::stoi(text) <= 9998;
  if ((Arg_EndeJahr_Check(t) == nullptr) != year) std::abort();
  for (size_t room : {0, 8, 99}) {
    if (Arg_Fits(t, room) != (text.size() <= room)) std::abort();
  }
  return 0;
}

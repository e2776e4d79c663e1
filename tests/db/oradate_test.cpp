// Date texts of the embedded database: TO_DATE's parsing, the default date
// form and the territory's weekday numbering.
#include "db/oradate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double Jd(const char* text, const char* fmt, int* rc) {
  double jd = 0;
  *rc = Ora_Date_Parse(text, std::strlen(text), fmt, std::strlen(fmt), &jd);
  return jd;
}

TEST(OraDate, ParseValid) {
  const struct {
    const char* text;
    const char* fmt;
    double jd;
  } cases[] = {
      {"19700101", "yyyymmdd", 2440587.5},
      {"20261208", "yyyymmdd", 2461382.5},
      {"20261208", "YYYYMMDD", 2461382.5},
      {"20240229", "yyyymmdd", 2460369.5},
      {"20000229", "yyyymmdd", 2451603.5},
      {"20261208120000", "yyyymmddHH24MISS", 2461383.0},
      {"20261208000000", "yyyymmddHH24MISS", 2461382.5},
      {"20261208235959", "yyyymmddhh24miss", 2461382.5 + 86399.0 / 86400},
      {"08-DEC-26", "DD-MON-RR", 2461382.5},
      {"08-dec-99", "DD-MON-RR", 2451520.5},
  };
  for (const auto& c : cases) {
    int rc;
    const double jd = Jd(c.text, c.fmt, &rc);
    EXPECT_EQ(rc, 0) << c.text << " " << c.fmt;
    EXPECT_DOUBLE_EQ(jd, c.jd) << c.text << " " << c.fmt;
  }
}

TEST(OraDate, ParseInvalid) {
  const struct {
    const char* text;
    const char* fmt;
    int code;
  } cases[] = {
      {"20260230", "yyyymmdd", kOraBadDay},
      {"20230229", "yyyymmdd", kOraBadDay},
      {"19000229", "yyyymmdd", kOraBadDay},
      {"20261300", "yyyymmdd", kOraBadMonth},
      {"20260001", "yyyymmdd", kOraBadMonth},
      {"20261200", "yyyymmdd", kOraBadDay},
      {"00001208", "yyyymmdd", kOraBadYear},
      {"2026120", "yyyymmdd", kOraDateMismatch},
      {"202612081", "yyyymmdd", kOraDateMismatch},
      {"2026-12-08", "yyyymmdd", kOraDateMismatch},
      {"2026120x", "yyyymmdd", kOraDateMismatch},
      {"20261208", "yyyymmddHH24MISS", kOraDateMismatch},
      {"20261208240000", "yyyymmddHH24MISS", kOraBadHour},
      {"20261208006000", "yyyymmddHH24MISS", kOraBadMinute},
      {"20261208000060", "yyyymmddHH24MISS", kOraBadSecond},
      {"08-XYZ-26", "DD-MON-RR", kOraBadMonth},
      {"20261208", "yyyyqqdd", kOraFormatUnknown},
  };
  for (const auto& c : cases) {
    int rc;
    Jd(c.text, c.fmt, &rc);
    EXPECT_EQ(rc, c.code) << c.text << " " << c.fmt;
  }
}

TEST(OraDate, FormatAndDefault) {
  char out[32];
  EXPECT_EQ(Ora_Date_Format(2461382.5 + 0.25, "yyyymmddhh24miss", 16, true, out, sizeof out), 14);
  EXPECT_STREQ(out, "20261208060000");
  EXPECT_EQ(Ora_Date_Format(2461382.5, "DD-Mon-RR mon", 13, true, out, sizeof out), 13);
  EXPECT_STREQ(out, "08-Dec-26 dec");
  EXPECT_EQ(Ora_Date_Format(2461382.5, "yyyyq", 5, true, out, sizeof out), kOraFormatUnknown);
  // Bounded by the buffer: the full length is returned, the text is cut.
  char small[5];
  EXPECT_EQ(Ora_Date_Format(2461382.5, "yyyymmdd", 8, true, small, sizeof small), 8);
  EXPECT_STREQ(small, "2026");
  EXPECT_EQ(Ora_Date_Default(2461382.5, out), 9);
  EXPECT_STREQ(out, "08-DEC-26");
  EXPECT_EQ(Ora_Date_Default(2451544.5, out), 9);
  EXPECT_STREQ(out, "01-JAN-00");
}

// A DATE column may hold any number. Those that are no time of the years 1
// to 9999 are refused with -1841, never converted (9.2e281 overflowed the
// conversion before: a fuzzing finding); the edges of the span convert.
TEST(OraDate, NumbersThatAreNoDates) {
  const double kFirst = 1721425.5;                      // 0001-01-01 00:00:00
  const double kLast = 5373484.5 - 1.0 / 86400;         // 9999-12-31 23:59:59
  const double bad[] = {9.246873653636475e+281, -1e300, 1e15, 20261208.0, kFirst - 1.0 / 86400,
                        kLast + 1.0 / 86400, std::nan(""), HUGE_VAL, -HUGE_VAL};
  for (double jd : bad) {
    char out[32] = "x";
    EXPECT_FALSE(Ora_Jd_Valid(jd)) << jd;
    EXPECT_EQ(Ora_Date_Format(jd, "yyyymmdd", 8, true, out, sizeof out), kOraBadYear) << jd;
    EXPECT_STREQ(out, "") << jd;
    EXPECT_EQ(Ora_Date_Default(jd, out), kOraBadYear) << jd;
    const OraCivil c = Ora_Jd_To_Civil(jd);
    EXPECT_EQ(c.year * 10000 + c.month * 100 + c.day, 10101) << jd;
  }
  char out[32];
  EXPECT_EQ(Ora_Date_Format(kFirst, "yyyymmddhh24miss", 16, true, out, sizeof out), 14);
  EXPECT_STREQ(out, "00010101000000");
  EXPECT_EQ(Ora_Date_Format(kLast, "yyyymmddhh24miss", 16, true, out, sizeof out), 14);
  EXPECT_STREQ(out, "99991231235959");
}

TEST(OraDate, TerritoryFromEnvironment) {
  const struct {
    const char* territory;  // NLS_TERRITORY, or null
    const char* lang;       // NLS_LANG, or null
    const char* expect;
    bool sunday_first;
  } cases[] = {
      {nullptr, nullptr, "AMERICA", true},
      {"GERMANY", nullptr, "GERMANY", false},
      {"germany", "AMERICAN_AMERICA.US7ASCII", "GERMANY", false},
      {nullptr, "GERMAN_GERMANY.WE8MSWIN1252", "GERMANY", false},
      {nullptr, "GERMAN_AUSTRIA.WE8MSWIN1252", "AUSTRIA", false},
      {nullptr, "AMERICAN_AMERICA.WE8MSWIN1252", "AMERICA", true},
      {nullptr, "ENGLISH_UNITED KINGDOM.WE8ISO8859P1", "UNITED KINGDOM", false},
      {nullptr, ".WE8MSWIN1252", "AMERICA", true},
      {nullptr, "GERMAN", "AMERICA", true},
      {"", "_SWITZERLAND", "SWITZERLAND", false},
  };
  const char* old_t = std::getenv("NLS_TERRITORY");
  const char* old_l = std::getenv("NLS_LANG");
  const std::string keep_t = old_t != nullptr ? old_t : "";
  const std::string keep_l = old_l != nullptr ? old_l : "";
  for (const auto& c : cases) {
    if (c.territory != nullptr) setenv("NLS_TERRITORY", c.territory, 1); else unsetenv("NLS_TERRITORY");
    if (c.lang != nullptr) setenv("NLS_LANG", c.lang, 1); else unsetenv("NLS_LANG");
    char t[32];
    Ora_Territory_From_Env(t, sizeof t);
    EXPECT_STREQ(t, c.expect) << (c.territory ? c.territory : "-") << " / " << (c.lang ? c.lang : "-");
    EXPECT_EQ(Ora_Territory_Sunday_First(t), c.sunday_first) << t;
  }
  if (old_t != nullptr) setenv("NLS_TERRITORY", keep_t.c_str(), 1); else unsetenv("NLS_TERRITORY");
  if (old_l != nullptr) setenv("NLS_LANG", keep_l.c_str(), 1); else unsetenv("NLS_LANG");
}

}  // namespace

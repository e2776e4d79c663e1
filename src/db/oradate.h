// Dates of the embedded database: Julian day numbers and the date texts of
// TO_DATE and TO_CHAR as the job's statements use them.
//
// The embedded backend stores every DATE as a Julian day number in local
// time (midnight is N.5), as the sqlite3 shell's julianday() gives them, so
// date + 1 is the next day and date - date a number of days. The functions
// here are plain arithmetic, independent of the C library's time zone.
#pragma once

#include <cstddef>
#include <cstdint>

struct OraCivil {
  int year, month, day;     // proleptic Gregorian
  int hour, minute, second;
};

// Days since 1970-01-01 of a civil date (negative before it).
int64_t Ora_Days_From_Civil(int year, int month, int day);
// Weekday of a day count from Ora_Days_From_Civil: 0 Sunday .. 6 Saturday.
int Ora_Weekday(int64_t days);

// Julian day number of a local date and time.
double Ora_Jd_From_Civil(const OraCivil& c);
// True when jd, rounded to the second, is a time of the years 1 to 9999:
// the dates the functions below convert. A DATE column may hold any number
// (written by another program, or a damaged row); NaN, infinities and numbers
// outside that span are not dates.
bool Ora_Jd_Valid(double jd);
// Civil date and time of a Julian day number, rounded to the second;
// 0001-01-01 00:00:00 for a jd that is not Ora_Jd_Valid.
OraCivil Ora_Jd_To_Civil(double jd);
// The day of a Julian day number: its midnight (N.5). REQUIRES: Ora_Jd_Valid.
double Ora_Jd_Trunc(double jd);

// ISO 8601 week number (1..53) of a civil date.
int Ora_Iso_Week(int year, int month, int day);

// Status codes of the date functions (Oracle's numbers).
constexpr int kOraFormatUnknown = -1821;  // date format not recognized
constexpr int kOraDateMismatch = -1861;   // literal does not match format
constexpr int kOraBadMonth = -1843;       // not a valid month
constexpr int kOraBadDay = -1847;         // day of month out of range
constexpr int kOraBadHour = -1850;        // hour out of range
constexpr int kOraBadMinute = -1851;      // minute out of range
constexpr int kOraBadSecond = -1852;      // second out of range
constexpr int kOraBadYear = -1841;        // year out of range

// The elements of a date format, as the two functions below read them.
enum class OraElem { kYyyy, kRr, kMon, kMm, kMi, kDdd, kDd, kD, kIw, kHh24, kSs, kSep, kBad };
// The element of fmt at *pos (case-insensitive), advancing *pos past it;
// kBad (and *pos unchanged) where no element begins. REQUIRES: *pos < fmtlen.
OraElem Ora_Format_Next(const char* fmt, size_t fmtlen, size_t* pos);

// Parses `text` under an Oracle date format: 'yyyymmdd',
// 'yyyymmddhh24miss' and the default form 'dd-mon-rr' (case-insensitive;
// any format built from yyyy, rr, mm, mon, dd, hh24, mi, ss and the
// separators "-/.:, "). Digits must fill each element. Returns 0 and the
// Julian day number, or one of the negative codes above.
int Ora_Date_Parse(const char* text, size_t len, const char* fmt, size_t fmtlen, double* jd);

// Formats a Julian day number under an Oracle format built from yyyy, rr,
// mm, mon, dd, ddd, d, iw, hh24, mi, ss and the separators. `sunday_first`
// picks the territory's numbering of 'd' (Sunday 1 or Monday 1). Writes at
// most outsize - 1 characters and the NUL; returns the length, or
// kOraFormatUnknown, or kOraBadYear for a jd that is not Ora_Jd_Valid (the
// output then empty).
int Ora_Date_Format(double jd, const char* fmt, size_t fmtlen, bool sunday_first, char* out,
                    size_t outsize);

// Ora_Date_Format under 'yyyymmdd' or, with_time, 'yyyymmddhh24miss': the
// 8 or 14 digits and the NUL into out; returns the length, or kOraBadYear
// (out empty).
int Ora_Date_Digits(double jd, bool with_time, char (&out)[15]);

// The default text form of a date, 'DD-MON-RR' (08-DEC-26); out holds at
// least 10 bytes. Returns the length (9), or kOraBadYear (out empty) for a
// jd that is not Ora_Jd_Valid.
int Ora_Date_Default(double jd, char* out);

// True when the territory numbers weekdays from Sunday ('d' of a Sunday is
// 1). Territory names as Oracle spells them, upper case ("AMERICA",
// "GERMANY"); null or empty means AMERICA.
bool Ora_Territory_Sunday_First(const char* territory);

// The territory an Oracle client would use: NLS_TERRITORY, else the part of
// NLS_LANG between '_' and '.' (LANGUAGE_TERRITORY.CHARSET), else AMERICA.
// Copies at most size - 1 characters, upper-cased.
void Ora_Territory_From_Env(char* out, size_t size);

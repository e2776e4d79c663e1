// dayset-demo's contents: the rows of a demo installation, all derived from
// the seed, the start day and the day the command runs (the same three give
// the same rows, on every platform). Called by tools/demo/write.cpp, which
// hands each row to the database as it comes.
#pragma once

#include <cstdint>

#include "calendar/bak.h"

// A day as the job's database keeps it: the Julian day number of its local
// midnight (N.5; db/oradate.h), so that day + n is n days later.
using DemoDay = double;

// What the contents derive from.
struct DemoPlan {
  long persons;
  uint64_t seed;
  DemoDay start;  // first day of the calendars; the base calendar holds the day before
  DemoDay today;
  bool sunday_first;  // weekday numbering of the job's connection (Ora_Territory_Sunday_First)
};

// An assignment row of Hrs311Zuo.
struct DemoZuo {
  const char* pnr;
  const char* gvo;
  const char* gbi;
  const char* sdt;
  int32_t stg;
  const char* agr;
  const char* abt;
  const char* kst;
  const char* krt;
  const char* ktr;
  const char* vra;
};

// Where the rows go, one call per row, in the order they are made. Dates are
// yyyymmdd texts; an empty text stands for NULL. The texts are valid during
// the call only.
class DemoRows {
 public:
  virtual ~DemoRows() = default;
  // Hrs133Bak: the base calendar's day, stamped `stamp`.
  virtual void Bak_Add(const BakSatz& day, const char* stamp) = 0;
  // Hrs135Muw (family 1) or Hrs135Mu2 (family 2): a work calendar.
  virtual void Cal_Add(int family, const char* num) = 0;
  // Hrs137Wch: the day type of weekday `tag` in the weekly pattern of `kal`.
  virtual void Wch_Add(const char* kal, int32_t tag, const char* ttp) = 0;
  // Hrs133Kal (family 1) or Hrs133Ka2 (family 2): a day of calendar `num`,
  // of type `ttp` (also its planned and booked type), stamped `stamp`.
  virtual void Day_Add(int family, const char* num, const char* dtm, const char* ttp, const char* stamp) = 0;
  // Hrs160Agr and Hrs161Wpl: a working-time group and a day of its plan.
  virtual void Agr_Add(const char* num, int32_t tge) = 0;
  virtual void Wpl_Add(const char* agr, int32_t tag, const char* azt, const char* vra) = 0;
  // Hrs300Pnr, Hrs310Bsv, Hrs311Zuo: a person, an employment, an assignment.
  virtual void Pnr_Add(const char* pnr, const char* name) = 0;
  virtual void Bsv_Add(const char* pnr, const char* gvo, const char* gbi, const char* kal, const char* akr,
                       const char* abr) = 0;
  virtual void Zuo_Add(const DemoZuo& zuo) = 0;
};

struct DemoCounts {
  long persons = 0, employments = 0, assignments = 0, calendars = 0, groups = 0;
};

// Makes the rows of `plan` into *rows; returns how many of each kind.
DemoCounts Demo_Generate(const DemoPlan& plan, DemoRows* rows);

// The base calendar's row of a day, its attributes derived as the job
// derives them for the days it appends (Bak_NxtDay_Init): the one day the
// job needs stored before it can extend the calendar.
BakSatz Demo_Bak_Day(DemoDay day, bool sunday_first);

// The yyyymmdd text of a day; out holds at least 9 bytes.
void Demo_Day_Text(DemoDay day, char* out);
// The calendar year of a day.
int Demo_Day_Year(DemoDay day);

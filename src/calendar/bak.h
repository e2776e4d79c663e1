// Base calendar extension: the first phase of the run.
//
// Called once by the driver after the connect. Appends to HRSYSTEM.Hrs133Bak
// the days after the latest stored day up to and including EndDat, each
// derived by the database from the day before; commits once at the end (not
// after a failed next-day look-up). Failures go to RunLog, except one that
// breaks the session (Sql_Rt_Broken): it ends the phase at once, without a
// line and without the commit, for the driver to report.
#pragma once

#include <cstdint>

#include "base/runlog.h"

// The current day of the phase with its calendar attributes.
struct BakSatz {
  char BakDtm[kDateYmdSize];  // yyyymmdd
  int32_t BakJhr;             // calendar year
  int32_t BakMon;             // month 1..12
  int32_t BakTag;             // day of the month
  int32_t BakWch;             // ISO week 1..53
  int32_t BakWtg;             // weekday 1..7 as the session's territory numbers it
  int32_t BakJtg;             // day of the year 1..366
  int32_t BakYow;             // year the ISO week belongs to
};

// EndDat: yyyymmdd, the last day to hold a row after the phase. Returns 0,
// or the status of the next-day look-up that ended the phase (1403: the
// table holds no day to extend from, as in a fresh database).
int32_t Bak_Days_Extend(const char* EndDat);

// The latest stored day, or the database's current date when the table is
// empty. Returns SqlCode; writes Dat (a DateYmd buffer) only when it is 0.
int32_t Bak_LstDay_Get(char* Dat);

// Replaces every field of *Satz by the attributes of the day after
// Satz->BakDtm, read from that day's stored row, and sets BakYow. Returns
// SqlCode (1403: Satz->BakDtm has no row); on any non-zero code *Satz is left
// unchanged.
int32_t Bak_NxtDay_Init(BakSatz* Satz);

// Inserts *Satz as a new row stamped with sysdate. Returns SqlCode.
int32_t Bak_NewDay_Ins(const BakSatz* Satz);

// The ISO week-numbering year (BakYow) of a day from its calendar year,
// month and ISO week: late-December days in week 1 belong to the next year,
// early-January days in week 52 or 53 to the year before. dayset-demo
// derives its base-calendar day with it too.
int32_t Bak_Yow_Calc(int32_t Jhr, int32_t Mon, int32_t Wch);

// Work calendar extension: the second phase of the run.
//
// Called once by the driver after the base calendar phase. Extends every work
// calendar of both families (HRSYSTEM.Hrs133Kal listed in HRSYSTEM.Hrs135Muw,
// Hrs133Ka2 listed in Hrs135Mu2) up to EndDat from the base calendar and the
// weekly patterns Hrs137Wch; one commit per family. Failures go to RunLog,
// except one that breaks the session (Sql_Rt_Broken): it ends the phase at
// once, without a line and without the family's commit, for the driver to
// report.
#pragma once

#include <cstdint>

#include "base/runlog.h"

// One work-calendar day; serves both families.
struct KalSatz {
  char KalNum[4];             // calendar number, from the calendar-number cursor
  char KalDtm[kDateYmdSize];  // the day, yyyymmdd
  char KalTtp[4];             // day type of the weekly pattern; empty when the pattern has none
  char KalPtp[4];             // the same
  int32_t KalGwt;             // always 100
  char KalBtp[4];             // the same
};

// EndDat: yyyymmdd, the last day a calendar is extended to (within the days
// the base calendar holds). Runs the first family, commits, then the second
// family whatever the first met (unless the session broke), and commits.
void Kal_Days_Extend(const char* EndDat);

// The operations of one family. Each runs one statement and returns SqlCode.
//   NumCur_*: calendar numbers with a usable list row and weekly pattern row;
//             the fetch writes Satz->KalNum only on 0.
//   LstDay_Get: latest stored day of KalNum, or the database's current date
//             for a calendar without rows; writes Dat (11 bytes) only on 0.
//   DayCur_*: base-calendar days after LstDay up to EndDat whose weekday has
//             a usable pattern row, ascending; the fetch sets KalDtm, the
//             three types and KalGwt only on 0, leaving KalNum alone.
//   NewDay_Ins: inserts *Satz with status 1, stamped with sysdate.
int32_t Kal_NumCur_Open();
int32_t Kal_NumCur_Fetch(KalSatz* Satz);
int32_t Kal_NumCur_Close();
int32_t Kal_LstDay_Get(const char* KalNum, char* Dat);
int32_t Kal_DayCur_Open(const char* KalNum, const char* LstDay, const char* EndDat);
int32_t Kal_DayCur_Fetch(KalSatz* Satz);
int32_t Kal_DayCur_Close();
int32_t Kal_NewDay_Ins(const KalSatz* Satz);

int32_t Ka2_NumCur_Open();
int32_t Ka2_NumCur_Fetch(KalSatz* Satz);
int32_t Ka2_NumCur_Close();
int32_t Ka2_LstDay_Get(const char* KalNum, char* Dat);
int32_t Ka2_DayCur_Open(const char* KalNum, const char* LstDay, const char* EndDat);
int32_t Ka2_DayCur_Fetch(KalSatz* Satz);
int32_t Ka2_DayCur_Close();
int32_t Ka2_NewDay_Ins(const KalSatz* Satz);

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

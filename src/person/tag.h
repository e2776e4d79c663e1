// Day records: for one person, a row of Hrs327Tag for every day of the
// person's work calendar in the window, each day then handed to the
// time-group step (ztg.h).
//
// Called by Pnr_Days_Extend once per person. The days come from Hrs133Ka2 in
// the current schema while Ka2Flag is set; the first time that table turns
// out to be missing the flag is cleared for the rest of the run and the days
// come from HRSYSTEM.Hrs133Kal, silently.
#pragma once

#include "person/bsv.h"

// The current person and day; TagTtp is not stored in Hrs327Tag, it goes
// into ZtgTtp.
struct TagRecord {
  char TagPnr[9];
  char TagTag[9];  // the day, yyyymmdd
  char TagVon[9];  // always the day
  char TagUhr[7];  // always "000000"
  char TagBis[9];  // always the day
  char TagEnd[7];  // always "000000"
  char TagTtp[4];  // day type in the person's work calendar
};

// The days after WinStart up to and including EndDat of calendar BsvKal.
// A missing day record is inserted (-1, inserted meanwhile, passes in
// silence); every day then goes to Ztg_Day_Build with LastZtg. Failures are
// logged and never end the caller's work for the person, except one that
// breaks the session (Sql_Rt_Broken): it ends the loop at once, unlogged.
// Returns the number of days whose time-group row was written.
long Tag_Days_Extend(const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat,
                     const char* LastZtg);

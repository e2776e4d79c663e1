// Vacation carry-over years: one row of Hrs332Urv per person and year, from
// the year in which the current employment relationship began up to the end
// year of the run.
//
// Called by Pnr_Days_Extend once per person, just before the commit.
#pragma once

#include "person/bsv.h"

// Inserts the years of BsvGvo up to and including the year of EndDat. A year
// that exists already (-1) passes in silence, so that reruns log nothing;
// other failures are logged and the next year follows. A failure that breaks
// the session (Sql_Rt_Broken) ends the loop at once, unlogged.
void Urv_Years_Extend(const BsvRecord& BsvSatz, const char* EndDat);

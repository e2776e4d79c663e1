// Rows of the tables the job adds to, counted through the runtime, and what
// the end of a run prints of them: the dry run's report on standard output
// and the summary on standard error.
//
// The driver counts once after the connect and once after the phases, both
// inside the session, so that a dry run's counts see its own uncommitted
// rows. Counting costs one full count per table, so the driver counts only
// when the report or the summary is wanted.
#pragma once

#include <cstdio>
#include <vector>

#include "base/runlog.h"

constexpr int kTallyTables = 6;

struct TallyCounts {
  long rows[kTallyTables];
  int rc[kTallyTables];  // SqlCode of the count: 0, or e.g. -942 (table missing)
};

// The name of table i as the job writes it ("HRSYSTEM.Hrs133Bak").
const char* Tally_Table(int i);

// Counts every table; a failed count keeps its code and a row count of 0.
void Tally_Count(TallyCounts* out);

// Rows added to table i between the counts, or -1 when either count failed.
long Tally_Added(const TallyCounts& before, const TallyCounts& after, int i);

// The dry run's report: a heading line, then one line per table, "TABLE ROWS", ROWS "-" where a
// count failed (with its code in parentheses).
void Tally_Report_Print(std::FILE* out, const TallyCounts& before, const TallyCounts& after);

// The summary block: rows added per table, persons done, log lines by
// message, elapsed time.
void Tally_Summary_Print(std::FILE* out, const TallyCounts& before, const TallyCounts& after, bool dry_run);

// The failure lines the run wrote (those beginning with "Error" or
// "Fehler"), by message, in order of first appearance.
std::vector<RunLogTally> Tally_Failure_Kinds();

// When the run wrote failure lines (those beginning with "Error" or
// "Fehler"): one line saying how many, of which kinds (the three first met,
// with their counts) and where the log is, so that a scheduler's mail or
// journal shows that something went wrong. Returns the number of lines.
long Tally_Failures_Print(std::FILE* out, const char* log_path);

// Work-calendar days and person day records this run made: the rows of
// HRSYSTEM.Hrs133Kal, Hrs133Ka2 and Hrs327Tag stamped from `stamp`
// (yyyymmddHH24MISS, the run's start) on. A full count per table: only for
// the rare check of a run whose base calendar had no day to extend from.
long Tally_Days_Made_Since(const char* stamp);

// The run log and the run-wide values that every phase reads.
//
// RunLog is DAYSET.LOG, opened by the driver before anything else and closed
// at the end of the run. Phases write their failure lines with RunLog_Printf;
// the texts are Windows-1252 (write umlauts as "\xfc", "\xe4", split from a
// following hex digit: "N\xe4" "chste").
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// A date as yyyymmdd in a NUL-terminated buffer; dates compare as strings.
constexpr int kDateYmdSize = 9;

extern FILE* RunLog;             // null while no log is open
extern char RunDate[kDateYmdSize];  // local date at the start of the run
extern char CurrentSchema[21];   // the configured schema, upper-cased

// printf into RunLog and flush, so that a killed run leaves every line it
// wrote. Does nothing while RunLog is null.
void RunLog_Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The lines written since the log was opened, grouped by message: the text
// of the format before its first conversion ("Error: Tagsatz einf\xfcgen"),
// in order of first appearance. For the run's summary.
struct RunLogTally {
  std::string message;
  long lines;
};
std::vector<RunLogTally> RunLog_Lines_By_Message();
// Forgets the tally (the driver, when it opens the log).
void RunLog_Tally_Reset();

// Sets RunDate from the local clock (base/clock.h's Clock_Now).
void RunDate_Init();

// Person days: the third phase of the run.
//
// Called once by the driver after the work calendar phase. For each person of
// the range with a current employment relationship: the missing day records,
// the daily time-group records, the vacation carry-over years, then a commit.
// Returns the SqlCode of the employment cursor's close. Failures go to RunLog,
// except one that breaks the session (Sql_Rt_Broken): it ends the phase at
// once, without a line and without the person's commit, for the driver to
// report; then it returns that failure's code.
#pragma once

#include <cstdint>
#include <vector>

int32_t Pnr_Days_Extend(const char* BegDat, const char* EndDat, const char* PnrVon, const char* PnrBis);

// A part of the person range for one worker of a parallel run: the first
// and last person number of the part, and its employment rows.
struct PnrRange {
  char PnrVon[9];
  char PnrBis[9];
  long rows;
  long persons;
};

// Splits the persons of PnrVon..PnrBis, as the employment cursor delivers
// them, into at most `parts` contiguous ranges of about the same number of
// employment rows; a person is never split. Fewer ranges when there are
// fewer persons; none for an empty range. Returns the cursor's status: 0
// when every row was read (the ranges are then complete), else the failure.
int32_t Pnr_Range_Split(const char* PnrVon, const char* PnrBis, int parts, std::vector<PnrRange>* out);

// The person whose work the broken session cut short in the last
// Pnr_Days_Extend: a person number, or "" when the session broke outside a
// person's work (the employment list) or did not break.
const char* Pnr_Broken_Pnr();

// Run-wide switches, set at the start of a run (the driver's and each test's):
// Ka2Flag reads person days from Hrs133Ka2 until that table turns out to be
// missing; ZtgPnmFlag writes ZtgPnm until that column turns out to be missing.
extern bool Ka2Flag;
extern bool ZtgPnmFlag;
void Pnr_Run_Init();

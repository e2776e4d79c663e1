// Person days: the third phase of the run.
//
// Called once by the driver after the work calendar phase. For each person of
// the range with a current employment relationship: the missing day records,
// the daily time-group records, the vacation carry-over years, then a commit.
// Returns the SqlCode of the employment cursor's close. Failures go to RunLog.
#pragma once

#include <cstdint>

int32_t Pnr_Days_Extend(const char* BegDat, const char* EndDat, const char* PnrVon, const char* PnrBis);

// Run-wide switches, set at the start of a run (the driver's and each test's):
// Ka2Flag reads person days from Hrs133Ka2 until that table turns out to be
// missing; ZtgPnmFlag writes ZtgPnm until that column turns out to be missing.
extern bool Ka2Flag;
extern bool ZtgPnmFlag;
void Pnr_Run_Init();

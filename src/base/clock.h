// The job's clock: RunDate and the database's sysdate both read it.
//
// It reads the process's local clock unless it is fixed: tests fix it so
// that sysdate and RunDate are known values, and the workers of a parallel
// run fix theirs at the run's fixed time, so that they read what the run
// reads.
#pragma once

#include <ctime>

// Seconds since the epoch: the fixed value when one is set, else time().
std::time_t Clock_Now();

// Fixes the clock at `t` (local time is derived as usual); 0 lets it run.
void Clock_Fix(std::time_t t);
// The fixed value, or 0 while the clock runs (handed on to the workers of a
// parallel run, so that they read the same clock as the run).
std::time_t Clock_Fixed();

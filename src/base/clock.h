// The job's clock: RunDate and the database's sysdate both read it.
//
// Production reads the process's local clock. Tests fix it with
// Clock_Set_For_Test so that sysdate and RunDate are known values.
#pragma once

#include <ctime>

// Seconds since the epoch: the fixed value when one is set, else time().
std::time_t Clock_Now();

// Fixes the clock at `t` (local time is derived as usual); 0 releases it.
void Clock_Set_For_Test(std::time_t t);
// The fixed value, or 0 while the clock runs (handed on to the workers of a
// parallel run, so that they read the same clock as the run).
std::time_t Clock_Fixed();

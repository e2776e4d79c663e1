// Base calendar extension: the first phase of the run.
//
// Called once by the driver after the connect. Appends to HRSYSTEM.Hrs133Bak
// the days after the latest stored day up to and including EndDat, each
// derived by the database from the day before; commits once at the end (not
// after a failed next-day look-up). Failures go to RunLog.
#pragma once

void Bak_Days_Extend(const char* EndDat);

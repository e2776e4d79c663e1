// Daily time-group records: the row of Hrs329Ztg for one person and day,
// with the working-time group, rotation day, department, cost centre and
// account codes of the assignment (Hrs311Zuo, Hrs160Agr), the planned time
// of the group's plan (Hrs161Wpl) and the day type.
//
// Called by Tag_Days_Extend for every day it fetches. While ZtgPnmFlag is set
// the writes name ZtgPnm; the first write that meets a table without that
// column (-904) is repeated without it, and the flag stays cleared for the
// rest of the run.
#pragma once

#include "person/bsv.h"
#include "person/tag.h"

// Days not later than LastZtg are left alone. Later days get their row
// inserted, or the existing row rewritten. A missing assignment or plan is
// logged and the row is still written. Failures never end the caller's loop;
// one that breaks the session (Sql_Rt_Broken) ends the day at once,
// unlogged, and the caller sees it there. Returns true when the day's row
// was written.
bool Ztg_Day_Build(const BsvRecord& BsvSatz, const TagRecord& TagSatz, const char* LastZtg);

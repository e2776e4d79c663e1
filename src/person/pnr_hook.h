// Test support for the person phase: a callback at the points where a
// process kill matters to the per-person unit of work.
//
// The job never sets a hook. Tests set one to stop the process (SIGKILL,
// _exit) part-way through a person or around a person's commit, and then
// show that a rerun completes the work. The hook is not reset by
// Pnr_Run_Init; set it to null when done.
#pragma once

enum class PnrStep {
  kDayDone,       // one day's record and time-group step are done
  kBeforeCommit,  // the person's days and vacation years are done
  kAfterCommit,   // Sql_Commit for the person has returned
};

// person: 1-based count of the persons worked on in this phase call;
// pnr: their person number.
using PnrHook = void (*)(PnrStep step, int person, const char* pnr);

void Pnr_Hook_Set(PnrHook hook);

// Called by the person modules; does nothing while no hook is set.
void Pnr_Hook_Call(PnrStep step, const char* pnr);

// Runs every look-up of a person's days as one statement per day (true)
// instead of one range read per look-up (false, the job's way): the form
// that the range reads stand for, which must give the same rows and log.
// Like the hook, it stays until set again.
void Pnr_Day_Reads_Set(bool per_day);

// Works each person's window in slices of `days` calendar days, and writes
// at most that many carry-over years per batch, instead of the job's own
// length (0 or less: that one again): short slices put the slice borders
// anywhere in a test's window. Like the hook, it stays until set again.
void Pnr_Slice_Days_Set(long days);

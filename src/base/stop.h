// Stopping on a signal at a safe point.
//
// The job runs unattended; a scheduler or an operator ends it with SIGTERM,
// SIGINT or SIGHUP. Stop_Install makes these set a flag instead of ending
// the process. The runtime reads the flag before every statement and, once
// it is set, fails every call with -1013 (as a session cancelled by its
// user), so that the phases end the current person's or calendar's work
// uncommitted, as for a session that broke. The driver then rolls back,
// says which signal stopped the run, and ends with Stop_Raise, so that the
// caller sees the signal.
#pragma once

// Catches SIGTERM, SIGINT and SIGHUP from now on. A blocking system call is
// interrupted (EINTR), not restarted, so that a wait can forward the signal.
void Stop_Install();

// The first of those signals received since Stop_Install, or 0.
int Stop_Signal();

// The signal's name ("SIGTERM"), for the log and the terminal.
const char* Stop_Signal_Name(int sig);

// Ends the process by `sig` with its default action, as if the signal had
// not been caught; falls back to exit status 128 + sig. Does not return.
[[noreturn]] void Stop_Raise(int sig);

// For tests that run the job in-process more than once: forgets a signal.
void Stop_Reset();

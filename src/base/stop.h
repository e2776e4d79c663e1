// Stopping on a signal: at once before the session stands, at a safe point
// after.
//
// The job runs unattended; a scheduler or an operator ends it with SIGTERM,
// SIGINT or SIGHUP. Stop_Install makes these set a flag instead of ending
// the process. The runtime reads the flag before every statement and, once
// it is set, fails every call with -1013 (as a session cancelled by its
// user), so that the phases end the current person's or calendar's work
// uncommitted, as for a session that broke. The driver then rolls back,
// says which signal stopped the run, and ends with Stop_Raise, so that the
// caller sees the signal.
//
// Before that, while the configuration is read and the session opened,
// there is nothing to roll back, and a call may block for long (a connect
// that waits for a server or for a lock). Stop_Install_At_Once catches the
// same signals so that each ends the process there and then: the handler
// writes a line prepared beforehand to the log and to standard error and
// ends the process by the signal. Stop_Defer then hands over to the flag.
#pragma once

// Catches SIGTERM, SIGINT and SIGHUP from now on. A blocking system call is
// interrupted (EINTR), not restarted, so that a wait can forward the signal.
void Stop_Install();

// Catches the same signals, each ending the process at once until
// Stop_Defer: the handler writes `format` (one %s, the signal's name, filled
// in here for each signal; at most 200 characters) to the descriptor of
// Stop_Log_Fd and, after "dayset: ", to standard error, with write(2) alone,
// then ends the process by the signal as Stop_Raise does.
void Stop_Install_At_Once(const char* format) __attribute__((format(printf, 1, 0)));

// The log that the at-once stop writes its line to; -1 for none (before it
// is open, and before it is closed: the number may be reused).
void Stop_Log_Fd(int fd);

// Files the at-once stop writes before it ends the process (the run's
// metrics and report): for the i-th of the signals (Stop_Signal_At), the
// text texts[i], with the values known only then put in at the marks
// below, written to a new file `temp` and renamed to `path`, with
// async-signal-safe calls alone. At most kStopFiles; the same `slot` again
// replaces its file. The texts are copied.
constexpr int kStopSignals = 3;
constexpr int kStopFiles = 2;
constexpr char kStopMarkEnd = '\x01';       // the end, seconds since the epoch ("1796814359.229")
constexpr char kStopMarkDuration = '\x02';  // seconds since `start` ("0.085")
constexpr char kStopMarkIsoEnd = '\x03';    // the end in UTC, "2026-12-09T11:05:59Z"
void Stop_At_Once_File(int slot, const char* path, const char* temp, double start, const char* const texts[]);
// SIGTERM, SIGINT, SIGHUP for i = 0, 1, 2.
int Stop_Signal_At(int i);

// Ends the at-once stop: from now on a signal sets the flag (Stop_Signal).
// A signal is never lost at the switch: before it, it ends the process;
// after it, the flag is set.
void Stop_Defer();

// The first of those signals received since Stop_Install, or 0.
int Stop_Signal();

// The signal's name ("SIGTERM"), for the log and the terminal.
const char* Stop_Signal_Name(int sig);

// Ends the process by `sig` with its default action, as if the signal had
// not been caught; falls back to exit status 128 + sig. Does not return.
// Async-signal-safe.
[[noreturn]] void Stop_Raise(int sig);

// For tests that run the job in-process more than once: forgets a signal.
void Stop_Reset();

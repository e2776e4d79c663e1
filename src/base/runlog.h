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
// wrote. Does nothing while RunLog is null. A write or flush that fails is
// counted (RunLog_Lost), never ignored.
void RunLog_Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// How RunLog_Open treats what it finds at the name.
enum class LogOpen {
  // The run's log: created (mode 0640) or an existing regular file, locked
  // against a second run, and only then emptied.
  kRun,
  // A worker's part: created anew, never opened when something is there.
  kPart,
};

// Opens the log `name` in the working directory for writing without ever
// following a symbolic link: only a regular file with no other hard link is
// taken (a FIFO, a device or a directory is refused without blocking). With
// kRun the file keeps a write lock until it is closed or the process ends;
// when another process holds it, *holder is that process's id and nothing
// is changed. Returns the stream, or null with *why set (plain ASCII, the
// log's language, naming no value but the file).
FILE* RunLog_Open(const char* name, LogOpen how, std::string* why, long* holder);

// Closes RunLog (if open) and sets it to null; a failure of the close counts
// as a lost line (RunLog_Lost).
void RunLog_Close();

// Writes to the log that failed since the last RunLog_Open: their number,
// and the errno of the first (0 when none failed).
long RunLog_Lost(int* first_errno);

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

// A parallel run's workers write their lines to logs of their own, which
// the run copies into its log at the end. So that the run's tally groups
// those lines by their messages as the worker wrote them, each worker hands
// its tally over as text, one line per message:
//   "K<part> <lines> <message>\n"
// RunLog_Tally_Text makes that text; the run gives each such line (without
// its line end) to RunLog_Tally_Take, which adds it to the run's tally.
std::string RunLog_Tally_Text(int part);
// False when `line` is no such line (nothing taken).
bool RunLog_Tally_Take(const char* line, size_t n);
// Copies a line of part `part`'s log into RunLog. Counted in the tally (by
// the text before its first digit, as a format's text before its first
// conversion) only when the part's own tally never came (a worker killed
// before its end).
void RunLog_Merge_Line(int part, const char* line);

// Sets RunDate from the local clock (base/clock.h's Clock_Now).
void RunDate_Init();

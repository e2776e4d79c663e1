// What a run did, for the monitoring: a metrics file in the Prometheus text
// format (--metrics) and a JSON report (--report), both written at the end
// of every run, whatever its outcome, each atomically (a temporary file in
// the same directory, then renamed over the old one), so that a reader sees
// the previous run's file or this one's, never a part.
//
// The driver collects the facts in a RunOutcome as the run goes and hands
// them over once, after the log is closed. Nothing here touches the
// database: the rows added are the driver's counts (run/tally.h).
#pragma once

#include <string>
#include <vector>

#include "base/runlog.h"
#include "run/tally.h"

constexpr int kReportFormatVersion = 1;

// The phases in their order, as the metrics and the report name them.
enum OutcomePhase { kPhaseBaseCalendar = 0, kPhaseWorkCalendars, kPhasePersons, kOutcomePhases };
const char* Outcome_Phase_Name(int phase);

// A part of a parallel run's person range and how its worker ended.
struct OutcomePart {
  std::string pnr_von, pnr_bis;
  int status = 0;  // the worker's exit status (128+N: ended by signal N)
};

struct RunOutcome {
  int exit_status = 0;
  int signal = 0;                   // the signal that stopped the run, or 0
  double start = 0, end = 0;        // seconds since the epoch (real time)
  double phase_seconds[kOutcomePhases] = {};
  bool phase_ran[kOutcomePhases] = {};  // started (a stop may have cut it short)
  bool counted = false;             // the tables were counted before and after
  TallyCounts before{}, after{};
  long persons = 0;
  // Failure lines by kind: the message (Windows-1252) as the summary groups
  // them (Tally_Failure_Kinds).
  std::vector<RunLogTally> failures;
  bool dry_run = false;
  // For the report: the arguments as given (never the configuration's
  // values), the options, the backend the configuration names ("" when
  // the run got no further than the arguments), the schema, the parts.
  std::vector<std::string> arguments;
  int jobs = 1;
  int connect_timeout_s = 0, reply_timeout_s = 0;
  std::string backend, schema;
  std::vector<OutcomePart> parts;
};

// The metrics file's text. `last_success` is the end of the last run that
// ended with status 0 (not a dry run): this one's, or the value kept from
// the previous file; 0 when there has been none.
std::string Outcome_Metrics(const RunOutcome& run, double last_success);

// The report's JSON text (one object, format_version kReportFormatVersion).
std::string Outcome_Report(const RunOutcome& run, double last_success);

// Both texts for a run that a signal ends at once, before its session
// stands (base/stop.h's Stop_At_Once_File): as above, with the marks of
// base/stop.h where the end, the duration and the end in UTC go.
std::string Outcome_Metrics_Marked(RunOutcome run, double last_success);
std::string Outcome_Report_Marked(RunOutcome run, double last_success);

// dayset_last_success_time_seconds as the metrics file at `path` holds it
// (read without following a link, regular files only, at most 64 KiB);
// 0 when there is no such file or value.
double Outcome_Last_Success_Read(const std::string& path);

// The temporary next to `path` that its atomic write goes through: hidden
// in the same directory, ".NAME.tmp<pid>" and `tag` (which keeps writers
// of one process apart).
std::string Outcome_Temp_Name(const std::string& path, const std::string& tag = "");

// Writes `bytes` to `path` atomically: a new temporary file next to it
// (mode 0644, never through a link), written, synced, renamed over `path`
// (a link at `path` is replaced, not followed), the directory synced.
// Returns true, or false with the reason in *why (nothing left behind).
bool Outcome_File_Write(const std::string& path, const std::string& bytes, std::string* why);

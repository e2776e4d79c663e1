// Checks of the command line and configuration values, made before any
// database work so that nothing longer than its room is ever copied.
//
// The driver calls these. The _Check functions return null when the text is
// acceptable and otherwise a short description of what is allowed.
#pragma once

#include <cstddef>
#include <span>

// "0" (no start date) or eight digits yyyymmdd forming a real date.
const char* Arg_BegDat_Check(const char* text);
// Exactly four digits, a year from kEndeJahrMin to kEndeJahrMax.
constexpr int kEndeJahrMin = 1001;
constexpr int kEndeJahrMax = 9998;
const char* Arg_EndeJahr_Check(const char* text);
// True when the end year (checked) lies more than kEndeJahrFar years after
// the year of run_date (yyyymmdd): such a run writes years of rows per
// person, and the driver asks for --far-end-year.
constexpr int kEndeJahrFar = 10;
bool Arg_EndeJahr_Far(const char* text, const char* run_date);
// True when the text has at most `room` characters (a field of room + 1 bytes).
bool Arg_Fits(const char* text, size_t room);

// True when yyyymmdd is a date of the Gregorian calendar, years 1 to 9999.
bool Date_Ymd_Valid(const char* text);

// Options come before the five positional arguments; "--" ends them, and so
// does the first argument that does not begin with '-' (or is "-" alone).
// Short switches may be combined ("-nv"); a value follows its option as the
// next argument, or joined ("-j4", "--jobs=4").
constexpr int kJobsMax = 64;

struct RunOptions {
  bool help = false;
  bool version = false;
  bool dry_run = false;
  bool verbose = false;
  bool far_end_year = false;  // an end year beyond kEndeJahrFar is meant
  int jobs = 1;  // -j N: workers of the person phase, 1 to kJobsMax
  // The session's bounds on waiting for a database server (SqlOptions), in
  // seconds; 0 when not given (the defaults hold).
  int connect_timeout = 0;
  int reply_timeout = 0;
  // Files written at the end of the run (run/outcome.h); null: none.
  const char* metrics = nullptr;  // --metrics FILE: Prometheus text format
  const char* report = nullptr;   // --report FILE: JSON
};

constexpr int kConnectTimeoutMax = 3600;
constexpr int kReplyTimeoutMax = 86400;

// One option of the job. Exactly one of flag, number and text is set: a
// switch sets *flag; an option with a value reads a decimal number in
// [min, max], or takes a file name (not empty, at most kOptionTextMax
// bytes, no control characters) that stays in argv.
struct RunOptionDef {
  char short_name;        // 0: long form only
  const char* long_name;  // without the leading "--"
  const char* value_name; // null for a switch
  const char* help;       // one line for --help
  bool RunOptions::*flag;
  int RunOptions::*number;
  int min, max;
  const char* RunOptions::*text;
};

constexpr size_t kOptionTextMax = 4095;

// The options in the order --help lists them.
std::span<const RunOptionDef> Run_Option_Defs();

// Parses the options of argv[1..argc-1] into *opts. Returns the index of the
// first positional argument. On a refused option returns -1, *bad the
// argument as given and *allowed a short description of what is allowed
// (static text, for Refuse's "Erlaubt:" part).
int Arg_Options_Parse(int argc, char** argv, RunOptions* opts, const char** bad, const char** allowed);

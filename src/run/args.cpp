#include "run/args.h"

#include <cstring>

namespace {

bool AllDigits(const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return text[n] == '\0';
}

int Number(const char* text, size_t n) {
  int v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 10 + (text[i] - '0');
  return v;
}

}  // namespace

bool Date_Ymd_Valid(const char* text) {
  if (std::strlen(text) != 8 || !AllDigits(text, 8)) return false;
  int year = Number(text, 4);
  int month = Number(text + 4, 2);
  int day = Number(text + 6, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

const char* Arg_BegDat_Check(const char* text) {
  if (std::strcmp(text, "0") == 0 || Date_Ymd_Valid(text)) return nullptr;
  return "0 oder ein gueltiges Datum JJJJMMTT";
}

const char* Arg_EndeJahr_Check(const char* text) {
  // The person windows start at 31 December of the year before, and the
  // calendars are read up to the day after the end date: both must be
  // dates of four-digit years.
  if (std::strlen(text) == 4 && AllDigits(text, 4)) {
    const int year = Number(text, 4);
    if (year >= kEndeJahrMin && year <= kEndeJahrMax) return nullptr;
  }
  return "ein Jahr aus genau 4 Ziffern, 1001 bis 9998";
}

bool Arg_EndeJahr_Far(const char* text, const char* run_date) {
  return Number(text, 4) > Number(run_date, 4) + kEndeJahrFar;
}

bool Arg_Fits(const char* text, size_t room) { return strnlen(text, room + 1) <= room; }

namespace {

// Adding an option is one line here (and its field in RunOptions).
constexpr RunOptionDef kOptionDefs[] = {
    {'n', "dry-run", nullptr, "run, then roll back; print the rows it would add", &RunOptions::dry_run, nullptr,
     0, 0, nullptr},
    {'v', "verbose", nullptr, "print the summary also when stderr is no terminal",
     &RunOptions::verbose, nullptr, 0, 0, nullptr},
    {'j', "jobs", "N", "split the person phase over N worker processes (1-64, default 1)", nullptr,
     &RunOptions::jobs, 1, kJobsMax, nullptr},
    {0, "connect-timeout", "S", "give up a connect after S seconds (default 60)", nullptr,
     &RunOptions::connect_timeout, 1, kConnectTimeoutMax, nullptr},
    {0, "reply-timeout", "S", "give up a server silent for S seconds (default 180)", nullptr,
     &RunOptions::reply_timeout, 1, kReplyTimeoutMax, nullptr},
    {0, "far-end-year", nullptr, "take an end year more than 10 years after today",
     &RunOptions::far_end_year, nullptr, 0, 0, nullptr},
    {0, "metrics", "FILE", "at the end, write the run's metrics for Prometheus to FILE", nullptr, nullptr, 0, 0,
     &RunOptions::metrics},
    {0, "report", "FILE", "at the end, write a JSON report of the run to FILE", nullptr, nullptr, 0, 0,
     &RunOptions::report},
    {'h', "help", nullptr, "show this help and exit", &RunOptions::help, nullptr, 0, 0, nullptr},
    {0, "version", nullptr, "show the version and the backends, and exit",
     &RunOptions::version, nullptr, 0, 0, nullptr},
};

constexpr char kOptionsAllowed[] = "siehe dayset --help";
constexpr char kNumberAllowed[] = "eine Zahl im erlaubten Bereich, siehe dayset --help";
constexpr char kFileAllowed[] = "ein Dateiname ohne Steuerzeichen, hoechstens 4095 Bytes";

bool File_Name_Ok(const char* text) {
  const size_t n = strnlen(text, kOptionTextMax + 1);
  if (n == 0 || n > kOptionTextMax) return false;
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7f) return false;
  }
  return true;
}

const RunOptionDef* Def_Short(char c) {
  for (const RunOptionDef& s : kOptionDefs) {
    if (s.short_name != 0 && s.short_name == c) return &s;
  }
  return nullptr;
}

const RunOptionDef* Def_Long(const char* name, size_t len) {
  for (const RunOptionDef& s : kOptionDefs) {
    if (std::strlen(s.long_name) == len && std::strncmp(s.long_name, name, len) == 0) return &s;
  }
  return nullptr;
}

// A decimal number without sign, blanks or leading zeros beyond one digit.
bool Number_Read(const char* text, int min, int max, int* out) {
  size_t n = std::strlen(text);
  if (n == 0 || n > 9 || !AllDigits(text, n) || (n > 1 && text[0] == '0')) return false;
  int v = Number(text, n);
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

std::span<const RunOptionDef> Run_Option_Defs() { return kOptionDefs; }

int Arg_Options_Parse(int argc, char** argv, RunOptions* opts, const char** bad, const char** allowed) {
  int i = 1;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' || arg[1] == '\0') break;
    if (std::strcmp(arg, "--") == 0) return i + 1;
    *bad = arg;
    *allowed = kOptionsAllowed;
    const char* value = nullptr;  // a joined value
    const RunOptionDef* def;
    if (arg[1] == '-') {
      const char* name = arg + 2;
      const char* eq = std::strchr(name, '=');
      def = Def_Long(name, eq != nullptr ? static_cast<size_t>(eq - name) : std::strlen(name));
      if (def == nullptr || (eq != nullptr && def->value_name == nullptr)) return -1;
      if (eq != nullptr) value = eq + 1;
    } else {
      // A run of switches, the last of which may take a value ("-vj4").
      for (const char* p = arg + 1;; ++p) {
        def = Def_Short(*p);
        if (def == nullptr) return -1;
        if (def->value_name != nullptr) {
          if (p[1] != '\0') value = p + 1;
          break;
        }
        opts->*(def->flag) = true;
        if (p[1] == '\0') break;
      }
      if (def->value_name == nullptr) continue;
    }
    if (def->value_name == nullptr) {
      opts->*(def->flag) = true;
      continue;
    }
    if (value == nullptr) {
      if (i + 1 >= argc) return -1;
      value = argv[++i];
      *bad = value;
    }
    if (def->text != nullptr) {
      *allowed = kFileAllowed;
      if (!File_Name_Ok(value)) return -1;
      opts->*(def->text) = value;
      continue;
    }
    *allowed = kNumberAllowed;
    if (!Number_Read(value, def->min, def->max, &(opts->*(def->number)))) return -1;
  }
  return i;
}

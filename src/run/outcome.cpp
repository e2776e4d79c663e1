#include "run/outcome.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/stop.h"
#include "base/text.h"

namespace {

const char* const kPhaseNames[kOutcomePhases] = {"base_calendar", "work_calendars", "persons"};

// The table's name without the schema prefix ("Hrs133Bak").
std::string Table_Label(int i) {
  const char* name = Tally_Table(i);
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr ? dot + 1 : name;
}

// A log text (Windows-1252) as UTF-8.
std::string Utf8_Of(const std::string& text) {
  std::string out;
  for (unsigned char c : text) Str_Append_Utf8(&out, c);
  return out;
}

// A number as both formats write it: integers without a fraction, others
// with millisecond precision.
std::string Number(double v) {
  char buf[40];
  if (std::floor(v) == v && std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
  } else {
    std::snprintf(buf, sizeof buf, "%.3f", v);
  }
  return buf;
}

// A label value of the text format: backslash, double quote and line feed
// escaped; control characters (none expected) dropped.
std::string Label_Value(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      out += c;
    }
  }
  return out;
}

struct MetricsText {
  std::string text;
  void Head(const char* name, const char* type, const char* help) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
  }
  void Sample(const char* name, double v) { text += std::string(name) + ' ' + Number(v) + '\n'; }
  void Sample(const char* name, const char* label, const std::string& value, double v) {
    text += std::string(name) + '{' + label + "=\"" + Label_Value(value) + "\"} " + Number(v) + '\n';
  }
};

// A JSON string literal of UTF-8 text; other control characters as \u00XX.
std::string Json_String(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + '"';
}

// An argument as given: bytes that do not form UTF-8 are taken as
// Windows-1252 (the log's encoding), so that the report stays valid JSON.
std::string Utf8_Of_Argument(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool ok = n > 0 && i + n <= bytes.size();
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    if (ok && n == 2 && c < 0xC2) ok = false;  // overlong
    if (ok) {
      out.append(bytes, i, n);
      i += n;
    } else {
      Str_Append_Utf8(&out, c);
      ++i;
    }
  }
  return out;
}

// ISO 8601 in UTC with seconds: "2026-12-09T02:30:00Z".
std::string Iso_Utc(double t) {
  const std::time_t s = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

const char* Result_Of(const RunOutcome& run) {
  if (run.signal != 0) return "stopped";
  switch (run.exit_status) {
    case 0:
      return "ok";
    case 2:
      return "usage";
    default:
      return "failed";
  }
}

long Failure_Lines(const RunOutcome& run) {
  long total = 0;
  for (const RunLogTally& f : run.failures) total += f.lines;
  return total;
}

}  // namespace

const char* Outcome_Phase_Name(int phase) { return kPhaseNames[phase]; }

std::string Outcome_Metrics(const RunOutcome& run, double last_success) {
  MetricsText m;
  m.Head("dayset_exit_status", "gauge",
         "Exit status of the last run: 0 the phases ran, 1 failed, 2 bad usage or input, 128+N stopped by signal N.");
  m.Sample("dayset_exit_status", run.exit_status);
  m.Head("dayset_dry_run", "gauge", "1 when the last run was a dry run (everything rolled back).");
  m.Sample("dayset_dry_run", run.dry_run ? 1 : 0);
  m.Head("dayset_start_time_seconds", "gauge", "Start of the last run, seconds since the epoch.");
  m.Sample("dayset_start_time_seconds", run.start);
  m.Head("dayset_end_time_seconds", "gauge", "End of the last run, seconds since the epoch.");
  m.Sample("dayset_end_time_seconds", run.end);
  m.Head("dayset_duration_seconds", "gauge", "Wall time of the last run.");
  m.Sample("dayset_duration_seconds", run.end - run.start);
  m.Head("dayset_phase_duration_seconds", "gauge", "Wall time of each phase the last run started.");
  for (int p = 0; p < kOutcomePhases; ++p) {
    if (run.phase_ran[p]) m.Sample("dayset_phase_duration_seconds", "phase", kPhaseNames[p], run.phase_seconds[p]);
  }
  if (run.counted) {
    m.Head("dayset_rows_added_total", "counter", "Rows the last run added, per table (a dry run: before its rollback).");
    for (int i = 0; i < kTallyTables; ++i) {
      const long added = Tally_Added(run.before, run.after, i);
      if (added >= 0) m.Sample("dayset_rows_added_total", "table", Table_Label(i), static_cast<double>(added));
    }
  }
  m.Head("dayset_persons_done_total", "counter", "Persons the last run finished.");
  m.Sample("dayset_persons_done_total", static_cast<double>(run.persons));
  m.Head("dayset_failure_lines_total", "counter", "Failure lines the last run wrote to DAYSET.LOG, per kind of message.");
  for (const RunLogTally& f : run.failures) {
    m.Sample("dayset_failure_lines_total", "kind", Utf8_Of(f.message), static_cast<double>(f.lines));
  }
  m.Head("dayset_last_success_time_seconds", "gauge",
         "End of the last run that ended with status 0 (dry runs aside), seconds since the epoch; 0: none yet.");
  m.Sample("dayset_last_success_time_seconds", last_success);
  return m.text;
}

std::string Outcome_Report(const RunOutcome& run, double last_success) {
  std::string j = "{\n";
  j += "  \"format_version\": " + std::to_string(kReportFormatVersion) + ",\n";
  j += "  \"program\": \"dayset\",\n";
  j += "  \"exit_status\": " + std::to_string(run.exit_status) + ",\n";
  j += std::string("  \"result\": \"") + Result_Of(run) + "\",\n";
  j += "  \"signal\": " + (run.signal != 0 ? std::to_string(run.signal) : std::string("null")) + ",\n";
  j += std::string("  \"dry_run\": ") + (run.dry_run ? "true" : "false") + ",\n";
  j += "  \"start\": " + Json_String(Iso_Utc(run.start)) + ",\n";
  j += "  \"end\": " + Json_String(Iso_Utc(run.end)) + ",\n";
  j += "  \"start_time_seconds\": " + Number(run.start) + ",\n";
  j += "  \"end_time_seconds\": " + Number(run.end) + ",\n";
  j += "  \"duration_seconds\": " + Number(run.end - run.start) + ",\n";
  j += "  \"last_success_time_seconds\": " + Number(last_success) + ",\n";
  j += "  \"arguments\": [";
  for (size_t i = 0; i < run.arguments.size(); ++i) {
    j += (i == 0 ? "" : ", ") + Json_String(Utf8_Of_Argument(run.arguments[i]));
  }
  j += "],\n";
  j += "  \"options\": {\"jobs\": " + std::to_string(run.jobs) +
       ", \"connect_timeout_seconds\": " + std::to_string(run.connect_timeout_s) +
       ", \"reply_timeout_seconds\": " + std::to_string(run.reply_timeout_s) + "},\n";
  j += "  \"backend\": " + (run.backend.empty() ? std::string("null") : Json_String(run.backend)) + ",\n";
  j += "  \"schema\": " + (run.schema.empty() ? std::string("null") : Json_String(run.schema)) + ",\n";
  j += "  \"phases\": [";
  bool first = true;
  for (int p = 0; p < kOutcomePhases; ++p) {
    if (!run.phase_ran[p]) continue;
    j += std::string(first ? "" : ", ") + "{\"name\": \"" + kPhaseNames[p] + "\", \"seconds\": " +
         Number(run.phase_seconds[p]) + "}";
    first = false;
  }
  j += "],\n";
  j += "  \"rows_added\": ";
  if (run.counted) {
    j += "{";
    for (int i = 0; i < kTallyTables; ++i) {
      const long added = Tally_Added(run.before, run.after, i);
      j += (i == 0 ? "" : ", ") + Json_String(Table_Label(i)) + ": " +
           (added >= 0 ? std::to_string(added) : std::string("null"));
    }
    j += "},\n";
  } else {
    j += "null,\n";
  }
  j += "  \"persons_done\": " + std::to_string(run.persons) + ",\n";
  j += "  \"failure_lines\": {\"total\": " + std::to_string(Failure_Lines(run)) + ", \"kinds\": [";
  for (size_t i = 0; i < run.failures.size(); ++i) {
    j += std::string(i == 0 ? "" : ", ") + "{\"kind\": " + Json_String(Utf8_Of(run.failures[i].message)) +
         ", \"lines\": " + std::to_string(run.failures[i].lines) + "}";
  }
  j += "]},\n";
  j += "  \"parts\": [";
  for (size_t k = 0; k < run.parts.size(); ++k) {
    const OutcomePart& p = run.parts[k];
    j += std::string(k == 0 ? "" : ", ") + "{\"part\": " + std::to_string(k + 1) +
         ", \"pnr_von\": " + Json_String(Utf8_Of_Argument(p.pnr_von)) +
         ", \"pnr_bis\": " + Json_String(Utf8_Of_Argument(p.pnr_bis)) +
         ", \"exit_status\": " + std::to_string(p.status) +
         ", \"finished\": " + (p.status == 0 ? "true" : "false") + "}";
  }
  j += "]\n}\n";
  return j;
}

namespace {

// An end no run has: its texts are replaced by the marks.
constexpr double kMarkedEnd = 4102444800.25;

void Replace_All(std::string* text, const std::string& what, char mark) {
  for (size_t at = text->find(what); at != std::string::npos; at = text->find(what, at + 1)) {
    text->replace(at, what.size(), 1, mark);
  }
}

std::string Marked(std::string text, const RunOutcome& run) {
  Replace_All(&text, Number(kMarkedEnd - run.start), kStopMarkDuration);
  Replace_All(&text, Number(kMarkedEnd), kStopMarkEnd);
  Replace_All(&text, Iso_Utc(kMarkedEnd), kStopMarkIsoEnd);
  return text;
}

}  // namespace

std::string Outcome_Metrics_Marked(RunOutcome run, double last_success) {
  run.end = kMarkedEnd;
  return Marked(Outcome_Metrics(run, last_success), run);
}

std::string Outcome_Report_Marked(RunOutcome run, double last_success) {
  run.end = kMarkedEnd;
  return Marked(Outcome_Report(run, last_success), run);
}

double Outcome_Last_Success_Read(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[4096];
    ssize_t n;
    while (text.size() < 65536 && (n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  static const char kName[] = "\ndayset_last_success_time_seconds ";
  const size_t at = text.find(kName);
  if (at == std::string::npos) return 0;
  const std::string value = text.substr(at + sizeof kName - 1, 40);
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  // Only a plain time of the file's own making: digits up to the line end.
  if (end == value.c_str() || (*end != '\n' && *end != '\0') || !std::isfinite(v) || v < 0) return 0;
  return v;
}

std::string Outcome_Temp_Name(const std::string& path, const std::string& tag) {
  const size_t cut = path.rfind('/') + 1;  // 0 without a slash
  return path.substr(0, cut) + "." + path.substr(cut) + ".tmp" + std::to_string(static_cast<long>(getpid())) + tag;
}

bool Outcome_File_Write(const std::string& path, const std::string& bytes, std::string* why) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") {
    *why = "kein Dateiname";
    return false;
  }
  // A name of our own next to the target, made anew (O_EXCL never opens
  // what another user put there); a leftover of a killed run is replaced.
  const std::string temp = Outcome_Temp_Name(path);
  unlink(temp.c_str());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  // The umask may take more: the file is for the monitoring to read.
  bool ok = fchmod(fd, 0644) == 0;
  int err = ok ? 0 : errno;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) {
    err = errno;
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    *why = std::strerror(err);
    return false;
  }
  if (const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

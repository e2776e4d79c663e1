#include "run/tally.h"

#include <cstdint>
#include <utility>

#include "base/progress.h"
#include "base/runlog.h"
#include "base/text.h"
#include "db/sqlrt.h"

namespace {

// The tables the phases insert into, each with its own count statement: the
// runtime keeps statements by their text.
const struct {
  const char* table;
  const char* count;
} kTables[kTallyTables] = {
    {"HRSYSTEM.Hrs133Bak", "select count(*) into :b0 from HRSYSTEM.Hrs133Bak"},
    {"HRSYSTEM.Hrs133Kal", "select count(*) into :b0 from HRSYSTEM.Hrs133Kal"},
    {"Hrs133Ka2", "select count(*) into :b0 from Hrs133Ka2"},
    {"Hrs327Tag", "select count(*) into :b0 from Hrs327Tag"},
    {"Hrs329Ztg", "select count(*) into :b0 from Hrs329Ztg"},
    {"Hrs332Urv", "select count(*) into :b0 from Hrs332Urv"},
};

// Log texts are Windows-1252; the terminal is taken to be UTF-8.
void Print_Latin1(std::FILE* out, const std::string& text) {
  std::string utf8;
  for (unsigned char c : text) Str_Append_Utf8(&utf8, c);
  std::fputs(utf8.c_str(), out);
}

}  // namespace

const char* Tally_Table(int i) { return kTables[i].table; }

void Tally_Count(TallyCounts* out) {
  for (int i = 0; i < kTallyTables; ++i) {
    int32_t rows = 0;
    out->rc[i] = Sql_Exec(kTables[i].count, {SqlInt(&rows)});
    out->rows[i] = out->rc[i] == 0 ? rows : 0;
  }
}

long Tally_Added(const TallyCounts& before, const TallyCounts& after, int i) {
  if (before.rc[i] != 0 || after.rc[i] != 0) return -1;
  return after.rows[i] - before.rows[i];
}

void Tally_Report_Print(std::FILE* out, const TallyCounts& before, const TallyCounts& after) {
  std::fprintf(out, "dayset: dry run, nothing was changed; rows a run would add now:\n");
  for (int i = 0; i < kTallyTables; ++i) {
    const long added = Tally_Added(before, after, i);
    if (added >= 0) {
      std::fprintf(out, "%-20s %ld\n", kTables[i].table, added);
    } else {
      std::fprintf(out, "%-20s - (%d)\n", kTables[i].table, before.rc[i] != 0 ? before.rc[i] : after.rc[i]);
    }
  }
}

void Tally_Summary_Print(std::FILE* out, const TallyCounts& before, const TallyCounts& after, bool dry_run) {
  std::fprintf(out, "dayset: summary%s\n", dry_run ? " (dry run: everything rolled back)" : "");
  std::fprintf(out, "  rows added%s:\n", dry_run ? " before the rollback" : "");
  for (int i = 0; i < kTallyTables; ++i) {
    const long added = Tally_Added(before, after, i);
    if (added >= 0) {
      std::fprintf(out, "    %-20s %9ld\n", kTables[i].table, added);
    } else {
      std::fprintf(out, "    %-20s %9s (%d)\n", kTables[i].table, "-",
                   before.rc[i] != 0 ? before.rc[i] : after.rc[i]);
    }
  }
  std::fprintf(out, "  persons done: %ld\n", Progress_Persons());
  const std::vector<RunLogTally> lines = RunLog_Lines_By_Message();
  long total = 0;
  for (const RunLogTally& t : lines) total += t.lines;
  std::fprintf(out, "  log lines: %ld\n", total);
  for (const RunLogTally& t : lines) {
    std::fprintf(out, "    %9ld  ", t.lines);
    Print_Latin1(out, t.message);
    std::fputc('\n', out);
  }
  const long secs = static_cast<long>(Progress_Seconds() + 0.5);
  std::fprintf(out, "  elapsed: %ld:%02ld:%02ld\n", secs / 3600, secs / 60 % 60, secs % 60);
}

std::vector<RunLogTally> Tally_Failure_Kinds() {
  std::vector<RunLogTally> kinds;
  for (RunLogTally& t : RunLog_Lines_By_Message()) {
    if (t.message.rfind("Error", 0) == 0 || t.message.rfind("Fehler", 0) == 0) kinds.push_back(std::move(t));
  }
  return kinds;
}

long Tally_Failures_Print(std::FILE* out, const char* log_path) {
  const std::vector<RunLogTally> lines = Tally_Failure_Kinds();
  long total = 0;
  const int kinds = static_cast<int>(lines.size());
  for (const RunLogTally& t : lines) total += t.lines;
  if (total == 0) return 0;
  std::fprintf(out, "dayset: %ld Fehlerzeile%s in %s:", total, total == 1 ? "" : "n", log_path);
  int shown = 0;
  for (const RunLogTally& t : lines) {
    if (shown == 3) break;
    std::fprintf(out, "%s ", shown == 0 ? "" : ",");
    Print_Latin1(out, t.message);
    std::fprintf(out, " (%ld)", t.lines);
    ++shown;
  }
  if (kinds > shown) std::fprintf(out, " und %d weitere Arten", kinds - shown);
  std::fputc('\n', out);
  return total;
}

long Tally_Days_Made_Since(const char* stamp) {
  // Rows the job inserts carry sysdate in their ...Dat column; the run's rows
  // are those stamped from its start on. A table that cannot be counted
  // (Hrs133Ka2 missing) adds nothing.
  static const char* const kMade[] = {
      "select count(*) into :b0 from HRSYSTEM.Hrs133Kal where KalDat>=TO_DATE(:b1,'yyyymmddHH24MISS')",
      "select count(*) into :b0 from Hrs133Ka2 where Ka2Dat>=TO_DATE(:b1,'yyyymmddHH24MISS')",
      "select count(*) into :b0 from Hrs327Tag where TagDat>=TO_DATE(:b1,'yyyymmddHH24MISS')",
  };
  long made = 0;
  for (const char* text : kMade) {
    int32_t n = 0;
    int16_t ind = 0;
    if (Sql_Exec(text, {SqlInt(&n, &ind), SqlStr(stamp, 15)}) == 0 && ind != -1) made += n;
  }
  return made;
}

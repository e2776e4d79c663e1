// dayset-demo: makes a demo installation that the nightly calendar job can
// run on at once.
//
//   dayset-demo [--persons N] [--seed S] [--start YYYYMMDD] [--net NAME]
//               [--login ROLE] [--pg-admin CONNINFO] DIR
//   dayset-demo --calendar-only --start YYYYMMDD [--net NAME]
//               [--pg-admin CONNINFO]
//
// DIR must not exist yet or be empty. It receives
//   HRSYSTEM.db  the schema's DDL with a small personnel database in it,
//   dayset.ini   the job's configuration file for that database,
// and the job is then run from within DIR, where it also writes DAYSET.LOG:
//   cd DIR && dayset 0 YEAR dayset.ini 0 0
//
// With a PostgreSQL net service name (postgresql://HOST[:PORT]/DB, pg:SERVICE)
// the database is schema hrsystem of that database instead, made from
// db/schema-postgresql.sql; the database must not hold that schema yet. The
// schema is made through a connection of its own: --pg-admin CONNINFO, or
// else the net service name itself, as the user, password and other settings
// of libpq's environment give (PGUSER, PGPASSWORD, ~/.pgpass). The role of
// --login is granted what the job needs (USAGE on the schema; SELECT,
// INSERT and UPDATE on its tables) and must exist; dayset.ini gets the
// password "demo", to be replaced with the role's own by dayset-conf. The
// schema and its grants are one transaction; the contents follow through
// the job's runtime, as the same role, in transactions of their own, and a
// failure drops the schema again: the database is then as it was.
//
// What the database holds (all of it derived from the seed, the start date
// and the day the command runs; the same three give the same contents):
//   - one base-calendar day, the day before the start date, for the job to
//     extend from (it derives every later day from the stored one);
//   - work calendars of both families, 101-103 (Hrs135Muw, Hrs133Kal) and
//     201-203 (Hrs135Mu2, Hrs133Ka2), with weekly patterns in Hrs137Wch: an
//     office week (x01), a seven-day week (x02) and a week without Sunday
//     (x03). Each calendar holds one day, its latest day on or before the
//     base day, so that the job extends it from the start date on rather
//     than from the day it runs;
//   - four working-time groups with rotations of 1, 7, 7 and 14 days and a
//     plan row for every rotation day;
//   - N persons 00000001..N with employment rows (mostly current, some
//     ended, some persons with an older and a newer one), all pointing at
//     calendars of the second family, and their assignments to groups,
//     departments and cost centres (a few persons with overlapping ones, so
//     that the log shows what the job does about them).
//
// Weekday numbers: the job's connection numbers weekdays by the territory in
// NLS_TERRITORY, else the territory part of NLS_LANG
// (language_territory.charset), else AMERICA. AMERICA counts Sunday as 1,
// GERMANY and the other European territories Monday as 1. The base-calendar
// day and the weekly patterns (WchTag) are numbered by the same rule (the
// runtime's own) from this command's environment, so run the job with the
// same NLS settings.
//
// The rows are written through the job's runtime with the job's statement
// forms (dates as TO_DATE(:b0,'yyyymmdd')), so they are stored as the job's
// database keeps them: Julian day numbers at local midnight
// (julianday('YYYY-MM-DD'), N.5), on PostgreSQL timestamps at midnight;
// empty texts as NULL.
//
// --calendar-only makes no demo: it is the step of a real installation
// between the DDL and the first run. The job derives every base-calendar day
// from the stored row of the day before, so an empty base calendar stops it
// (Bak_NxtDay_Init RC:1403). This writes that first row, the day before
// --start with the attributes the job would compute, into the database of
// --net (sqlite:DIR, DIR holding HRSYSTEM.db; or a PostgreSQL database with
// schema hrsystem, reached as for the demo's schema), and nothing else: no
// DIR, no dayset.ini. A base calendar that holds a day already is left
// alone (exit status 1).
//
// The parts: tools/demo/options (the command line), generate (the
// contents), write and pg_admin (the database).
//
// Exit status: 0 done (one summary line on standard output), 1 failure (a
// message on standard error; nothing is left behind), 2 usage error.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "base/runlog.h"
#include "config/ini.h"
#include "db/oradate.h"
#include "demo/generate.h"
#include "demo/options.h"
#include "demo/write.h"
#include "run/usage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kIniName = "dayset.ini";

// What the command has created so far, removed again when it fails, so that
// a rerun finds DIR as it was.
class Leftovers {
 public:
  void Directory(const fs::path& dir) { dir_ = dir; }
  void File(const fs::path& file) { files_.push_back(file); }
  void Keep() {
    files_.clear();
    dir_.clear();
  }
  ~Leftovers() {
    std::error_code ec;
    for (const fs::path& f : files_) fs::remove(f, ec);
    if (!dir_.empty()) fs::remove(dir_, ec);  // only when empty
  }

 private:
  std::vector<fs::path> files_;
  fs::path dir_;
};

void Directory_Prepare(const fs::path& dir, Leftovers* leftovers) {
  std::error_code ec;
  fs::file_status st = fs::status(dir, ec);
  if (fs::exists(st)) {
    if (!fs::is_directory(st)) throw DemoFailure{dir.string() + " exists and is not a directory"};
    bool empty = fs::is_empty(dir, ec);
    if (ec) throw DemoFailure{"cannot read " + dir.string() + ": " + ec.message()};
    if (!empty) {
      // A schema file made by the DDL wants its first base-calendar day, not
      // a demo.
      std::string hint;
      if (fs::exists(dir / kDemoDbName, ec)) {
        hint = "; a database made with db/schema.sql gets its first base-calendar day from: dayset-demo "
               "--calendar-only --start YYYYMMDD --net sqlite:" + dir.string();
      }
      throw DemoFailure{dir.string() + " is not empty; give a new or an empty directory" + hint};
    }
    return;
  }
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw DemoFailure{"cannot look at " + dir.string() + ": " + ec.message()};
  }
  if (!fs::create_directories(dir, ec) || ec) {
    throw DemoFailure{"cannot create " + dir.string() + ": " + (ec ? ec.message() : "already there")};
  }
  leftovers->Directory(dir);
}

void Config_Write(const std::string& path, const DemoSettings& s, Leftovers* leftovers) {
  leftovers->File(path);
  // The section and the numbers are not empty and not 0, so that the job's
  // look-ups (empty section, number 0) take each record by its name alone.
  // The job drops the last character of SCHEMA.
  struct Record {
    int32_t number;
    const char* name;
    const char* value;
  } const records[] = {
      {1, "LOGIN", s.login.c_str()}, {2, "PASS", "demo"}, {3, "NET8", s.net.c_str()}, {4, "SCHEMA", "HRSYSTEMX"}};
  for (const Record& r : records) {
    int rc = Ini_Record_Put(path.c_str(), "DB", r.number, r.name, r.value);
    if (rc != 0) {
      throw DemoFailure{std::string("cannot write ") + r.name + " into " + path + ": " + std::strerror(rc)};
    }
  }
}

int Calendar_Main(const DemoSettings& s, const DemoPlan& plan, const char* territory) {
  BakSatz day{};
  try {
    day = Demo_Base_Day_Write(s, plan);
  } catch (const DemoFailure& f) {
    std::fprintf(stderr, "dayset-demo: %s\n", f.message.c_str());
    return kExitFailed;
  }
  std::printf(
      "dayset-demo: %s: base calendar begins with %s (weekday %d, numbered from %s (%s)); "
      "the job extends it from there: dayset 0 %d CONFIG 0 0\n",
      s.net.c_str(), day.BakDtm, day.BakWtg, plan.sunday_first ? "Sunday" : "Monday", territory,
      std::max(Demo_Day_Year(plan.start), Demo_Day_Year(plan.today)));
  return kExitOk;
}

int Demo_Main(int argc, char** argv) {
  DemoSettings s;
  bool help = false;
  if (!Demo_Args_Parse(argc, argv, &s, &help)) return kExitUsage;
  if (help) {
    Demo_Usage(stdout);
    return kExitOk;
  }
  // The day the command runs, as the job's clock gives it.
  RunDate_Init();
  DemoDay today = 0;
  Ora_Date_Parse(RunDate, std::strlen(RunDate), "yyyymmdd", 8, &today);
  const DemoDay start = s.start ? *s.start : Ora_Jd_From_Civil(OraCivil{Demo_Day_Year(today), 1, 1, 0, 0, 0});
  // The territory the job's connection will number weekdays by.
  char territory[64];
  Ora_Territory_From_Env(territory, sizeof territory);
  const DemoPlan plan{s.persons, s.seed, start, today, Ora_Territory_Sunday_First(territory)};
  const bool server = Demo_Net_Is_Server(s.net);
  if (s.calendar_only) return Calendar_Main(s, plan, territory);

  Leftovers leftovers;
  DemoCounts counts;
  try {
    fs::path dir(s.dir);
    Directory_Prepare(dir, &leftovers);
    Config_Write((dir / kIniName).string(), s, &leftovers);
    if (server) {
      counts = Demo_Pg_Write(s, plan);
    } else {
      const std::string path = (dir / kDemoDbName).string();
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) leftovers.File(path + suffix);
      counts = Demo_Sqlite_Write(dir.string(), plan);
    }
  } catch (const DemoFailure& f) {
    std::fprintf(stderr, "dayset-demo: %s\n", f.message.c_str());
    return kExitFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dayset-demo: %s\n", e.what());
    return kExitFailed;
  }
  leftovers.Keep();

  char base[kDateYmdSize];
  Demo_Day_Text(start - 1, base);
  const int year = std::max(Demo_Day_Year(start), Demo_Day_Year(today));
  std::printf(
      "dayset-demo: %s: %ld persons, %ld employments, %ld assignments, %ld work calendars, "
      "%ld working-time groups; base calendar from %s, weekdays numbered from %s (%s); %s"
      "run: cd %s && dayset 0 %d %s 0 0\n",
      s.dir.c_str(), counts.persons, counts.employments, counts.assignments, counts.calendars, counts.groups, base,
      plan.sunday_first ? "Sunday" : "Monday", territory,
      server ? ("schema hrsystem made; set the password of " + s.login + ": dayset-conf set " + s.dir + "/" +
                kIniName + " PASS; ").c_str()
             : "",
      s.dir.c_str(), year, kIniName);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (Usage_Version_Asked(argc, argv, "dayset-demo")) return 0;
  return Demo_Main(argc, argv);
}

// Benchmark of one whole run of the job on a demo installation.
//
//   dayset-bench PERSONS DIR
//
// Creates a demo installation of PERSONS persons in DIR (made anew) with the
// dayset-demo command beside this program, fixes the clock at the demo's
// start day, runs the job in this process for the year after the start year
// and prints one line: wall time, time-group rows written per second,
// statements executed per person-day and peak resident memory.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "db/sqlrt.h"
#include "base/clock.h"
#include "run/driver.h"

namespace {

constexpr int kStartYear = 2026;
const char kStartDay[] = "20260101";

long CountRows(const std::string& dbfile, const char* table) {
  sqlite3* db = nullptr;
  long n = -1;
  if (sqlite3_open_v2(dbfile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    std::string sql = std::string("select count(*) from ") + table;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
      n = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

std::time_t LocalDay(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 6;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: dayset-bench PERSONS DIR\n");
    return 2;
  }
  const long persons = std::strtol(argv[1], nullptr, 10);
  namespace fs = std::filesystem;
  const fs::path dir = fs::absolute(argv[2]);
  const fs::path demo = fs::canonical("/proc/self/exe").parent_path() / "dayset-demo";

  std::error_code ec;
  fs::remove_all(dir, ec);
  std::string make = "'";
  make += demo.string();
  make += "' --persons ";
  make += std::to_string(persons);
  make += " --seed 1 --start ";
  make += kStartDay;
  make += " '";
  make += dir.string();
  make += "' >/dev/null";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "dayset-bench: %s failed\n", make.c_str());
    return 1;
  }
  if (chdir(dir.c_str()) != 0) {
    std::perror("dayset-bench: chdir");
    return 1;
  }

  Clock_Set_For_Test(LocalDay(kStartYear, 1, 1));
  std::string end_year = std::to_string(kStartYear + 1);
  char prog[] = "dayset", beg[] = "0", ini[] = "dayset.ini", von[] = "0", bis[] = "0";
  char* args[] = {prog, beg, end_year.data(), ini, von, bis, nullptr};

  auto t0 = std::chrono::steady_clock::now();
  int rc = Dayset_Main(6, args);
  auto t1 = std::chrono::steady_clock::now();
  SqlStats stats = Sql_Stats();

  double secs = std::chrono::duration<double>(t1 - t0).count();
  long days = CountRows((dir / "HRSYSTEM.db").string(), "Hrs329Ztg");
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("persons %ld: exit %d, wall %.2f s, %ld person-days, %.0f person-days/s, "
              "%.2f statements/person-day, %ld prepares, peak RSS %.1f MiB\n",
              persons, rc, secs, days, days / (secs > 0 ? secs : 1), days > 0 ? double(stats.executions) / days : 0.0,
              stats.prepares, ru.ru_maxrss / 1024.0);
  return rc;
}

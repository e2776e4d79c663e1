// Benchmark of one whole run of the job on a demo installation.
//
//   dayset-bench [--postgres | --odbc] [-j N] PERSONS DIR
//
// Creates a demo installation of PERSONS persons (dayset-demo beside this
// program, seed 1, calendars from 1 January 2027) with its dayset.ini in DIR
// (made anew): in DIR itself, or with --postgres in a new database of the
// server that the environment names as tools/pg-cluster.sh writes it
// (DAYSET_TEST_PG: a superuser's conninfo; DAYSET_TEST_PG_HOST, _PORT,
// _LOGIN, _PASSWORD: where and as whom the job connects). Then it fixes the
// clock at 1 January 2027, runs the job in this process for the end year
// 2027 (each person's window is that one year) and prints one line: wall
// time, time-group rows written per second, statements and round trips per
// person-day and per person, prepares, peak resident memory, CPU time of the
// job (its workers included) and of the database server's processes. -j N
// runs the person phase in N workers; --rerun runs the job a second time on
// the same installation (a night on which nothing is new) and prints a line
// for it too, each further --rerun once more; --label adds a text to the
// lines. --analyze has the server gather its statistics after loading,
// while the day and time-group tables are still empty, as an administrator
// would after setting up or reloading.
// --reference FILE runs, instead of the job, the set-based SQL of FILE (the
// sqlite3 or psql script of ../shared/bench/) on the same installation and
// prints its wall time. --odbc is --postgres with the job going through its
// ODBC backend (psqlODBC): a data source of the database in DIR.odbc.ini,
// which ODBCINI names for the run; the demo is made through libpq.
#include <dirent.h>
#include <libpq-fe.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/clock.h"
#include "config/ini.h"
#include "db/sqlrt.h"
#include "run/driver.h"

namespace {

const char kStartDay[] = "20270101";
const char kWorkerStats[] = "DAYSET_BENCH_WORKER_STATS";

std::time_t LocalDay(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 6;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// CPU seconds of every process called `postgres` (the server's).
double Server_Cpu() {
  double ticks = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    if (stat.compare(open + 1, close - open - 1, "postgres") != 0) continue;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    // Its own time and that of its children that have ended (the
    // postmaster's: the sessions of a parallel run's workers).
    unsigned long cutime = 0, cstime = 0;
    for (int i = 3; i <= 17 && rest >> field; ++i) {
      if (i == 14) utime = std::stoul(field);
      if (i == 15) stime = std::stoul(field);
      if (i == 16) cutime = std::stoul(field);
      if (i == 17) cstime = std::stoul(field);
    }
    ticks += static_cast<double>(utime + stime + cutime + cstime);
  }
  closedir(proc);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool Admin_Exec(const std::string& conninfo, const std::string& sql) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  bool ok = PQstatus(c) == CONNECTION_OK;
  if (ok) {
    PGresult* r = PQexec(c, sql.c_str());
    ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) std::fprintf(stderr, "dayset-bench: %s", PQresultErrorMessage(r));
    PQclear(r);
  } else {
    std::fprintf(stderr, "dayset-bench: %s", PQerrorMessage(c));
  }
  PQfinish(c);
  return ok;
}

// The server's background work that a run may meet: the vacuums and
// analyzes autovacuum has ended in the database, its workers there now, the
// checkpoints begun and the shared buffers written out (by the background
// writer, the checkpointer and the sessions), since the server started (-1
// where unknown). One session asks for all.
struct Background {
  long vacuums = -1;
  long vacuuming = -1;
  long checkpoints = -1;
  long written = -1;
};
Background Background_Now(const std::string& conninfo) {
  Background b;
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) == CONNECTION_OK) {
    PGresult* r = PQexec(c,
                         "select (select coalesce(sum(autovacuum_count + autoanalyze_count), 0) from "
                         "pg_stat_user_tables), (select count(*) from pg_stat_activity where backend_type = "
                         "'autovacuum worker' and datname = current_database()), checkpoints_timed + "
                         "checkpoints_req, buffers_clean + buffers_backend + buffers_checkpoint from pg_stat_bgwriter");
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 && PQnfields(r) == 4) {
      long* out[] = {&b.vacuums, &b.vacuuming, &b.checkpoints, &b.written};
      for (int i = 0; i < 4; ++i) *out[i] = std::strtol(PQgetvalue(r, 0, i), nullptr, 10);
    }
    PQclear(r);
  }
  PQfinish(c);
  return b;
}

long Count(const char* text) {
  int32_t n = -1;
  int16_t ind = 0;
  return Sql_Exec(text, {SqlInt(&n, &ind)}) == 0 ? n : -1;
}

}  // namespace

int main(int argc, char** argv) {
  // The workers of a parallel run are this program started again; each
  // adds its session's counters to the file that the run names.
  if (argc > 1 && std::strcmp(argv[1], "--worker") == 0) {
    const int rc = Dayset_Main(argc, argv);
    if (FILE* f = std::fopen(Env(kWorkerStats).c_str(), "a")) {
      const SqlStats s = Sql_Stats();
      std::fprintf(f, "%ld %ld %ld %ld\n", s.executions, s.round_trips, s.prepares, s.longest_wait_ms);
      std::fclose(f);
    }
    return rc;
  }
  bool postgres = false, odbc = false, analyze = false;
  int reruns = 0;
  std::string jobs = "1", label, reference;
  int a = 1;
  for (; a < argc - 2; ++a) {
    if (std::strcmp(argv[a], "--postgres") == 0) {
      postgres = true;
    } else if (std::strcmp(argv[a], "--odbc") == 0) {
      postgres = odbc = true;
    } else if (std::strcmp(argv[a], "-j") == 0 && a + 1 < argc - 2) {
      jobs = argv[++a];
    } else if (std::strcmp(argv[a], "--rerun") == 0) {
      ++reruns;
    } else if (std::strcmp(argv[a], "--label") == 0 && a + 1 < argc - 2) {
      label = std::string(" ") + argv[++a];
    } else if (std::strcmp(argv[a], "--analyze") == 0) {
      analyze = true;
    } else if (std::strcmp(argv[a], "--reference") == 0 && a + 1 < argc - 2) {
      reference = std::filesystem::absolute(argv[++a]).string();
    } else {
      break;
    }
  }
  if (argc - a != 2) {
    std::fprintf(stderr, "usage: dayset-bench [--postgres | --odbc] [-j N] [--rerun] [--analyze] [--reference SQL] [--label TEXT] "
                         "PERSONS DIR\n");
    return 2;
  }
  std::error_code ec0;
  const long persons = std::strtol(argv[argc - 2], nullptr, 10);
  namespace fs = std::filesystem;
  const fs::path dir = fs::absolute(argv[argc - 1]);
  const fs::path worker_stats = dir.string() + ".workers";
  fs::remove(worker_stats, ec0);
  setenv(kWorkerStats, worker_stats.c_str(), 1);
  const fs::path demo = fs::canonical("/proc/self/exe").parent_path() / "dayset-demo";

  fs::remove_all(dir, ec0);
  std::string make = "'" + demo.string() + "' --persons " + std::to_string(persons) + " --seed 1 --start " +
                     kStartDay + " ";
  const std::string admin = Env("DAYSET_TEST_PG");
  const std::string db = "bench" + std::to_string(persons);
  if (postgres) {
    if (admin.empty()) {
      std::fprintf(stderr, "dayset-bench: --postgres needs the DAYSET_TEST_PG* variables of tools/pg-cluster.sh\n");
      return 2;
    }
    const std::string login = Env("DAYSET_TEST_PG_LOGIN");
    if (!Admin_Exec(admin, "drop database if exists " + db) || !Admin_Exec(admin, "create database " + db) ||
        !Admin_Exec(admin, "grant connect on database " + db + " to " + login)) {
      return 1;
    }
    make += "--net 'postgresql://" + Env("DAYSET_TEST_PG_HOST") + ":" + Env("DAYSET_TEST_PG_PORT") + "/" + db +
            "' --login '" + login + "' --pg-admin '" + admin + " dbname=" + db + "' ";
  }
  make += "'" + dir.string() + "' >/dev/null";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "dayset-bench: %s failed\n", make.c_str());
    return 1;
  }
  if (postgres) {
    const std::string pass = Env("DAYSET_TEST_PG_PASSWORD");
    if (Ini_Record_Put((dir / "dayset.ini").c_str(), "DB", 2, "PASS", pass.c_str()) != 0) {
      std::fprintf(stderr, "dayset-bench: cannot write the password into dayset.ini\n");
      return 1;
    }
  }
  if (odbc) {
    const std::string ini = dir.string() + ".odbc.ini";
    std::ofstream(ini) << "[" << db << "]\nDriver = /usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\nServername = "
                       << Env("DAYSET_TEST_PG_HOST") << "\nPort = " << Env("DAYSET_TEST_PG_PORT")
                       << "\nDatabase = " << db << "\n";
    setenv("ODBCINI", ini.c_str(), 1);
    if (Ini_Record_Put((dir / "dayset.ini").c_str(), "DB", 2, "NET8", ("odbc:" + db).c_str()) != 0) {
      std::fprintf(stderr, "dayset-bench: cannot write NET8 into dayset.ini\n");
      return 1;
    }
  }
  if (!reference.empty()) {
    // The reference starts where the job's person phase starts: the
    // calendars extended (by the job, for a range without persons).
    if (chdir(dir.c_str()) != 0) {
      std::perror("dayset-bench: chdir");
      return 1;
    }
    Clock_Fix(LocalDay(2027, 1, 1));
    char prog[] = "dayset", beg[] = "0", end_year[] = "2027", ini[] = "dayset.ini", none[] = "zzzzzzzz";
    char* args[] = {prog, beg, end_year, ini, none, none, nullptr};
    const int cal_rc = Dayset_Main(6, args);
    Sql_Rt_Disconnect();
    if (cal_rc != 0) {
      std::fprintf(stderr, "dayset-bench: the calendar phases failed (exit %d)\n", cal_rc);
      return 1;
    }
  }
  if (postgres && analyze && !Admin_Exec(admin + " dbname=" + db, "analyze")) return 1;
  if (!reference.empty()) {
    // The demo keeps the persons' calendars in the second family's table,
    // where the job reads them; the reference reads the first family's.
    // It is given the second's names.
    std::ifstream in(reference);
    std::string sql((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* name : {"Hrs133Kal", "KalNum", "KalDtm", "KalSta", "KalTtp"}) {
      const std::string from = name, to = std::string(name).replace(from.find("Kal") + 2, 1, "2");
      for (size_t at = 0; (at = sql.find(from, at)) != std::string::npos; at += to.size()) sql.replace(at, from.size(), to);
    }
    // Some demo persons have two assignments on a day, which the job logs
    // (-2112); the reference keeps the first row of such a day.
    const auto replace_once = [&sql](const std::string& from, const std::string& to) {
      const size_t at = sql.find(from);
      if (at != std::string::npos) sql.replace(at, from.size(), to);
    };
    if (postgres) {
      replace_once("SELECT c.pnr, k.Ka2Dtm, c.akr,", "SELECT DISTINCT ON (c.pnr, k.Ka2Dtm) c.pnr, k.Ka2Dtm, c.akr,");
      // As fast as the SQL goes: each table's rows inserted in the order of
      // its key (the index grows at its right edge, as under the job),
      // sorted in memory, with statistics of the temporary table. The
      // same reference as written took twice as long (bench/README.md).
      replace_once("BEGIN;", "BEGIN;\nSET LOCAL work_mem = '512MB';\nSET LOCAL jit = off;");
      const size_t cur_end = sql.find(";\n", sql.find("CREATE TEMP TABLE cur"));
      if (cur_end != std::string::npos) {
        sql.insert(cur_end + 2, "CREATE INDEX ON cur (pnr);\nANALYZE cur;\nSET LOCAL enable_sort = off;\n");
      }
      replace_once("k.Ka2Sta < 4;\nINSERT INTO Hrs329Ztg", "k.Ka2Sta < 4 ORDER BY c.pnr, k.Ka2Dtm;\nINSERT INTO Hrs329Ztg");
      replace_once("k.Ka2Sta < 4;\nINSERT INTO Hrs332Urv", "k.Ka2Sta < 4 ORDER BY c.pnr, k.Ka2Dtm;\nINSERT INTO Hrs332Urv");
    } else {
      replace_once("INSERT INTO Hrs329Ztg", "INSERT OR IGNORE INTO Hrs329Ztg");
    }
    reference = (dir / "reference.sql").string();
    std::ofstream(reference) << sql;
    // The job's run: its end year 2027, its clock on 1 January 2027.
    std::string run;
    if (postgres) {
      run = "psql -X -q -v ON_ERROR_STOP=1 -v cap=2026-12-31 -v end=2027-12-31 -v today=2027-01-01 -f '" +
            reference + "' '" + admin + " dbname=" + db + "' >/dev/null";
    } else {
      std::ofstream cmds(dir / "reference.cmds");
      cmds << ".bail on\n.parameter set :cap \"'2026-12-31'\"\n.parameter set :end \"'2027-12-31'\"\n.read '"
           << reference << "'\n";
      run = "sqlite3 '" + (dir / "HRSYSTEM.db").string() + "' < '" + (dir / "reference.cmds").string() + "'";
    }
    const double server0 = postgres ? Server_Cpu() : 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(run.c_str());
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%s%s reference %s, persons %ld: exit %d, wall %.1f s, server %.1f s\n", postgres ? "PostgreSQL" : "SQLite",
                label.c_str(), fs::path(reference).filename().c_str(), persons, rc, secs,
                postgres ? Server_Cpu() - server0 : 0.0);
    return rc == 0 ? 0 : 1;
  }
  if (chdir(dir.c_str()) != 0) {
    std::perror("dayset-bench: chdir");
    return 1;
  }

  Clock_Fix(LocalDay(2027, 1, 1));
  int rc = 0;
  for (int run = 0; run <= reruns; ++run) {
    fs::remove(worker_stats, ec0);
    char prog[] = "dayset", opt[] = "-j", beg[] = "0", end_year[] = "2027", ini[] = "dayset.ini", von[] = "0",
         bis[] = "0";
    char* args[] = {prog, opt, jobs.data(), beg, end_year, ini, von, bis, nullptr};

    const auto cpu = [](const rusage& r) {
      return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
             static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    rusage self0{}, children0{};
    getrusage(RUSAGE_SELF, &self0);
    getrusage(RUSAGE_CHILDREN, &children0);  // dayset-demo's, and the workers' of a run before
    // Asked before the server's CPU is read, so that its sessions count for nothing.
    const std::string db_admin = admin + " dbname=" + db;
    const Background bg0 = postgres ? Background_Now(db_admin) : Background{};
    const double server0 = postgres ? Server_Cpu() : 0;
    const auto t0 = std::chrono::steady_clock::now();
    rc = Dayset_Main(8, args);
    const auto t1 = std::chrono::steady_clock::now();
    const double server = postgres ? Server_Cpu() - server0 : 0;
    // Whether autovacuum worked in the database during the run (a worker at
    // its start or end, or a table done meanwhile) and how many checkpoints
    // began: the server's CPU above includes theirs.
    const Background bg1 = postgres ? Background_Now(db_admin) : Background{};
    const bool vacuumed = bg0.vacuuming != 0 || bg1.vacuuming != 0 || bg0.vacuums != bg1.vacuums || bg0.vacuums < 0;
    const auto delta = [](long a, long b) { return a < 0 || b < 0 ? -1 : b - a; };
    char background[120] = "";
    if (postgres) {
      std::snprintf(background, sizeof background, ", %s, checkpoints %ld, buffers written %ld",
                    vacuumed ? "autovacuum during the run" : "no autovacuum", delta(bg0.checkpoints, bg1.checkpoints),
                    delta(bg0.written, bg1.written));
    }
    // The driver's session (the calendar phases, the split) and the workers'.
    SqlStats stats = Sql_Stats();
    if (FILE* f = std::fopen(worker_stats.c_str(), "r")) {
      long e = 0, r = 0, p = 0, w = 0;
      while (std::fscanf(f, "%ld %ld %ld %ld", &e, &r, &p, &w) == 4) {
        stats.executions += e;
        stats.round_trips += r;
        stats.prepares += p;
        stats.longest_wait_ms = std::max(stats.longest_wait_ms, w);
      }
      std::fclose(f);
    }
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    const double job_cpu = cpu(self) - cpu(self0) + cpu(children) - cpu(children0);

    // The job's session is still open: count through it, on either backend.
    const long days = Count("select count(*) into :b0:b1 from Hrs329Ztg");
    const long persons_done = Count("select count(distinct UrvPnr) into :b0:b1 from Hrs332Urv");
    Sql_Rt_Disconnect();
    const double secs = std::chrono::duration<double>(t1 - t0).count();
    const double per_day = days > 0 ? 1.0 / static_cast<double>(days) : 0.0;
    const double per_person = persons_done > 0 ? 1.0 / static_cast<double>(persons_done) : 0.0;
    const std::string name = run == 0 ? "first run" : run == 1 ? "rerun" : "rerun " + std::to_string(run);
    std::printf("%s%s -j %s, persons %ld, %s: exit %d, wall %.1f s, %ld person-days, %.0f person-days/s, "
                "%.2f statements/person-day, %.2f round trips/person-day, %.1f round trips/person, "
                "%ld prepares, peak RSS %.1f MiB, CPU job %.1f s, server %.1f s, longest wait for an answer "
                "%.2f s%s\n",
                odbc ? "PostgreSQL (ODBC)" : postgres ? "PostgreSQL" : "SQLite", label.c_str(), jobs.c_str(), persons,
                name.c_str(), rc, secs, days, days / (secs > 0 ? secs : 1),
                double(stats.executions) * per_day, double(stats.round_trips) * per_day,
                double(stats.round_trips) * per_person, stats.prepares, self.ru_maxrss / 1024.0, job_cpu, server,
                static_cast<double>(stats.longest_wait_ms) / 1000.0,
                background);
    std::fflush(stdout);
  }
  return rc;
}

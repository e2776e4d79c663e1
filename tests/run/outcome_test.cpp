// The files the monitoring reads after a run (--metrics, --report): the real
// program on a demo installation, the metrics checked by Prometheus' own
// parser and the report by its JSON schema, whatever way the run ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "forkrun.h"
#include "jobdir.h"
#include "testdb.h"

namespace {

using testdb::JobDir;
using testdb::ReadFile;
using testdb::RunCommand;

std::string NextYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + 1);
}

// The samples of a metrics file: "name{labels}" -> value.
std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t sp = line.rfind(' ');
    out[line.substr(0, sp)] = std::strtod(line.c_str() + sp + 1, nullptr);
  }
  return out;
}

// promtool's verdict on a metrics file: "" when clean (or "skip" when
// Debian's prometheus package is missing).
std::string Promtool(const std::string& file) {
  if (RunCommand("command -v promtool >/dev/null") != 0) return "skip";
  std::string out;
  const int rc = RunCommand("promtool check metrics <'" + file + "' 2>&1", &out);
  return rc == 0 ? out : "status " + std::to_string(rc) + ": " + out;
}

// The report checked against the schema kept with the sources: "" when
// valid ("skip" without python3-jsonschema).
std::string Schema_Check(const std::string& file) {
  if (RunCommand("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0) return "skip";
  std::string out;
  const int rc = RunCommand(
      "/usr/bin/python3 -c 'import json, sys, jsonschema\n"
      "schema = json.load(open(sys.argv[1]))\n"
      "jsonschema.Draft202012Validator.check_schema(schema)\n"
      "jsonschema.validate(json.load(open(sys.argv[2])), schema, cls=jsonschema.Draft202012Validator)' '" +
          testdb::SourcePath("docs/report.schema.json") + "' '" + file + "' 2>&1",
      &out);
  return rc == 0 ? "" : out;
}

// Both files are sound, each by its own checker.
void Expect_Valid(const std::string& metrics, const std::string& report) {
  const std::string prom = Promtool(metrics);
  if (prom != "skip") {
    EXPECT_EQ(prom, "") << ReadFile(metrics);
  }
  const std::string schema = Schema_Check(report);
  if (schema != "skip") {
    EXPECT_EQ(schema, "") << ReadFile(report);
  }
}

class OutcomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommand("'" + testdb::BinaryPath("dayset-demo") + "' --persons 12 '" + job_.file("d") +
                         "' >/dev/null"),
              0);
    db_ = job_.file("d/HRSYSTEM.db");
  }
  // The job in the demo directory, with both files asked for.
  testdb::JobOutcome Run(const std::string& args) {
    return job_.Run("--metrics=m.prom --report r.json " + args, "cd d &&");
  }
  // The job started while this test holds a lock on the schema file
  // (`begin`), signalled with `sig` once its log holds `seen` (and a moment
  // more, into the wait); returns its wait status, or -1.
  int Signalled(const char* begin, const std::string& seen, int sig) {
    sqlite3* lock = nullptr;
    EXPECT_EQ(sqlite3_open(db_.c_str(), &lock), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(lock, begin, nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string program = testdb::BinaryPath("dayset");
    const std::string year = NextYear();
    const pid_t pid = forkrun::Start(job_.file("d"), [&] {
      execl(program.c_str(), "dayset", "--metrics", "m.prom", "--report", "r.json", "0", year.c_str(), "dayset.ini",
            "0", "0", static_cast<char*>(nullptr));
    });
    int status = -1;
    if (pid > 0) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (ReadFile(job_.file("d/DAYSET.LOG")).find(seen) == std::string::npos &&
             std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      kill(pid, sig);
      if (waitpid(pid, &status, 0) != pid) status = -1;
    }
    sqlite3_close(lock);
    return status;
  }
  std::string Metrics() { return ReadFile(job_.file("d/m.prom")); }
  std::string Report() { return ReadFile(job_.file("d/r.json")); }

  JobDir job_;
  std::string db_;
};

// A clean run, then one whose connect fails: the second keeps the first's
// time of success, and no half-written file or temporary is ever seen.
TEST_F(OutcomeTest, CleanRunThenAFailedOneKeepsTheLastSuccess) {
  const testdb::JobOutcome ok = Run("0 " + NextYear() + " dayset.ini 0 0");
  ASSERT_EQ(ok.status, 0) << ok.err;
  Expect_Valid(job_.file("d/m.prom"), job_.file("d/r.json"));
  std::map<std::string, double> m = Samples(Metrics());
  EXPECT_EQ(m["dayset_exit_status"], 0);
  EXPECT_EQ(m["dayset_last_success_time_seconds"], m["dayset_end_time_seconds"]);
  EXPECT_GE(m["dayset_end_time_seconds"], m["dayset_start_time_seconds"]);
  const std::string tag = testdb::QueryRows(db_, "select count(*) from Hrs327Tag")[0];
  EXPECT_EQ(m["dayset_rows_added_total{table=\"Hrs327Tag\"}"], std::stod(tag));
  EXPECT_EQ(m["dayset_persons_done_total"],
            std::stod(testdb::QueryRows(db_, "select count(distinct TagPnr) from Hrs327Tag")[0]));
  EXPECT_EQ(m.count("dayset_phase_duration_seconds{phase=\"persons\"}"), 1u);
  const std::string report = Report();
  EXPECT_NE(report.find("\"result\": \"ok\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"backend\": \"sqlite\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"Hrs327Tag\": " + tag), std::string::npos) << report;
  const double success = m["dayset_last_success_time_seconds"];

  // A configuration file that is not there: the connect fails.
  const testdb::JobOutcome failed = Run("0 " + NextYear() + " missing.ini 0 0");
  ASSERT_EQ(failed.status, 1) << failed.err;
  Expect_Valid(job_.file("d/m.prom"), job_.file("d/r.json"));
  m = Samples(Metrics());
  EXPECT_EQ(m["dayset_exit_status"], 1);
  EXPECT_EQ(m["dayset_last_success_time_seconds"], success);
  EXPECT_GT(m["dayset_end_time_seconds"], success);
  EXPECT_EQ(m.count("dayset_phase_duration_seconds{phase=\"base_calendar\"}"), 0u);
  EXPECT_NE(Report().find("\"result\": \"failed\""), std::string::npos) << Report();
  EXPECT_NE(Report().find("\"rows_added\": null"), std::string::npos) << Report();

  // A bad argument is an outcome too (status 2); the password never shows.
  const testdb::JobOutcome usage = Run("0 20X7 dayset.ini 0 0");
  ASSERT_EQ(usage.status, 2);
  EXPECT_EQ(Samples(Metrics())["dayset_exit_status"], 2);
  EXPECT_EQ(Samples(Metrics())["dayset_last_success_time_seconds"], success);
  EXPECT_NE(Report().find("\"arguments\": [\"0\", \"20X7\", \"dayset.ini\", \"0\", \"0\"]"), std::string::npos);
  std::string files;
  RunCommand("ls -A '" + job_.file("d") + "'", &files);
  EXPECT_EQ(files.find(".tmp"), std::string::npos) << files;
}

// A parallel run whose vacation table is missing: every worker's failure
// lines counted by their message, as one process would count them, in the
// metrics, the report and the line on standard error.
TEST_F(OutcomeTest, ParallelRunCountsTheWorkersFailuresByKind) {
  testdb::ExecSql(db_, "drop table Hrs332Urv");
  const testdb::JobOutcome run = Run("-j 2 0 " + NextYear() + " dayset.ini 0 0");
  ASSERT_EQ(run.status, 0) << run.err;
  Expect_Valid(job_.file("d/m.prom"), job_.file("d/r.json"));
  long einpflegen = 0;
  std::istringstream log(ReadFile(job_.file("d/DAYSET.LOG")));
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("Error: Urlaubsvortrag einpflegen.", 0) == 0) ++einpflegen;
  }
  ASSERT_GT(einpflegen, 0);
  std::map<std::string, double> m = Samples(Metrics());
  EXPECT_EQ(m["dayset_failure_lines_total{kind=\"Error: Urlaubsvortrag einpflegen.\"}"], einpflegen) << Metrics();
  EXPECT_EQ(m.count("dayset_rows_added_total{table=\"Hrs332Urv\"}"), 0u) << "a table that cannot be counted";
  const std::string report = Report();
  EXPECT_NE(report.find("{\"part\": 2, "), std::string::npos) << report;
  EXPECT_EQ(report.find("\"finished\": false"), std::string::npos) << report;
  EXPECT_NE(report.find("\"Hrs332Urv\": null"), std::string::npos) << report;
  // The scheduler's mail names the kinds, also of a parallel run.
  EXPECT_NE(run.err.find("Error: Urlaubsvortrag einpflegen. (" + std::to_string(einpflegen) + ")"),
            std::string::npos)
      << run.err;
}

// SIGTERM while the job waits for a lock inside a phase: the files say
// stopped, by which signal, and which phase had begun.
TEST_F(OutcomeTest, RunStoppedBySigtermSaysSo) {
  const int status = Signalled("BEGIN IMMEDIATE", "Aktuelles Schema", SIGTERM);  // waits for the first write
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  Expect_Valid(job_.file("d/m.prom"), job_.file("d/r.json"));
  std::map<std::string, double> m = Samples(Metrics());
  EXPECT_EQ(m["dayset_exit_status"], 128 + SIGTERM);
  EXPECT_EQ(m["dayset_last_success_time_seconds"], 0);
  EXPECT_EQ(m.count("dayset_phase_duration_seconds{phase=\"base_calendar\"}"), 1u) << Metrics();
  EXPECT_EQ(m.count("dayset_phase_duration_seconds{phase=\"persons\"}"), 0u) << Metrics();
  EXPECT_NE(Report().find("\"result\": \"stopped\",\n  \"signal\": 15,"), std::string::npos) << Report();
}

// Before the session stands a signal ends the job at once, from the
// handler: the files still say so, with the time it came, and keep the last
// success.
TEST_F(OutcomeTest, SignalWhileConnectingEndsAtOnceWithBothFiles) {
  ASSERT_EQ(Run("0 " + NextYear() + " dayset.ini 0 0").status, 0);
  const double success = Samples(Metrics())["dayset_last_success_time_seconds"];
  ASSERT_GT(success, 0);
  testdb::ExecSql(db_, "pragma journal_mode=delete");
  const double sent = static_cast<double>(std::time(nullptr));
  const int status = Signalled("BEGIN EXCLUSIVE", "Datum: ", SIGINT);  // the connect waits
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_NE(ReadFile(job_.file("d/DAYSET.LOG")).find("nichts getan! Phase: Anmeldung!"), std::string::npos);
  Expect_Valid(job_.file("d/m.prom"), job_.file("d/r.json"));
  std::map<std::string, double> m = Samples(Metrics());
  EXPECT_EQ(m["dayset_exit_status"], 128 + SIGINT);
  EXPECT_EQ(m["dayset_last_success_time_seconds"], success);
  EXPECT_GE(m["dayset_end_time_seconds"], sent - 1);
  EXPECT_NEAR(m["dayset_duration_seconds"], m["dayset_end_time_seconds"] - m["dayset_start_time_seconds"], 0.002);
  const std::string report = Report();
  EXPECT_NE(report.find("\"result\": \"stopped\",\n  \"signal\": 2,"), std::string::npos) << report;
  // The end in UTC as the handler spells it: the day the signal came.
  const std::time_t t = static_cast<std::time_t>(sent);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%dT", &utc);
  EXPECT_NE(report.find(std::string("\"end\": \"") + day), std::string::npos) << report;
  std::string files;
  RunCommand("ls -A '" + job_.file("d") + "'", &files);
  EXPECT_EQ(files.find(".tmp"), std::string::npos) << files;
}

// The files are replaced whole: a link at the name is replaced, never
// followed; a file that cannot be written costs the run its success.
TEST_F(OutcomeTest, FilesAreReplacedNeverFollowed) {
  testdb::WriteFile(job_.file("victim"), "keep");
  ASSERT_EQ(symlink(job_.file("victim").c_str(), job_.file("d/m.prom").c_str()), 0);
  const testdb::JobOutcome run = Run("0 " + NextYear() + " dayset.ini 0 0");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(job_.file("victim")), "keep");
  EXPECT_EQ(Samples(Metrics())["dayset_exit_status"], 0);

  const testdb::JobOutcome lost =
      job_.Run("--metrics=no/such/dir/m.prom 0 " + NextYear() + " dayset.ini 0 0", "cd d &&");
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("dayset: Metriken no/such/dir/m.prom nicht geschrieben: "), std::string::npos)
      << lost.err;
}

}  // namespace

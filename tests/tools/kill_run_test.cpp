// The job interrupted for real while it works on the persons, then run
// again: killed (every backend), or its database server stopped under it
// (PostgreSQL). The tables end exactly as an uninterrupted run leaves them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/ini.h"
#include "../support/forkrun.h"
#include "../support/relay.h"
#include "../support/testdb.h"

namespace {

using testdb::Backend;
using testdb::Database;
using Rows = std::vector<std::string>;

std::string NextYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + 1);
}

// Starts the job in `dir` for end year `year`, with `option` (one
// argument) when given; returns its process id.
pid_t Start(const std::string& dir, const std::string& year, const std::string& option = "") {
  const std::string job = testdb::BinaryPath("dayset");
  return forkrun::Start(dir, [&] {
    if (option.empty()) {
      execl(job.c_str(), "dayset", "0", year.c_str(), "dayset.ini", "0", "0", static_cast<char*>(nullptr));
    } else {
      execl(job.c_str(), "dayset", option.c_str(), "0", year.c_str(), "dayset.ini", "0", "0",
            static_cast<char*>(nullptr));
    }
  });
}

// Waits for the job, at most `limit`; kills it when it takes longer.
int Wait(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(600)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the job did not end in time";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

// Persons committed so far.
long Committed(Database& db) {
  Rows rows = db.Rows("HRSYSTEM", "select count(distinct UrvPnr) from Hrs332Urv");
  return rows.empty() ? 0 : std::stol(rows[0]);
}

// Waits until `n` persons are committed (or a minute has passed).
void Wait_Committed(Database& db, long n) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Committed(db) < n && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A demo installation and its database.
struct Install {
  Install(std::unique_ptr<Database> database, std::string directory)
      : db(std::move(database)), dir(std::move(directory)) {}
  std::unique_ptr<Database> db;
  std::string dir;
};

// The server is slower per person: fewer of them there.
struct Size {
  int persons;
  long kill_after;
};
Size Size_Of(Backend b) { return b == Backend::kSqlite ? Size{400, 40} : Size{120, 12}; }

class KillRunTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::string why = testdb::Unavailable(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
  }
  Install Make(const std::string& name) {
    Install in(Database::Make(GetParam(), scratch_.file(name), false), scratch_.file(name));
    std::string err;
    EXPECT_EQ(testdb::DemoMake(*in.db, in.dir,
                               "--persons " + std::to_string(Size_Of(GetParam()).persons) + " --seed 11", &err),
              0)
        << err;
    return in;
  }

  // Interrupts a run with `sig` once some persons are committed (the process
  // is then in the middle of some person's days, or between a commit and the
  // next person), then reruns it: the tables end as an uninterrupted run's.
  // Returns the interrupted run's DAYSET.LOG.
  std::string Interrupt_And_Rerun(int sig) {
    const std::string year = NextYear();
    const Size size = Size_Of(GetParam());
    Install whole = Make("whole"), killed = Make("killed");
    if (HasFailure()) return "";

    int status = Wait(Start(whole.dir, year));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    pid_t pid = Start(killed.dir, year);
    Wait_Committed(*killed.db, size.kill_after);
    kill(pid, sig);
    status = Wait(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "the job ended before the signal: " << status;
    EXPECT_LT(Committed(*killed.db), Committed(*whole.db));
    const std::string log = testdb::ReadFile(killed.dir + "/DAYSET.LOG");

    status = Wait(Start(killed.dir, year));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(testdb::Dump(*killed.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
    return log;
  }
  testdb::TempDir scratch_;
};

TEST_P(KillRunTest, KilledRunCompletedByARerunEqualsAnUninterruptedRun) { Interrupt_And_Rerun(SIGKILL); }

// SIGTERM: the person in hand is rolled back, the last line names the
// signal, and the job ends by it.
TEST_P(KillRunTest, StoppedRunSaysSoAndARerunCompletesIt) {
  const std::string log = Interrupt_And_Rerun(SIGTERM);
  EXPECT_TRUE(std::regex_search(
      log, std::regex("\nError: Lauf durch SIGTERM abgebrochen, nicht Abgeschlossenes zurueckgesetzt! "
                      "Phase: Personen!( Person: [0-9]{8}!)?\n$")))
      << log.substr(log.size() > 300 ? log.size() - 300 : 0);
}

// A second run started while the first works refuses at once and touches
// nothing; the first ends as if alone.
TEST_P(KillRunTest, SecondRunRefusesWhileTheFirstWorks) {
  const std::string year = NextYear();
  Install whole = Make("whole"), busy = Make("busy");
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(Wait(Start(whole.dir, year)), 0);
  const pid_t first = Start(busy.dir, year);
  Wait_Committed(*busy.db, 2);
  const std::string cmd = "cd '" + busy.dir + "' && '" + testdb::BinaryPath("dayset") + "' 0 " + year +
                          " dayset.ini 0 0 2>second.txt; exit $?";
  EXPECT_EQ(testdb::RunCommand(cmd), 1);
  const int status = Wait(first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(testdb::ReadFile(busy.dir + "/second.txt"),
            "dayset: DAYSET.LOG wird von einem anderen Lauf geschrieben (Prozess " + std::to_string(first) +
                "), nichts getan\n");
  EXPECT_EQ(testdb::ReadFile(busy.dir + "/DAYSET.LOG"), testdb::ReadFile(whole.dir + "/DAYSET.LOG"));
  EXPECT_EQ(testdb::Dump(*busy.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
}

INSTANTIATE_TEST_SUITE_P(, KillRunTest, testdb::EveryBackend(), testdb::BackendName);

// A cluster of this test's own (tools/pg-cluster.sh), so that stopping it
// disturbs no other test; stopped and removed at destruction.
class Cluster {
 public:
  explicit Cluster(const std::string& dir) : dir_(dir) {
    started_ = Script("start") == 0;
    if (started_ && !testdb::PgServer::FromClusterDir(dir_, &server_)) ADD_FAILURE() << "no " << dir_ << "/env";
  }
  ~Cluster() { Script("stop"); }
  Cluster(const Cluster&) = delete;
  Cluster& operator=(const Cluster&) = delete;
  bool started() const { return started_; }
  const testdb::PgServer& server() const { return server_; }
  // pg-cluster.sh start | halt | stop DIR; its exit status.
  int Script(const char* verb) {
    return testdb::RunCommand("'" + testdb::SourcePath("tools/pg-cluster.sh") + "' " + verb + " '" + dir_ +
                              "' >/dev/null");
  }

 private:
  std::string dir_;
  bool started_ = false;
  testdb::PgServer server_;
};

// The rows of the persons before `pnr`, or from it on.
// The rows of the persons before `pnr` ("<"), of pnr and after (">="), or
// of pnr alone ("=").
Rows Person_Rows(Database& db, const std::string& pnr, const char* op) {
  const std::string cmp = std::string(" ") + op + " '" + pnr + "'";
  Rows rows;
  for (const char* q : {"select TagPnr, date(TagTag) from Hrs327Tag where TagPnr",
                        "select ZtgPnr, date(ZtgVon), ZtgAgr, ZtgTag, ZtgAzt from Hrs329Ztg where ZtgPnr",
                        "select UrvPnr, UrvJhr from Hrs332Urv where UrvPnr"}) {
    Rows part = db.Rows("HRSYSTEM", q + cmp + " order by 1, 2");
    rows.insert(rows.end(), part.begin(), part.end());
  }
  return rows;
}

// ODBCINI of the test and of the jobs it starts, for its lifetime ("":
// unchanged).
class Odbcini {
 public:
  explicit Odbcini(const std::string& path) {
    if (path.empty()) return;
    const char* v = std::getenv("ODBCINI");
    had_ = v != nullptr;
    if (had_) saved_ = v;
    setenv("ODBCINI", path.c_str(), 1);
    set_ = true;
  }
  ~Odbcini() {
    if (!set_) return;
    if (had_) {
      setenv("ODBCINI", saved_.c_str(), 1);
    } else {
      unsetenv("ODBCINI");
    }
  }
  Odbcini(const Odbcini&) = delete;
  Odbcini& operator=(const Odbcini&) = delete;

 private:
  bool set_ = false, had_ = false;
  std::string saved_;
};

class ServerStopTest : public KillRunTest {};

// The server stopped at once (as a crash) in the middle of the person phase:
// the job stops with status 1 and one line naming the lost server; the
// persons committed before stay whole and nothing of the later ones is kept;
// after a restart a rerun ends with the tables of an uninterrupted run.
TEST_P(ServerStopTest, StoppedServerEndsTheRunAndARerunCompletesIt) {
  // The postgres user makes the cluster: it must reach the directory.
  ASSERT_EQ(chmod(scratch_.path().c_str(), 0755), 0);
  Cluster cluster(scratch_.file("pg"));
  ASSERT_TRUE(cluster.started());
  const std::string year = NextYear();
  const Size size = Size_Of(Backend::kPostgres);
  // Through ODBC the job's data sources are those of this cluster.
  const Odbcini odbcini(GetParam() == Backend::kOdbc ? cluster.server().odbcini : "");
  auto make = [&](const std::string& name) {
    Install in(GetParam() == Backend::kOdbc ? Database::Odbc(cluster.server(), false)
                                            : Database::Postgres(cluster.server(), false),
               scratch_.file(name));
    std::string err;
    EXPECT_EQ(testdb::DemoMake(*in.db, in.dir, "--persons " + std::to_string(size.persons) + " --seed 11", &err), 0)
        << err;
    return in;
  };
  Install whole = make("whole"), stopped = make("stopped");
  ASSERT_FALSE(HasFailure());
  int status = Wait(Start(whole.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  pid_t pid = Start(stopped.dir, year);
  Wait_Committed(*stopped.db, size.kill_after);
  ASSERT_EQ(cluster.Script("halt"), 0);
  status = Wait(pid, std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
  const std::string log = testdb::ReadFile(stopped.dir + "/DAYSET.LOG");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(log, m,
                               std::regex("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \nError: Lauf "
                                          "abgebrochen, Datenbank nicht nutzbar: ([^!]*)! RC:-[0-9]+ "
                                          "Phase: Personen! Person: ([0-9]{8})!\n")))
      << log;
  EXPECT_TRUE(m[1] == "Verbindung zum Datenbankserver verloren" || m[1] == "Datenbankserver wird heruntergefahren")
      << m[1];
  const std::string pnr = m[2];

  ASSERT_EQ(cluster.Script("start"), 0);
  whole.db->Reconnect();
  stopped.db->Reconnect();
  EXPECT_EQ(Person_Rows(*stopped.db, pnr, "<"), Person_Rows(*whole.db, pnr, "<"));
  // The person named is the one whose commit had no answer. The server may
  // have made it just before it went: that person is then kept whole.
  // Nothing of a later person is ever kept.
  const Rows after = Person_Rows(*stopped.db, pnr, ">=");
  if (!after.empty()) {
    EXPECT_EQ(after, Person_Rows(*whole.db, pnr, "=")) << "a commit without its answer";
  }
  EXPECT_GE(Committed(*stopped.db), size.kill_after);

  status = Wait(Start(stopped.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testdb::Dump(*stopped.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
}

INSTANTIATE_TEST_SUITE_P(, ServerStopTest, testdb::OnlyServer(), testdb::BackendName);

class ServerRefusesTest : public KillRunTest {
 protected:
  // The one line a broken-down run leaves after the date and schema lines:
  // its condition and phase.
  static std::vector<std::string> Stop_Line(const std::string& log) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(log, m,
                                 std::regex("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \nError: Lauf "
                                            "abgebrochen, Datenbank nicht nutzbar: ([^!]*)! RC:(-[0-9]+) "
                                            "Phase: ([A-Za-z]+)!( Person: [0-9]{8}!)?\n")))
        << log;
    return std::vector<std::string>(m.begin(), m.end());
  }
};

// The job's session ended by an administrator from a second connection in
// the middle of the person phase: status 1, one line, and a rerun completes.
TEST_P(ServerRefusesTest, TerminatedSessionEndsTheRunAndARerunCompletesIt) {
  const std::string year = NextYear();
  Install whole = Make("whole"), cut = Make("cut");
  ASSERT_FALSE(HasFailure());
  int status = Wait(Start(whole.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const pid_t pid = Start(cut.dir, year);
  Wait_Committed(*cut.db, Size_Of(GetParam()).kill_after);
  cut.db->Rows("HRSYSTEM",
               "select pg_terminate_backend(pid) from pg_stat_activity where datname = current_database() and "
               "usename = '" + cut.db->Login() + "'");
  status = Wait(pid, std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
  const std::vector<std::string> m = Stop_Line(testdb::ReadFile(cut.dir + "/DAYSET.LOG"));
  if (m.size() > 3) {
    EXPECT_TRUE(m[1] == "Datenbankserver wird heruntergefahren" || m[1] == "Verbindung zum Datenbankserver verloren")
        << m[1];
    EXPECT_EQ(m[3], "Personen");
  }
  EXPECT_LT(Committed(*cut.db), Committed(*whole.db));

  status = Wait(Start(cut.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testdb::Dump(*cut.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
}

// A database that takes no writes (as a standby): the first write stops the
// run in the base calendar phase with one line; once writable again, a rerun
// gives the tables of an uninterrupted run.
TEST_P(ServerRefusesTest, ReadOnlyServerEndsTheRunAtTheFirstWrite) {
  const std::string year = NextYear();
  Install whole = Make("whole"), ro = Make("ro");
  ASSERT_FALSE(HasFailure());
  int status = Wait(Start(whole.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto before = testdb::Dump(*ro.db, "HRSYSTEM", true);

  ro.db->Exec("HRSYSTEM", "alter database " + ro.db->Name() + " set default_transaction_read_only = on");
  status = Wait(Start(ro.dir, year), std::chrono::seconds(60));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
  const std::vector<std::string> m = Stop_Line(testdb::ReadFile(ro.dir + "/DAYSET.LOG"));
  if (m.size() > 3) {
    EXPECT_EQ(m[1], "Datenbankserver nur lesbar");
    EXPECT_EQ(m[2], "-16000");
    EXPECT_EQ(m[3], "Basiskalender");
  }
  EXPECT_EQ(testdb::Dump(*ro.db, "HRSYSTEM", true), before);

  ro.db->Exec("HRSYSTEM", "alter database " + ro.db->Name() + " reset default_transaction_read_only");
  status = Wait(Start(ro.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testdb::Dump(*ro.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
}

// The network freezes in the middle of the person phase (a relay that stops
// forwarding, acknowledging everything): the run gives up after its reply
// timeout with status 1 and one line naming the condition, and once the
// frozen connection is gone a rerun completes.
TEST_P(ServerRefusesTest, FrozenNetworkEndsTheRunAfterTheReplyTimeout) {
  const std::string year = NextYear();
  Install whole = Make("whole"), frozen = Make("frozen");
  ASSERT_FALSE(HasFailure());
  int status = Wait(Start(whole.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  testdb::PgServer server;
  std::string why;
  ASSERT_TRUE(testdb::PgServer::FromEnv(&server, &why)) << why;
  const std::string ini = frozen.dir + "/dayset.ini";
  const std::string net = frozen.db->Net();
  {
    testdb::Relay relay(std::stoi(server.port));
    std::string via = net;
    std::string relay_ini;
    if (GetParam() == Backend::kOdbc) {
      // A data source of the relay, in an odbc.ini of the run's.
      via = "odbc:via_relay_" + std::to_string(relay.port());
      relay_ini = frozen.dir + "/odbc.ini";
      const std::string clusters = testdb::ReadFile(server.odbcini);
      const size_t at = clusters.find("Driver = ");
      ASSERT_NE(at, std::string::npos);
      testdb::WriteFile(relay_ini, "[" + via.substr(5) + "]\n" + clusters.substr(at, clusters.find('\n', at) - at) +
                                       "\nServername = 127.0.0.1\nPort = " + std::to_string(relay.port()) +
                                       "\nDatabase = " + frozen.db->Name() + "\n");
    } else {
      via.replace(via.find(":" + server.port), server.port.size() + 1, ":" + std::to_string(relay.port()));
    }
    const Odbcini odbcini(relay_ini);
    ASSERT_EQ(Ini_Record_Put(ini.c_str(), "DB", Ini_Number_Free(ini.c_str(), "NET8"), "NET8", via.c_str()), 0);
    const pid_t pid = Start(frozen.dir, year, "--reply-timeout=2");
    Wait_Committed(*frozen.db, Size_Of(GetParam()).kill_after);
    relay.Freeze();
    const auto t0 = std::chrono::steady_clock::now();
    status = Wait(pid, std::chrono::seconds(60));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
    const std::vector<std::string> m = Stop_Line(testdb::ReadFile(frozen.dir + "/DAYSET.LOG"));
    if (m.size() > 3) {
      EXPECT_EQ(m[1], "Datenbankserver antwortet nicht (Zeitlimit ueberschritten)");
      EXPECT_EQ(m[2], "-12609");
      EXPECT_EQ(m[3], "Personen");
    }
  }
  // The relay closed the frozen connection: its transaction ends on the server.
  for (int i = 0; i < 500; ++i) {
    const Rows left = frozen.db->Rows("HRSYSTEM", "select count(*) from pg_stat_activity where datname = "
                                                  "current_database() and usename = '" + frozen.db->Login() + "'");
    if (left == Rows{"0"}) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(Ini_Record_Put(ini.c_str(), "DB", Ini_Number_Free(ini.c_str(), "NET8"), "NET8", net.c_str()), 0);
  status = Wait(Start(frozen.dir, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testdb::Dump(*frozen.db, "HRSYSTEM", false), testdb::Dump(*whole.db, "HRSYSTEM", false));
}

INSTANTIATE_TEST_SUITE_P(, ServerRefusesTest, testdb::OnlyServer(), testdb::BackendName);

}  // namespace

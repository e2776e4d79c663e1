// A signal while the job waits: before it has its session it ends at once
// with one line (nothing was done); inside a phase a lock wait is given up
// at once and the work in hand rolled back. The real program, held by a
// lock that this test takes on the embedded database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "forkrun.h"
#include "jobdir.h"
#include "testdb.h"

namespace {

using Clock = std::chrono::steady_clock;
using testdb::JobDir;
using testdb::ReadFile;

std::string NextYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + 1);
}

// A connection of the test's own that holds a lock on a schema file.
class HeldLock {
 public:
  // `begin` is BEGIN EXCLUSIVE (no reader gets in while the file is in
  // rollback-journal mode) or BEGIN IMMEDIATE (writers wait, readers go on).
  HeldLock(const std::string& dbfile, const char* begin) {
    EXPECT_EQ(sqlite3_open(dbfile.c_str(), &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db_, begin, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
  }
  ~HeldLock() { sqlite3_close(db_); }  // rolls back

 private:
  sqlite3* db_ = nullptr;
};

// The real program in `dir` with `args`, started in the background.
pid_t Start(const std::string& dir, std::vector<std::string> args) {
  const std::string program = testdb::BinaryPath("dayset");
  return forkrun::Start(dir, [&] {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("dayset"));
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
  });
}

// Waits until `file` is there and holds `text`, for at most 20 seconds.
bool Wait_For(const std::string& file, const std::string& text) {
  const auto until = Clock::now() + std::chrono::seconds(20);
  while (access(file.c_str(), F_OK) != 0 || ReadFile(file).find(text) == std::string::npos) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Signals the job and waits for its end, for at most `limit`; *took is the
// time from the signal to the end. Returns the wait status, or -1 when the
// job had to be killed.
int Stop(pid_t pid, int sig, std::chrono::milliseconds limit, std::chrono::milliseconds* took) {
  const auto sent = Clock::now();
  kill(pid, sig);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - sent > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  return status;
}

class StopTest : public ::testing::Test {
 protected:
  // The schema file with the base calendar's first day, and the job's
  // configuration for it.
  void SetUp() override {
    testdb::CreateSchemaFile(job_.path());
    db_ = job_.file("HRSYSTEM.db");
    testdb::ExecSql(db_,
                    "insert into Hrs133Bak values (julianday('2026-12-31'), 2026, 12, 31, 53, 5, 365, 2026, "
                    "julianday('2026-12-31'))");
    ini_ = job_.Config("dayset", "secret", "sqlite:.", "hrsystemx");
  }

  JobDir job_;
  std::string db_;
  std::string ini_;
};

// The connect waits for a file that another program holds exclusively (in
// rollback-journal mode not even a reader gets in, for up to the 10 s of
// the lock wait). Each stop signal ends the job at once, by that signal,
// with one line in the log and on standard error; the database is as it was.
TEST_F(StopTest, SignalWhileTheConnectWaitsEndsTheJobAtOnce) {
  testdb::ExecSql(db_, "pragma journal_mode=delete");
  const struct {
    int sig;
    const char* name;
  } cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
  for (const auto& c : cases) {
    unlink(job_.file("DAYSET.LOG").c_str());
    HeldLock lock(db_, "BEGIN EXCLUSIVE");
    const pid_t pid = Start(job_.path(), {"0", NextYear(), ini_, "0", "0"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(Wait_For(job_.file("DAYSET.LOG"), "Datum: ")) << c.name;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the connect's wait
    std::chrono::milliseconds took{};
    const int status = Stop(pid, c.sig, std::chrono::seconds(5), &took);
    ASSERT_NE(status, -1) << c.name << ": still running 5 s after the signal";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.name << ": status " << status;
    EXPECT_LT(took.count(), 1000) << c.name;
    const std::string line = std::string("Error: Lauf durch ") + c.name + " abgebrochen, nichts getan! Phase: Anmeldung!\n";
    const std::string log = ReadFile(job_.file("DAYSET.LOG"));
    EXPECT_EQ(log.substr(log.find('\n') + 1), line) << c.name;
    EXPECT_EQ(ReadFile(job_.file("stderr.txt")), "dayset: " + line) << c.name;
  }
  EXPECT_EQ(testdb::QueryRows(db_, "select count(*) from Hrs133Bak"), std::vector<std::string>{"1"});
}

// A worker of a parallel run, started as the job starts it, waits in its
// own connect: it ends the same way, its line in its part of the log.
TEST_F(StopTest, WorkerWaitingInItsConnectEndsAtOnce) {
  testdb::ExecSql(db_, "pragma journal_mode=delete");
  HeldLock lock(db_, "BEGIN EXCLUSIVE");
  const pid_t pid = Start(job_.path(), {"--worker", "1", "20261209", "0", "60,180", "0", NextYear(), ini_, "0", "zzzzzzzz"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Wait_For(job_.file("DAYSET.LOG.1"), ""));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the connect's wait
  std::chrono::milliseconds took{};
  const int status = Stop(pid, SIGTERM, std::chrono::seconds(5), &took);
  ASSERT_NE(status, -1) << "still running 5 s after the signal";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_LT(took.count(), 1000);
  const std::string line = "Error: Lauf durch SIGTERM abgebrochen, nichts getan! Phase: Anmeldung!\n";
  EXPECT_EQ(ReadFile(job_.file("DAYSET.LOG.1")), line);
  EXPECT_EQ(ReadFile(job_.file("stderr.txt")), "dayset: " + line);
}

// Inside the base-calendar phase the job waits for the write lock that this
// test holds. SIGTERM gives the wait up at once instead of after its 10 s:
// the stop line of the phase, the job ended by the signal, nothing written.
TEST_F(StopTest, StopDuringALockWaitInAPhaseEndsAtOnce) {
  HeldLock lock(db_, "BEGIN IMMEDIATE");
  const pid_t pid = Start(job_.path(), {"0", NextYear(), ini_, "0", "0"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Wait_For(job_.file("DAYSET.LOG"), "Aktuelles Schema: HRSYSTEM \n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // into the wait for the first write
  std::chrono::milliseconds took{};
  const int status = Stop(pid, SIGTERM, std::chrono::seconds(20), &took);
  ASSERT_NE(status, -1) << "still running 20 s after the signal";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_LT(took.count(), 2000);
  const std::string log = ReadFile(job_.file("DAYSET.LOG"));
  const std::string line =
      "Error: Lauf durch SIGTERM abgebrochen, nicht Abgeschlossenes zurueckgesetzt! Phase: Basiskalender!\n";
  EXPECT_EQ(log.substr(log.find("Aktuelles Schema: HRSYSTEM \n") + 28), line) << log;
  EXPECT_EQ(ReadFile(job_.file("stderr.txt")), "dayset: " + line);
  EXPECT_EQ(testdb::QueryRows(db_, "select count(*) from Hrs133Bak"), std::vector<std::string>{"1"});
}

}  // namespace

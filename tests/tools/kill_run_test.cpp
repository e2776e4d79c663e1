// The job killed for real while it works on the persons, then run again: the
// tables end exactly as an uninterrupted run leaves them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../support/testdb.h"

namespace {

using testdb::QueryRows;

// Starts the job in `dir` for end year `year`; returns its process id.
pid_t Start(const std::string& dir, const std::string& year) {
  const std::string job = testdb::BinaryPath("dayset");
  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("NLS_TERRITORY");
    unsetenv("NLS_LANG");
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
    execl(job.c_str(), "dayset", "0", year.c_str(), "dayset.ini", "0", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

long Committed(const std::string& db) {
  std::vector<std::string> rows = QueryRows(db, "select count(distinct UrvPnr) from Hrs332Urv");
  return rows.empty() ? 0 : std::stol(rows[0]);
}

TEST(KillRunTest, KilledRunCompletedByARerunEqualsAnUninterruptedRun) {
  testdb::TempDir scratch;
  const std::string whole = scratch.file("whole"), killed = scratch.file("killed");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900 + 1);
  for (const std::string& dir : {whole, killed}) {
    std::string cmd = "env -u NLS_TERRITORY -u NLS_LANG '" + testdb::BinaryPath("dayset-demo") +
                      "' --persons 400 --seed 11 '" + dir + "' >/dev/null";
    ASSERT_EQ(testdb::RunCommand(cmd), 0) << cmd;
  }

  int status = Wait(Start(whole, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Kill once a few dozen persons are committed: the process is then in the
  // middle of some person's days, or between a commit and the next person.
  pid_t pid = Start(killed, year);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Committed(killed + "/HRSYSTEM.db") < 40 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  status = Wait(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the job ended before it could be killed";
  long after_kill = Committed(killed + "/HRSYSTEM.db");
  EXPECT_LT(after_kill, Committed(whole + "/HRSYSTEM.db"));

  status = Wait(Start(killed, year));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testdb::JobTables(killed + "/HRSYSTEM.db"), testdb::JobTables(whole + "/HRSYSTEM.db"));
}

}  // namespace

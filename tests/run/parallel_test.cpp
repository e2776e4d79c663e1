// A parallel run (-j N) against the same run with one worker: the same
// tables, the same DAYSET.LOG byte for byte; and a worker that dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/testdb.h"

namespace {

using testdb::Backend;
using testdb::Database;

std::string NextYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + 1);
}

struct Outcome {
  int status;
  std::string log;
};

class ParallelTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::string why = testdb::Unavailable(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
  }

  // A demo installation in which some days have no plan, so that the log
  // holds row failures of many persons.
  std::unique_ptr<Database> Make(const std::string& name) {
    auto db = Database::Make(GetParam(), scratch_.file(name), false);
    std::string err;
    const int persons = GetParam() == Backend::kSqlite ? 120 : 24;
    EXPECT_EQ(testdb::DemoMake(*db, scratch_.file(name), "--persons " + std::to_string(persons) + " --seed 5",
                               &err),
              0)
        << err;
    db->Exec("HRSYSTEM", "delete from Hrs161Wpl where WplTag = 3");
    return db;
  }

  Outcome Run(const std::string& name, const std::string& args) {
    Outcome o;
    const std::string cmd = "cd '" + scratch_.file(name) + "' && NLS_TERRITORY= NLS_LANG= '" +
                            testdb::BinaryPath("dayset") + "' " + args + " >/dev/null 2>&1";
    o.status = testdb::RunCommand(cmd);
    o.log = testdb::ReadFile(scratch_.file(name) + "/DAYSET.LOG");
    return o;
  }

  testdb::TempDir scratch_;
};

TEST_P(ParallelTest, WorkersGiveTheTablesAndTheLogOfOneWorker) {
  const std::string year = NextYear();
  struct Case {
    const char* jobs;
    const char* range;
  } const cases[] = {
      {"-j 2", "0 0"}, {"-j4", "0 0"},
      {"--jobs=4", "00000003 00000004"},  // fewer persons than workers
      {"-j 3", "X Y"},                    // nobody
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.jobs) + " " + c.range);
    auto one = Make("one");
    auto many = Make("many");
    const Outcome ref = Run("one", "0 " + year + " dayset.ini " + c.range);
    const Outcome par = Run("many", std::string(c.jobs) + " 0 " + year + " dayset.ini " + c.range);
    EXPECT_EQ(ref.status, 0);
    EXPECT_EQ(par.status, 0);
    EXPECT_EQ(par.log, ref.log);
    EXPECT_EQ(testdb::Dump(*many, "HRSYSTEM", false), testdb::Dump(*one, "HRSYSTEM", false));
    // No part of a log is left behind.
    EXPECT_EQ(testdb::RunCommand("ls '" + scratch_.file("many") + "' | grep -q 'DAYSET.LOG.'"), 1);
    one.reset();
    many.reset();
    testdb::RunCommand("rm -rf '" + scratch_.file("one") + "' '" + scratch_.file("many") + "'");
  }
}

// A worker killed part-way fails the run with status 1 and a line naming its
// range; a rerun completes it to the tables of an uninterrupted run.
TEST_P(ParallelTest, KilledWorkerIsNamedAndARerunCompletesIt) {
  const std::string year = NextYear();
  auto one = Make("one");
  auto many = Make("many");
  ASSERT_EQ(Run("one", "0 " + year + " dayset.ini 0 0").status, 0);

  const std::string job = testdb::BinaryPath("dayset");
  const std::string dir = scratch_.file("many");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    unsetenv("NLS_TERRITORY");
    unsetenv("NLS_LANG");
    if (freopen("/dev/null", "w", stdout) == nullptr || freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
    execl(job.c_str(), "dayset", "-j", "2", "0", year.c_str(), "dayset.ini", "0", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The second worker, once it has begun to write its log.
  std::string victim;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (victim.empty() && std::chrono::steady_clock::now() < deadline) {
    std::string out;
    testdb::RunCommand("pgrep -P " + std::to_string(pid) + " -f -- '--worker 2 ' || true", &out);
    if (!out.empty() && testdb::RunCommand("test -s '" + dir + "/DAYSET.LOG.2'") == 0) {
      victim = out.substr(0, out.find('\n'));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(victim.empty()) << "the second worker was not seen at work";
  kill(static_cast<pid_t>(std::stol(victim)), SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string log = testdb::ReadFile(dir + "/DAYSET.LOG");
  EXPECT_NE(log.find("nicht abgeschlossen (Teil 2, Status 137)!"), std::string::npos) << log;

  EXPECT_EQ(Run("many", "-j 2 0 " + year + " dayset.ini 0 0").status, 0);
  EXPECT_EQ(testdb::Dump(*many, "HRSYSTEM", false), testdb::Dump(*one, "HRSYSTEM", false));
}

// On a terminal the progress line counts the workers' persons and days as
// they go, and ends with those of the whole run, as with one worker.
TEST_P(ParallelTest, ProgressLineCountsTheWorkers) {
  if (testdb::RunCommand("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  auto one = Make("one");
  auto two = Make("two");
  const auto last_line = [&](const std::string& name, const std::string& jobs) {
    std::string out;
    testdb::RunCommand("cd '" + scratch_.file(name) + "' && NLS_TERRITORY= NLS_LANG= script -qfec \"'" +
                           testdb::BinaryPath("dayset") + "' " + jobs + " 0 " + NextYear() +
                           " dayset.ini 0 0\" /dev/null",
                       &out);
    const size_t end = out.rfind(" Tage");
    const size_t begin = out.rfind("Personen, ", end);
    return begin == std::string::npos || end == std::string::npos ? out : out.substr(begin, end - begin);
  };
  const std::string serial = last_line("one", "-j 1");
  EXPECT_NE(serial.find("Personen, 0 Personen"), 0u) << serial;
  EXPECT_EQ(last_line("two", "-j 2"), serial);
}

INSTANTIATE_TEST_SUITE_P(, ParallelTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace

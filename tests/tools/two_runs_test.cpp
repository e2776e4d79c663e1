// Two runs of the job started at the same moment on one installation, as
// when a scheduled run meets a manual one with an overlapping person range:
// the tables end as one run leaves them, nothing lost or doubled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../support/forkrun.h"
#include "../support/testdb.h"

namespace {

// Starts the job in `dir` for `args` once the pipe `go` is closed; returns
// its pid.
pid_t Start(const std::string& dir, const std::vector<std::string>& args, const int (&go)[2]) {
  const std::string job = testdb::BinaryPath("dayset");
  return forkrun::Start(dir, [&] {
    close(go[1]);
    char c;
    if (read(go[0], &c, 1) != 0) _exit(126);
    close(go[0]);
    std::vector<char*> argv;
    std::vector<std::string> all = {"dayset"};
    all.insert(all.end(), args.begin(), args.end());
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(job.c_str(), argv.data());
  });
}

TEST(TwoRunsTest, OverlappingRunsLeaveTheTablesOfOneRun) {
  testdb::TempDir scratch;
  const std::string one = scratch.file("one"), both = scratch.file("both");
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900 + 1);
  for (const std::string& dir : {one, both}) {
    const std::string cmd = "env -u NLS_TERRITORY -u NLS_LANG '" + testdb::BinaryPath("dayset-demo") +
                            "' --persons 120 --seed 5 '" + dir + "' >/dev/null";
    ASSERT_EQ(testdb::RunCommand(cmd), 0) << cmd;
  }
  ASSERT_EQ(testdb::RunCommand("cd '" + one + "' && env -u NLS_TERRITORY -u NLS_LANG '" +
                               testdb::BinaryPath("dayset") + "' 0 " + year + " dayset.ini 0 0 2>/dev/null"),
            0);

  // The second installation's two runs write their logs in directories of
  // their own; both reach the same database.
  std::vector<std::string> runs = {scratch.file("scheduled"), scratch.file("manual")};
  for (const std::string& run : runs) {
    ASSERT_EQ(testdb::RunCommand("mkdir '" + run + "' && cp '" + both + "/dayset.ini' '" + run + "' && '" +
                                 testdb::BinaryPath("dayset-conf") + "' set '" + run + "/dayset.ini' NET8 'sqlite:" +
                                 both + "' 2>/dev/null"),
              0);
  }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t scheduled = Start(runs[0], {"0", year, "dayset.ini", "0", "0"}, go);
  pid_t manual = Start(runs[1], {"0", year, "dayset.ini", "00000030", "00000080"}, go);
  close(go[0]);
  close(go[1]);  // both go
  EXPECT_EQ(forkrun::Wait(scheduled), 0) << testdb::ReadFile(runs[0] + "/stderr.txt");
  EXPECT_EQ(forkrun::Wait(manual), 0) << testdb::ReadFile(runs[1] + "/stderr.txt");

  EXPECT_EQ(testdb::JobTables(both + "/HRSYSTEM.db"), testdb::JobTables(one + "/HRSYSTEM.db"));
  // A run finds rows the other stored meanwhile; the day records and
  // vacation years pass in silence, the calendar days and time-group rows
  // are logged as refused duplicate keys, and nothing else is.
  const std::regex duplicate(
      "Error: Bak_NewDay_Ins RC:-1|Error:Ka[l2]-Tag einf\xfcgen\\. RC:-1|"
      "Error: Ztgsatz einf\xfcgen -1! Person: [0-9]{8}! Tag: [0-9]{8}!");
  for (const std::string& run : runs) {
    std::istringstream log(testdb::ReadFile(run + "/DAYSET.LOG"));
    std::string line;
    ASSERT_TRUE(std::getline(log, line) && line.rfind("Datum: ", 0) == 0) << run;
    ASSERT_TRUE(std::getline(log, line) && line == "Aktuelles Schema: HRSYSTEM ") << run;
    while (std::getline(log, line)) EXPECT_TRUE(std::regex_match(line, duplicate)) << run << ": " << line;
  }
}

}  // namespace

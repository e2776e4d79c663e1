// The systemd units of the nightly run as cmake --install writes them:
// systemd's own checker finds nothing to say about them, their sandbox stays
// tight, and the service's command line, read the way systemd reads it, runs
// the installed job up to the end of next year.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include "../support/testdb.h"

namespace {

using testdb::RunCommand;

const char kUnitDir[] = "/lib/systemd/system/";

// Installs the build below root (as its prefix); returns false on failure.
bool Install(const std::string& root) {
  return RunCommand("'" DAYSET_CMAKE_COMMAND "' --install '" DAYSET_BINARY_DIR "' --prefix '" + root +
                    "' >/dev/null") == 0;
}

bool HaveSystemdAnalyze() { return RunCommand("command -v systemd-analyze >/dev/null") == 0; }

// A command line of a unit file as systemd passes it on: %% and $$ become %
// and $, %i the instance name, %d the directory of its credentials. Other
// specifiers are not expected there.
std::string Unescape(const std::string& line, const std::string& instance, const std::string& credentials) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
    if (line[i] == '%' && next == '%') {
      out += '%';
      ++i;
    } else if (line[i] == '%' && next == 'i') {
      out += instance;
      ++i;
    } else if (line[i] == '%' && next == 'd') {
      out += credentials;
      ++i;
    } else if (line[i] == '%') {
      ADD_FAILURE() << "unexpected specifier in " << line;
    } else if (line[i] == '$' && next == '$') {
      out += '$';
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

TEST(UnitsTest, SystemdFindsNothingToSayAndTheSandboxHolds) {
  if (!HaveSystemdAnalyze()) GTEST_SKIP() << "systemd-analyze not installed";
  testdb::TempDir dir;
  const std::string root = dir.file("root");
  ASSERT_TRUE(Install(root));
  const std::string units = root + kUnitDir;
  // Warnings (an unknown or misspelt directive, a bad specifier) go to
  // standard error with exit status 0; the manual pages named in
  // Documentation= must be the installed ones.
  const std::string env = "MANPATH='" + root + "/share/man' ";
  std::string out;
  EXPECT_EQ(RunCommand(env + "systemd-analyze verify '" + units + "dayset@.service' '" + units +
                           "dayset@.timer' 2>&1",
                       &out),
            0);
  EXPECT_EQ(out, "");
  // Exposure 2.0 at most (1.6 as shipped): dropping one of the sandbox's
  // main settings pushes it above.
  EXPECT_EQ(RunCommand(env + "systemd-analyze security --offline=true --threshold=20 '" + units +
                           "dayset@.service' 2>&1",
                       &out),
            0)
      << out;
}

TEST(UnitsTest, ServiceCommandRunsTheInstalledJobToTheEndOfNextYear) {
  testdb::TempDir dir;
  const std::string root = dir.file("root");
  ASSERT_TRUE(Install(root));
  const std::string unit = testdb::ReadFile(root + kUnitDir + "dayset@.service");
  const size_t at = unit.find("\nExecStart=");
  ASSERT_NE(at, std::string::npos) << unit;
  const size_t begin = at + std::string("\nExecStart=").size();
  // The configuration of instance hr comes as the credential dayset.ini,
  // which systemd copies into the directory that %d names.
  EXPECT_NE(unit.find("\nLoadCredential=dayset.ini:/etc/dayset/%i.ini\n"), std::string::npos) << unit;
  const std::string demo = dir.file("demo");
  std::string command = Unescape(unit.substr(begin, unit.find('\n', begin) - begin), "hr", demo);
  // It names the installed job, and the credential.
  EXPECT_NE(command.find(" " + root + "/bin/dayset "), std::string::npos) << command;
  EXPECT_NE(command.find(" " + demo + "/dayset.ini "), std::string::npos) << command;

  // Run where the unit's working directory would be, on a demo installation
  // whose configuration stands in for the credential, with the bare
  // environment systemd gives a service and the unit's own. The metrics
  // directory is one of the test's, as node_exporter's would be.
  ASSERT_EQ(RunCommand("env -u NLS_TERRITORY -u NLS_LANG '" + root + "/bin/dayset-demo' --persons 5 '" + demo +
                       "' >/dev/null"),
            0);
  const std::string metrics = dir.file("textfile");
  ASSERT_EQ(mkdir(metrics.c_str(), 0755), 0);
  std::string out;
  ASSERT_EQ(RunCommand("cd '" + demo + "' && env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin METRICS_DIR='" + metrics + "' " + command + " 2>&1", &out), 0) << command << "\n" << out;
  EXPECT_NE(testdb::ReadFile(metrics + "/dayset-hr.prom").find("\ndayset_exit_status 0\n"), std::string::npos);
  EXPECT_NE(testdb::ReadFile(demo + "/report.json").find("\"result\": \"ok\""), std::string::npos);

  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  const std::string last = std::to_string(tm.tm_year + 1900 + 1) + "-12-31";
  EXPECT_EQ(testdb::QueryRows(demo + "/HRSYSTEM.db", "select date(max(BakDtm)) from Hrs133Bak"),
            std::vector<std::string>{last});
  EXPECT_EQ(testdb::ReadFile(demo + "/DAYSET.LOG").find("Error"), std::string::npos);
}

}  // namespace

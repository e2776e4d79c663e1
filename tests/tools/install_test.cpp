// The installation as an administrator gets it: cmake --install into a
// staging directory, the installed programs run on a demo installation,
// the manual pages rendered, and the Debian package's control and contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "../support/testdb.h"

namespace {

namespace fs = std::filesystem;
using testdb::RunCommand;

const char kEnv[] = "env -u NLS_TERRITORY -u NLS_LANG ";

// Every file under root, relative to it, sorted.
std::vector<std::string> Files(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// What an installation holds below its prefix: the four programs, the
// systemd units of the nightly run, one page per program and the
// configuration file's page, every DDL file of db/, the run report's schema.
std::vector<std::string> Expected() {
  std::vector<std::string> want = {"bin/dayset",
                                   "bin/dayset-conf",
                                   "bin/dayset-demo",
                                   "bin/dayset-view",
                                   "lib/systemd/system/dayset@.service",
                                   "lib/systemd/system/dayset@.timer",
                                   "share/man/man1/dayset-conf.1",
                                   "share/man/man1/dayset-demo.1",
                                   "share/man/man1/dayset-view.1",
                                   "share/man/man1/dayset.1",
                                   "share/man/man5/dayset.ini.5",
                                   "share/dayset/report.schema.json"};
  for (const auto& e : fs::directory_iterator(testdb::SourcePath("db"))) {
    if (e.path().extension() == ".sql") want.push_back("share/dayset/" + e.path().filename().string());
  }
  std::sort(want.begin(), want.end());
  return want;
}

TEST(InstallTest, StagedInstallationRunsTheJobOnADemo) {
  testdb::TempDir dir;
  const std::string stage = dir.file("stage");
  const std::string prefix = "/opt/hr/dayset";
  ASSERT_EQ(RunCommand("DESTDIR='" + stage + "' '" DAYSET_CMAKE_COMMAND "' --install '" DAYSET_BINARY_DIR
                       "' --prefix " + prefix + " >/dev/null"),
            0);
  const std::string root = stage + prefix;
  EXPECT_EQ(Files(root), Expected());

  // The installed programs, with nothing of the source or build tree.
  const std::string bin = root + "/bin/";
  std::string out;
  ASSERT_EQ(RunCommand("'" + bin + "dayset' --version", &out), 0);
  EXPECT_EQ(out.rfind("dayset ", 0), 0u) << out;
  const std::string demo = dir.file("demo");
  ASSERT_EQ(RunCommand(kEnv + ("'" + bin) + "dayset-demo' --persons 20 '" + demo + "' >/dev/null"), 0);
  ASSERT_EQ(RunCommand("cd '" + demo + "' && " + kEnv + "'" + bin + "dayset' 0 2027 dayset.ini 0 0"), 0);
  EXPECT_GT(std::stol(testdb::QueryRows(demo + "/HRSYSTEM.db", "select count(*) from Hrs327Tag")[0]), 10 * 365);
  EXPECT_EQ(testdb::ReadFile(demo + "/DAYSET.LOG").find("Error"), std::string::npos);
  ASSERT_EQ(RunCommand("cd '" + demo + "' && '" + bin + "dayset-view' -p 00000001 dayset.ini 2027", &out), 0);
  EXPECT_NE(out.find("<section class=\"month\" data-month=\"12\">"), std::string::npos);

  // The installed DDL makes a schema file the job connects to (an end year
  // in the past: a calendar without its first day has nothing to do then).
  const std::string fresh = dir.file("fresh");
  fs::create_directory(fresh);
  ASSERT_EQ(RunCommand("sqlite3 '" + fresh + "/HRSYSTEM.db' < '" + root + "/share/dayset/schema.sql' >/dev/null"), 0);
  ASSERT_EQ(RunCommand("cp '" + demo + "/dayset.ini' '" + fresh + "/' && cd '" + fresh + "' && '" + bin +
                       "dayset' 0 2006 dayset.ini 0 0"),
            0);

  // Each page renders without a warning and names the installed DDL.
  for (const std::string& page : Expected()) {
    if (page.rfind("share/man/", 0) != 0) continue;
    const std::string path = root + "/" + page;
    std::string text;
    EXPECT_EQ(RunCommand("MANWIDTH=80 man --warnings -l '" + path + "' 2>'" + dir.file("warn.txt") + "'", &text),
              0)
        << page;
    EXPECT_EQ(testdb::ReadFile(dir.file("warn.txt")), "") << page;
    EXPECT_NE(text.find("NAME"), std::string::npos) << page;
    if (page.find("/man1/") != std::string::npos) {
      EXPECT_NE(text.find("EXIT STATUS"), std::string::npos) << page;
    }
  }
  // --help points at the installed page.
  ASSERT_EQ(RunCommand("'" + bin + "dayset' --help", &out), 0);
  EXPECT_NE(out.find("man dayset (" + root + "/share/man/man1/dayset.1)"), std::string::npos) << out;
}

TEST(InstallTest, DebianPackage) {
  testdb::TempDir dir;
  ASSERT_EQ(RunCommand("'" DAYSET_CPACK_COMMAND "' -G DEB -B '" + dir.path() + "' --config '" DAYSET_BINARY_DIR
                       "/CPackConfig.cmake' >'" + dir.file("cpack.txt") + "' 2>&1"),
            0)
      << testdb::ReadFile(dir.file("cpack.txt"));
  std::vector<std::string> debs;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    if (e.path().extension() == ".deb") debs.push_back(e.path().string());
  }
  ASSERT_EQ(debs.size(), 1u);
  EXPECT_TRUE(std::regex_match(fs::path(debs[0]).filename().string(), std::regex("dayset_[0-9.]+_[a-z0-9]+\\.deb")))
      << debs[0];

  // Dependencies as dpkg-shlibdeps found them: the libraries the programs
  // use, each with a version.
  std::string info;
  ASSERT_EQ(RunCommand("dpkg-deb -I '" + debs[0] + "'", &info), 0);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(info, m, std::regex("\n Depends: ([^\n]*)\n"))) << info;
  const std::string depends = m[1];
  for (const char* lib : {"libc6 (>= ", "libsqlite3-0 (>= ", "libstdc++6 (>= "}) {
    EXPECT_NE(depends.find(lib), std::string::npos) << depends;
  }
  EXPECT_NE(info.find("\n Package: dayset\n"), std::string::npos) << info;
  // postinst makes the units' user with adduser.
  EXPECT_NE(depends.find("adduser"), std::string::npos) << depends;

  // The maintainer scripts: executable (dpkg refuses them otherwise) and
  // shell that parses.
  const std::string control = dir.file("control");
  ASSERT_EQ(RunCommand("dpkg-deb -e '" + debs[0] + "' '" + control + "'"), 0);
  for (const char* script : {"postinst", "postrm"}) {
    const std::string path = control + "/" + script;
    ASSERT_TRUE(fs::exists(path)) << script;
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0755)) << script;
    EXPECT_EQ(RunCommand("sh -n '" + path + "'"), 0) << script;
  }

  // The files are those of an installation under /usr.
  std::string listing;
  ASSERT_EQ(RunCommand("dpkg-deb -c '" + debs[0] + "'", &listing), 0);
  for (const std::string& file : Expected()) {
    EXPECT_NE(listing.find(" ./usr/" + file + "\n"), std::string::npos) << file;
  }
  // Unpacked, the job runs.
  const std::string root = dir.file("root");
  ASSERT_EQ(RunCommand("dpkg-deb -x '" + debs[0] + "' '" + root + "'"), 0);
  std::string version;
  EXPECT_EQ(RunCommand("'" + root + "/usr/bin/dayset' --version", &version), 0);
  EXPECT_EQ(version.rfind("dayset ", 0), 0u) << version;
}

}  // namespace

// The job run unattended, as root, in a directory others can write: what it
// finds at the log's name, a full disk under the log, a second run, end
// years and values that would harm a terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <ctime>
#include <string>
#include <vector>

#include "jobdir.h"
#include "testdb.h"

namespace {

using testdb::JobDir;
using testdb::JobOutcome;
using testdb::ReadFile;
using testdb::WriteFile;

std::string Year(int offset) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + offset);
}

class HardenTest : public ::testing::Test {
 protected:
  // An embedded database with the schema's tables and the base calendar's
  // first day, nothing else.
  std::string SqliteConfig() {
    testdb::CreateSchemaFile(job_.path());
    testdb::ExecSql(job_.file("HRSYSTEM.db"),
                    "insert into Hrs133Bak values (julianday('2026-12-31'), 2026, 12, 31, 53, 5, 365, 2026, "
                    "julianday('2026-12-31'))");
    return job_.Config("dayset", "secret", "sqlite:.", "hrsystemx");
  }
  JobDir job_;
};

// Whatever stands at DAYSET.LOG that is not a regular file of its own is
// refused before anything is written: one line on stderr, status 1, the
// thing itself and what it points to unchanged.
TEST_F(HardenTest, LogThatIsNoPlainFileIsRefused) {
  const std::string ini = SqliteConfig();
  const std::string victim = job_.file("victim");
  struct Case {
    const char* what;
    std::string setup;
  } cases[] = {
      {"symlink to a file", "ln -s '" + victim + "' DAYSET.LOG"},
      {"dangling symlink", "ln -s '" + job_.file("nothing") + "' DAYSET.LOG"},
      {"fifo", "mkfifo DAYSET.LOG"},
      {"hard link", "ln '" + victim + "' DAYSET.LOG"},
      {"directory", "mkdir DAYSET.LOG"},
  };
  for (const Case& c : cases) {
    WriteFile(victim, "keep me\n");
    chmod(victim.c_str(), 0600);
    ASSERT_EQ(testdb::RunCommand("cd '" + job_.path() + "' && rm -rf DAYSET.LOG nothing && " + c.setup), 0) << c.what;
    JobOutcome o = job_.Run("0 " + Year(1) + " " + ini + " 0 0");
    EXPECT_EQ(o.status, 1) << c.what;
    EXPECT_EQ(o.err.rfind("dayset: DAYSET.LOG kann nicht angelegt werden: ", 0), 0u) << c.what << ": " << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << c.what << ": " << o.err;
    EXPECT_EQ(ReadFile(victim), "keep me\n") << c.what;
    EXPECT_NE(access(job_.file("nothing").c_str(), F_OK), 0) << c.what;
  }
}

// A new log is not readable by everyone; the person ranges of another run
// are not the log's business: links planted at the parts' names are removed,
// never followed.
TEST_F(HardenTest, NewLogIsPrivateAndPlantedPartsAreNotFollowed) {
  const std::string ini = SqliteConfig();
  const std::string victim = job_.file("victim");
  WriteFile(victim, "keep me\n");
  chmod(victim.c_str(), 0600);
  for (const char* part : {"DAYSET.LOG.1", "DAYSET.LOG.2"}) {
    ASSERT_EQ(symlink(victim.c_str(), job_.file(part).c_str()), 0);
  }
  // A part a killed run of more workers left behind belongs to the old log.
  WriteFile(job_.file("DAYSET.LOG.3"), "Error: from a killed run\n");
  JobOutcome o = job_.Run("-j 2 0 " + Year(1) + " " + ini + " 0 0", "umask 022 &&");
  EXPECT_EQ(o.status, 0) << o.err;
  struct stat st {};
  ASSERT_EQ(stat(job_.file("DAYSET.LOG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0007, 0u) << std::oct << st.st_mode;
  EXPECT_EQ(ReadFile(victim), "keep me\n");
  for (const char* part : {"DAYSET.LOG.1", "DAYSET.LOG.2", "DAYSET.LOG.3"}) {
    EXPECT_NE(lstat(job_.file(part).c_str(), &st), 0) << part;
  }
  EXPECT_EQ(o.log.find("killed run"), std::string::npos);
}

// A log that cannot take its lines (its file system full) turns the run's
// success into status 1 with one line on stderr; the work stays committed.
TEST_F(HardenTest, LostLogLinesFailTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  testdb::TempDir small;
  if (mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=4k") != 0) GTEST_SKIP() << "no tmpfs mount here";
  // A demo installation whose time-group table is missing: a failure line
  // for every person-day (the log lives on the small file system).
  testdb::TempDir demo;
  auto db = testdb::Database::Make(testdb::Backend::kSqlite, demo.file("db"), false);
  std::string why;
  ASSERT_EQ(testdb::DemoMake(*db, demo.file("db"), "--persons 5 --seed 3", &why), 0) << why;
  db->DropTable("HRSYSTEM", "Hrs329Ztg");
  const std::string ini = demo.file("db") + "/dayset.ini";
  ASSERT_EQ(Ini_Record_Put(ini.c_str(), "DB", 3, "NET8", ("sqlite:" + demo.file("db")).c_str()), 0);
  const std::string cmd = "cd '" + small.path() + "' && '" + testdb::BinaryPath("dayset") + "' 0 " + Year(1) +
                          " '" + ini + "' 0 0 2>'" + job_.file("stderr.txt") + "'; exit $?";
  const int status = testdb::RunCommand(cmd);
  umount(small.path().c_str());
  const std::string err = ReadFile(job_.file("stderr.txt"));
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("dayset: DAYSET.LOG: "), std::string::npos) << err;
  EXPECT_NE(err.find("Zeilen nicht geschrieben: No space left on device"), std::string::npos) << err;
}

// A second run in the same directory refuses at once, naming the first,
// and leaves its log alone.
TEST_F(HardenTest, SecondRunInTheSameDirectoryRefuses) {
  const std::string ini = SqliteConfig();
  WriteFile(job_.file("DAYSET.LOG"), "the first run's lines\n");
  // The first run: this test process holds the lock the job takes.
  const int fd = open(job_.file("DAYSET.LOG").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0);
  JobOutcome o = job_.Run("0 " + Year(1) + " " + ini + " 0 0");
  close(fd);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "dayset: DAYSET.LOG wird von einem anderen Lauf geschrieben (Prozess " + std::to_string(getpid()) +
                       "), nichts getan\n");
  EXPECT_EQ(o.log, "the first run's lines\n");
  auto db = testdb::Database::Make(testdb::Backend::kSqlite, job_.path(), false);
  EXPECT_EQ(db->Rows("HRSYSTEM", "select count(*) from Hrs133Bak"), std::vector<std::string>{"1"});
  // Once it is gone, the next run works.
  o = job_.Run("0 " + Year(1) + " " + ini + " 0 0");
  EXPECT_EQ(o.status, 0) << o.err;
}

// End years the calendar cannot hold, and far ones unless confirmed.
TEST_F(HardenTest, EndYearsOutOfReachAreRefused) {
  const std::string ini = SqliteConfig();
  for (const char* year : {"0000", "0001", "1000", "9999"}) {
    JobOutcome o = job_.Run(std::string("0 ") + year + " " + ini + " 0 0");
    EXPECT_EQ(o.status, 2) << year;
    EXPECT_NE(o.log.find("Error: Parameter EndeJahr ungueltig: \""), std::string::npos) << year << o.log;
  }
  const std::string far = Year(11);
  JobOutcome o = job_.Run("0 " + far + " " + ini + " 0 0");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("\"" + far + "\""), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("--far-end-year"), std::string::npos) << o.err;
  o = job_.Run("0 " + Year(10) + " " + ini + " 0 0");
  EXPECT_EQ(o.status, 0) << o.err;
  o = job_.Run("--far-end-year -n 0 " + far + " " + ini + " 0 0");
  EXPECT_EQ(o.status, 0) << o.err;
}

// A value shown in a refusal never reaches the terminal or the log raw.
TEST_F(HardenTest, RefusedValuesAreShownEscaped) {
  JobOutcome o = job_.Run("0 \"$(printf '20\\033[2J')\" x.ini 0 0");
  EXPECT_EQ(o.status, 2);
  for (const std::string& text : {o.err, o.log}) {
    EXPECT_EQ(text.find('\033'), std::string::npos) << text;
    EXPECT_NE(text.find("\"20\\x1b[2J\""), std::string::npos) << text;
  }
}

// dayset-conf replaces its file by rename: never through a link planted at
// the file's name, and a refused call leaves everything as it was.
TEST_F(HardenTest, ConfigurationCommandRefusesALink) {
  const std::string victim = job_.file("victim");
  WriteFile(victim, "keep me\n");
  ASSERT_EQ(symlink(victim.c_str(), job_.file("dayset.ini").c_str()), 0);
  const int status = testdb::RunCommand("'" + testdb::BinaryPath("dayset-conf") + "' set '" +
                                        job_.file("dayset.ini") + "' LOGIN ops 2>/dev/null");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFile(victim), "keep me\n");
  struct stat st {};
  ASSERT_EQ(lstat(job_.file("dayset.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// Silence on success, one line on trouble: failure lines in the log give
// one line on standard error without a terminal; the status stays 0.
TEST_F(HardenTest, FailureLinesAreAnnouncedOnStandardError) {
  testdb::TempDir demo;
  auto db = testdb::Database::Make(testdb::Backend::kSqlite, demo.file("db"), false);
  std::string why;
  ASSERT_EQ(testdb::DemoMake(*db, demo.file("db"), "--persons 3 --seed 3", &why), 0) << why;
  const std::string cmd = "cd '" + demo.file("db") + "' && '" + testdb::BinaryPath("dayset") + "' 0 " + Year(1) +
                          " dayset.ini 0 0 2>'" + demo.file("err") + "'; exit $?";
  ASSERT_EQ(testdb::RunCommand(cmd), 0);
  EXPECT_EQ(ReadFile(demo.file("err")), "");
  db->DropTable("HRSYSTEM", "Hrs332Urv");
  ASSERT_EQ(testdb::RunCommand(cmd), 0);
  const std::string err = ReadFile(demo.file("err"));
  EXPECT_TRUE(std::regex_match(err, std::regex("dayset: [0-9]+ Fehlerzeilen in " + demo.file("db") +
                                                "/DAYSET.LOG: Error: [^,]+ \\([0-9]+\\), Error: [^,]+ \\([0-9]+\\)\n")))
      << err;
}

// Whatever stands at the configuration's name that is no regular file is
// refused before any connect: one line naming it, in the log and on
// standard error, status 2. A FIFO is never waited on (each run under a
// timeout, so that one that waits fails instead of holding the suite); a
// link to a regular file is followed.
TEST_F(HardenTest, ConfigurationThatIsNoPlainFileIsRefused) {
  const std::string ini = SqliteConfig();
  ASSERT_EQ(mkfifo(job_.file("fifo.ini").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(job_.file("esc\033[2J.ini").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(job_.file("dir.ini").c_str(), 0700), 0);
  ASSERT_EQ(symlink("fifo.ini", job_.file("tofifo.ini").c_str()), 0);
  ASSERT_EQ(symlink(ini.c_str(), job_.file("link.ini").c_str()), 0);
  const struct {
    std::string arg;    // shell-quoted
    std::string shown;  // as the line shows it
    const char* kind;
  } cases[] = {
      {"fifo.ini", "fifo.ini", "kein FIFO"},
      {"tofifo.ini", "tofifo.ini", "kein FIFO"},
      {"\"$(printf 'esc\\033[2J.ini')\"", "esc\\x1b[2J.ini", "kein FIFO"},
      {"dir.ini", "dir.ini", "kein Verzeichnis"},
      {"/dev/null", "/dev/null", "kein Geraet"},
  };
  for (const auto& c : cases) {
    JobOutcome o = job_.Run("0 " + Year(1) + " " + c.arg + " 0 0", "timeout -s KILL 10");
    EXPECT_EQ(o.status, 2) << c.shown;
    const std::string line =
        "Error: Parameter Pfad ungueltig: \"" + c.shown + "\"! Erlaubt: eine gewoehnliche Datei, " + c.kind + ".\n";
    EXPECT_EQ(o.log.substr(0, 7), "Datum: ") << o.log;
    EXPECT_EQ(o.log.substr(o.log.find('\n') + 1), line) << c.shown;
    EXPECT_EQ(o.err, "dayset: " + line) << c.shown;
  }
  JobOutcome o = job_.Run("0 " + Year(1) + " link.ini 0 0", "timeout -s KILL 60");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.log.find("Aktuelles Schema: HRSYSTEM \n"), std::string::npos) << o.log;
}

// A configuration file that is missing or may not be read gives the log of
// today (empty values, the connect fails) and status 1; standard error names
// the file and what is wrong with it, not what the empty values make of
// the connect.
TEST_F(HardenTest, MissingOrUnreadableConfigurationIsNamed) {
  const std::string ini = SqliteConfig();
  const std::regex log("Datum: [0-9]{8}\nFehler\\(DB-Connect\\)! RC:-922 Name: Pwd:\\*\\*\\* Net: \n");
  const std::string tail = "; siehe DAYSET.LOG\n";
  const std::string lead = "dayset: Verbindung zur Datenbank fehlgeschlagen (RC -922): Konfigurationsdatei ";
  JobOutcome o = job_.Run("0 " + Year(1) + " missing.ini 0 0");
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(std::regex_match(o.log, log)) << o.log;
  EXPECT_EQ(o.err, lead + "\"missing.ini\" fehlt (No such file or directory)" + tail);
  o = job_.Run("0 " + Year(1) + " " + ini + "/x.ini 0 0");
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(std::regex_match(o.log, log)) << o.log;
  EXPECT_EQ(o.err, lead + "\"" + ini + "/x.ini\" fehlt (Not a directory)" + tail);

  // Unreadable: as an ordinary user (root reads any file), who must reach
  // the program and may write the directory.
  ASSERT_EQ(chmod(job_.file(ini).c_str(), 0), 0);
  std::string as_user;
  if (geteuid() == 0) {
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    chmod(job_.path().c_str(), 0777);
    unlink(job_.file("DAYSET.LOG").c_str());
    if (testdb::RunCommand(as_user + " test -x '" + testdb::BinaryPath("dayset") + "' -a -w '" + job_.path() +
                           "'") != 0) {
      GTEST_SKIP() << "the program or the scratch directory is out of reach of an ordinary user here";
    }
  }
  o = job_.Run("0 " + Year(1) + " " + ini + " 0 0", as_user);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(std::regex_match(o.log, log)) << o.log;
  EXPECT_EQ(o.err, lead + "\"" + ini + "\" nicht lesbar (Permission denied)" + tail);
}

// Connecting never makes a database of a file that is none: an empty file,
// text, or either behind a link, fails the connect and stays as it was.
TEST_F(HardenTest, SchemaFileThatIsNoDatabaseIsLeftAlone) {
  const std::string ini = job_.Config("dayset", "secret", "sqlite:.", "hrsystemx");
  for (const std::string& content : {std::string(), std::string("not a database, just text\n")}) {
    for (bool linked : {false, true}) {
      const std::string target = job_.file(linked ? "elsewhere.db" : "HRSYSTEM.db");
      unlink(job_.file("HRSYSTEM.db").c_str());
      unlink(job_.file("elsewhere.db").c_str());
      WriteFile(target, content);
      if (linked) {
        ASSERT_EQ(symlink(target.c_str(), job_.file("HRSYSTEM.db").c_str()), 0);
      }
      JobOutcome o = job_.Run("0 " + Year(1) + " " + ini + " 0 0");
      EXPECT_EQ(o.status, 1) << content.size() << linked;
      EXPECT_NE(o.log.find("Fehler(DB-Connect)! RC:"), std::string::npos) << o.log;
      EXPECT_EQ(ReadFile(target), content) << content.size() << linked;
      EXPECT_NE(access((target + "-wal").c_str(), F_OK), 0);
    }
  }
}

}  // namespace

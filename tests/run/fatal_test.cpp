// A database that breaks down under the job: a full disk, an I/O error, a
// damaged page, a read-only file, a lock held too long. The job stops with
// status 1 and one line naming the condition, the phase and the person; the
// persons committed before stay whole and nothing after is done; a rerun,
// once the cause is gone, ends with the tables of an uninterrupted run.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "faultvfs.h"
#include "forkrun.h"
#include "person/pnr_hook.h"
#include "testdb.h"

namespace {

namespace fs = std::filesystem;
using testdb::JobTables;
using testdb::ReadFile;
using forkrun::Outcome;
using Rows = std::vector<std::string>;

std::string NextYear() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::to_string(local.tm_year + 1900 + 1);
}

// The real program in `dir`: dayset 0 YEAR dayset.ini FROM TO.
Outcome RunProgram(const std::string& dir, const std::string& year, const std::string& range = "0 0",
                   const std::string& prefix = "") {
  Outcome o;
  const std::string cmd = "cd '" + dir + "' && env -u NLS_TERRITORY -u NLS_LANG " + prefix + " '" +
                          testdb::BinaryPath("dayset") + "' 0 " + year + " dayset.ini " + range +
                          " >/dev/null 2>stderr.txt";
  o.status = testdb::RunCommand(cmd);
  o.err = ReadFile(dir + "/stderr.txt");
  o.log = ReadFile(dir + "/DAYSET.LOG");
  return o;
}

enum class Fault { kFull, kIoError, kDamage, kReadOnly, kSqlLocked };

// What the child arms, and after which person's commit (0: before the job).
Fault g_fault;
int g_after_person;
std::string g_db;
SqlOptions* g_options;  // the job's

void Arm() {
  switch (g_fault) {
    case Fault::kFull:
      faultvfs::Fail_Writes(1, SQLITE_FULL);
      break;
    case Fault::kIoError:
      faultvfs::Fail_Writes(1, SQLITE_IOERR_WRITE);
      break;
    case Fault::kDamage:
      faultvfs::Damage_Reads(1);
      break;
    case Fault::kReadOnly:
      faultvfs::Read_Only(true);
      break;
    case Fault::kSqlLocked: {
      // Another connection holds the write lock beyond the job's wait.
      sqlite3* other = nullptr;
      if (sqlite3_open(g_db.c_str(), &other) != SQLITE_OK ||
          sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        _exit(126);
      }
      g_options->lock_wait_ms = 200;
      break;
    }
  }
}

void Arm_Hook(PnrStep step, int person, const char*) {
  if (step == PnrStep::kAfterCommit && person == g_after_person) Arm();
}

// The job itself, in a child process of the test, so that the fault layer
// acts below its session.
Outcome RunFaulted(const std::string& dir, const std::string& year, Fault fault, int after_person) {
  return forkrun::Run_Job(dir, {"0", year, "dayset.ini", "0", "0"}, [&](SqlOptions* options) {
    faultvfs::Install();
    g_options = options;
    g_fault = fault;
    g_after_person = after_person;
    g_db = dir + "/HRSYSTEM.db";
    if (after_person == 0) {
      Arm();
    } else {
      Pnr_Hook_Set(Arm_Hook);
    }
  });
}

// The rows a run broken at person `pnr` leaves: the calendars and the persons
// before it as the uninterrupted run `done` has them, the others as `before`.
Rows Kept(const Rows& done, const Rows& before, const std::string& pnr) {
  const auto person_row = [](const std::string& row) {
    return row.rfind("Hrs327Tag|", 0) == 0 || row.rfind("Hrs329Ztg|", 0) == 0 || row.rfind("Hrs332Urv|", 0) == 0;
  };
  Rows kept;
  for (const std::string& row : done) {
    if (!person_row(row) || row.substr(10, 8) < pnr) kept.push_back(row);
  }
  for (const std::string& row : before) {
    if (person_row(row) && row.substr(10, 8) >= pnr) kept.push_back(row);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

// The persons the reference run worked on, in order.
Rows Persons(const std::string& db) { return testdb::QueryRows(db, "select distinct UrvPnr from Hrs332Urv order by 1"); }

class FatalTest : public ::testing::Test {
 protected:
  // One demo installation in four states, and the uninterrupted runs on it
  // to the end year and to the year after.
  static void SetUpTestSuite() {
    scratch_ = new testdb::TempDir;
    year_ = NextYear();
    const std::string demo = Dir("demo");
    const std::string cmd = "env -u NLS_TERRITORY -u NLS_LANG '" + testdb::BinaryPath("dayset-demo") +
                            "' --persons 30 --seed 11 '" + demo + "' >/dev/null";
    ASSERT_EQ(testdb::RunCommand(cmd), 0) << cmd;
    // Calendars extended, no person done yet.
    fs::copy(demo, Dir("calendars"));
    ASSERT_EQ(RunProgram(Dir("calendars"), year_, "99999999 99999999").status, 0);
    // Calendars extended, the first family's days of the end year gone again.
    fs::copy(Dir("calendars"), Dir("kalcut"));
    testdb::ExecSql(Dir("kalcut") + "/HRSYSTEM.db",
                    "delete from Hrs133Kal where KalDtm > julianday('" + year_ + "-06-30')");
    // Done to the end year: a run for the year after reads its person pages
    // from the file (a new installation's are all in the page cache).
    fs::copy(demo, Dir("done"));
    ASSERT_EQ(RunProgram(Dir("done"), year_).status, 0);
    reference_ = new Rows(JobTables(Dir("done") + "/HRSYSTEM.db"));
    fs::copy(Dir("done"), Dir("done2"));
    ASSERT_EQ(RunProgram(Dir("done2"), Year(1)).status, 0);
    reference2_ = new Rows(JobTables(Dir("done2") + "/HRSYSTEM.db"));
  }
  static void TearDownTestSuite() {
    delete reference_;
    delete reference2_;
    delete scratch_;
  }

  static std::string Year(int later) { return std::to_string(std::stoi(year_) + later); }

  static std::string Dir(const std::string& name) { return scratch_->file(name); }

  // A fresh copy of one of the states.
  std::string Copy(const std::string& state) {
    const std::string dir = Dir("case" + std::to_string(++cases_));
    fs::copy(Dir(state), dir);
    return dir;
  }

  static testdb::TempDir* scratch_;
  static std::string year_;
  static Rows* reference_;   // done to the end year
  static Rows* reference2_;  // and to the year after
  static int cases_;
};

testdb::TempDir* FatalTest::scratch_ = nullptr;
std::string FatalTest::year_;
Rows* FatalTest::reference_ = nullptr;
Rows* FatalTest::reference2_ = nullptr;
int FatalTest::cases_ = 0;

TEST_F(FatalTest, BrokenDatabaseStopsTheJobAndARerunCompletesIt) {
  struct Case {
    const char* name;
    const char* state;  // demo; calendars (extended already); kalcut (first family cut
                        // back); done (to the end year: this run is for the year after)
    Fault fault;
    int after_person;   // 0: from the start of the job
    const char* phase;
    const char* what;
    int code;
  } cases[] = {
      {"full disk, base calendar", "demo", Fault::kFull, 0, "Basiskalender", "Datentraeger voll", -10013},
      {"I/O error, work calendars", "kalcut", Fault::kIoError, 0, "Arbeitskalender",
       "Ein-/Ausgabefehler der Datenbankdatei", -10010},
      {"full disk, persons", "demo", Fault::kFull, 7, "Personen", "Datentraeger voll", -10013},
      {"I/O error, persons", "demo", Fault::kIoError, 12, "Personen", "Ein-/Ausgabefehler der Datenbankdatei",
       -10010},
      {"damaged page, base calendar", "demo", Fault::kDamage, 0, "Basiskalender", "Datenbankdatei beschaedigt",
       -10011},
      {"damaged page, persons", "done", Fault::kDamage, 5, "Personen", "Datenbankdatei beschaedigt", -10011},
      {"read-only file, base calendar", "demo", Fault::kReadOnly, 0, "Basiskalender", "Datenbankdatei nur lesbar",
       -10008},
      {"read-only file, persons", "calendars", Fault::kReadOnly, 0, "Personen", "Datenbankdatei nur lesbar",
       -10008},
      {"locked beyond the wait", "demo", Fault::kSqlLocked, 0, "Basiskalender",
       "Datenbank von einem anderen Programm gesperrt", -54},
  };
  const Rows persons = Persons(Dir("done") + "/HRSYSTEM.db");
  ASSERT_GT(persons.size(), 20u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = Copy(c.state);
    const std::string db = dir + "/HRSYSTEM.db";
    const Rows before = JobTables(db);
    const bool later = std::string(c.state) == "done";
    const std::string year = later ? Year(1) : year_;
    const Rows& reference = later ? *reference2_ : *reference_;

    Outcome o = RunFaulted(dir, year, c.fault, c.after_person);
    EXPECT_EQ(o.status, 1);
    // Date and schema, then the one line; the same line on standard error.
    std::smatch m;
    const std::regex expected("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \n(Error: Lauf abgebrochen, Datenbank "
                              "nicht nutzbar: ([^!]*)! RC:(-?[0-9]+) Phase: ([A-Za-z]+)!(?: Person: ([0-9]{8})!)?\n)");
    ASSERT_TRUE(std::regex_match(o.log, m, expected)) << o.log;
    EXPECT_EQ(o.err, "dayset: " + m[1].str());
    EXPECT_EQ(m[2].str(), c.what);
    EXPECT_EQ(std::stoi(m[3].str()), c.code);
    EXPECT_EQ(m[4].str(), c.phase);
    const std::string pnr = m[5].str();

    // Nothing more was done: a calendar phase leaves the tables as they were;
    // the person phase keeps the persons before the one named, whole.
    if (std::string(c.phase) != "Personen") {
      EXPECT_TRUE(pnr.empty());
      EXPECT_EQ(JobTables(db), before);
    } else {
      ASSERT_FALSE(pnr.empty());
      if (c.fault == Fault::kFull || c.fault == Fault::kIoError || c.fault == Fault::kReadOnly) {
        // The write after person k's commit belongs to the next person.
        EXPECT_EQ(pnr, persons[static_cast<size_t>(c.after_person)]);
      }
      Rows after = JobTables(db);
      std::sort(after.begin(), after.end());
      EXPECT_EQ(after, Kept(reference, before, pnr));
    }

    // The cause removed, a rerun completes the work.
    o = RunProgram(dir, year);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(std::regex_match(o.log, std::regex("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \n"))) << o.log;
    EXPECT_EQ(JobTables(db), reference);
  }
}

// The operator's cases, with the real program: a schema file with damaged
// pages, and one the job may not write (run as an ordinary user).
TEST_F(FatalTest, DamagedFileEndsTheRunWithOneLine) {
  const std::string dir = Copy("done");
  const std::string db = dir + "/HRSYSTEM.db";
  // Overwrite pages in the middle of the file, where the person tables lie.
  std::FILE* f = std::fopen(db.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, 0, SEEK_END), 0);
  const long size = std::ftell(f);
  ASSERT_GT(size, 64 * 4096);
  std::fseek(f, size / 2 / 4096 * 4096, SEEK_SET);
  const std::string junk(8 * 4096, '\x5a');
  std::fwrite(junk.data(), 1, junk.size(), f);
  std::fclose(f);

  Outcome o = RunProgram(dir, Year(1));
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(std::regex_match(o.log, std::regex("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \nError: Lauf "
                                                 "abgebrochen, Datenbank nicht nutzbar: Datenbankdatei "
                                                 "beschaedigt! RC:-10011 Phase: [A-Za-z]+!.*\n")))
      << o.log;
  EXPECT_EQ(o.err, "dayset: " + o.log.substr(o.log.find("Error:")));
}

TEST_F(FatalTest, ReadOnlyFileEndsTheRunWithOneLine) {
  const std::string dir = Copy("demo");
  const std::string db = dir + "/HRSYSTEM.db";
  // The installation's directory is writable, its schema file is not; the
  // log goes to a directory of the user's own.
  const std::string run = dir + "/run";
  fs::create_directory(run);
  ASSERT_EQ(testdb::RunCommand("cd '" + dir + "' && '" + testdb::BinaryPath("dayset-conf") +
                               "' set dayset.ini NET8 'sqlite:" + dir + "' 2>/dev/null"),
            0);
  fs::rename(dir + "/dayset.ini", run + "/dayset.ini");
  ASSERT_EQ(chmod(db.c_str(), 0444), 0);
  std::string as_user;
  if (geteuid() == 0) {
    // root writes any file: run as nobody, who must reach the program.
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    for (const std::string& p : {scratch_->path(), dir, run}) chmod(p.c_str(), 0777);
    chmod((run + "/dayset.ini").c_str(), 0644);
    if (testdb::RunCommand(as_user + " test -x '" + testdb::BinaryPath("dayset") + "' -a -w '" + run + "'") != 0) {
      GTEST_SKIP() << "the program or the scratch directory is out of reach of an ordinary user here";
    }
  }
  Outcome o = RunProgram(run, year_, "0 0", as_user);
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(std::regex_match(o.log, std::regex("Datum: [0-9]{8}\nAktuelles Schema: HRSYSTEM \nError: Lauf "
                                                 "abgebrochen, Datenbank nicht nutzbar: Datenbankdatei nur "
                                                 "lesbar! RC:-10008 Phase: Basiskalender!\n")))
      << o.log;
  EXPECT_EQ(o.err, "dayset: " + o.log.substr(o.log.find("Error:")));

  // The administrator makes the files writable again (those the database
  // made meanwhile take the mode of the schema file).
  for (const char* suffix : {"", "-wal", "-shm"}) chmod((db + suffix).c_str(), 0644);
  o = RunProgram(run, year_);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(JobTables(db), *reference_);
}

}  // namespace

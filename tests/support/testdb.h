// Test support: a fresh database of each backend for one test, direct access
// to it through the test's own connection (never the job's runtime), and a
// fixture that opens DAYSET.LOG, fixes the clock and connects the job's
// session. Suites that touch a database are parameterised by Backend and run
// once on the embedded database and once on the PostgreSQL server that
// tools/pg-cluster.sh starts (tools/test.sh does), through libpq and through
// the ODBC backend (psqlODBC, a data source of the cluster's odbc.ini);
// without DAYSET_TEST_PG in the environment the server's instances are
// skipped.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "db/sqlrt.h"

namespace testdb {

// A new empty directory, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Path of a file in the source tree (db/schema.sql, tests/data/...).
std::string SourcePath(const std::string& rel);
// Path of a built program (dayset, companion commands).
std::string BinaryPath(const std::string& name);

// Embedded database files directly, for what is about SQLite alone.
// Creates dir/NAME.db from db/schema.sql.
void CreateSchemaFile(const std::string& dir, const std::string& name = "HRSYSTEM");
// Runs SQL on a database file through its own connection; fails the test on
// error. Waits for locks for a few seconds.
void ExecSql(const std::string& dbfile, const std::string& sql);
// Rows of a query, each as its columns joined by '|', NULL as "NULL".
std::vector<std::string> QueryRows(const std::string& dbfile, const std::string& sql);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Every row of the tables the job writes, each as "Table|col|col|...", in key
// order, without the columns that take sysdate: what two runs must agree on.
std::vector<std::string> JobTables(const std::string& dbfile);

// Local time_t for a calendar date and time.
std::time_t LocalTime(int year, int month, int day, int hour = 10, int min = 0, int sec = 0);

// Runs a shell command; returns its exit status (or -1), stdout into *out.
// The command line is visible to every process: never put a password in it.
int RunCommand(const std::string& cmd, std::string* out = nullptr);

// Every day from..to (yyyy-mm-dd, both included), as yyyy-mm-dd.
std::vector<std::string> Days(const std::string& from, const std::string& to);
// ISO weekday of a yyyy-mm-dd, Monday 1.
int IsoWeekday(const std::string& ymd);

// kOdbc: the job reaches the PostgreSQL server through its ODBC backend
// (psqlODBC); the test's own connection is libpq's, as for kPostgres.
enum class Backend { kSqlite, kPostgres, kOdbc };

inline auto EveryBackend() { return ::testing::Values(Backend::kSqlite, Backend::kPostgres, Backend::kOdbc); }
// The two instances of the suites where the ODBC way adds nothing (the
// README's own SQL, not the job's).
inline auto SqliteAndPostgres() { return ::testing::Values(Backend::kSqlite, Backend::kPostgres); }
inline auto OnlySqlite() { return ::testing::Values(Backend::kSqlite); }
inline auto OnlyPostgres() { return ::testing::Values(Backend::kPostgres); }
// The job's behaviour against a database server, on either way to it.
inline auto OnlyServer() { return ::testing::Values(Backend::kPostgres, Backend::kOdbc); }
// Whether the database is the PostgreSQL server (kPostgres or kOdbc).
inline bool OnServer(Backend backend) { return backend != Backend::kSqlite; }
// Instance names: "Sqlite", "Postgres", "Odbc".
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);
void PrintTo(Backend backend, std::ostream* os);

// A PostgreSQL server for the tests, as tools/pg-cluster.sh describes it.
struct PgServer {
  std::string admin;     // libpq conninfo of a superuser, without password
  std::string host;      // TCP address the job connects to
  std::string port;
  std::string login;     // the job's role
  std::string password;  // its password
  std::string templ;     // template database holding schema hrsystem
  std::string odbcini;   // unixODBC's data sources of the server (ODBCINI)
  int odbc_slots = 0;    // DSNs dayset_odbc1 ... of it (DAYSET_TEST_ODBC_SLOTS)

  // The server named by DAYSET_TEST_PG and its companions; false with the
  // reason in *why when DAYSET_TEST_PG is not set.
  static bool FromEnv(PgServer* out, std::string* why);
  // The server of a cluster directory made by `tools/pg-cluster.sh start DIR`.
  static bool FromClusterDir(const std::string& dir, PgServer* out);
};

// Every schema of the job the suites make: in a site's existing database
// (tools/odbc-conformance.sh) dropped before and after each test.
inline constexpr const char* kSuiteSchemas[] = {"HRSYSTEM", "HRCLIENT", "HRREF", "HRKILL1",
                                                "HRKILL2",  "HRKILL3",  "HRKILL4"};

// Why the backend cannot be tested here, or "" when it can.
std::string Unavailable(Backend backend);

// A write lock that another connection holds on one table until Release
// (or destruction): the job's writes to the table wait for it.
class TableLock {
 public:
  virtual ~TableLock() = default;
  virtual void Release() = 0;
};

// One test's database. Embedded: a directory with one file NAME.db per
// schema, net service name sqlite:DIR. PostgreSQL: a new database made from
// the template at construction and dropped at destruction, each schema of
// the job one PostgreSQL schema in lower case, net service name
// postgresql://HOST:PORT/NAME (ODBC: odbc:DSN). Schemas are named as the job names them
// (HRSYSTEM, HRCLIENT). Exec and Rows fail the test on error.
class Database {
 public:
  // A database in `dir` (kept), or on the server; with schema HRSYSTEM
  // unless `with_hrsystem` is false (then the database holds no schema).
  static std::unique_ptr<Database> Sqlite(const std::string& dir, bool with_hrsystem = true);
  static std::unique_ptr<Database> Postgres(const PgServer& server, bool with_hrsystem = true);
  // As Postgres, in database dayset_odbcK of a free slot K, whose data
  // source dayset_odbcK the net service name odbc:dayset_odbcK names.
  static std::unique_ptr<Database> Odbc(const PgServer& server, bool with_hrsystem = true);
  // The one of `backend`; Postgres from the environment (see Unavailable).
  static std::unique_ptr<Database> Make(Backend backend, const std::string& dir, bool with_hrsystem = true);
  virtual ~Database() = default;

  virtual Backend backend() const = 0;
  // Creates a schema made from the DDL, usable by the job's role.
  virtual void CreateSchema(const std::string& schema) = 0;
  virtual void Exec(const std::string& schema, const std::string& sql) = 0;
  // Rows of a query, each as its columns joined by '|', NULL as "NULL",
  // numbers as digits. Dates come back as the backend stores them: select
  // date(x), or one of the expressions below.
  virtual std::vector<std::string> Rows(const std::string& schema, const std::string& sql) = 0;
  void DropTable(const std::string& schema, const std::string& table) { Exec(schema, "drop table " + table); }
  virtual std::unique_ptr<TableLock> Lock(const std::string& schema, const std::string& table) = 0;

  // What the job's configuration holds to reach this database.
  virtual std::string Net() const = 0;
  // The net service name of the libpq backend for the same database (what
  // dayset-demo makes its data through); the embedded one: Net().
  virtual std::string LibpqNet() const { return Net(); }
  virtual std::string Login() const = 0;
  virtual std::string Password() const = 0;
  // Embedded: the file of a schema; PostgreSQL: "".
  virtual std::string File(const std::string& /*schema*/) const { return ""; }
  // PostgreSQL: the name of the database, and a superuser's conninfo for it
  // (no password); embedded: "".
  virtual std::string Name() const { return ""; }
  virtual std::string Admin() const { return ""; }
  // PostgreSQL: connects the test's own connection again, after a restart
  // of the server.
  virtual void Reconnect() {}

  // SQL of the backend: a date literal (yyyy-mm-dd, midnight), and a DATE
  // expression as 'yyyy-mm-dd hh:mm:ss', as 'yyyymmdd' and as its year
  // (by default as PostgreSQL and Oracle both write them).
  virtual std::string Date(const std::string& ymd) const = 0;
  virtual std::string DateTime(const std::string& expr) const;
  virtual std::string Ymd(const std::string& expr) const;
  virtual std::string Year(const std::string& expr) const;

  // Whether the database's sysdate is its server's own clock, not the
  // job's (Oracle, where the job's texts pass unchanged).
  virtual bool SysdateIsServers() const { return false; }
  // Sets the server's clock to `t` where the database allows it and the
  // run asks for it (Oracle's FIXED_DATE); 0 lets it run again.
  virtual void FixServerClock(std::time_t /*t*/) {}
};

// Every table the job reads or writes, each row as text, dates as
// 'yyyy-mm-dd hh:mm:ss', in the order of all columns; the columns that take
// sysdate (…Dat) only when `with_stamps`. Each table starts with a line
// "TABLE: N rows".
std::vector<std::string> Dump(Database& db, const std::string& schema, bool with_stamps);

// Runs dayset-demo with `args` for `db`: the embedded database into `dir`
// (new), a PostgreSQL database (without schema hrsystem) from `dir`'s
// dayset.ini, whose PASS then becomes the job role's password. Returns the
// command's exit status; its standard error into *err.
int DemoMake(Database& db, const std::string& dir, const std::string& args, std::string* err = nullptr);
// dayset-demo's options for a PostgreSQL database (--net, --login,
// --pg-admin), or "" for the embedded one.
std::string DemoTarget(const Database& db);

// Fixture: a database of the test's backend with schema HRSYSTEM, the clock
// fixed at 2026-12-08 10:00 local time (RunDate "20261208"; where sysdate is
// the server's, at the test's start: ClockIsServers), RunLog open on
// dir_/DAYSET.LOG, the session connected to the database with schema
// HRSYSTEM, every session of the test wrapped for faults (faultsession.h,
// disarmed at the end). Exec/Rows work on HRSYSTEM through a separate
// connection; use them while the session holds no uncommitted work.
// PostgreSQL instances are skipped when no server is given; a subclass's
// SetUp returns early then.
class DbTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;
  void TearDown() override;
  // False when the test was skipped or SetUp failed.
  static bool Ready() { return !IsSkipped() && !HasFatalFailure(); }

  // Whether sysdate is a clock the test cannot fix (an Oracle server's,
  // or DAYSET_TEST_AS_ORACLE): the job's clock is then fixed at the
  // test's start, not at 2026-12-08 10:00. See NEEDS_FIXED_CLOCK.
  bool ClockIsServers() const;
  // Fixes the job's clock (and RunDate) at `t`, and the server's where it
  // can be (FixServerClock).
  void FixClock(std::time_t t);

  // Connects (again) with another schema; returns Sql_Connect's status.
  int Reconnect(const std::string& schema, const SqlOptions& options = Sql_Options_Default());

  void Exec(const std::string& sql) { db_->Exec("HRSYSTEM", sql); }
  std::vector<std::string> Rows(const std::string& sql) { return db_->Rows("HRSYSTEM", sql); }
  // The backend's literal of a date yyyy-mm-dd; NULL for nullptr.
  std::string D(const char* ymd) const { return ymd == nullptr ? "NULL" : db_->Date(ymd); }
  std::string Log();  // the bytes of DAYSET.LOG so far

  TempDir dir_;  // DAYSET.LOG; the embedded database's schema files
  std::unique_ptr<Database> db_;
};

}  // namespace testdb

// In a DbTest whose outcome depends on the clock being fixed at a known
// time: skipped where the database's sysdate is its server's own.
#define NEEDS_FIXED_CLOCK()                                                                      \
  do {                                                                                           \
    if (ClockIsServers())                                                                        \
      GTEST_SKIP() << "needs the clock fixed at a known time: sysdate is the database server's"; \
  } while (0)

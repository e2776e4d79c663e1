// Test support: fresh embedded databases in temporary directories, direct
// access to their files, and a fixture that opens DAYSET.LOG, fixes the
// clock and connects the job's session.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

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

// Creates dir/NAME.db from db/schema.sql.
void CreateSchemaFile(const std::string& dir, const std::string& name = "HRSYSTEM");

// Runs SQL on a database file through its own connection (not the job's
// session); fails the test on error. Waits for locks for a few seconds.
void ExecSql(const std::string& dbfile, const std::string& sql);

// Rows of a query, each as its columns joined by '|', NULL as "NULL",
// REAL values that are Julian day numbers are not converted: select
// date(x) where a date is wanted.
std::vector<std::string> QueryRows(const std::string& dbfile, const std::string& sql);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Every row of the tables the job writes, each as "Table|col|col|...", in key
// order, without the columns that take sysdate: what two runs must agree on.
std::vector<std::string> JobTables(const std::string& dbfile);

// Local time_t for a calendar date and time.
std::time_t LocalTime(int year, int month, int day, int hour = 10, int min = 0, int sec = 0);

// Runs a shell command; returns its exit status (or -1), stdout into *out.
int RunCommand(const std::string& cmd, std::string* out = nullptr);

// Fixture: dir with HRSYSTEM.db made from the DDL, the clock fixed at
// 2026-12-08 10:00 local time (RunDate "20261208"), RunLog open on
// dir/DAYSET.LOG, the session connected to sqlite:dir with schema HRSYSTEM.
// Exec/Rows work on HRSYSTEM.db through a separate connection; use them
// while the session holds no uncommitted work.
class DbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects (again) with another schema; returns Sql_Connect's status.
  int Reconnect(const std::string& schema);

  void Exec(const std::string& sql) { ExecSql(db(), sql); }
  std::vector<std::string> Rows(const std::string& sql) { return QueryRows(db(), sql); }
  std::string db(const std::string& schema = "HRSYSTEM") const { return dir_.file(schema + ".db"); }
  std::string Log();  // the bytes of DAYSET.LOG so far

  TempDir dir_;
};

}  // namespace testdb

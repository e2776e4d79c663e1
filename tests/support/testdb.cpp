#include "testdb.h"

#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db/session.h"
#include "db/sqlrt.h"
#include "base/clock.h"
#include "base/runlog.h"

namespace testdb {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("DAYSET_TEST_TMP");
  std::string root = base != nullptr && *base != '\0' ? base : fs::temp_directory_path().string();
  fs::create_directories(root);
  std::string templ = root + "/dayset-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed under " << root;
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string SourcePath(const std::string& rel) { return std::string(DAYSET_SOURCE_DIR) + "/" + rel; }
std::string BinaryPath(const std::string& name) { return std::string(DAYSET_BINARY_DIR) + "/" + name; }

namespace {

sqlite3* OpenDb(const std::string& dbfile, bool create) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(dbfile.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << dbfile << ": " << sqlite3_errmsg(db);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

void ExecOn(sqlite3* db, const std::string& sql, const std::string& what) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    ADD_FAILURE() << what << ": " << (err != nullptr ? err : "?") << "\n" << sql;
  }
  sqlite3_free(err);
}

}  // namespace

void CreateSchemaFile(const std::string& dir, const std::string& name) {
  sqlite3* db = OpenDb(dir + "/" + name + ".db", true);
  if (db == nullptr) return;
  ExecOn(db, ReadFile(SourcePath("db/schema.sql")), "schema");
  sqlite3_close(db);
}

void ExecSql(const std::string& dbfile, const std::string& sql) {
  sqlite3* db = OpenDb(dbfile, false);
  if (db == nullptr) return;
  ExecOn(db, sql, dbfile);
  sqlite3_close(db);
}

std::vector<std::string> QueryRows(const std::string& dbfile, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = OpenDb(dbfile, false);
  if (db == nullptr) return rows;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "query: " << sqlite3_errmsg(db) << "\n" << sql;
    sqlite3_close(db);
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      if (i > 0) row += '|';
      if (sqlite3_column_type(st, i) == SQLITE_NULL) {
        row += "NULL";
      } else {
        row += reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      }
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << "query step: " << sqlite3_errmsg(db) << "\n" << sql;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

std::vector<std::string> JobTables(const std::string& dbfile) {
  static const char* const kQueries[][2] = {
      {"Hrs133Bak", "select BakDtm, BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow from Hrs133Bak order by 1"},
      {"Hrs133Kal", "select KalNum, KalDtm, KalTtp, KalPtp, KalBtp, KalGwt, KalSta from Hrs133Kal order by 1, 2"},
      {"Hrs133Ka2", "select Ka2Num, Ka2Dtm, Ka2Ttp, Ka2Ptp, Ka2Btp, Ka2Gwt, Ka2Sta from Hrs133Ka2 order by 1, 2"},
      {"Hrs327Tag", "select TagPnr, TagTag, TagVon, TagUhr, TagBis, TagEnd from Hrs327Tag order by 1, 2"},
      {"Hrs329Ztg",
       "select ZtgPnr, ZtgVon, ZtgAkr, ZtgAbt, ZtgKst, ZtgKtr, ZtgKrt, ZtgAgr, ZtgTag, ZtgBsd, ZtgVra, ZtgAzt, "
       "ZtgTtp, ZtgSta, ZtgPnm from Hrs329Ztg order by 1, 2"},
      {"Hrs332Urv", "select UrvPnr, UrvJhr from Hrs332Urv order by 1, 2"},
  };
  std::vector<std::string> rows;
  for (const auto& q : kQueries) {
    for (const std::string& row : QueryRows(dbfile, q[1])) rows.push_back(std::string(q[0]) + "|" + row);
  }
  return rows;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::time_t LocalTime(int year, int month, int day, int hour, int min, int sec) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = min;
  t.tm_sec = sec;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

int RunCommand(const std::string& cmd, std::string* out) {
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out != nullptr) *out = text;
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void DbTest::SetUp() {
  CreateSchemaFile(dir_.path());
  Clock_Set_For_Test(LocalTime(2026, 12, 8, 10, 0, 0));
  RunDate_Init();
  RunLog = std::fopen(dir_.file("DAYSET.LOG").c_str(), "w");
  ASSERT_NE(RunLog, nullptr);
  ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
}

int DbTest::Reconnect(const std::string& schema) {
  Sql_Rt_Disconnect();
  std::snprintf(CurrentSchema, sizeof CurrentSchema, "%s", schema.c_str());
  std::string net = "sqlite:" + dir_.path();
  return Sql_Connect("dayset", "secret", net.c_str(), schema.c_str());
}

void DbTest::TearDown() {
  Sql_Fault_Clear();
  Sql_Rt_Disconnect();
  if (RunLog != nullptr) std::fclose(RunLog);
  RunLog = nullptr;
  Clock_Set_For_Test(0);
}

std::string DbTest::Log() {
  if (RunLog != nullptr) std::fflush(RunLog);
  return ReadFile(dir_.file("DAYSET.LOG"));
}

}  // namespace testdb

#include "testdb.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "config/ini.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "base/clock.h"
#include "base/runlog.h"
#include "faultsession.h"
#include "sqltext.h"
#include "testdb_odbc.h"

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

namespace {

std::chrono::sys_days Day_Parse(const std::string& ymd) {
  int y = 0;
  unsigned m = 0, d = 0;
  if (std::sscanf(ymd.c_str(), "%d-%u-%u", &y, &m, &d) != 3) ADD_FAILURE() << "not a yyyy-mm-dd: " << ymd;
  return std::chrono::sys_days{std::chrono::year{y} / std::chrono::month{m} / std::chrono::day{d}};
}

}  // namespace

std::vector<std::string> Days(const std::string& from, const std::string& to) {
  std::vector<std::string> days;
  for (auto d = Day_Parse(from), end = Day_Parse(to); d <= end; d += std::chrono::days{1}) {
    std::chrono::year_month_day ymd{d};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    days.push_back(buf);
  }
  return days;
}

int IsoWeekday(const std::string& ymd) { return static_cast<int>(std::chrono::weekday{Day_Parse(ymd)}.iso_encoding()); }

namespace {

const char* Backend_Text(Backend backend) {
  switch (backend) {
    case Backend::kSqlite:
      return "Sqlite";
    case Backend::kPostgres:
      return "Postgres";
    case Backend::kOdbc:
      return "Odbc";
  }
  return "?";
}

}  // namespace

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) { return Backend_Text(info.param); }

void PrintTo(Backend backend, std::ostream* os) { *os << Backend_Text(backend); }

// ---------------------------------------------------------------------------
// The PostgreSQL server

bool PgServer::FromEnv(PgServer* out, std::string* why) {
  auto get = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v != nullptr ? v : "");
  };
  *out = PgServer{};
  out->admin = get("DAYSET_TEST_PG");
  if (out->admin.empty()) {
    *why =
        "no PostgreSQL server for the tests: DAYSET_TEST_PG is not set "
        "(tools/test.sh starts one; or tools/pg-cluster.sh run ctest ...)";
    return false;
  }
  out->host = get("DAYSET_TEST_PG_HOST");
  out->port = get("DAYSET_TEST_PG_PORT");
  out->login = get("DAYSET_TEST_PG_LOGIN");
  out->password = get("DAYSET_TEST_PG_PASSWORD");
  out->templ = get("DAYSET_TEST_PG_TEMPLATE");
  out->odbcini = get("ODBCINI");
  out->odbc_slots = std::atoi(get("DAYSET_TEST_ODBC_SLOTS").c_str());
  if (out->host.empty()) out->host = "127.0.0.1";
  return true;
}

bool PgServer::FromClusterDir(const std::string& dir, PgServer* out) {
  std::map<std::string, std::string> env;
  std::istringstream in(ReadFile(dir + "/env"));
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    env[line.substr(0, eq)] = value;
  }
  out->admin = env["DAYSET_TEST_PG"];
  out->host = env["DAYSET_TEST_PG_HOST"];
  out->port = env["DAYSET_TEST_PG_PORT"];
  out->login = env["DAYSET_TEST_PG_LOGIN"];
  out->password = env["DAYSET_TEST_PG_PASSWORD"];
  out->templ = env["DAYSET_TEST_PG_TEMPLATE"];
  out->odbcini = env["ODBCINI"];
  out->odbc_slots = std::atoi(env["DAYSET_TEST_ODBC_SLOTS"].c_str());
  return !out->admin.empty() && !out->port.empty();
}

std::string Unavailable(Backend backend) {
  if (backend == Backend::kSqlite) return "";
  if (OdbcSite site; OdbcSite::FromEnv(&site)) {
    return backend == Backend::kOdbc ? ""
                                     : "a site's data source is tested through ODBC alone (tools/odbc-conformance.sh)";
  }
  PgServer server;
  std::string why;
  if (!PgServer::FromEnv(&server, &why)) return why;
  const char* site = std::getenv("DAYSET_TEST_ODBC_SITE_DSN");
  if (site != nullptr && *site != '\0') {
    return backend == Backend::kOdbc ? ""
                                     : "a site's data source is tested (tools/odbc-conformance.sh): the ODBC "
                                       "instances alone";
  }
  if (backend == Backend::kOdbc && (server.odbcini.empty() || server.odbc_slots <= 0)) {
    return "no ODBC data sources for the tests: ODBCINI or DAYSET_TEST_ODBC_SLOTS is not set (tools/pg-cluster.sh "
           "writes them)";
  }
  return "";
}

namespace {

// ---------------------------------------------------------------------------
// Embedded

class SqliteLock : public TableLock {
 public:
  explicit SqliteLock(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot lock " << file << ": " << sqlite3_errmsg(db_);
    }
  }
  ~SqliteLock() override { Release(); }
  void Release() override {
    if (db_ == nullptr) return;
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
};

class SqliteDatabase : public Database {
 public:
  SqliteDatabase(const std::string& dir, bool with_hrsystem) : dir_(dir) {
    if (with_hrsystem) CreateSchema("HRSYSTEM");
  }
  Backend backend() const override { return Backend::kSqlite; }
  void CreateSchema(const std::string& schema) override { CreateSchemaFile(dir_, schema); }
  void Exec(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    ExecSql(File(schema), sql);
  }
  std::vector<std::string> Rows(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    return QueryRows(File(schema), sql);
  }
  std::unique_ptr<TableLock> Lock(const std::string& schema, const std::string&) override {
    return std::make_unique<SqliteLock>(File(schema));  // the whole file
  }
  std::string Net() const override { return "sqlite:" + dir_; }
  std::string Login() const override { return "dayset"; }
  std::string Password() const override { return "secret"; }
  std::string File(const std::string& schema) const override { return dir_ + "/" + schema + ".db"; }
  std::string Date(const std::string& ymd) const override { return "julianday('" + ymd + "')"; }
  std::string DateTime(const std::string& expr) const override { return "datetime(" + expr + ")"; }
  std::string Ymd(const std::string& expr) const override { return "strftime('%Y%m%d', " + expr + ")"; }
  std::string Year(const std::string& expr) const override { return "cast(strftime('%Y', " + expr + ") as integer)"; }

 private:
  std::string dir_;
};

// ---------------------------------------------------------------------------
// PostgreSQL

void Notice_Ignore(void*, const char*) {}

// A superuser connection: `conninfo`, its database replaced by `dbname` when
// given, with explicit session settings so that nothing depends on the
// server's defaults. Null (and a failure) when it cannot connect.
PGconn* Pg_Connect(const std::string& conninfo, const std::string& dbname) {
  std::vector<const char*> keys = {"dbname", "client_encoding", "options", "gssencmode", "sslmode"};
  std::vector<const char*> values = {conninfo.c_str(), "UTF8",
                                     "-c DateStyle=ISO,YMD -c TimeZone=UTC -c IntervalStyle=postgres "
                                     "-c client_min_messages=warning",
                                     "disable", "disable"};
  if (!dbname.empty()) {
    keys.push_back("dbname");  // a later dbname overrides the conninfo's
    values.push_back(dbname.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 1);
  if (PQstatus(conn) != CONNECTION_OK) {
    ADD_FAILURE() << "cannot connect to the test server (" << conninfo << (dbname.empty() ? "" : " dbname=") << dbname
                  << "): " << PQerrorMessage(conn);
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, Notice_Ignore, nullptr);
  return conn;
}

// Runs sql; returns its last result (PQclear it) or null after a failure.
PGresult* Pg_Run(PGconn* conn, const std::string& sql, ExecStatusType want) {
  if (conn == nullptr) return nullptr;
  PGresult* r = PQexec(conn, sql.c_str());
  if (PQresultStatus(r) != want) {
    ADD_FAILURE() << "PostgreSQL: " << PQresultErrorMessage(r) << PQerrorMessage(conn) << "\n" << sql;
    PQclear(r);
    return nullptr;
  }
  return r;
}

void Pg_Exec(PGconn* conn, const std::string& sql) { PQclear(Pg_Run(conn, sql, PGRES_COMMAND_OK)); }

// The job's schema name as PostgreSQL's identifier: lower case, quoted.
std::string Pg_Schema(PGconn* conn, const std::string& schema) {
  std::string lower = schema;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (conn == nullptr) return lower;
  char* quoted = PQescapeIdentifier(conn, lower.c_str(), lower.size());
  std::string out = quoted != nullptr ? quoted : lower;
  PQfreemem(quoted);
  return out;
}

class PgLock : public TableLock {
 public:
  PgLock(const PgServer& server, const std::string& dbname, const std::string& schema, const std::string& table)
      : conn_(Pg_Connect(server.admin, dbname)) {
    Pg_Exec(conn_, "begin; lock table " + Pg_Schema(conn_, schema) + "." + table + " in exclusive mode");
  }
  ~PgLock() override { Release(); }
  void Release() override {
    if (conn_ == nullptr) return;
    Pg_Exec(conn_, "commit");
    PQfinish(conn_);
    conn_ = nullptr;
  }

 private:
  PGconn* conn_;
};

class PgDatabase : public Database {
 public:
  // name: the database's (one left from an earlier run is dropped first);
  // empty: a new name of this process.
  PgDatabase(const PgServer& server, bool with_hrsystem, const std::string& name = "") : server_(server) {
    for (const auto* v : {&server.port, &server.login, &server.password, &server.templ}) {
      if (v->empty()) {
        ADD_FAILURE() << "DAYSET_TEST_PG is set, but not all of DAYSET_TEST_PG_PORT, _LOGIN, _PASSWORD, _TEMPLATE";
        return;
      }
    }
    // Short names: the net service name has room for 51 characters.
    static int counter = 0;
    name_ = !name.empty() ? name : "dt" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    PGconn* admin = Pg_Connect(server_.admin, "");
    if (admin == nullptr) return;
    if (!name.empty()) Pg_Exec(admin, "drop database if exists " + name_ + " with (force)");
    Pg_Exec(admin, "create database " + name_ + " template " + (with_hrsystem ? server_.templ : "template0"));
    created_ = true;
    // Database privileges are not copied from the template.
    Pg_Exec(admin, "revoke all on database " + name_ + " from public; grant connect on database " + name_ + " to " +
                       server_.login);
    PQfinish(admin);
    conn_ = Pg_Connect(server_.admin, name_);
  }
  // The existing database of `server` (its admin's conninfo names it), for
  // a site's own data source: the job's schemas in it are made anew, and
  // dropped at the end.
  struct Existing {};
  PgDatabase(const PgServer& server, bool with_hrsystem, Existing) : server_(server), existing_(true) {
    conn_ = Pg_Connect(server_.admin, "");
    PGresult* r = Pg_Run(conn_, "select current_database()", PGRES_TUPLES_OK);
    if (r == nullptr) return;
    name_ = PQgetvalue(r, 0, 0);
    PQclear(r);
    Drop_Schemas();
    // Tables a test makes later are the job's too.
    Pg_Exec(conn_, "alter default privileges grant select, insert, update on tables to " + server_.login);
    if (with_hrsystem) CreateSchema("HRSYSTEM");
  }
  ~PgDatabase() override {
    if (existing_) Drop_Schemas();
    PQfinish(conn_);
    if (!created_) return;
    PGconn* admin = Pg_Connect(server_.admin, "");
    Pg_Exec(admin, "drop database " + name_ + " with (force)");
    PQfinish(admin);
  }
  // The job's schemas the suites make, in the existing database.
  void Drop_Schemas() {
    for (const char* schema : kSuiteSchemas) {
      Pg_Exec(conn_, "drop schema if exists " + Pg_Schema(conn_, schema) + " cascade");
    }
  }
  Backend backend() const override { return Backend::kPostgres; }
  void CreateSchema(const std::string& schema) override {
    const std::string s = Pg_Schema(conn_, schema);
    Pg_Exec(conn_, "create schema " + s + "; set search_path to " + s + ";\n" +
                       ReadFile(SourcePath("db/schema-postgresql.sql")) + "\ngrant usage on schema " + s + " to " +
                       server_.login + "; grant select, insert, update on all tables in schema " + s + " to " +
                       server_.login);
  }
  void Exec(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    Pg_Exec(conn_, "set search_path to " + Pg_Schema(conn_, schema) + "; " + sql);
  }
  std::vector<std::string> Rows(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    std::vector<std::string> rows;
    PGresult* r = Pg_Run(conn_, "set search_path to " + Pg_Schema(conn_, schema) + "; " + sql, PGRES_TUPLES_OK);
    if (r == nullptr) return rows;
    for (int i = 0; i < PQntuples(r); ++i) {
      std::string row;
      for (int j = 0; j < PQnfields(r); ++j) {
        if (j > 0) row += '|';
        row += PQgetisnull(r, i, j) ? "NULL" : PQgetvalue(r, i, j);
      }
      rows.push_back(row);
    }
    PQclear(r);
    return rows;
  }
  std::unique_ptr<TableLock> Lock(const std::string& schema, const std::string& table) override {
    return std::make_unique<PgLock>(server_, name_, schema, table);
  }
  std::string Net() const override { return LibpqNet(); }
  std::string LibpqNet() const override { return "postgresql://" + server_.host + ":" + server_.port + "/" + name_; }
  std::string Login() const override { return server_.login; }
  std::string Password() const override { return server_.password; }
  std::string Name() const override { return name_; }
  std::string Admin() const override { return server_.admin + " dbname=" + name_; }
  void Reconnect() override {
    PQfinish(conn_);
    conn_ = Pg_Connect(server_.admin, name_);
  }
  std::string Date(const std::string& ymd) const override { return "timestamp '" + ymd + "'"; }

 private:
  PgServer server_;
  std::string name_;
  bool created_ = false;
  bool existing_ = false;
  PGconn* conn_ = nullptr;
};

// A slot of the cluster's data sources, held by a lock on DIR/odbc-slots/K
// for as long as the database dayset_odbcK is the test's.
class OdbcSlot {
 public:
  explicit OdbcSlot(const PgServer& server) {
    const std::string dir = fs::path(server.odbcini).parent_path().string() + "/odbc-slots";
    for (int k = 1; k <= server.odbc_slots; ++k) {
      const std::string file = dir + "/" + std::to_string(k);
      const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) continue;
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        slot_ = k;
        return;
      }
      close(fd);
    }
    ADD_FAILURE() << "no free ODBC data source of the " << server.odbc_slots << " in " << server.odbcini;
  }
  ~OdbcSlot() {
    if (fd_ >= 0) close(fd_);
  }
  OdbcSlot(const OdbcSlot&) = delete;
  OdbcSlot& operator=(const OdbcSlot&) = delete;
  std::string Dsn() const { return "dayset_odbc" + std::to_string(slot_); }

 private:
  int fd_ = -1;
  int slot_ = 0;
};

// The slot first, so that it is given up only after the database is dropped.
class OdbcDatabase : private OdbcSlot, public PgDatabase {
 public:
  OdbcDatabase(const PgServer& server, bool with_hrsystem)
      : OdbcSlot(server), PgDatabase(server, with_hrsystem, OdbcSlot::Dsn()) {}
  Backend backend() const override { return Backend::kOdbc; }
  std::string Net() const override { return "odbc:" + OdbcSlot::Dsn(); }
};

}  // namespace

std::string Database::DateTime(const std::string& expr) const {
  return "to_char(" + expr + ", 'YYYY-MM-DD HH24:MI:SS')";
}
std::string Database::Ymd(const std::string& expr) const { return "to_char(" + expr + ", 'YYYYMMDD')"; }
std::string Database::Year(const std::string& expr) const { return "cast(extract(year from " + expr + ") as integer)"; }

std::unique_ptr<Database> Database::Sqlite(const std::string& dir, bool with_hrsystem) {
  return std::make_unique<SqliteDatabase>(dir, with_hrsystem);
}

std::unique_ptr<Database> Database::Postgres(const PgServer& server, bool with_hrsystem) {
  return std::make_unique<PgDatabase>(server, with_hrsystem);
}

// A site's data source (tools/odbc-conformance.sh): its database exists,
// and the suite's own connection is its owner's (DAYSET_TEST_PG).
class SiteOdbcDatabase : public PgDatabase {
 public:
  SiteOdbcDatabase(const PgServer& server, bool with_hrsystem, std::string dsn)
      : PgDatabase(server, with_hrsystem, Existing{}), dsn_(std::move(dsn)) {}
  Backend backend() const override { return Backend::kOdbc; }
  std::string Net() const override { return "odbc:" + dsn_; }

 private:
  std::string dsn_;
};

std::unique_ptr<Database> Database::Odbc(const PgServer& server, bool with_hrsystem) {
  if (const char* dsn = std::getenv("DAYSET_TEST_ODBC_SITE_DSN"); dsn != nullptr && *dsn != '\0') {
    return std::make_unique<SiteOdbcDatabase>(server, with_hrsystem, dsn);
  }
  return std::make_unique<OdbcDatabase>(server, with_hrsystem);
}

std::unique_ptr<Database> Database::Make(Backend backend, const std::string& dir, bool with_hrsystem) {
  if (backend == Backend::kSqlite) return Sqlite(dir, with_hrsystem);
  if (OdbcSite site; backend == Backend::kOdbc && OdbcSite::FromEnv(&site)) return OdbcSiteDatabase(site, with_hrsystem);
  PgServer server;
  std::string why;
  if (!PgServer::FromEnv(&server, &why)) ADD_FAILURE() << why;
  if (backend == Backend::kOdbc) return Odbc(server, with_hrsystem);
  return Postgres(server, with_hrsystem);
}

std::string DemoTarget(const Database& db) {
  if (db.backend() == Backend::kSqlite) return "";
  return "--net '" + db.LibpqNet() + "' --login '" + db.Login() + "' --pg-admin '" + db.Admin() + "' ";
}

int DemoMake(Database& db, const std::string& dir, const std::string& args, std::string* err) {
  TempDir scratch;
  const std::string cmd = "env -u NLS_TERRITORY -u NLS_LANG '" + BinaryPath("dayset-demo") + "' " + args + " " +
                          DemoTarget(db) + "'" + dir + "' >/dev/null 2>'" + scratch.file("err") + "'";
  const int status = RunCommand(cmd);
  if (err != nullptr) *err = ReadFile(scratch.file("err"));
  // In process: a password never goes on a command line.
  if (status == 0 && OnServer(db.backend()) &&
      Ini_Record_Put((dir + "/dayset.ini").c_str(), "DB", 2, "PASS", db.Password().c_str()) != 0) {
    ADD_FAILURE() << "cannot write PASS into " << dir << "/dayset.ini";
  }
  // The demo writes through libpq; the job then goes through ODBC.
  if (status == 0 && db.backend() == Backend::kOdbc &&
      Ini_Record_Put((dir + "/dayset.ini").c_str(), "DB", 2, "NET8", db.Net().c_str()) != 0) {
    ADD_FAILURE() << "cannot write NET8 into " << dir << "/dayset.ini";
  }
  return status;
}

std::vector<std::string> Dump(Database& db, const std::string& schema, bool with_stamps) {
  // Columns of the DDL; "d:" a date, "s:" a date that takes sysdate.
  static const char* const kTables[][17] = {
      {"Hrs133Bak", "d:BakDtm", "BakJhr", "BakMon", "BakTag", "BakWch", "BakWtg", "BakJtg", "BakYow", "s:BakDat"},
      {"Hrs133Kal", "KalNum", "d:KalDtm", "KalTtp", "KalPtp", "KalBtp", "KalGwt", "s:KalDat", "KalSta"},
      {"Hrs135Muw", "MuwKal", "MuwSta"},
      {"Hrs133Ka2", "Ka2Num", "d:Ka2Dtm", "Ka2Ttp", "Ka2Ptp", "Ka2Btp", "Ka2Gwt", "s:Ka2Dat", "Ka2Sta"},
      {"Hrs135Mu2", "Mu2Kal", "Mu2Sta"},
      {"Hrs137Wch", "WchKal", "WchTag", "WchTtp", "WchSta"},
      {"Hrs300Pnr", "PnrNum", "PnrNam", "PnrSta"},
      {"Hrs310Bsv", "BsvPnr", "d:BsvGvo", "d:BsvGbi", "BsvKal", "BsvAkr", "BsvAbr", "BsvSta"},
      {"Hrs327Tag", "TagPnr", "d:TagTag", "d:TagVon", "d:TagUhr", "d:TagBis", "d:TagEnd", "s:TagDat"},
      {"Hrs329Ztg", "ZtgPnr", "d:ZtgVon", "ZtgAkr", "ZtgAbt", "ZtgKst", "ZtgKtr", "ZtgKrt", "ZtgAgr", "ZtgTag",
       "ZtgBsd", "ZtgVra", "ZtgAzt", "ZtgTtp", "s:ZtgDat", "ZtgSta", "ZtgPnm"},
      {"Hrs311Zuo", "ZuoPnr", "d:ZuoGvo", "d:ZuoGbi", "d:ZuoSdt", "ZuoStg", "ZuoAgr", "ZuoAbt", "ZuoKst", "ZuoKrt",
       "ZuoKtr", "ZuoVra"},
      {"Hrs160Agr", "AgrNum", "AgrTge"},
      {"Hrs161Wpl", "WplAgr", "WplTag", "WplAzt", "WplVra"},
      {"Hrs332Urv", "UrvPnr", "UrvJhr"},
  };
  std::vector<std::string> all;
  for (const auto& t : kTables) {
    std::string select, order;
    for (size_t i = 1; i < std::size(t) && t[i] != nullptr; ++i) {
      std::string c = t[i];
      const bool stamp = c.rfind("s:", 0) == 0;
      if (stamp && !with_stamps) continue;
      const bool date = stamp || c.rfind("d:", 0) == 0;
      if (date) c = c.substr(2);
      select += (select.empty() ? "" : ", ") + (date ? db.DateTime(c) : c);
      order += (order.empty() ? "" : ", ") + c + " nulls first";
    }
    std::vector<std::string> rows = db.Rows(schema, "select " + select + " from " + t[0] + " order by " + order);
    all.push_back(std::string(t[0]) + ": " + std::to_string(rows.size()) + " rows");
    all.insert(all.end(), rows.begin(), rows.end());
  }
  return all;
}

// ---------------------------------------------------------------------------
// The fixture

void DbTest::SetUp() {
  const std::string why = Unavailable(GetParam());
  if (!why.empty()) GTEST_SKIP() << why;
  db_ = Database::Make(GetParam(), dir_.path());
  ASSERT_FALSE(HasFailure()) << "no test database";
  FixClock(ClockIsServers() ? std::time(nullptr) : LocalTime(2026, 12, 8, 10, 0, 0));
  RunLog = std::fopen(dir_.file("DAYSET.LOG").c_str(), "w");
  ASSERT_NE(RunLog, nullptr);
  faults::Install();
  ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
}

bool DbTest::ClockIsServers() const { return PlayingOracle() || (db_ != nullptr && db_->SysdateIsServers()); }

void DbTest::FixClock(std::time_t t) {
  Clock_Fix(t);
  RunDate_Init();
  if (!ClockIsServers()) db_->FixServerClock(t);
}

int DbTest::Reconnect(const std::string& schema, const SqlOptions& options) {
  Sql_Rt_Disconnect();
  std::snprintf(CurrentSchema, sizeof CurrentSchema, "%s", schema.c_str());
  return Sql_Connect(db_->Login().c_str(), db_->Password().c_str(), db_->Net().c_str(), schema.c_str(),
                     options);
}

void DbTest::TearDown() {
  faults::Uninstall();
  Sql_Rt_Disconnect();
  if (RunLog != nullptr) std::fclose(RunLog);
  RunLog = nullptr;
  Clock_Fix(0);
  if (db_ != nullptr) db_->FixServerClock(0);
  db_.reset();  // after the session: a PostgreSQL database is dropped
}

std::string DbTest::Log() {
  if (RunLog != nullptr) std::fflush(RunLog);
  return ReadFile(dir_.file("DAYSET.LOG"));
}

}  // namespace testdb

#include "testdb_odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "sqltext.h"

namespace testdb {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// A connection string value in braces, a '}' in it doubled.
std::string Braced(const std::string& value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

std::string Diag(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  SQLCHAR state[6];
  SQLCHAR text[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS;
       ++i) {
    out += std::string(reinterpret_cast<char*>(state)) + " (" + std::to_string(native) + ") " +
           reinterpret_cast<char*>(text) + "\n";
  }
  return out;
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// One ODBC connection of the tests' own; failures fail the test.
class OdbcConn {
 public:
  OdbcConn(const OdbcSite& site, bool autocommit) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)) ||
        !Ok(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      ADD_FAILURE() << "ODBC: no environment or connection handle";
      return;
    }
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(30), 0);
    // As the job's connect: psqlODBC takes braces around a password, not
    // around a user name.
    const bool plain = site.own_login.find_first_of(";{}") == std::string::npos && site.own_login[0] != ' ';
    const std::string cs = "DSN=" + site.dsn + ";UID=" + (plain ? site.own_login : Braced(site.own_login)) +
                           ";PWD=" + Braced(site.own_password) + ";";
    SQLSMALLINT outlen = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(cs.c_str())),
                                          SQL_NTS, nullptr, 0, &outlen, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      ADD_FAILURE() << "ODBC: cannot connect to data source " << site.dsn << " as " << site.own_login << ": "
                    << Diag(SQL_HANDLE_DBC, dbc_);
      return;
    }
    connected_ = true;
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
    SQLCHAR name[128] = {0};
    SQLSMALLINT len = 0;
    if (Ok(SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &len))) dbms_ = reinterpret_cast<char*>(name);
  }
  ~OdbcConn() {
    if (connected_) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLDisconnect(dbc_);
    }
    if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  OdbcConn(const OdbcConn&) = delete;
  OdbcConn& operator=(const OdbcConn&) = delete;

  bool connected() const { return connected_; }
  const std::string& dbms() const { return dbms_; }

  // Runs one statement; its rows, each as its columns joined by '|', into
  // *rows when given. False (and a failure) on error.
  bool Run(const std::string& sql, std::vector<std::string>* rows = nullptr) {
    if (!connected_) return false;
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) {
      ADD_FAILURE() << "ODBC: no statement handle";
      return false;
    }
    bool ok = true;
    const SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    if (!Ok(rc) && rc != SQL_NO_DATA) {
      ADD_FAILURE() << "ODBC: " << Diag(SQL_HANDLE_STMT, st) << sql;
      ok = false;
    } else if (rows != nullptr) {
      ok = Fetch(st, rows, sql);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return ok;
  }
  void Commit() {
    if (connected_ && !Ok(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) {
      ADD_FAILURE() << "ODBC: commit: " << Diag(SQL_HANDLE_DBC, dbc_);
    }
  }

 private:
  static bool Fetch(SQLHSTMT st, std::vector<std::string>* rows, const std::string& sql) {
    SQLSMALLINT cols = 0;
    SQLNumResultCols(st, &cols);
    for (;;) {
      const SQLRETURN rc = SQLFetch(st);
      if (rc == SQL_NO_DATA) return true;
      if (!Ok(rc)) {
        ADD_FAILURE() << "ODBC: fetch: " << Diag(SQL_HANDLE_STMT, st) << sql;
        return false;
      }
      std::string row;
      for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols); ++c) {
        if (c > 1) row += '|';
        std::string value;
        bool null = false;
        for (;;) {
          char buf[4096];
          SQLLEN ind = 0;
          const SQLRETURN g = SQLGetData(st, c, SQL_C_CHAR, buf, sizeof buf, &ind);
          if (g == SQL_NO_DATA) break;
          if (!Ok(g)) {
            ADD_FAILURE() << "ODBC: column " << c << ": " << Diag(SQL_HANDLE_STMT, st) << sql;
            return false;
          }
          if (ind == SQL_NULL_DATA) {
            null = true;
            break;
          }
          value += buf;
          if (g == SQL_SUCCESS) break;
        }
        row += null ? "NULL" : value;
      }
      rows->push_back(row);
    }
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  std::string dbms_;
};

// The SQL that tells the two dialects apart.
struct Dialect {
  bool oracle = false;

  // A schema of the job as the database names it: PostgreSQL's in lower
  // case, Oracle's in upper case (the job's names are letters only).
  std::string Schema(const std::string& schema) const {
    std::string out;
    for (char c : schema) {
      if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
        ADD_FAILURE() << "no schema name: " << schema;
        return "hrsystem";
      }
      out += static_cast<char>(oracle ? std::toupper(static_cast<unsigned char>(c))
                                      : std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
  }
  std::string Use(const std::string& schema) const {
    return oracle ? "ALTER SESSION SET CURRENT_SCHEMA = " + Schema(schema) : "set search_path to " + Schema(schema);
  }
  // Drops the schema with its tables; Oracle's schema, a user, stays.
  std::string Drop(const std::string& schema) const {
    const std::string s = Schema(schema);
    if (!oracle) return "drop schema if exists " + s + " cascade";
    return "BEGIN FOR t IN (SELECT table_name FROM all_tables WHERE owner = '" + s +
           "') LOOP EXECUTE IMMEDIATE 'DROP TABLE " + s +
           ".\"' || t.table_name || '\" CASCADE CONSTRAINTS PURGE'; END LOOP; END;";
  }
  std::string Ddl() const { return oracle ? "db/schema-oracle.sql" : "db/schema-postgresql.sql"; }
};

// The table a statement creates, or "".
std::string Created_Table(const std::string& stmt) {
  std::string words[3];
  std::size_t at = 0;
  for (std::string& w : words) {
    while (at < stmt.size() && std::isspace(static_cast<unsigned char>(stmt[at])) != 0) ++at;
    while (at < stmt.size() && (std::isalnum(static_cast<unsigned char>(stmt[at])) != 0 || stmt[at] == '_')) {
      w += static_cast<char>(std::tolower(static_cast<unsigned char>(stmt[at++])));
    }
  }
  return words[0] == "create" && words[1] == "table" ? words[2] : "";
}

class OdbcSiteLock : public TableLock {
 public:
  OdbcSiteLock(const OdbcSite& site, const Dialect& dialect, const std::string& schema, const std::string& table)
      : conn_(site, false) {
    conn_.Run(std::string(dialect.oracle ? "LOCK TABLE " : "lock table ") + dialect.Schema(schema) + "." + table +
              " in exclusive mode");
  }
  ~OdbcSiteLock() override { Release(); }
  void Release() override {
    if (released_) return;
    released_ = true;
    conn_.Commit();
  }

 private:
  OdbcConn conn_;
  bool released_ = false;
};

class OdbcSiteDb : public Database {
 public:
  OdbcSiteDb(const OdbcSite& site, bool with_hrsystem) : site_(site), conn_(std::make_unique<OdbcConn>(site, true)) {
    if (!conn_->connected()) return;
    if (conn_->dbms() == "Oracle") {
      dialect_.oracle = true;
      // The tests' texts and reads as the job's session has them.
      conn_->Run("ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.,'");
    } else if (conn_->dbms() != "PostgreSQL") {
      ADD_FAILURE() << "data source " << site.dsn << ": a database the tests do not know (" << conn_->dbms() << ")";
      return;
    }
    Drop_Schemas();
    if (with_hrsystem) CreateSchema("HRSYSTEM");
  }
  ~OdbcSiteDb() override { Drop_Schemas(); }

  Backend backend() const override { return Backend::kOdbc; }

  void CreateSchema(const std::string& schema) override {
    const std::string s = dialect_.Schema(schema);
    conn_->Run(dialect_.Drop(schema));
    if (!dialect_.oracle) conn_->Run("create schema " + s);
    Use(schema);
    for (const std::string& stmt : SplitStatements(ReadFile(SourcePath(dialect_.Ddl())))) Run_Granting(s, stmt);
    if (!dialect_.oracle) conn_->Run("grant usage on schema " + s + " to " + site_.job_login);
  }
  void Exec(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    Use(schema);
    const std::string s = dialect_.Schema(schema);
    for (const std::string& stmt : Statements(sql)) Run_Granting(s, stmt);
  }
  std::vector<std::string> Rows(const std::string& schema, const std::string& sql) override {
    CheckOracle(sql);
    Use(schema);
    std::vector<std::string> rows;
    for (const std::string& stmt : Statements(sql)) {
      rows.clear();
      conn_->Run(stmt, &rows);
    }
    return rows;
  }
  std::unique_ptr<TableLock> Lock(const std::string& schema, const std::string& table) override {
    return std::make_unique<OdbcSiteLock>(site_, dialect_, schema, table);
  }

  std::string Net() const override { return "odbc:" + site_.dsn; }
  std::string Login() const override { return site_.job_login; }
  std::string Password() const override { return site_.job_password; }
  void Reconnect() override {
    conn_ = std::make_unique<OdbcConn>(site_, true);
    current_.clear();
  }

  std::string Date(const std::string& ymd) const override {
    return dialect_.oracle ? "TO_DATE('" + ymd + "', 'YYYY-MM-DD')" : "timestamp '" + ymd + "'";
  }

  bool SysdateIsServers() const override { return dialect_.oracle && !site_.fixed_date; }
  void FixServerClock(std::time_t t) override {
    if (!dialect_.oracle || !site_.fixed_date) return;
    if (t == 0) {
      conn_->Run("ALTER SYSTEM SET FIXED_DATE = NONE");
      return;
    }
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d-%H:%M:%S", &tm);
    conn_->Run(std::string("ALTER SYSTEM SET FIXED_DATE = '") + buf + "'");
  }

 private:
  std::vector<std::string> Statements(const std::string& sql) const {
    return dialect_.oracle ? OracleStatements(sql) : SplitStatements(sql);
  }
  void Use(const std::string& schema) {
    if (current_ == schema) return;
    if (conn_->Run(dialect_.Use(schema))) current_ = schema;
  }
  // Runs a statement; a table it creates becomes the job's to read and
  // write (on PostgreSQL a schema's default privileges would do, but only
  // for the tables of the user that sets them).
  void Run_Granting(const std::string& schema, const std::string& stmt) {
    if (!conn_->Run(stmt)) return;
    const std::string table = Created_Table(stmt);
    if (!table.empty()) {
      conn_->Run("grant select, insert, update on " + schema + "." + table + " to " + site_.job_login);
    }
  }
  void Drop_Schemas() {
    for (const char* schema : kSuiteSchemas) conn_->Run(dialect_.Drop(schema));
    current_.clear();
  }

  OdbcSite site_;
  std::unique_ptr<OdbcConn> conn_;
  Dialect dialect_;
  std::string current_;
};

}  // namespace

bool OdbcSite::FromEnv(OdbcSite* out) {
  *out = OdbcSite{};
  out->dsn = Env("DAYSET_TEST_ODBC_SITE_DSN");
  out->own_login = Env("DAYSET_TEST_ODBC_OWN_LOGIN");
  if (out->dsn.empty() || out->own_login.empty()) return false;
  out->own_password = Env("DAYSET_TEST_ODBC_OWN_PASSWORD");
  out->job_login = Env("DAYSET_TEST_PG_LOGIN");
  out->job_password = Env("DAYSET_TEST_PG_PASSWORD");
  out->fixed_date = Env("DAYSET_TEST_ORACLE_FIXED_DATE") == "1";
  // It goes into the grants' texts.
  for (char c : out->job_login) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') {
      ADD_FAILURE() << "DAYSET_TEST_PG_LOGIN: letters, digits and '_' only";
      out->job_login = "nobody";
      break;
    }
  }
  return true;
}

std::unique_ptr<Database> OdbcSiteDatabase(const OdbcSite& site, bool with_hrsystem) {
  return std::make_unique<OdbcSiteDb>(site, with_hrsystem);
}

}  // namespace testdb

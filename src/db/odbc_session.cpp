// The ODBC backend's session (odbc_session.h): "odbc:DSN" for a data source
// of unixODBC's odbc.ini (ODBCINI, else ~/.odbc.ini and the system's).
//
// Login and password go to the driver as UID and PWD of SQLDriverConnect's
// connection string, never in the DSN name, which may not hold anything
// that would end or extend that string (Odbc_Net_Check).
//
// Waits: the connect within SqlOptions::connect_timeout_s
// (SQL_ATTR_LOGIN_TIMEOUT, which psqlODBC hands to libpq's connect_timeout);
// every later call within the reply timeout, by the session's watch, which
// cancels a call that goes on longer (SQLCancel) and breaks the session; a
// stop signal cancels the call in hand the same way. Lock waits as
// SqlOptions::lock_wait_ms says: on PostgreSQL lock_timeout, as on libpq.
#include "db/odbc_session.h"

#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/stop.h"
#include "db/odbc_oracle.h"
#include "db/oradate.h"
#include "db/pg_error.h"
#include "db/pg_shared.h"

namespace sqlrt {

namespace {

constexpr char kScheme[] = "odbc:";

// The watch looks for a stop signal at least this often.
constexpr auto kWatchLook = std::chrono::milliseconds(200);

bool Ok(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

// A value of the connection string in braces, '}' doubled: nothing in it
// ends the value or starts another attribute.
std::string Braced(const char* v) {
  std::string out = "{";
  for (const char* p = v; *p != '\0'; ++p) {
    if (*p == '}') out += '}';
    out += *p;
  }
  return out + "}";
}

// The descriptors of the process's sockets, in order.
std::vector<int> Socket_Fds() {
  std::vector<int> fds;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return fds;
  while (const dirent* e = readdir(d)) {
    char link[64];
    const std::string path = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    if (n <= 0) continue;
    link[n] = '\0';
    if (std::strncmp(link, "socket:", 7) == 0) fds.push_back(std::atoi(e->d_name));
  }
  closedir(d);
  std::sort(fds.begin(), fds.end());
  return fds;
}

}  // namespace

// ---------------------------------------------------------------------------
// The watch

OdbcWatch::~OdbcWatch() {
  if (thread_ == nullptr) return;
  if (pid_ != static_cast<long>(getpid())) {
    (void)thread_.release();  // a forked child: the thread runs in the parent only
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_->join();
}

void OdbcWatch::Begin(SQLHSTMT stmt) {
  if (thread_ == nullptr || pid_ != static_cast<long>(getpid())) {
    if (thread_ != nullptr) (void)thread_.release();
    pid_ = static_cast<long>(getpid());
    quit_ = false;
    thread_ = std::make_unique<std::thread>([this] { Loop(); });
  }
  std::lock_guard<std::mutex> lock(m_);
  busy_ = stmt;
  active_ = true;
  fired_ = kNone;
  since_ = std::chrono::steady_clock::now();
}

OdbcWatch::Fired OdbcWatch::End(long* waited_ms) {
  std::lock_guard<std::mutex> lock(m_);
  active_ = false;
  busy_ = nullptr;
  *waited_ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since_).count());
  return fired_;
}

void OdbcWatch::Loop() {
  std::unique_lock<std::mutex> lock(m_);
  while (!quit_) {
    cv_.wait_for(lock, kWatchLook);
    if (!active_ || fired_ != kNone) continue;
    if (Stop_Signal() != 0) {
      fired_ = kStop;
    } else if (std::chrono::steady_clock::now() - since_ > std::chrono::milliseconds(reply_ms_)) {
      fired_ = kTimeout;
    } else {
      continue;
    }
    // The blocked call gets an error at once; nothing else uses the
    // connection from here on (the session is broken).
    for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
  }
}

// ---------------------------------------------------------------------------
// The session

OdbcSession::~OdbcSession() {
  watch_.reset();
  if (connected_) {
    if (in_txn_ || dialect_ == kOracle) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
  }
  if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void OdbcSession::Call_Begin(SQLHSTMT stmt, int trips) {
  round_trips_ += trips;
  watch_->Begin(stmt);
}

void OdbcSession::Call_End() {
  long waited = 0;
  fired_ = watch_->End(&waited);
  longest_wait_ms_ = std::max(longest_wait_ms_, waited);
}

int OdbcSession::Fail_Broken(int code, const char* what) {
  if (broken_ == nullptr) {
    broken_ = what;
    broken_code_ = code;
  }
  return broken_code_;
}

bool OdbcSession::Dead() {
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN r = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return Ok(r) && dead == SQL_CD_TRUE;
}

int OdbcSession::Fail(SQLSMALLINT type, SQLHANDLE h) {
  if (broken_ != nullptr) return broken_code_;
  if (fired_ == OdbcWatch::kStop) {
    const PgError e = Pg_Error_Stopped();
    return Fail_Broken(e.code, e.broken);
  }
  if (fired_ == OdbcWatch::kTimeout) {
    const PgError e = Pg_Error_No_Answer();
    return Fail_Broken(e.code, e.broken);
  }
  SQLCHAR state[6] = "";
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  SQLCHAR message[8];
  const bool diag = Ok(SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &len));
  const char* st = diag ? reinterpret_cast<const char*>(state) : "";
  // A lost connection shows in the dead flag (psqlODBC: after 57P01 or
  // 08S01), whatever the call reported.
  if (Dead() || std::strncmp(st, "08", 2) == 0) {
    const PgError e = Pg_Error_Lost();
    return Fail_Broken(e.code, e.broken);
  }
  if (dialect_ == kOracle) {
    const OraError e = Ora_Error_Of(static_cast<long>(native), st);
    return e.broken != nullptr ? Fail_Broken(e.code, e.broken) : e.code;
  }
  const PgError e = Pg_Error_Of(diag ? st : nullptr);
  return e.broken != nullptr ? Fail_Broken(e.code, e.broken) : e.code;
}

void OdbcSession::After_Failure(int code) {
  // A lock not granted within the wait: the rest of the transaction waits
  // for none (as the libpq backend's dayset_nowait).
  if (code != kSqlLocked || !in_txn_ || nowait_ || dialect_ != kPostgres || broken_ != nullptr) return;
  nowait_ = true;
  Run_Direct(kPgNoWaitSql);
}

int OdbcSession::Connect_Error(const char* state, long native, const std::string& message) {
  // Before the connect the dialect is not known: Oracle's driver names its
  // refusal by its ORA number.
  if (native > 0 && message.find("ORA-") != std::string::npos) return Ora_Connect_Error_Of(native, state).code;
  // The driver manager's: no such data source, no driver.
  if (std::strncmp(state, "IM", 2) == 0) return kSqlUnknownService;
  if (std::strcmp(state, "HYT00") == 0 || std::strcmp(state, "HYT01") == 0) return kSqlConnectTimeout;
  if (std::strncmp(state, "28", 2) == 0) return kSqlLoginRefused;
  if (std::strcmp(state, "53300") == 0) return kSqlTooManySessions;
  if (std::strcmp(state, "3D000") == 0) return kSqlNoDatabase;
  if (std::strcmp(state, "57P03") == 0) return kSqlStartingUp;
  // psqlODBC reports every failed connect as 08001 with libpq's message,
  // which is all there is to tell the causes apart by.
  static const struct {
    const char* text;
    int code;
  } kTexts[] = {
      {"password authentication failed", kSqlLoginRefused},
      {"no password supplied", kSqlLoginRefused},
      {"authentication failed", kSqlLoginRefused},
      {"remaining connection slots", kSqlTooManySessions},
      {"too many clients", kSqlTooManySessions},
      {"too many connections", kSqlTooManySessions},
      {"timeout expired", kSqlConnectTimeout},
      {"the database system is starting up", kSqlStartingUp},
      {"the database system is shutting down", kSqlStartingUp},
  };
  for (const auto& t : kTexts) {
    if (message.find(t.text) != std::string::npos) return t.code;
  }
  if (message.find("database \"") != std::string::npos && message.find("does not exist") != std::string::npos) {
    return kSqlNoDatabase;
  }
  return kSqlNoListener;
}

int OdbcSession::Open(const char* login, const char* password, const std::string& dsn, const SqlOptions& options) {
  sunday_first_ = Ora_Territory_Sunday_First(options.territory.c_str());
  system_ = Pg_Fold_Name(options.system_schema);
  watch_ = std::make_unique<OdbcWatch>(std::max(options.reply_timeout_s, 1) * 1000L);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)) ||
      !Ok(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
      !Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    return kPgNoMemory;
  }
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(options.connect_timeout_s, 1))), 0);
  // UseServerSidePrepare is psqlODBC's: on, whatever the DSN says (see
  // odbc_session.h). A driver ignores what it does not know.
  // psqlODBC reads braces around a password, not around a user name: a
  // plain login goes as it stands.
  const bool plain = std::strpbrk(login, ";{}") == nullptr && *login != ' ';
  std::string cs = "DSN=" + dsn + ";UID=" + (plain ? std::string(login) : Braced(login)) + ";PWD=" + Braced(password) +
                   ";UseServerSidePrepare=1;";
  const std::vector<int> before = Socket_Fds();
  SQLRETURN r = Call(nullptr, 1, [&] {
    return SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), static_cast<SQLSMALLINT>(cs.size()),
                            nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  });
  std::fill(cs.begin(), cs.end(), '\0');
  if (!Ok(r)) {
    if (fired_ == OdbcWatch::kStop) return kSqlCancelled;
    SQLCHAR state[6] = "";
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = "";
    SQLSMALLINT len = 0;
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc_, 1, state, &native, message, sizeof message, &len);
    return Connect_Error(reinterpret_cast<const char*>(state), static_cast<long>(native),
                         reinterpret_cast<const char*>(message));
  }
  connected_ = true;
  std::vector<int> opened;
  for (int fd : Socket_Fds()) {
    if (!std::binary_search(before.begin(), before.end(), fd)) opened.push_back(fd);
  }
  watch_->Sockets(std::move(opened));
  char name[64] = "";
  SQLSMALLINT len = 0;
  SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &len);
  if (std::strcmp(name, "PostgreSQL") == 0) {
    dialect_ = kPostgres;
  } else if (std::strcmp(name, "Oracle") == 0) {
    dialect_ = kOracle;
  } else {
    return kSqlUnknownService;  // no dialect for it
  }
  if (dialect_ == kOracle) {
    if (!Ok(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
      return Fail(SQL_HANDLE_DBC, dbc_);
    }
    for (const std::string& sql : Ora_Session_Statements(options)) {
      const int rc = Run_Direct(sql);
      if (rc != 0) return rc;
    }
    return 0;
  }
  // The libpq backend's settings, in one round trip (autocommit is on
  // until the first write).
  std::string sql = "select ";
  std::vector<std::string> params;
  for (const auto& [key, value] : Pg_Session_Settings(options)) {
    if (!params.empty()) sql += ", ";
    sql += "pg_catalog.set_config($" + std::to_string(params.size() + 1) + ", $" + std::to_string(params.size() + 2) +
           ", false)";
    params.push_back(key);
    params.push_back(value);
  }
  std::vector<std::vector<std::string>> rows;
  return Query(sql.c_str(), params, &rows);
}

int OdbcSession::Write_Begins() {
  if (broken_ != nullptr) return broken_code_;
  if (in_txn_) return 0;
  if (dialect_ == kPostgres &&
      !Ok(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    return Fail(SQL_HANDLE_DBC, dbc_);
  }
  in_txn_ = true;
  return 0;
}

int OdbcSession::Run_Direct(const std::string& sql) {
  SQLHSTMT h = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &h))) return Fail(SQL_HANDLE_DBC, dbc_);
  std::string text = sql;
  const SQLRETURN r = Call(h, 1, [&] {
    return SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
  });
  const int rc = Ok(r) || r == SQL_NO_DATA ? 0 : Fail(SQL_HANDLE_STMT, h);
  // Closed first: psqlODBC frees a failed statement's result only so.
  SQLFreeStmt(h, SQL_CLOSE);
  SQLFreeHandle(SQL_HANDLE_STMT, h);
  return rc;
}

int OdbcSession::Query(const char* pg_sql, const std::vector<std::string>& params,
                       std::vector<std::vector<std::string>>* rows) {
  rows->clear();
  if (broken_ != nullptr) return broken_code_;
  std::vector<int> order;
  std::string sql = Odbc_Markers(pg_sql, &order);
  SQLHSTMT h = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &h))) return Fail(SQL_HANDLE_DBC, dbc_);
  std::vector<SQLLEN> lens(order.size());
  SQLRETURN r = SQL_SUCCESS;
  for (size_t i = 0; i < order.size() && Ok(r); ++i) {
    const std::string& v = params[static_cast<size_t>(order[i])];
    lens[i] = static_cast<SQLLEN>(v.size());
    r = SQLBindParameter(h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                         std::max<SQLULEN>(v.size(), 1), 0, const_cast<char*>(v.data()), lens[i], &lens[i]);
  }
  if (Ok(r)) {
    r = Call(h, 1, [&] {
      return SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
    });
  }
  SQLSMALLINT cols = 0;
  if (Ok(r)) r = SQLNumResultCols(h, &cols);
  while (Ok(r) && cols > 0) {
    r = SQLFetch(h);
    if (r == SQL_NO_DATA) break;
    if (!Ok(r)) break;
    std::vector<std::string> row;
    for (SQLSMALLINT c = 1; c <= cols && Ok(r); ++c) {
      char buf[512];
      SQLLEN ind = 0;
      r = SQLGetData(h, static_cast<SQLUSMALLINT>(c), SQL_C_CHAR, buf, sizeof buf, &ind);
      row.emplace_back(Ok(r) && ind >= 0 ? buf : "");
    }
    rows->push_back(std::move(row));
  }
  const int rc = Ok(r) || r == SQL_NO_DATA ? 0 : Fail(SQL_HANDLE_STMT, h);
  // Closed first: psqlODBC frees a failed statement's result only so.
  SQLFreeStmt(h, SQL_CLOSE);
  SQLFreeHandle(SQL_HANDLE_STMT, h);
  return rc;
}

int OdbcSession::Load_Catalog() {
  catalog_.clear();
  std::vector<std::vector<std::string>> rows;
  const int rc = Query(kPgCatalogSql, {current_, system_}, &rows);
  if (rc != 0) return rc;
  for (const auto& row : rows) {
    if (row.size() != 2) continue;
    const PgType ty = Pg_Type_Of_Oid(static_cast<unsigned>(std::strtoul(row[1].c_str(), nullptr, 10)));
    const auto [it, added] = catalog_.emplace(row[0], ty);
    if (!added && it->second != ty) it->second = PgType::kUnknown;  // the same name with two types
  }
  catalog_loaded_ = true;
  return 0;
}

int OdbcSession::Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) {
  if (broken_ != nullptr) return broken_code_;
  if (dialect_ == kOracle) return Prepare_Once(parsed, out);
  const bool fresh = !catalog_loaded_;
  if (fresh) {
    const int rc = Load_Catalog();
    if (rc != 0) return rc;
  }
  int rc = Prepare_Once(parsed, out);
  // A table made after the catalog was read: its date columns were not
  // known to the translation. Read the catalog again and try once more.
  if (rc == kSqlNoColumn && !fresh) {
    rc = Load_Catalog();
    if (rc == 0) rc = Prepare_Once(parsed, out);
  }
  return rc;
}

int OdbcSession::Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out) {
  PgTranslation tr;
  std::string sql;
  std::vector<int> order;
  if (dialect_ == kPostgres) {
    tr = Pg_Translate(parsed, catalog_, sunday_first_);
    if (tr.error != 0) return tr.error;
    sql = Odbc_Markers(tr.sql, &order);
    if (Odbc_Repeats(order)) {
      std::vector<std::string> types;
      const int rc = Param_Types(tr.sql, &types);
      if (rc != 0) return rc;
      sql = Odbc_Markers(tr.sql, &order, &types);
    }
  } else {
    sql = Ora_Text(parsed);
    tr.inputs = parsed.inputs;
    tr.params.resize(static_cast<size_t>(parsed.inputs));
    for (int i = 0; i < parsed.inputs; ++i) order.push_back(i);
  }
  SQLHSTMT h = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &h))) return Fail(SQL_HANDLE_DBC, dbc_);
  auto st = std::make_unique<OdbcStatement>(this, h, parsed.write, std::move(tr), std::move(order));
  // Prepared once for the run; a select's columns are described now, once
  // (psqlODBC parses the statement on the server for it), so that its
  // executions need nothing more than the execution.
  SQLRETURN r = SQLPrepare(h, reinterpret_cast<SQLCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()));
  if (!Ok(r)) return Fail(SQL_HANDLE_STMT, h);
  if (parsed.select) {
    const int rc = st->Describe();
    if (rc != 0) {
      After_Failure(rc);
      return rc;
    }
  }
  *out = std::move(st);
  return 0;
}

int OdbcSession::Param_Types(const std::string& pg_sql, std::vector<std::string>* types) {
  types->clear();
  int rc = Run_Direct("PREPARE dayset_types AS " + pg_sql);
  if (rc != 0) {
    After_Failure(rc);
    return rc;
  }
  std::vector<std::vector<std::string>> rows;
  rc = Query("select pg_catalog.array_to_string(parameter_types::pg_catalog.text[], '|') from "
             "pg_catalog.pg_prepared_statements where name = 'dayset_types'",
             {}, &rows);
  const int dealloc = Run_Direct("DEALLOCATE dayset_types");
  if (rc == 0) rc = dealloc;
  if (rc != 0) return rc;
  if (rows.size() != 1 || rows[0].size() != 1) return kSqlBadStatement;
  const std::string& list = rows[0][0];
  for (size_t at = 0; at <= list.size();) {
    const size_t bar = std::min(list.find('|', at), list.size());
    types->push_back(list.substr(at, bar - at));
    at = bar + 1;
  }
  return 0;
}

int OdbcSession::Switch_Schema(const std::string& name) {
  if (broken_ != nullptr) return broken_code_;
  if (dialect_ == kOracle) {
    const int rc = Run_Direct(Ora_Schema_Switch(name));
    if (rc != 0) return rc;
    ++generation_;
    return 0;
  }
  const std::string lower = Pg_Fold_Name(name);
  if (lower == current_) return 0;
  std::vector<std::vector<std::string>> rows;
  const int rc = Query(kPgSchemaSwitchSql, {"\"" + lower + "\"", lower}, &rows);
  if (rc != 0) return rc;
  if (rows.size() != 1) return kSqlNoSchema;
  current_ = lower;
  catalog_loaded_ = false;
  ++generation_;
  return 0;
}

int OdbcSession::End(SQLSMALLINT how) {
  if (broken_ != nullptr) return broken_code_;
  if (!in_txn_ && dialect_ == kPostgres) return 0;
  in_txn_ = false;
  nowait_ = false;
  const SQLRETURN r = Call(nullptr, 1, [&] { return SQLEndTran(SQL_HANDLE_DBC, dbc_, how); });
  if (!Ok(r)) return Fail(SQL_HANDLE_DBC, dbc_);
  // A commit's success is no proof: psqlODBC reports one on a connection
  // it has found dead.
  if (Dead()) {
    const PgError e = Pg_Error_Lost();
    return Fail_Broken(e.code, e.broken);
  }
  if (dialect_ == kPostgres &&
      !Ok(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0))) {
    return Fail(SQL_HANDLE_DBC, dbc_);
  }
  return 0;
}

int OdbcSession::Commit() { return End(SQL_COMMIT); }

int OdbcSession::Rollback() { return End(SQL_ROLLBACK); }

bool Odbc_Repeats(const std::vector<int>& order) {
  for (size_t i = 0; i < order.size(); ++i) {
    for (size_t j = i + 1; j < order.size(); ++j) {
      if (order[i] == order[j]) return true;
    }
  }
  return false;
}

std::string Odbc_Markers(const std::string& pg_sql, std::vector<int>* order, const std::vector<std::string>* types) {
  std::vector<int> count;
  if (types != nullptr) {
    for (int k : *order) {
      if (k >= static_cast<int>(count.size())) count.resize(static_cast<size_t>(k) + 1);
      ++count[static_cast<size_t>(k)];
    }
  }
  order->clear();
  std::string out;
  size_t pos = 0;
  while (pos < pg_sql.size()) {
    const SqlToken t = Sql_Token_At(pg_sql, pos);
    if (t.kind == SqlToken::kEnd) break;
    size_t end = t.end;
    if (t.kind == SqlToken::kOther && pg_sql[t.begin] == '$') {
      size_t d = t.begin + 1;
      int n = 0;
      while (d < pg_sql.size() && pg_sql[d] >= '0' && pg_sql[d] <= '9') n = n * 10 + (pg_sql[d++] - '0');
      if (d > t.begin + 1) {
        order->push_back(n - 1);
        const size_t k = static_cast<size_t>(n - 1);
        if (types != nullptr && k < count.size() && count[k] > 1 && k < types->size() && !(*types)[k].empty()) {
          out += "CAST(? AS " + (*types)[k] + ")";
        } else {
          out += '?';
        }
        pos = d;
        continue;
      }
    }
    out.append(pg_sql, t.begin, end - t.begin);
    pos = end;
  }
  return out;
}

namespace {

bool Odbc_Owns(const char* net) { return Sql_Net_Has_Scheme(net, kScheme); }

const char* Odbc_Net_Check(const char* net) {
  static const char kAllowed[] =
      "odbc:DSN, der Name einer Datenquelle ohne ';', '=', '{', '}' und Steuerzeichen (LOGIN und PASS kommen "
      "aus der Konfiguration)";
  const char* dsn = net + std::strlen(kScheme);
  if (*dsn == '\0') return kAllowed;
  for (const char* p = dsn; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f || std::strchr(";={}", c) != nullptr) return kAllowed;
  }
  return nullptr;
}

int Odbc_Open(const char* login, const char* password, const char* net, const SqlOptions& options,
              std::unique_ptr<Session>* out) {
  const std::string dsn = net + std::strlen(kScheme);
  if (dsn.empty()) return kSqlUnknownService;
  auto s = std::make_unique<OdbcSession>();
  const int rc = s->Open(login, password, dsn, options);
  if (rc != 0) return rc;
  *out = std::move(s);
  return 0;
}

std::string Odbc_Connect_Missing(int rc, const char* net, const char* /*schema*/) {
  if (rc != kSqlUnknownService) return "";
  std::string dsn;
  for (const char* p = net + std::strlen(kScheme); *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      dsn += "\\x";
      dsn += kHex[c >> 4];
      dsn += kHex[c & 15];
    } else {
      dsn += static_cast<char>(c);
    }
  }
  return "ODBC-Datenquelle \"" + dsn +
         "\" unbekannt (odbc.ini, ODBCINI), ihr Treiber nicht ladbar oder ihr Datenbanksystem weder PostgreSQL "
         "noch Oracle";
}

}  // namespace

const BackendEntry kOdbcBackend = {"odbc", Odbc_Owns, Odbc_Net_Check, Odbc_Open, Odbc_Connect_Missing};

}  // namespace sqlrt

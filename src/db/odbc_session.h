// The ODBC backend's session and statements, private to the backend:
// odbc_session.cpp holds the session (connect, the dialect, transactions,
// the error mapping, the watch over every call), odbc_statement.cpp the
// statements (binding, execution, the rows). The runtime reaches both
// through backend.h only (kOdbcBackend).
//
// Dialects, by the driver's SQL_DBMS_NAME:
//   "PostgreSQL": the texts go through the libpq backend's translator
//     (pg_translate.h) with its session settings, catalog and schema
//     switch (pg_shared.h), so that both give the same rows; failures map
//     by the server's SQLSTATE (pg_error.h). psqlODBC's statement-level
//     rollback (a savepoint around each statement inside a transaction)
//     gives Oracle's semantics; server-side prepare is forced on, since
//     without it a statement that fails to parse takes the whole
//     transaction with it.
//   "Oracle": the texts pass unchanged (odbc_oracle.h); failures map by the
//     native error, the ORA number.
//
// Transactions: Oracle's, as on libpq. On PostgreSQL a transaction begins
// with the first write after connect or commit (autocommit goes off then,
// and on again at its end), so that reads outside it run on their own and
// hold no lock; on Oracle, which begins none for a read, autocommit stays
// off.
//
// Every call that waits for the server is watched by a thread of the
// session: a stop signal (base/stop.h) or a call longer than the reply
// timeout cuts it short by shutting the connection's socket down (the
// sockets the connect opened), and the session is then broken as on libpq.
// Not SQLCancel: psqlODBC's opens a second connection to the server and
// waits for its answer, which hangs on the same frozen network, and it
// cannot reach a commit (SQLEndTran has no statement to cancel).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/backend.h"
#include "db/pg_translate.h"
#include "db/rowstore.h"

namespace sqlrt {

// The thread that watches the session's calls.
class OdbcWatch {
 public:
  enum Fired { kNone, kStop, kTimeout };
  explicit OdbcWatch(long reply_ms) : reply_ms_(reply_ms) {}
  ~OdbcWatch();
  // A call on `stmt` (null: a call of the connection) begins; End says whether the watch fired
  // meanwhile and gives the time the call took.
  void Begin(SQLHSTMT stmt);
  Fired End(long* waited_ms);
  // The sockets of the connection, shut down when the watch fires.
  void Sockets(std::vector<int> fds) { sockets_ = std::move(fds); }

 private:
  void Loop();
  std::mutex m_;
  std::condition_variable cv_;
  SQLHSTMT busy_ = nullptr;
  bool active_ = false;
  Fired fired_ = kNone;
  bool quit_ = false;
  std::chrono::steady_clock::time_point since_;
  long reply_ms_;
  std::vector<int> sockets_;
  long pid_ = 0;  // the process the thread runs in
  std::unique_ptr<std::thread> thread_;
};

class OdbcStatement;

class OdbcSession : public Session {
 public:
  enum Dialect { kPostgres, kOracle };
  ~OdbcSession() override;
  int Open(const char* login, const char* password, const std::string& dsn, const SqlOptions& options);
  int Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) override;
  int Switch_Schema(const std::string& name) override;
  int Commit() override;
  int Rollback() override;
  unsigned Name_Generation() const override { return generation_; }
  long Round_Trips() const override { return round_trips_; }
  long Longest_Wait_Ms() const override { return longest_wait_ms_; }
  const char* Broken() const override { return broken_; }

  // Batches: a run of consecutive executions of one write goes as one
  // execution over parameter arrays (SQL_ATTR_PARAMSET_SIZE), which
  // psqlODBC sends in one round trip per BatchSize (100) rows; every other
  // item, and the items of a run that failed (a failing row fails the whole
  // array, which the driver's statement-level rollback undoes), runs alone
  // as it is adopted.
  bool Batches() const override { return true; }
  void Batch_Begin() override { batch_.clear(); }
  int Batch_Run(int /*stop_code*/) override { return broken_ != nullptr ? broken_code_ : 0; }

  // A batch item: its statement and the values of its parameters.
  struct BatchItem {
    OdbcStatement* st;
    std::vector<std::string> values;
    std::vector<char> null;
    int run = -1;       // the first item of its run (one statement over arrays), or -1
    bool ran = false;   // its run went, and rc is its outcome
    int rc = kSqlNotRun;
  };
  std::vector<BatchItem>& batch() { return batch_; }

  Dialect dialect() const { return dialect_; }
  SQLHDBC dbc() const { return dbc_; }
  bool In_Txn() const { return in_txn_; }
  int broken_code() const { return broken_code_; }
  // Before a write runs: the transaction begins (on PostgreSQL autocommit
  // goes off). 0 or a negative code.
  int Write_Begins();
  // Runs one call of the driver on `stmt` (null: of the connection) under
  // the watch; trips: the round trips it costs.
  template <class F>
  SQLRETURN Call(SQLHSTMT stmt, int trips, F&& fn) {
    Call_Begin(stmt, trips);
    const SQLRETURN r = fn();
    Call_End();
    return r;
  }
  // The code of the failure the last call on handle h (of `type`) met; sets
  // Broken where the session cannot go on.
  int Fail(SQLSMALLINT type, SQLHANDLE h);
  // The statement that a failure of `code` leaves: the lock wait of the
  // rest of the transaction goes (kPgNoWaitSql).
  void After_Failure(int code);

 private:
  void Call_Begin(SQLHSTMT stmt, int trips);
  void Call_End();
  int Connect_Error(const char* state, long native, const std::string& message);
  int Fail_Broken(int code, const char* what);
  int Run_Direct(const std::string& sql);
  // A query of the session's own with text parameters ($1... in the
  // PostgreSQL form); its rows, each value as text, into *rows.
  int Query(const char* pg_sql, const std::vector<std::string>& params, std::vector<std::vector<std::string>>* rows);
  int Load_Catalog();
  int Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out);
  // The types the server infers for the parameters of a text in the
  // PostgreSQL form, by a prepare of it in SQL.
  int Param_Types(const std::string& pg_sql, std::vector<std::string>* types);
  int End(SQLSMALLINT how);
  bool Dead();

  std::vector<BatchItem> batch_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  Dialect dialect_ = kPostgres;
  std::unique_ptr<OdbcWatch> watch_;
  OdbcWatch::Fired fired_ = OdbcWatch::kNone;  // what the watch did to the last call
  bool in_txn_ = false;
  bool nowait_ = false;  // kPgNoWaitSql sent in the open transaction
  const char* broken_ = nullptr;
  int broken_code_ = 0;
  unsigned generation_ = 1;
  std::string current_;  // PostgreSQL: the current schema, folded
  PgCatalog catalog_;
  bool catalog_loaded_ = false;
  bool sunday_first_ = true;
  std::string system_;
  long round_trips_ = 0;
  long longest_wait_ms_ = 0;
};

// Text in the PostgreSQL form ($1, $2, ... outside literals and quoted
// names) as ODBC's: each marker becomes '?', and *order gets, for each '?'
// in turn, the index (0-based) of the parameter it stands for. types, when
// given, names the type of each parameter: a parameter that stands more
// than once is written CAST(? AS type) everywhere, since each '?' is a
// parameter of its own to the server, which would infer the type of each
// alone.
std::string Odbc_Markers(const std::string& pg_sql, std::vector<int>* order,
                         const std::vector<std::string>* types = nullptr);
// Whether a parameter stands more than once in the text Odbc_Markers made.
bool Odbc_Repeats(const std::vector<int>& order);

class OdbcStatement : public Statement {
 public:
  OdbcStatement(OdbcSession* s, SQLHSTMT h, bool write, PgTranslation tr, std::vector<int> order)
      : s_(s), h_(h), write_(write), tr_(std::move(tr)), order_(std::move(order)) {
    values_.resize(tr_.params.size());
    null_.assign(tr_.params.size(), 1);
  }
  ~OdbcStatement() override;
  // Describes the result's columns and binds their arrays (after the
  // prepare of a select): 0 or a negative code.
  int Describe();
  int Columns() const override { return static_cast<int>(cols_.size()); }
  int Bind(int index, const SqlVar& var) override;
  int Step() override;
  int Materialize() override;
  int Column(int index, const SqlVar& out) override;
  void Reset() override;
  int Queue() override;
  int Adopt(int item) override;

 private:
  void Clock_Values();
  // Runs items [first, first + n) of the session's batch, executions of
  // this write, as one execution over arrays: each item's outcome, or
  // false when the run failed as a whole (its items then go alone).
  bool Run_Array(size_t first, size_t n);
  struct Col {
    SQLSMALLINT sql_type = 0;
    bool date = false;     // fetched as SQL_C_TYPE_TIMESTAMP
    bool numeric = false;  // a decimal number: trailing zeros of the fraction go
    SQLLEN width = 0;      // of one value in buf, with the NUL
    std::vector<char> buf;
    std::vector<SQL_TIMESTAMP_STRUCT> ts;
    std::vector<SQLLEN> ind;
  };
  int Execute();
  int Fetch_All();

  OdbcSession* s_;
  SQLHSTMT h_;
  bool write_;
  PgTranslation tr_;       // PostgreSQL: the translation; Oracle: its inputs alone
  std::vector<int> order_;  // the parameter of each marker
  std::vector<std::string> values_;
  std::vector<char> null_;
  std::vector<SQLLEN> lens_;
  std::vector<std::string> arrays_;  // a run's parameters, one array each
  std::vector<std::vector<SQLLEN>> array_lens_;
  std::vector<SQLUSMALLINT> param_status_;
  std::vector<Col> cols_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN fetched_ = 0;
  std::vector<RowValue> row_;
  RowStore rows_;
  bool started_ = false;
  bool has_row_ = false;
};

}  // namespace sqlrt

// The embedded backend: "sqlite:DIR", one database file per schema.
//
// DIR/NAME.db holds schema NAME (upper case). The connection's main database
// is an empty in-memory one; DIR/HRSYSTEM.db is attached as HRSYSTEM and the
// current schema, once switched to, under its own name (HRSYSTEM itself is
// attached only once). Every table name of a statement is qualified when the
// statement is translated: names written with a schema keep it, the others
// get the current schema's. SQLite would otherwise look an unqualified name
// up in every attached database, and a table missing in the current schema
// (Hrs133Ka2) must give -942, not HRSYSTEM's table.
//
// DATE columns hold Julian day numbers in local time (midnight N.5). The
// Oracle functions the statements use are registered as SQL functions at
// connect (sqlite_functions.h); bare sysdate becomes a call at translation,
// and DUAL Oracle's one-row table.
//
// Transactions: Oracle-like. A transaction begins (BEGIN IMMEDIATE, waiting
// for another writer within the busy timeout) with the first insert, update
// or delete after connect or commit; reads outside it see the latest
// committed rows, so an idle session holds neither locks nor a snapshot.
// A failed statement is undone by SQLite's statement rollback; where SQLite
// ends the whole transaction itself (disk full, I/O error), the next commit
// reports -2091 instead of success.
//
// Cursors run to their end at open and keep their rows (Materialize). SQLite
// itself would let a stepping read statement live through COMMIT, but it
// pins the connection's read snapshot: once any other program commits, every
// later write of the job fails with SQLITE_BUSY_SNAPSHOT until the cursor
// closes, and no checkpoint can restart the WAL, which then grows with every
// person of the run. Kept rows give Oracle's read consistency as of the
// open instead, and the job's writes to a table a cursor reads cannot
// disturb it. The largest cursor, the employment scan, keeps about ninety
// bytes per employment (db/rowstore.h).
//
// Batches (backend.h) run item by item as the runtime adopts them; a run of
// one insert goes as one statement of several value rows, with the outcome
// of each item as alone (SqliteSession::Batch_Adopt).
//
// Durability: every schema file runs in WAL mode with synchronous=NORMAL. A
// committed transaction is in the WAL file before COMMIT returns, so it
// survives any later kill of the process. A power loss or operating-system
// crash can lose the transactions committed since the last checkpoint (at
// most the last WAL's worth, about 10000 pages or 40 MB), never corrupt the
// file; a rerun of the job redoes them. A transaction that writes to two
// schema files is atomic in each file, not across both (the job's units of
// work never span two files). A file that cannot run in WAL mode falls back
// to synchronous=FULL.
//
// Native errors map onto the runtime's codes:
//      -1  unique or primary key violated   -1400  NULL into a NOT NULL column
//    -942  no such table / unknown schema   -2290  check constraint violated
//    -904  no such column or function        -900  statement not understood
//     -54  database locked beyond the busy timeout (10 s)
//    -922  malformed ALTER SESSION (sqlparse.h)  -1435  schema file missing
//    -932  value of an unusable type        -1722  text is not a number
//   -1455  number does not fit a 32-bit variable
//  -12154  DIR missing or not a directory
//  -1821..-1861  invalid date or date format (db/oradate.h)
//  -10000 - n  any other SQLite failure with primary result code n
//
// Failures the session cannot go on after (Broken, Fatal_Condition): the
// file read-only (-10008), not to be opened (-10014) or not permitted
// (-10003), damaged (-10011) or not a database (-10026), the disk full
// (-10013), an I/O error (-10010), out of memory (-10007), and the file held
// by another program beyond the busy timeout (SQLITE_BUSY, -54; a rerun
// later completes the work, and every further statement would only wait out
// the timeout again). SQLITE_LOCKED, also -54, is a conflict inside the one
// connection and concerns only its statement.
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/stop.h"
#include "base/text.h"
#include "db/backend.h"
#include "db/hostvar.h"
#include "db/oradate.h"
#include "db/rowstore.h"
#include "db/sqlite_functions.h"
#include "db/sqlparse.h"

namespace sqlrt {

namespace {

bool Is_Dir(const std::string& path) {
  struct stat sb;
  return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

bool Is_File(const std::string& path) {
  struct stat sb;
  return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
}

// Whether the file begins with the header of an SQLite database (an empty
// or shorter file does not).
bool Is_Database_File(const std::string& path) {
  static const char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char head[sizeof kHeader];
  ssize_t n;
  do {
    n = read(fd, head, sizeof head);
  } while (n < 0 && errno == EINTR);
  close(fd);
  return n == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kHeader, sizeof head) == 0;
}

// "file:" URI of an absolute path, opened read-write and never created.
std::string File_Uri(const std::string& path) {
  std::string uri = "file:";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '.' || c == '-' || c == '_' || c == '~';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  uri += "?mode=rw";
  return uri;
}

bool Ascii_Iequal(const char* a, size_t n, const char* lower) {
  if (std::strlen(lower) != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lower[i]) return false;
  }
  return true;
}

// The wait for a lock that another connection holds (SQLite's busy
// handler): retried in short sleeps for up to total_ms from the first
// refusal, as sqlite3_busy_timeout waits, but given up at once when a stop
// is asked for (base/stop.h), so that a stopped run is never held for the
// rest of the wait. A stop signal also cuts the sleep short (no SA_RESTART).
struct LockWait {
  int total_ms = 0;
  std::chrono::steady_clock::time_point since;
};

int Lock_Wait(void* arg, int count) {
  if (Stop_Signal() != 0) return 0;
  LockWait* w = static_cast<LockWait*>(arg);
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) w->since = now;
  const long long left =
      w->total_ms - std::chrono::duration_cast<std::chrono::milliseconds>(now - w->since).count();
  if (left <= 0) return 0;
  static constexpr int kStepMs[] = {1, 2, 5, 10, 15, 20};  // then 20 ms each
  constexpr int kSteps = sizeof kStepMs / sizeof kStepMs[0];
  long long step = kStepMs[count < kSteps ? count : kSteps - 1];
  if (step > left) step = left;
  struct timespec pause {};
  pause.tv_nsec = static_cast<long>(step * 1000000);
  nanosleep(&pause, nullptr);
  return 1;
}

class SqliteStatement;

// An input as Bind read it from its host variable, handed to SQLite when the
// execution runs: alone, or as one row of a run (SqliteSession::Batch_Adopt).
// A text points into the caller's buffer, which stays in place until then.
struct BindValue {
  enum Kind : unsigned char { kNull, kInt, kReal, kText } kind = kNull;
  int len = 0;  // kText
  union {
    long long i;
    double d;
    const char* text;
  };
  BindValue() : i(0) {}
};

int Bind_Native(sqlite3_stmt* st, int pos, const BindValue& v) {
  switch (v.kind) {
    case BindValue::kInt:
      return sqlite3_bind_int64(st, pos, v.i);
    case BindValue::kReal:
      return sqlite3_bind_double(st, pos, v.d);
    case BindValue::kText:
      return sqlite3_bind_text(st, pos, v.text, v.len, SQLITE_STATIC);
    default:
      return sqlite3_bind_null(st, pos);
  }
}

class SqliteSession : public Session {
 public:
  ~SqliteSession() override;
  int Open(const char* target, const SqlOptions& options);
  int Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) override;
  int Commit() override;
  int Rollback() override;
  unsigned Name_Generation() const override { return generation_; }
  const char* Broken() const override { return broken_; }
  bool Batches() const override { return true; }
  void Batch_Begin() override;
  int Batch_Run(int stop_code) override;

  // For the statements.
  int Begin_If_Needed();
  int Map_Error(int rc);
  void Note_Failure();
  int Switch_Schema(const std::string& name) override;
  SqliteFuncContext* func() { return &func_; }
  sqlite3* db() const { return db_; }
  int Batch_Queue(SqliteStatement* st, const std::vector<BindValue>& values);
  int Batch_Adopt(SqliteStatement* st, int item);

 private:
  int Attach(const std::string& name);
  int Exec_Simple(const char* sql);
  std::string Translate(const std::string& neutral) const;
  bool Has_Triggers(const std::string& schema, const std::string& table);
  int Map_Code(int rc);

  sqlite3* db_ = nullptr;
  std::string dir_;
  std::string current_;        // current schema, empty before the switch
  std::string system_;          // the schema named with a prefix
  bool system_attached_ = false;
  bool in_txn_ = false;
  bool txn_lost_ = false;
  unsigned generation_ = 1;
  const char* broken_ = nullptr;  // Fatal_Condition of the first such failure
  int broken_code_ = 0;           // and the code it was reported with
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  sqlite3_stmt* rollback_ = nullptr;
  SqliteFuncContext func_;
  LockWait lock_wait_;

  // The open batch: its items in order, their inputs one after the other.
  struct BatchItem {
    SqliteStatement* st;
    size_t first;  // in batch_values_
    enum State : unsigned char { kWaiting, kAlone, kWritten } state;
  };
  std::vector<BatchItem> batch_;
  std::vector<BindValue> batch_values_;
};

// One value row of an insert and what surrounds it, so that `rows`
// executions can go as one statement with as many value rows.
struct RunText {
  std::string head;  // "insert or abort into T (...) values "
  std::string row;   // "(?,?,...)"
  std::string tail;
};

// The most value rows of one statement of a run: a run goes in chunks of a
// power of two rows up to this, each chunk's statement prepared at its
// first use and kept with the statement.
constexpr int kRunRowsMax = 64;
constexpr int kRunSizes = 7;  // 1, 2, 4, ... 64 rows

// One column value, of the statement's current row or of a kept row.
struct Value {
  int type;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
  long long i;
  double d;
  const char* text;
  size_t len;
};

int Value_Copy(const Value& v, bool date_col, const SqlVar& out);

class SqliteStatement : public Statement {
 public:
  SqliteStatement(SqliteSession* s, sqlite3_stmt* st, bool write, bool into, std::vector<std::string> date_fmt,
                  std::vector<std::string> col_fmt, std::unique_ptr<RunText> run)
      : s_(s),
        st_(st),
        write_(write),
        into_(into),
        date_fmt_(std::move(date_fmt)),
        col_fmt_(std::move(col_fmt)),
        run_(std::move(run)) {
    const int n = sqlite3_column_count(st);
    date_col_.resize(static_cast<size_t>(n));
    col_fmt_.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const char* decl = sqlite3_column_decltype(st, i);
      date_col_[static_cast<size_t>(i)] = decl != nullptr && Ascii_Iequal(decl, std::strlen(decl), "date");
    }
    values_.resize(static_cast<size_t>(sqlite3_bind_parameter_count(st)));
    date_memo_at_.resize(date_fmt_.size());
    for (size_t i = 0; i < date_fmt_.size(); ++i) {
      std::string f = date_fmt_[i];
      for (char& c : f) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      }
      date_memo_at_[i] = f == "yyyymmdd" ? 1 : f == "yyyymmddhh24miss" ? 2 : 0;
    }
    if (run_ != nullptr) {
      // As many rows as the variables allow, a power of two.
      const int vars = sqlite3_limit(s->db(), SQLITE_LIMIT_VARIABLE_NUMBER, -1);
      const int per_row = values_.empty() ? 1 : static_cast<int>(values_.size());
      run_rows_ = 1;
      while (run_rows_ * 2 <= kRunRowsMax && run_rows_ * 2 * per_row <= vars) run_rows_ *= 2;
    }
  }
  ~SqliteStatement() override {
    for (sqlite3_stmt* c : chunks_) sqlite3_finalize(c);
    sqlite3_finalize(st_);
  }
  int Columns() const override { return static_cast<int>(date_col_.size()); }
  int Bind(int index, const SqlVar& var) override;
  int Step() override;
  int Materialize() override;
  int Column(int index, const SqlVar& out) override;
  void Reset() override {
    sqlite3_reset(st_);
    started_ = false;
    kept_ = false;
    written_ = false;
  }
  int Queue() override { return s_->Batch_Queue(this, values_); }
  int Adopt(int item) override {
    Reset();
    return s_->Batch_Adopt(this, item);
  }

  // For the session's batch. The most rows a chunk of a run may have (1:
  // the statement goes alone).
  int Run_Rows() const { return run_rows_; }
  // Runs `rows` executions (a power of two, 2 to Run_Rows()) with their
  // inputs in `v`, one after the other, as one statement: 0 when every one
  // wrote its row, 1 when the chunk could not be made (nothing ran), else
  // the code of the failure, the statement's effect undone.
  int Run_Chunk(const BindValue* v, int rows);
  // The execution of a chunk that ran: Step gives 1403.
  int Adopt_Written() {
    written_ = true;
    return 0;
  }
  // The execution with the inputs `v`, alone: Step runs it; a cursor's
  // query runs here.
  int Adopt_Alone(const BindValue* v) {
    std::copy(v, v + values_.size(), values_.begin());
    return write_ || into_ ? 0 : Materialize();
  }

 private:
  int Step_Native();

  SqliteSession* s_;
  sqlite3_stmt* st_;
  bool write_;
  bool into_;  // a select-into (a cursor's select has no into list)
  // Per input: the format of the TO_DATE that took it (Date_Params_Fold),
  // or empty.
  std::vector<std::string> date_fmt_;
  // The last text read under each of the job's two formats and its value,
  // as the statement's inputs take them (a day record's five dates are three
  // texts); per input the memo of its format (1, 2), or 0.
  struct DateMemo {
    char text[15];
    size_t len = 0;
    double jd = 0;
  };
  DateMemo date_memo_[2];
  std::vector<unsigned char> date_memo_at_;
  // Per column: the format of the TO_CHAR that the fetch does
  // (Date_Columns_Fold), or empty.
  std::vector<std::string> col_fmt_;
  std::vector<BindValue> values_;  // the inputs of the next execution
  bool started_ = false;
  bool written_ = false;  // Adopt_Written
  std::vector<char> date_col_;
  // Kept rows of a materialized cursor; the store keeps its room for the
  // next open.
  bool kept_ = false;
  RowStore rows_;
  std::vector<RowValue> row_;  // the row being kept
  // An insert whose executions can go as one statement, and its chunks by
  // size (index: log2 of the rows), prepared at their first use.
  std::unique_ptr<RunText> run_;
  int run_rows_ = 1;
  sqlite3_stmt* chunks_[kRunSizes] = {};
};

int SqliteStatement::Bind(int index, const SqlVar& var) {
  BindValue& v = values_[static_cast<size_t>(index)];
  const bool null = var.ind != nullptr && *var.ind < 0;
  const std::string* fmt =
      static_cast<size_t>(index) < date_fmt_.size() && !date_fmt_[static_cast<size_t>(index)].empty()
          ? &date_fmt_[static_cast<size_t>(index)]
          : nullptr;
  if (fmt != nullptr) {
    // TO_DATE(?, fmt) worked out here, as the SQL function would: NULL or
    // an empty text gives NULL, anything else must read under the format.
    if (var.data == nullptr || (var.kind == SqlVar::kString && var.size <= 0)) return kSqlBadVariable;
    char digits[16];
    const char* text = digits;
    size_t len = 0;
    if (null) {
      len = 0;
    } else if (var.kind == SqlVar::kString) {
      text = static_cast<const char*>(var.data);
      len = strnlen(text, static_cast<size_t>(var.size));
    } else {
      len = static_cast<size_t>(std::snprintf(digits, sizeof digits, "%d", *static_cast<const int32_t*>(var.data)));
    }
    if (len == 0) {
      v.kind = BindValue::kNull;
      return 0;
    }
    const unsigned at = date_memo_at_[static_cast<size_t>(index)];
    DateMemo* memo = at != 0 ? &date_memo_[at - 1] : nullptr;
    if (memo != nullptr && memo->len == len && std::memcmp(memo->text, text, len) == 0) {
      v.d = memo->jd;
    } else {
      const int code = Ora_Date_Parse(text, len, fmt->data(), fmt->size(), &v.d);
      if (code != 0) return code;
      if (memo != nullptr && len <= sizeof memo->text) {
        std::memcpy(memo->text, text, len);
        memo->len = len;
        memo->jd = v.d;
      }
    }
    v.kind = BindValue::kReal;
    return 0;
  }
  if (var.kind == SqlVar::kString) {
    if (var.data == nullptr || var.size <= 0) return kSqlBadVariable;
    const char* text = static_cast<const char*>(var.data);
    const size_t len = null ? 0 : strnlen(text, static_cast<size_t>(var.size));
    // Oracle stores an empty text as NULL.
    if (len == 0) {
      v.kind = BindValue::kNull;
    } else {
      v.kind = BindValue::kText;
      v.text = text;
      v.len = static_cast<int>(len);
    }
    return 0;
  }
  if (var.data == nullptr) return kSqlBadVariable;
  if (null) {
    v.kind = BindValue::kNull;
  } else {
    v.kind = BindValue::kInt;
    v.i = *static_cast<const int32_t*>(var.data);
  }
  return 0;
}

int SqliteStatement::Step_Native() {
  if (!started_) {
    for (size_t i = 0; i < values_.size(); ++i) {
      const int rc = Bind_Native(st_, static_cast<int>(i) + 1, values_[i]);
      if (rc != SQLITE_OK) return s_->Map_Error(rc);
    }
    if (write_) {
      const int rc = s_->Begin_If_Needed();
      if (rc != 0) return rc;
    }
    started_ = true;
  }
  s_->func()->error = 0;
  const int rc = sqlite3_step(st_);
  if (rc == SQLITE_ROW) return 0;
  if (rc == SQLITE_DONE) return 1403;
  const int code = s_->Map_Error(rc);
  s_->Note_Failure();
  return code;
}

int SqliteStatement::Step() {
  if (written_) return 1403;
  if (!kept_) return Step_Native();
  return rows_.Next() ? 0 : 1403;
}

int SqliteStatement::Run_Chunk(const BindValue* v, int rows) {
  int size = 0;
  while ((2 << size) <= rows) ++size;
  sqlite3_stmt*& c = chunks_[size];
  if (c == nullptr) {
    std::string sql = run_->head;
    sql.reserve(run_->head.size() + static_cast<size_t>(rows) * (run_->row.size() + 1) + run_->tail.size());
    for (int r = 0; r < rows; ++r) {
      if (r > 0) sql += ',';
      sql += run_->row;
    }
    sql += run_->tail;
    if (sqlite3_prepare_v3(s_->db(), sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &c,
                           nullptr) != SQLITE_OK ||
        c == nullptr || sqlite3_bind_parameter_count(c) != rows * static_cast<int>(values_.size())) {
      // The runs of this statement go item by item from now on.
      sqlite3_finalize(c);
      c = nullptr;
      run_rows_ = 1;
      return 1;
    }
  }
  const int n = rows * static_cast<int>(values_.size());
  for (int i = 0; i < n; ++i) {
    if (Bind_Native(c, i + 1, v[i]) != SQLITE_OK) return 1;
  }
  int rc = s_->Begin_If_Needed();
  if (rc != 0) return rc;
  s_->func()->error = 0;
  rc = sqlite3_step(c);
  if (rc == SQLITE_DONE) {
    // Inserts under ABORT into a table without triggers: one row each.
    assert(sqlite3_changes(s_->db()) == rows);
    sqlite3_reset(c);
    return 0;
  }
  const int code = s_->Map_Error(rc);
  s_->Note_Failure();
  sqlite3_reset(c);
  return code;
}

// The current row's column `c` as the statement holds it.
Value Column_Value(sqlite3_stmt* st, int c) {
  Value v{};
  v.type = sqlite3_column_type(st, c);
  switch (v.type) {
    case SQLITE_INTEGER:
      v.i = sqlite3_column_int64(st, c);
      break;
    case SQLITE_FLOAT:
      v.d = sqlite3_column_double(st, c);
      break;
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      v.text = v.type == SQLITE_TEXT ? reinterpret_cast<const char*>(sqlite3_column_text(st, c))
                                     : static_cast<const char*>(sqlite3_column_blob(st, c));
      v.len = static_cast<size_t>(sqlite3_column_bytes(st, c));
      break;
    default:
      break;
  }
  return v;
}

int SqliteStatement::Materialize() {
  const size_t cols = date_col_.size();
  rows_.Clear(cols);
  row_.resize(cols);
  int rc;
  while ((rc = Step_Native()) == 0) {
    for (size_t c = 0; c < cols; ++c) {
      const Value v = Column_Value(st_, static_cast<int>(c));
      RowValue& r = row_[c];
      r.kind = v.type == SQLITE_INTEGER ? RowValue::kInt
               : v.type == SQLITE_FLOAT ? RowValue::kReal
               : v.type == SQLITE_TEXT  ? RowValue::kText
               : v.type == SQLITE_BLOB  ? RowValue::kBlob
                                        : RowValue::kNull;
      r.i = v.i;
      r.d = v.d;
      r.text = v.text;
      r.len = v.len;
    }
    rows_.Add(row_.data());
  }
  sqlite3_reset(st_);  // ends the read: no snapshot stays behind
  started_ = false;
  if (rc != 1403) return rc;
  kept_ = true;
  return 0;
}

int SqliteStatement::Column(int index, const SqlVar& out) {
  const bool date_col = date_col_[static_cast<size_t>(index)];
  Value v{};
  if (kept_) {
    static const int kTypes[] = {SQLITE_NULL, SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB};
    const RowValue r = rows_.Get(static_cast<size_t>(index));
    v = Value{kTypes[r.kind], r.i, r.d, r.text, r.len};
  } else {
    v = Column_Value(st_, index);
  }
  const std::string& fmt = col_fmt_[static_cast<size_t>(index)];
  if (!fmt.empty() && (v.type == SQLITE_FLOAT || v.type == SQLITE_INTEGER)) {
    // DAYSET_DATE checked the date: its text as TO_CHAR makes it.
    char text[15];
    const int n = Ora_Date_Digits(v.type == SQLITE_FLOAT ? v.d : static_cast<double>(v.i), fmt.size() == 16, text);
    if (n < 0) return n;
    return Hostvar_Put_Text(out, text, static_cast<size_t>(n));
  }
  return Value_Copy(v, date_col, out);
}

// Copies a value into a host variable: DATE columns into texts in the
// default form, the rest as hostvar.h converts them.
int Value_Copy(const Value& v, bool date_col, const SqlVar& out) {
  switch (v.type) {
    case SQLITE_NULL:
      return Hostvar_Put_Null(out);
    case SQLITE_BLOB:
      return kSqlBadType;
    case SQLITE_TEXT:
      return Hostvar_Put_Text(out, v.text, v.len);
    default:
      break;
  }
  const double d = v.type == SQLITE_FLOAT ? v.d : static_cast<double>(v.i);
  if (date_col && out.kind == SqlVar::kString && out.data != nullptr) {
    char tmp[16];
    const int n = Ora_Date_Default(d, tmp);
    if (n < 0) return n;
    return Hostvar_Put_Text(out, tmp, static_cast<size_t>(n));
  }
  return v.type == SQLITE_INTEGER ? Hostvar_Put_Int(out, v.i) : Hostvar_Put_Double(out, v.d);
}

SqliteSession::~SqliteSession() {
  if (db_ == nullptr) return;
  sqlite3_finalize(begin_);
  sqlite3_finalize(commit_);
  sqlite3_finalize(rollback_);
  // Uncommitted work is rolled back; close_v2 waits for nothing.
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db_);
}

int SqliteSession::Exec_Simple(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : Map_Error(rc);
}

int SqliteSession::Open(const char* target, const SqlOptions& options) {
  if (*target == '\0' || !Is_Dir(target)) return kSqlUnknownService;
  char* real = realpath(target, nullptr);
  if (real == nullptr) return kSqlUnknownService;
  dir_ = real;
  std::free(real);
  // One thread uses the connection: no per-call mutex. Memory statistics
  // cost a global mutex per allocation and are not read (this only takes
  // effect when the library is not yet in use).
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_MEMORY | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(":memory:", &db_, flags, nullptr);
  if (rc != SQLITE_OK) return -10000 - (rc & 0xff);
  sqlite3_extended_result_codes(db_, 1);
  lock_wait_.total_ms = options.lock_wait_ms;
  sqlite3_busy_handler(db_, Lock_Wait, &lock_wait_);
  // A checkpoint every 10000 pages rather than 1000: a page that several
  // persons' commits change goes into the database file once per
  // checkpoint, and fewer checkpoints wait for the disk (a fifth less time
  // for the person phase, measured; a far larger WAL is slower to search).
  sqlite3_wal_autocheckpoint(db_, 10000);
  func_.sunday_first = Ora_Territory_Sunday_First(options.territory.c_str());
  system_ = options.system_schema;
  if (Sqlite_Functions_Register(db_, &func_) != SQLITE_OK) return -10000 - (sqlite3_errcode(db_) & 0xff);
  if (sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, &begin_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "COMMIT", -1, &commit_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, "ROLLBACK", -1, &rollback_, nullptr) != SQLITE_OK) {
    return Map_Error(sqlite3_errcode(db_));
  }
  if (Is_File(dir_ + "/" + system_ + ".db")) {
    rc = Attach(system_);
    if (rc != 0) return rc;
    system_attached_ = true;
  }
  return 0;
}

// Attaches DIR/NAME.db as NAME (a checked identifier), in WAL mode.
int SqliteSession::Attach(const std::string& name) {
  const std::string path = dir_ + "/" + name + ".db";
  if (!Is_File(path)) return kSqlNoSchema;
  // SQLite takes an empty file for an empty database and would write its
  // header into it; a schema file is only ever a database the DDL made.
  if (!Is_Database_File(path)) return Map_Error(SQLITE_NOTADB);
  const std::string uri = File_Uri(path);
  const std::string sql = "ATTACH DATABASE ? AS \"" + name + "\"";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(st, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  int code = rc == SQLITE_OK ? 0 : Map_Error(rc);
  sqlite3_finalize(st);
  if (code != 0) return code;

  // WAL with synchronous=NORMAL (see the top of this file); FULL where the
  // file cannot run in WAL mode.
  bool wal = false;
  const std::string jm = "PRAGMA \"" + name + "\".journal_mode=WAL";
  if (sqlite3_prepare_v2(db_, jm.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    if (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* mode = sqlite3_column_text(st, 0);
      wal = mode != nullptr && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(st);
  }
  const std::string sync = "PRAGMA \"" + name + "\".synchronous=" + (wal ? "NORMAL" : "FULL");
  code = Exec_Simple(sync.c_str());
  if (code != 0) {
    Exec_Simple(("DETACH DATABASE \"" + name + "\"").c_str());
    return code;
  }
  // Touch the schema once so that a file that is not a database fails here.
  const std::string probe = "SELECT count(*) FROM \"" + name + "\".sqlite_master";
  code = Exec_Simple(probe.c_str());
  if (code != 0) Exec_Simple(("DETACH DATABASE \"" + name + "\"").c_str());
  return code;
}

int SqliteSession::Switch_Schema(const std::string& name) {
  if (name == current_) return 0;
  const bool to_system = name == system_;
  if (!(to_system && system_attached_)) {
    if (!Is_File(dir_ + "/" + name + ".db")) return kSqlNoSchema;
    const int rc = Attach(name);
    if (rc != 0) return rc;
    if (to_system) system_attached_ = true;
  }
  if (!current_.empty() && current_ != system_) {
    Exec_Simple(("DETACH DATABASE \"" + current_ + "\"").c_str());
  }
  current_ = name;
  ++generation_;
  return 0;
}

int SqliteSession::Begin_If_Needed() {
  if (in_txn_) return 0;
  const int rc = sqlite3_step(begin_);
  sqlite3_reset(begin_);
  if (rc != SQLITE_DONE) return Map_Error(rc);
  in_txn_ = true;
  return 0;
}

void SqliteSession::Note_Failure() {
  // SQLite rolls the whole transaction back on some failures (full disk,
  // I/O error); the work since the last commit is then lost and the next
  // commit must not report success.
  if (in_txn_ && sqlite3_get_autocommit(db_)) {
    in_txn_ = false;
    txn_lost_ = true;
  }
}

// Batches: every item runs when the runtime adopts it, which it does in
// order (so each sees what the items before it did), alone as Step would
// run it; the executions of one insert that follow each other go as one
// statement with a value row each, in chunks (kRunRowsMax). A chunk
// inserts under ABORT, into a table without triggers (Run_Text_Of), so
// that it either writes every row, each as its execution alone would
// have, or fails with its effect undone; then its items run again one by
// one and meet the failure (and the stop code) where they do alone.
void SqliteSession::Batch_Begin() {
  batch_.clear();
  batch_values_.clear();
}

int SqliteSession::Batch_Run(int) { return broken_ != nullptr ? broken_code_ : 0; }

int SqliteSession::Batch_Queue(SqliteStatement* st, const std::vector<BindValue>& values) {
  batch_.push_back(BatchItem{st, batch_values_.size(), BatchItem::kWaiting});
  batch_values_.insert(batch_values_.end(), values.begin(), values.end());
  return static_cast<int>(batch_.size() - 1);
}

int SqliteSession::Batch_Adopt(SqliteStatement* st, int item) {
  if (broken_ != nullptr) return broken_code_;
  const size_t k = static_cast<size_t>(item);
  BatchItem& b = batch_[k];
  if (b.state == BatchItem::kWritten) return st->Adopt_Written();
  if (b.state == BatchItem::kWaiting && st->Run_Rows() > 1) {
    // The run of this statement from here, as far as one chunk goes.
    size_t rows = 1;
    while (rows < static_cast<size_t>(st->Run_Rows()) && k + rows < batch_.size() && batch_[k + rows].st == st &&
           batch_[k + rows].state == BatchItem::kWaiting) {
      ++rows;
    }
    if (rows > 1) {
      size_t chunk = 1;
      while (chunk * 2 <= rows) chunk *= 2;
      const int rc = st->Run_Chunk(&batch_values_[b.first], static_cast<int>(chunk));
      if (rc == 0) {
        for (size_t j = k; j < k + chunk; ++j) batch_[j].state = BatchItem::kWritten;
        return st->Adopt_Written();
      }
      if (broken_ != nullptr) return rc;
      for (size_t j = k; j < k + chunk; ++j) batch_[j].state = BatchItem::kAlone;
    }
  }
  return st->Adopt_Alone(&batch_values_[b.first]);
}

int SqliteSession::Commit() {
  if (txn_lost_) {
    txn_lost_ = false;
    return kSqlTxnRolledBack;
  }
  if (!in_txn_) return 0;
  const int rc = sqlite3_step(commit_);
  sqlite3_reset(commit_);
  if (rc != SQLITE_DONE) {
    const int code = Map_Error(rc);
    if (sqlite3_get_autocommit(db_)) in_txn_ = false;
    return code;
  }
  in_txn_ = false;
  return 0;
}

int SqliteSession::Rollback() {
  const bool lost = txn_lost_;
  txn_lost_ = false;
  if (in_txn_ && !sqlite3_get_autocommit(db_)) {
    const int rc = sqlite3_step(rollback_);
    sqlite3_reset(rollback_);
    if (rc != SQLITE_DONE) {
      const int code = Map_Error(rc);
      if (sqlite3_get_autocommit(db_)) in_txn_ = false;
      return code;
    }
  }
  in_txn_ = false;
  return lost ? kSqlTxnRolledBack : 0;
}

// The native failures after which no statement of the session can succeed,
// as Broken() describes them; null for those that concern one statement.
// `rc` is an extended result code.
const char* Fatal_Condition(int rc) {
  switch (rc & 0xff) {
    case SQLITE_READONLY:
      return "Datenbankdatei nur lesbar";
    case SQLITE_CANTOPEN:
      return "Datenbankdatei nicht zu oeffnen";
    case SQLITE_PERM:
      return "Zugriff auf die Datenbankdatei verweigert";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return "Datenbankdatei beschaedigt";
    case SQLITE_FULL:
      return "Datentraeger voll";
    case SQLITE_IOERR:
      return rc == SQLITE_IOERR_NOMEM ? "Speicher erschoepft" : "Ein-/Ausgabefehler der Datenbankdatei";
    case SQLITE_NOMEM:
      return "Speicher erschoepft";
    case SQLITE_BUSY:
    case SQLITE_PROTOCOL:
      return "Datenbank von einem anderen Programm gesperrt";
    default:
      return nullptr;
  }
}

int SqliteSession::Map_Error(int rc) {
  const bool was_broken = broken_ != nullptr;
  if (!was_broken) broken_ = Fatal_Condition(rc);
  const int code = Map_Code(rc);
  if (!was_broken && broken_ != nullptr) broken_code_ = code;
  return code;
}

int SqliteSession::Map_Code(int rc) {
  if (func_.error != 0) {
    const int code = func_.error;
    func_.error = 0;
    return code;
  }
  const int ext = sqlite3_extended_errcode(db_);
  const char* msg = sqlite3_errmsg(db_);
  switch (rc & 0xff) {
    case SQLITE_CONSTRAINT:
      if (ext == SQLITE_CONSTRAINT_NOTNULL) return kSqlNotNull;
      if (ext == SQLITE_CONSTRAINT_CHECK) return kSqlCheck;
      return -1;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kSqlLocked;
    case SQLITE_MISMATCH:
      return kSqlBadType;
    case SQLITE_ERROR:
      if (std::strncmp(msg, "no such table", 13) == 0 || std::strncmp(msg, "unknown database", 16) == 0) {
        return kSqlNoTable;
      }
      if (std::strncmp(msg, "no such column", 14) == 0 || std::strstr(msg, "has no column named") != nullptr ||
          std::strncmp(msg, "no such function", 16) == 0) {
        return kSqlNoColumn;
      }
      if (std::strstr(msg, "syntax error") != nullptr || std::strncmp(msg, "near ", 5) == 0 ||
          std::strstr(msg, "incomplete input") != nullptr) {
        return kSqlBadStatement;
      }
      return -10000 - SQLITE_ERROR;
    default:
      return -10000 - (rc & 0xff);
  }
}

bool Is_Clause_Keyword(const std::string& text, const SqlToken& t) {
  static const char* const kWords[] = {"where", "order", "group", "having", "union", "minus",
                                       "intersect", "connect", "start", "join", "inner", "left",
                                       "right", "full", "cross", "natural", "on", "using",
                                       "for", "set", "values", "limit"};
  for (const char* w : kWords) {
    if (Sql_Word_Is(text, t, w)) return true;
  }
  return false;
}

// TO_DATE(?, 'fmt') of an input becomes the input itself, converted when it
// is bound (SqliteStatement::Bind): the same value, the same refusal of a
// text that is no date under the format, without an SQL function call per
// execution (five per day record). *fmts gets one entry per '?' in order:
// the format, or empty for an input that is not converted.
std::string Date_Params_Fold(const std::string& in, std::vector<std::string>* fmts) {
  fmts->clear();
  std::string out;
  out.reserve(in.size());
  size_t pos = 0;
  for (;;) {
    const SqlToken t = Sql_Token_At(in, pos);
    if (t.kind == SqlToken::kEnd) break;
    pos = t.end;
    if (t.kind == SqlToken::kOther && in[t.begin] == '?') fmts->emplace_back();
    if (t.kind == SqlToken::kWord && Sql_Word_Is(in, t, "to_date")) {
      // The tokens after the name, blanks skipped: ( ? , 'fmt' )
      SqlToken u[5];
      size_t at = t.end;
      bool ok = true;
      for (SqlToken& x : u) {
        do {
          x = Sql_Token_At(in, at);
          at = x.end;
        } while (x.kind == SqlToken::kSpace);
      }
      const auto is = [&in](const SqlToken& x, char c) { return x.kind == SqlToken::kOther && in[x.begin] == c; };
      ok = is(u[0], '(') && is(u[1], '?') && is(u[2], ',') && u[3].kind == SqlToken::kLiteral &&
           u[3].end - u[3].begin >= 3 && in[u[3].end - 1] == '\'' && is(u[4], ')');
      if (ok) {
        std::string fmt;
        for (size_t i = u[3].begin + 1; i + 1 < u[3].end; ++i) {
          fmt += in[i];
          if (in[i] == '\'') ++i;  // '' stands for one quote
        }
        fmts->push_back(fmt);
        out += "?";
        pos = u[4].end;
        continue;
      }
    }
    out.append(in, t.begin, t.end - t.begin);
  }
  return out;
}

// A select list's item TO_CHAR(expr, 'yyyymmdd') or (..., 'yyyymmddhh24miss')
// becomes DAYSET_DATE(expr) (sqlite_functions.h), and the column's text is
// made from the number when it is fetched (SqliteStatement::Column): the
// same text, the same refusal of what is no date, at the same place in the
// row, without a text per row for SQLite to make and the cursor to keep.
// Only where nothing but the fetch sees the item (Sql_List_Only_Fetched).
// *fmts gets one entry per item of the list: the format, or empty.
std::string Date_Columns_Fold(const std::string& in, std::vector<std::string>* fmts) {
  fmts->clear();
  std::vector<SqlToken> t;  // the text's tokens, blanks left out
  for (size_t pos = 0;;) {
    const SqlToken k = Sql_Token_At(in, pos);
    if (k.kind == SqlToken::kEnd) break;
    pos = k.end;
    if (k.kind != SqlToken::kSpace) t.push_back(k);
  }
  if (!Sql_List_Only_Fetched(in)) return in;
  const auto is = [&in](const SqlToken& k, char c) { return k.kind == SqlToken::kOther && in[k.begin] == c; };
  const auto fast = [&in](const SqlToken& k, std::string* fmt) {
    if (k.kind != SqlToken::kLiteral) return false;
    fmt->assign(in, k.begin + 1, k.end - k.begin - 2);
    for (char& c : *fmt) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return *fmt == "yyyymmdd" || *fmt == "yyyymmddhh24miss";
  };
  // The items: [first, last] token ranges between commas at depth 0, up to
  // the list's FROM.
  struct Fold {
    size_t begin, expr_begin, expr_end, end;  // in the text
  };
  std::vector<Fold> folds;
  size_t first = 1, i = 1;
  int depth = 0;
  for (; i <= t.size(); ++i) {
    const bool at_end = i == t.size() || (depth == 0 && (is(t[i], ',') || Sql_Word_Is(in, t[i], "from")));
    if (!at_end) {
      if (is(t[i], '(')) ++depth;
      if (is(t[i], ')')) --depth;
      continue;
    }
    std::string fmt;
    const size_t n = i - first;
    if (n >= 6 && Sql_Word_Is(in, t[first], "to_char") && is(t[first + 1], '(') && is(t[i - 1], ')') &&
        is(t[i - 3], ',') && fast(t[i - 2], &fmt)) {
      // The call's parentheses hold the whole item, its last comma is its own.
      int d = 0;
      bool whole = true;
      for (size_t j = first + 1; j < i && whole; ++j) {
        if (is(t[j], '(')) ++d;
        if (is(t[j], ')')) --d;
        whole = d > 0 || j == i - 1;
        if (j == i - 3 && d != 1) whole = false;
      }
      if (whole) {
        folds.push_back(Fold{t[first].begin, t[first + 1].end, t[i - 3].begin, t[i - 1].end});
      } else {
        fmt.clear();
      }
    } else {
      fmt.clear();
    }
    fmts->push_back(fmt);
    if (i == t.size() || Sql_Word_Is(in, t[i], "from")) break;
    first = i + 1;
  }
  if (folds.empty()) {
    fmts->clear();
    return in;
  }
  std::string out;
  size_t at = 0;
  for (const Fold& f : folds) {
    out.append(in, at, f.begin - at);
    out += "dayset_date(";
    out.append(in, f.expr_begin, f.expr_end - f.expr_begin);
    out += ')';
    at = f.end;
  }
  out.append(in, at, std::string::npos);
  return out;
}

std::string SqliteSession::Translate(const std::string& in) const {
  // Unqualified names before any switch address a schema that is never
  // attached, so that they fail with -942.
  const std::string qualifier = "\"" + (current_.empty() ? std::string("dayset no schema") : current_) + "\".";
  std::string out;
  out.reserve(in.size() + 64);
  enum { kNormal, kTable, kAfterTable, kAfterAlias } state = kNormal;
  bool list = false;       // a from list: more tables after commas
  bool first = true;       // before the statement's first word
  bool after_insert = false;
  size_t pos = 0;
  for (;;) {
    SqlToken t = Sql_Token_At(in, pos);
    if (t.kind == SqlToken::kEnd) break;
    pos = t.end;
    if (t.kind == SqlToken::kSpace) {
      out.append(in, t.begin, t.end - t.begin);
      continue;
    }
    const bool comma = t.kind == SqlToken::kOther && in[t.begin] == ',';
    if (state == kTable) {
      state = kNormal;
      if (t.kind == SqlToken::kWord || t.kind == SqlToken::kQuoted) {
        const SqlToken dot = Sql_Token_At(in, t.end);
        if (dot.kind == SqlToken::kOther && in[dot.begin] == '.') {
          // Already qualified: schema, '.', table.
          const SqlToken name = Sql_Token_At(in, dot.end);
          const size_t end = name.kind == SqlToken::kWord || name.kind == SqlToken::kQuoted ? name.end : dot.end;
          out.append(in, t.begin, end - t.begin);
          pos = end;
        } else if (Sql_Word_Is(in, t, "dual")) {
          out += "(select 'X' as DUMMY) as DUAL";  // Oracle's one-row table
        } else {
          out += qualifier;
          out.append(in, t.begin, t.end - t.begin);
        }
        state = list ? kAfterTable : kNormal;
        continue;
      }
    } else if (state == kAfterTable || state == kAfterAlias) {
      if (comma) {
        out += ',';
        state = kTable;
        continue;
      }
      if (state == kAfterTable && t.kind == SqlToken::kWord && !Is_Clause_Keyword(in, t)) {
        out.append(in, t.begin, t.end - t.begin);  // an alias
        state = kAfterAlias;
        continue;
      }
      state = kNormal;
    }
    if (t.kind == SqlToken::kWord) {
      const bool was_first = first;
      first = false;
      if (Sql_Word_Is(in, t, "from") || Sql_Word_Is(in, t, "join")) {
        state = kTable;
        list = Sql_Word_Is(in, t, "from");
      } else if (after_insert && Sql_Word_Is(in, t, "into")) {
        state = kTable;
        list = false;
      } else if (was_first && Sql_Word_Is(in, t, "update")) {
        state = kTable;
        list = false;
      }
      after_insert = was_first && Sql_Word_Is(in, t, "insert");
      out.append(in, t.begin, t.end - t.begin);
      if (Sql_Word_Is(in, t, "sysdate")) {
        SqlToken next = Sql_Token_At(in, t.end);
        if (next.kind == SqlToken::kSpace) next = Sql_Token_At(in, next.end);
        if (!(next.kind == SqlToken::kOther && in[next.begin] == '(')) out += "()";
      }
      continue;
    }
    first = false;
    out.append(in, t.begin, t.end - t.begin);
  }
  return out;
}

// An identifier token's name: a quoted one without its quotes.
std::string Ident_Of(const std::string& text, const SqlToken& t) {
  if (t.kind != SqlToken::kQuoted) return text.substr(t.begin, t.end - t.begin);
  std::string name;
  for (size_t i = t.begin + 1; i + 1 < t.end; ++i) {
    name += text[i];
    if (text[i] == '"') ++i;  // "" stands for one quote
  }
  return name;
}

// The parts of an insert of one value row as Translate writes it,
// "insert into S.T (columns) values (row)", when its executions can go as
// one statement of several rows: the row holds all the inputs and nothing
// but inputs, literals, numbers, NULL and the functions that read no table
// (sqlite_functions.h), so that each row of the chunk gets the values its
// execution alone would. Null for any other statement; *schema and *table
// name the table.
std::unique_ptr<RunText> Run_Text_Of(const std::string& sql, std::string* schema, std::string* table) {
  size_t pos = 0;
  const auto next = [&sql, &pos]() {
    SqlToken t = Sql_Token_At(sql, pos);
    if (t.kind == SqlToken::kSpace) t = Sql_Token_At(sql, t.end);
    pos = t.end;
    return t;
  };
  const auto is = [&sql](const SqlToken& t, char c) { return t.kind == SqlToken::kOther && sql[t.begin] == c; };
  const auto is_name = [](const SqlToken& t) { return t.kind == SqlToken::kWord || t.kind == SqlToken::kQuoted; };
  if (!Sql_Word_Is(sql, next(), "insert")) return nullptr;
  if (!Sql_Word_Is(sql, next(), "into")) return nullptr;
  const SqlToken s = next();
  const size_t name_at = s.begin;
  const SqlToken dot = Sql_Token_At(sql, s.end);
  const SqlToken t = Sql_Token_At(sql, dot.end);
  if (!is_name(s) || !is(dot, '.') || !is_name(t)) return nullptr;
  *schema = Ident_Of(sql, s);
  *table = Ident_Of(sql, t);
  pos = t.end;
  SqlToken u = next();
  if (is(u, '(')) {
    // The column list.
    for (u = next(); !is(u, ')'); u = next()) {
      if (!is_name(u) && !is(u, ',')) return nullptr;
    }
    u = next();
  }
  if (!Sql_Word_Is(sql, u, "values")) return nullptr;
  const SqlToken open = next();
  if (!is(open, '(')) return nullptr;
  static const char* const kWords[] = {"null", "sysdate", "to_date", "to_char", "to_number", "nvl", "mod"};
  int depth = 1;
  while (depth > 0) {
    const SqlToken v = next();
    switch (v.kind) {
      case SqlToken::kSpace:
      case SqlToken::kLiteral:
        break;
      case SqlToken::kWord:
        if (std::none_of(std::begin(kWords), std::end(kWords), [&](const char* w) { return Sql_Word_Is(sql, v, w); })) {
          return nullptr;
        }
        break;
      case SqlToken::kOther: {
        const char c = sql[v.begin];
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (std::strchr("?,()+-*/|.", c) == nullptr && !(c >= '0' && c <= '9')) return nullptr;
        break;
      }
      default:
        return nullptr;
    }
  }
  const size_t row_end = pos;
  if (next().kind != SqlToken::kEnd) return nullptr;
  auto run = std::make_unique<RunText>();
  run->head = "insert or abort into " + sql.substr(name_at, open.begin - name_at);
  run->row = sql.substr(open.begin, row_end - open.begin);
  run->tail = sql.substr(row_end);
  return run;
}

bool SqliteSession::Has_Triggers(const std::string& schema, const std::string& table) {
  std::string quoted;
  for (char c : schema) {
    quoted += c;
    if (c == '"') quoted += c;
  }
  const std::string sql = "select 1 from \"" + quoted +
                          "\".sqlite_master where type = 'trigger' and tbl_name = ?1 collate nocase union all "
                          "select 1 from temp.sqlite_master where type = 'trigger' and tbl_name = ?1 collate nocase";
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_bind_text(st, 1, table.c_str(), static_cast<int>(table.size()), SQLITE_STATIC);
  if (rc == SQLITE_OK) rc = sqlite3_step(st);
  sqlite3_finalize(st);
  return rc != SQLITE_DONE;  // a trigger, or no way to tell
}

int SqliteSession::Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) {
  std::vector<std::string> date_fmt, col_fmt;
  const std::string sql = Translate(Date_Params_Fold(Date_Columns_Fold(parsed.sql, &col_fmt), &date_fmt));
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    return Map_Error(rc);
  }
  if (st == nullptr) return kSqlBadStatement;  // only blanks
  if (sqlite3_bind_parameter_count(st) != parsed.inputs) {
    sqlite3_finalize(st);
    return kSqlBindMismatch;
  }
  std::unique_ptr<RunText> run;
  if (parsed.write) {
    std::string schema, table;
    run = Run_Text_Of(sql, &schema, &table);
    if (run != nullptr && Has_Triggers(schema, table)) run.reset();
  }
  *out = std::make_unique<SqliteStatement>(this, st, parsed.write || !sqlite3_stmt_readonly(st),
                                           parsed.select && parsed.outputs > 0, std::move(date_fmt),
                                           std::move(col_fmt), std::move(run));
  return 0;
}

bool Sqlite_Owns(const char* net) { return Sql_Net_Has_Scheme(net, "sqlite:"); }

// What is missing after a failed connect (BackendEntry::connect_missing):
// the directory of "sqlite:DIR" for -12154, the schema file DIR/NAME.db for
// -1435; "" when it is there after all.
std::string Sqlite_Connect_Missing(int rc, const char* net, const char* schema) {
  const std::string dir = net + std::strlen("sqlite:");
  const auto quoted = [](const std::string& text) {
    // Appended, not "\"" + ...: GCC's -Wrestrict misreads that in Release.
    std::string q(1, '"');
    q += Str_Shown(text.c_str(), 200);
    q += '"';
    return q;
  };
  // "" when `path` is there and `is_kind` holds, else what is wrong with it.
  const auto wrong = [](const std::string& path, const std::string& what, bool (*is_kind)(mode_t),
                        const std::string& not_kind) -> std::string {
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return what + " fehlt";
      return what + " ist nicht zugaenglich (" + std::strerror(errno) + ")";
    }
    return is_kind(sb.st_mode) ? "" : not_kind;
  };
  if (rc == kSqlUnknownService) {
    if (dir.empty()) return "im Netzdienstnamen fehlt das Verzeichnis der eingebetteten Datenbank (sqlite:VERZEICHNIS)";
    return wrong(dir, "das Verzeichnis " + quoted(dir) + " der eingebetteten Datenbank",
                 [](mode_t m) { return S_ISDIR(m); }, quoted(dir) + " ist kein Verzeichnis");
  }
  if (rc == kSqlNoSchema) {
    const std::string file = dir + "/" + schema + ".db";
    const std::string what = "die Schemadatei " + quoted(file);
    return wrong(file, what, [](mode_t m) { return S_ISREG(m); }, what + " ist keine gewoehnliche Datei");
  }
  return "";
}

// A directory holds no secret: every such name may be used and shown.
const char* Sqlite_Net_Check(const char*) { return nullptr; }

int Sqlite_Session_Open(const char*, const char*, const char* net, const SqlOptions& options,
                        std::unique_ptr<Session>* out) {
  auto s = std::make_unique<SqliteSession>();
  const int rc = s->Open(net + std::strlen("sqlite:"), options);
  if (rc != 0) return rc;
  *out = std::move(s);
  return 0;
}

}  // namespace

const BackendEntry kSqliteBackend = {"sqlite", Sqlite_Owns, Sqlite_Net_Check, Sqlite_Session_Open,
                                     Sqlite_Connect_Missing};

}  // namespace sqlrt

// Statements of the ODBC backend (odbc_session.h).
//
// Inputs go as text (SQL_C_CHAR as SQL_VARCHAR: psqlODBC leaves their
// type to the server, which infers it as for the libpq backend's text
// parameters). A query's rows are fetched at execution, in row arrays
// (SQL_ATTR_ROW_ARRAY_SIZE), into a RowStore, and the cursor is closed:
// cursors and select-into read as of their open and survive commits.
// Dates come as SQL_C_TYPE_TIMESTAMP, every other value as text.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "db/hostvar.h"
#include "db/odbc_session.h"
#include "db/oradate.h"
#include "db/pg_shared.h"

namespace sqlrt {

namespace {

bool Ok(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

// The longest text value kept of a column, in bytes: a longer one is cut
// there (no column of the job comes near it).
constexpr SQLLEN kTextMax = 4000;
// Room of a row array, over all columns; at most kRowsMax rows.
constexpr SQLLEN kArrayBytes = 256 * 1024;
constexpr SQLULEN kRowsMax = 256;

// A date as one number, which the row store keeps in eight bytes.
long long Date_Pack(const SQL_TIMESTAMP_STRUCT& t) {
  return ((((static_cast<long long>(t.year) * 100 + t.month) * 100 + t.day) * 100 + t.hour) * 100 + t.minute) * 100 +
         t.second;
}

OraCivil Date_Unpack(long long v) {
  OraCivil c;
  c.second = static_cast<int>(v % 100);
  v /= 100;
  c.minute = static_cast<int>(v % 100);
  v /= 100;
  c.hour = static_cast<int>(v % 100);
  v /= 100;
  c.day = static_cast<int>(v % 100);
  v /= 100;
  c.month = static_cast<int>(v % 100);
  c.year = static_cast<int>(v / 100);
  return c;
}

}  // namespace

OdbcStatement::~OdbcStatement() {
  if (h_ == SQL_NULL_HSTMT) return;
  // Closed first: psqlODBC frees the result of a describe that no
  // execution followed only so.
  SQLFreeStmt(h_, SQL_CLOSE);
  SQLFreeHandle(SQL_HANDLE_STMT, h_);
}

int OdbcStatement::Describe() {
  SQLSMALLINT n = 0;
  SQLRETURN r = s_->Call(h_, 1, [&] { return SQLNumResultCols(h_, &n); });
  if (!Ok(r)) {
    const int rc = s_->Fail(SQL_HANDLE_STMT, h_);
    SQLFreeStmt(h_, SQL_CLOSE);  // psqlODBC frees the failed describe's result only so
    return rc;
  }
  cols_.resize(static_cast<size_t>(n));
  SQLLEN total = 0;
  for (SQLSMALLINT i = 0; i < n; ++i) {
    Col& c = cols_[static_cast<size_t>(i)];
    SQLCHAR name[128];
    SQLSMALLINT name_len = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    r = SQLDescribeCol(h_, static_cast<SQLUSMALLINT>(i + 1), name, sizeof name, &name_len, &c.sql_type, &size, &digits,
                       &nullable);
    if (!Ok(r)) return s_->Fail(SQL_HANDLE_STMT, h_);
    switch (c.sql_type) {
      case SQL_TYPE_DATE:
      case SQL_TYPE_TIMESTAMP:
      case SQL_DATE:
      case SQL_TIMESTAMP:
        c.date = true;
        c.width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      case SQL_NUMERIC:
      case SQL_DECIMAL:
      case SQL_FLOAT:
      case SQL_REAL:
      case SQL_DOUBLE:
      case SQL_INTEGER:
      case SQL_SMALLINT:
      case SQL_BIGINT:
      case SQL_TINYINT:
      case SQL_BIT:
        c.numeric = c.sql_type == SQL_NUMERIC || c.sql_type == SQL_DECIMAL;
        c.width = 64;  // sign, digits, point and exponent of any number the job meets
        break;
      default:  // texts; the size is in characters, up to four bytes each in UTF-8
        c.width = (size == 0 ? kTextMax : std::min<SQLLEN>(static_cast<SQLLEN>(size) * 4, kTextMax)) + 1;
        break;
    }
    total += c.width + static_cast<SQLLEN>(sizeof(SQLLEN));
  }
  SQLULEN rows = total > 0 ? static_cast<SQLULEN>(kArrayBytes / total) : 1;
  rows = std::max<SQLULEN>(1, std::min(rows, kRowsMax));
  status_.assign(rows, SQL_ROW_NOROW);
  if (!Ok(SQLSetStmtAttr(h_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0)) ||
      !Ok(SQLSetStmtAttr(h_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)) ||
      !Ok(SQLSetStmtAttr(h_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0)) ||
      !Ok(SQLSetStmtAttr(h_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0))) {
    return s_->Fail(SQL_HANDLE_STMT, h_);
  }
  for (size_t i = 0; i < cols_.size(); ++i) {
    Col& c = cols_[i];
    c.ind.assign(rows, 0);
    const auto col = static_cast<SQLUSMALLINT>(i + 1);
    if (c.date) {
      c.ts.assign(rows, SQL_TIMESTAMP_STRUCT{});
      r = SQLBindCol(h_, col, SQL_C_TYPE_TIMESTAMP, c.ts.data(), c.width, c.ind.data());
    } else {
      c.buf.assign(rows * static_cast<size_t>(c.width), '\0');
      r = SQLBindCol(h_, col, SQL_C_CHAR, c.buf.data(), c.width, c.ind.data());
    }
    if (!Ok(r)) return s_->Fail(SQL_HANDLE_STMT, h_);
  }
  row_.resize(cols_.size());
  return 0;
}

void OdbcStatement::Reset() {
  started_ = false;
  has_row_ = false;
  rows_.Clear(cols_.size());
}

int OdbcStatement::Bind(int index, const SqlVar& var) { return Pg_Input_Bind(tr_, index, var, &values_, &null_); }

void OdbcStatement::Clock_Values() { Pg_Clock_Values(tr_, &values_, &null_); }

int OdbcStatement::Execute() {
  Clock_Values();
  lens_.resize(order_.size());
  static char empty[1] = {'\0'};
  for (size_t j = 0; j < order_.size(); ++j) {
    const size_t k = static_cast<size_t>(order_[j]);
    const bool null = k >= values_.size() || null_[k] != 0;
    char* data = null ? empty : values_[k].data();
    const SQLLEN len = null ? 0 : static_cast<SQLLEN>(values_[k].size());
    lens_[j] = null ? SQL_NULL_DATA : len;
    const SQLRETURN r = SQLBindParameter(h_, static_cast<SQLUSMALLINT>(j + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                         static_cast<SQLULEN>(std::max<SQLLEN>(len, 1)), 0, data, len, &lens_[j]);
    if (!Ok(r)) return s_->Fail(SQL_HANDLE_STMT, h_);
  }
  if (write_) {
    const int rc = s_->Write_Begins();
    if (rc != 0) return rc;
  }
  // Inside a transaction psqlODBC puts a savepoint around the statement.
  const bool saved = s_->dialect() == OdbcSession::kPostgres && s_->In_Txn();
  const SQLRETURN r = s_->Call(h_, saved ? 2 : 1, [&] { return SQLExecute(h_); });
  if (!Ok(r) && r != SQL_NO_DATA) {
    const int rc = s_->Fail(SQL_HANDLE_STMT, h_);
    SQLFreeStmt(h_, SQL_CLOSE);
    s_->After_Failure(rc);
    return rc;
  }
  if (tr_.ignore) {
    // An insert that met an existing key: the unique violation it stands for.
    SQLLEN count = -1;
    if (Ok(SQLRowCount(h_, &count)) && count == 0) return kSqlDupKey;
  }
  return 0;
}

int OdbcStatement::Fetch_All() {
  rows_.Clear(cols_.size());
  for (;;) {
    fetched_ = 0;
    const SQLRETURN r = s_->Call(h_, 0, [&] { return SQLFetch(h_); });
    if (r == SQL_NO_DATA) break;
    if (!Ok(r)) {
      const int rc = s_->Fail(SQL_HANDLE_STMT, h_);
      SQLFreeStmt(h_, SQL_CLOSE);
      return rc;
    }
    for (SQLULEN k = 0; k < fetched_; ++k) {
      if (status_[k] != SQL_ROW_SUCCESS && status_[k] != SQL_ROW_SUCCESS_WITH_INFO) continue;
      for (size_t i = 0; i < cols_.size(); ++i) {
        const Col& c = cols_[i];
        RowValue& v = row_[i];
        const SQLLEN ind = c.ind[k];
        if (ind == SQL_NULL_DATA) {
          v = RowValue{};
        } else if (c.date) {
          v = RowValue{};
          const SQL_TIMESTAMP_STRUCT& t = c.ts[k];
          // Only the years 1 to 9999 read as a date; the others as a number
          // that no date converts from.
          if (t.year >= 1 && t.year <= 9999) {
            v.kind = RowValue::kInt;
            v.i = Date_Pack(t);
          } else {
            v.kind = RowValue::kReal;
          }
        } else {
          v = RowValue{};
          v.kind = RowValue::kText;
          v.text = c.buf.data() + k * static_cast<size_t>(c.width);
          // A longer value was cut at the room of the column (kTextMax).
          v.len = static_cast<size_t>(ind == SQL_NO_TOTAL || ind >= c.width ? c.width - 1 : ind);
        }
      }
      rows_.Add(row_.data());
    }
  }
  SQLFreeStmt(h_, SQL_CLOSE);
  return 0;
}

int OdbcStatement::Step() {
  if (!started_) {
    started_ = true;
    int rc = Execute();
    if (rc != 0) return rc;
    if (cols_.empty()) return kSqlNoRow;  // a write
    rc = Fetch_All();
    if (rc != 0) return rc;
  }
  if (cols_.empty()) return kSqlNoRow;
  has_row_ = rows_.Next();
  return has_row_ ? 0 : kSqlNoRow;
}

int OdbcStatement::Materialize() {
  started_ = true;
  has_row_ = false;
  const int rc = Execute();
  return rc != 0 ? rc : Fetch_All();
}

int OdbcStatement::Column(int index, const SqlVar& out) {
  if (!has_row_ || index < 0 || index >= Columns()) return kSqlInvalidCursor;
  const Col& c = cols_[static_cast<size_t>(index)];
  const RowValue v = rows_.Get(static_cast<size_t>(index));
  if (v.kind == RowValue::kNull) return Hostvar_Put_Null(out);
  if (c.date) {
    const size_t i = static_cast<size_t>(index);
    const bool text_of = i < tr_.date_out.size() && !tr_.date_out[i].empty();  // TO_CHAR's, into any variable
    if (!text_of && out.kind != SqlVar::kString) return kSqlBadType;
    if (v.kind != RowValue::kInt) return kOraBadYear;
    if (text_of) return Pg_Date_Out(Date_Unpack(v.i), tr_.date_out[i], out);
    char text[16];
    const int n = Ora_Date_Default(Ora_Jd_From_Civil(Date_Unpack(v.i)), text);
    if (n < 0) return n;
    return Hostvar_Put_Text(out, text, static_cast<size_t>(n));
  }
  size_t len = v.len;
  if (c.numeric && std::memchr(v.text, '.', len) != nullptr) {
    // Oracle prints numbers without trailing zeros of the fraction.
    while (len > 0 && v.text[len - 1] == '0') --len;
    if (len > 0 && v.text[len - 1] == '.') --len;
  }
  return Hostvar_Put_Text(out, v.text, len);
}

}  // namespace sqlrt

namespace sqlrt {

namespace {

// psqlODBC sends a parameter array in chunks of this many rows (its
// BatchSize), each in a round trip of its own.
constexpr size_t kDriverChunk = 100;
// The longest run that goes as one array here.
constexpr size_t kRunMax = 1000;

}  // namespace

int OdbcStatement::Queue() {
  Clock_Values();
  auto& batch = s_->batch();
  OdbcSession::BatchItem item{this, values_, null_};
  // A write joins the run of the item before it when that is an execution
  // of the same write.
  if (write_ && cols_.empty() && !batch.empty() && batch.back().st == this) {
    OdbcSession::BatchItem& last = batch.back();
    const int head = last.run >= 0 ? last.run : static_cast<int>(batch.size() - 1);
    if (batch.size() - static_cast<size_t>(head) < kRunMax) {
      last.run = head;
      item.run = head;
    }
  }
  batch.push_back(std::move(item));
  return static_cast<int>(batch.size() - 1);
}

int OdbcStatement::Adopt(int item) {
  auto& batch = s_->batch();
  Reset();
  started_ = true;
  if (item < 0 || static_cast<size_t>(item) >= batch.size()) return kSqlNotRun;
  if (s_->Broken() != nullptr) return s_->broken_code();
  OdbcSession::BatchItem& it = batch[static_cast<size_t>(item)];
  if (it.run == item && !it.ran) {
    size_t n = 1;
    while (static_cast<size_t>(item) + n < batch.size() && batch[static_cast<size_t>(item) + n].run == item) ++n;
    if (!Run_Array(static_cast<size_t>(item), n) && s_->Broken() != nullptr) return s_->broken_code();
  }
  if (it.ran) return it.rc;
  // Alone, as Step would run it.
  values_ = it.values;
  null_ = it.null;
  for (size_t i = static_cast<size_t>(tr_.inputs); i < tr_.params.size(); ++i) null_[i] = 1;  // the clock's anew
  const int rc = Execute();
  if (rc != 0 || cols_.empty()) return rc;
  return Fetch_All();
}

bool OdbcStatement::Run_Array(size_t first, size_t n) {
  auto& batch = s_->batch();
  // Column-wise arrays: for each marker, n values of the widest one's room.
  const size_t markers = order_.size();
  arrays_.resize(markers);
  array_lens_.resize(markers);
  std::vector<SQLLEN> widths(markers, 1);
  for (size_t j = 0; j < markers; ++j) {
    const size_t k = static_cast<size_t>(order_[j]);
    SQLLEN w = 1;
    for (size_t i = first; i < first + n; ++i) {
      const OdbcSession::BatchItem& it = batch[i];
      if (k < it.values.size() && it.null[k] == 0) w = std::max<SQLLEN>(w, static_cast<SQLLEN>(it.values[k].size()));
    }
    widths[j] = w;
    arrays_[j].assign(n * static_cast<size_t>(w), '\0');
    array_lens_[j].assign(n, SQL_NULL_DATA);
    for (size_t i = 0; i < n; ++i) {
      const OdbcSession::BatchItem& it = batch[first + i];
      if (k >= it.values.size() || it.null[k] != 0) continue;
      std::memcpy(arrays_[j].data() + i * static_cast<size_t>(w), it.values[k].data(), it.values[k].size());
      array_lens_[j][i] = static_cast<SQLLEN>(it.values[k].size());
    }
  }
  param_status_.assign(n, SQL_PARAM_UNUSED);
  SQLULEN processed = 0;
  bool ok = Ok(SQLSetStmtAttr(h_, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) &&
            Ok(SQLSetStmtAttr(h_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n)), 0)) &&
            Ok(SQLSetStmtAttr(h_, SQL_ATTR_PARAM_STATUS_PTR, param_status_.data(), 0)) &&
            Ok(SQLSetStmtAttr(h_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
  for (size_t j = 0; j < markers && ok; ++j) {
    ok = Ok(SQLBindParameter(h_, static_cast<SQLUSMALLINT>(j + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                             static_cast<SQLULEN>(widths[j]), 0, arrays_[j].data(), widths[j], array_lens_[j].data()));
  }
  int rc = ok ? s_->Write_Begins() : s_->Fail(SQL_HANDLE_STMT, h_);
  std::vector<SQLLEN> counts(n, -1);
  if (ok && rc == 0) {
    const int trips = static_cast<int>((n + kDriverChunk - 1) / kDriverChunk);
    const SQLRETURN r = s_->Call(h_, trips, [&] { return SQLExecute(h_); });
    if (!Ok(r) && r != SQL_NO_DATA) {
      rc = s_->Fail(SQL_HANDLE_STMT, h_);
    } else {
      // One result per row, each with its count.
      for (size_t i = 0; i < n; ++i) {
        SQLLEN c = -1;
        if (Ok(SQLRowCount(h_, &c))) counts[i] = c;
        if (i + 1 < n && SQLMoreResults(h_) != SQL_SUCCESS) break;
      }
    }
  }
  SQLFreeStmt(h_, SQL_CLOSE);
  // Back to one execution at a time.
  SQLSetStmtAttr(h_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(1)), 0);
  SQLSetStmtAttr(h_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(h_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
  if (s_->Broken() != nullptr) {
    for (size_t i = first; i < first + n; ++i) batch[i].run = -1;
    return false;
  }
  if (rc != 0) {
    s_->After_Failure(rc);
    // Each goes alone now, as it is adopted, and gets its own outcome.
    for (size_t i = first; i < first + n; ++i) batch[i].run = -1;
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    OdbcSession::BatchItem& it = batch[first + i];
    it.ran = true;
    // An insert that met an existing key: the unique violation it stands for.
    it.rc = tr_.ignore && counts[i] == 0 ? kSqlDupKey : 0;
  }
  return true;
}

}  // namespace sqlrt

// SQL runtime: runs the job's embedded-SQL statement texts in the one session.
//
// Callers are the session module and the phases. They pass their statement
// texts exactly as written for the precompiler:
//   - placeholders :b0, :b1, ...; a placeholder directly followed by a second
//     one (":b2:b3") is one host variable with its indicator;
//   - a select-into names its outputs in "into :b0:b1,..." before "from";
//   - a cursor's select has no into list; its outputs come with each fetch.
// The runtime parses each text once, prepares it once per session and keeps
// it, keyed by the text's address: texts must live for the whole run (string
// literals). The backend is chosen at connect time from the net service name.
//
// Host variables are given in order of appearance, one SqlVar per host
// variable (the indicator travels inside it). A placeholder that appears
// several times takes one SqlVar per appearance. A select-into takes its
// outputs first, then its inputs, as they stand in the text.
//
// Every call sets SqlCode and returns it:
//     0  success
//  1403  no row (select-into), no further row (fetch; again on every fetch
//        after the last row)
//    -1  unique key violated
//  -904  invalid column name
//  -942  table or view does not exist
// -1405  NULL fetched into a variable without indicator
// -2112  select-into found more than one row
// other negative values: any other failure. A failed statement undoes only
// its own effect; the transaction goes on. The runtime's own:
// -1001  fetch or close of a cursor that is not open
// -1007  fetch variables do not match the select list (asserts in debug)
// -1008  host variables do not match the placeholders (asserts in debug)
// -1012  no session
// -1480  a host variable without buffer or of size 0
// -2091  the database rolled the transaction back by itself: returned by
//        the commit that would otherwise succeed
// -12154 connect: net service name unknown (scheme, directory)
// The embedded backend's codes are listed in db/sqlite_backend.cpp.
//
// Values: STRING outputs longer than size - 1 are cut to size - 1 characters
// (the statement still succeeds, the indicator holds the full length); NULL
// sets the indicator to -1 and leaves the variable alone; an empty text
// reads as NULL. A DATE column fetched into a STRING reads 'DD-MON-RR'.
// Inputs: an indicator of -1 or an empty text is sent as NULL; a STRING is
// read up to its NUL, never past its size. Not thread-safe: one session per
// process, as the job has.
//
// A cursor reads its inputs and runs its query at open, and fetches the rows
// as they stood then; commits and the job's other statements do not disturb
// it. A schema switch closes every open cursor (later fetches give -1001).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

extern int SqlCode;

// Status codes (SqlCode values; Oracle's numbers, as the job was written
// against them). The phases test the first five; the rest are the runtime's
// own and what the backends map their native errors onto. Each backend's
// further codes (lost connection, full disk, ...) are listed with it.
constexpr int kSqlOk = 0;
constexpr int kSqlNoRow = 1403;         // no row, or no further row
constexpr int kSqlDupKey = -1;          // unique key violated
constexpr int kSqlNoColumn = -904;      // invalid identifier (a named column is missing)
constexpr int kSqlNoTable = -942;       // table or view does not exist
constexpr int kSqlTooManyRows = -2112;  // select-into found more than one row

constexpr int kSqlNotConnected = -1012;        // not logged on
constexpr int kSqlBindMismatch = -1008;        // host variables do not match the placeholders
constexpr int kSqlSelectListMismatch = -1007;  // fetch variables do not match the select list
constexpr int kSqlInvalidCursor = -1001;       // fetch or close of a cursor that is not open
constexpr int kSqlNullNoIndicator = -1405;     // NULL fetched into a variable without indicator
constexpr int kSqlBadVariable = -1480;         // a host variable of no size or no buffer
constexpr int kSqlTxnRolledBack = -2091;       // the database ended the transaction itself
constexpr int kSqlUnknownService = -12154;     // net service name not resolved (unknown scheme)
constexpr int kSqlLoginRefused = -1017;        // connect: invalid username/password
constexpr int kSqlNoListener = -12541;         // connect: no server listens at that address
constexpr int kSqlBadOption = -922;            // missing or invalid option (a schema name)
constexpr int kSqlCancelled = -1013;           // the run was asked to stop (a signal, base/stop.h)
constexpr int kSqlConnectTimeout = -12170;     // connect: no answer within SqlOptions::connect_timeout_s
constexpr int kSqlTooManySessions = -18;       // connect: the server has no connection slot left
constexpr int kSqlNoDatabase = -12514;         // connect: the server knows no database of that name
constexpr int kSqlStartingUp = -1033;          // connect: the server is starting up or shutting down

constexpr int kSqlLocked = -54;         // resource busy: a lock not granted within the wait
constexpr int kSqlDeadlock = -60;       // deadlock detected while waiting for a resource
constexpr int kSqlBadStatement = -900;  // invalid SQL statement
constexpr int kSqlNoSchema = -1435;     // the schema to switch to does not exist
constexpr int kSqlBadType = -932;       // inconsistent datatypes
constexpr int kSqlBadNumber = -1722;    // invalid number
constexpr int kSqlIntOverflow = -1455;  // a number does not fit the host variable
constexpr int kSqlNotNull = -1400;      // NULL into a NOT NULL column
constexpr int kSqlCheck = -2290;        // check constraint violated

struct SqlVar {
  enum Kind : unsigned char { kString, kInteger };
  Kind kind;
  int32_t size;   // STRING: buffer size including the NUL
  void* data;     // char[size] or int32_t
  int16_t* ind;   // indicator, or null
};

inline SqlVar SqlStr(char* buf, int32_t size, int16_t* ind = nullptr) {
  return SqlVar{SqlVar::kString, size, buf, ind};
}
// Input only: the runtime never writes through an input variable.
inline SqlVar SqlStr(const char* text, int32_t size, int16_t* ind = nullptr) {
  return SqlVar{SqlVar::kString, size, const_cast<char*>(text), ind};
}
inline SqlVar SqlInt(int32_t* v, int16_t* ind = nullptr) {
  return SqlVar{SqlVar::kInteger, sizeof(int32_t), v, ind};
}
inline SqlVar SqlInt(const int32_t* v, int16_t* ind = nullptr) {
  return SqlVar{SqlVar::kInteger, sizeof(int32_t), const_cast<int32_t*>(v), ind};
}

using SqlVars = std::initializer_list<SqlVar>;

// Settings of a session, handed to the backend when it opens one.
//
// Every wait of the session on a database server is bounded, so that a
// night that goes wrong ends the job instead of hanging it; the bounds are
// set here and nowhere else (the job's --connect-timeout and
// --reply-timeout change them).
struct SqlOptions {
  // How long a statement waits for a lock held by another connection
  // before it fails with -54. On a database server, once a statement of a
  // transaction has met that, its later statements do not wait at all (a
  // locked row fails them at once with -54), so that a unit of work costs
  // at most one lock wait.
  int lock_wait_ms = 10000;
  // How long a connect may take, in seconds, before it fails with -12170:
  // a server that accepts the connection and never answers.
  int connect_timeout_s = 60;
  // How long a request to a database server may go without any answer, in
  // seconds, before the session counts as broken: a frozen network, a
  // relay that stops forwarding. The longest statement of a healthy run
  // stays far below it (bench/README.md). The embedded database has no
  // server to wait for: its only wait is the lock wait.
  int reply_timeout_s = 180;
  // The territory an Oracle client would use (NLS_TERRITORY): the weekday
  // numbering of TO_CHAR(d, 'D'). Empty: Sunday is day 1.
  std::string territory;
  // The schema that the statements name with a prefix (HRSYSTEM.Hrs133Bak).
  std::string system_schema = "HRSYSTEM";
};

// The job's settings: the defaults above, the territory from the
// environment as an Oracle client reads it (NLS_TERRITORY, else NLS_LANG).
SqlOptions Sql_Options_Default();

// Opens the session. connect_text is "login/password@netservice"; the net
// service name's scheme picks the backend ("sqlite:DIR" for the embedded one).
int Sql_Rt_Connect(const char* connect_text, const SqlOptions& options = Sql_Options_Default());

// Ends the session and forgets every prepared statement (tests, tools; the
// job itself ends with the process). Uncommitted work is rolled back.
void Sql_Rt_Disconnect();

// Insert, update, delete or select-into.
int Sql_Exec(const char* text, SqlVars vars = {});

// A batch: statements (insert, update, delete, select-into) that the
// caller has no need to see one by one, run in order as that many Sql_Exec
// calls would run them, each with its own code and statement-level
// rollback. On a database server they travel together, one round trip for
// the batch (more only where a statement fails); on the embedded database
// they run one after the other, a run of one insert as one statement of
// several rows. Either way each gets the code and the effect it has alone.
// Outputs are written and the codes
// set when Sql_Exec_Batch returns, so every buffer named in Add must stay
// in place until then. Clear keeps the room for the next batch.
//
// A batch may also open cursors (Open): the item's code is the one
// Sql_Cur_Open would have returned, and on 0 the cursor is open for
// Sql_Cur_Fetch with the rows its query gave at that place in the batch.
struct SqlBatch {
  struct Item {
    const char* text;
    unsigned first;  // the item's host variables in `vars`
    unsigned count;
    bool cursor;     // a cursor's open
    int rc;          // after the run: the code Sql_Exec (Sql_Cur_Open) would have returned
  };
  std::vector<Item> items;
  std::vector<SqlVar> vars;
  // Each returns the item's index in `items`.
  size_t Add(const char* text, SqlVars v) { return Put(text, v.begin(), v.size(), false); }
  size_t Add(const char* text, const SqlVar* v, size_t n) { return Put(text, v, n, false); }
  size_t Open(const char* text, SqlVars in) { return Put(text, in.begin(), in.size(), true); }
  void Clear() {
    items.clear();
    vars.clear();
  }

 private:
  size_t Put(const char* text, const SqlVar* v, size_t n, bool cursor) {
    items.push_back(Item{text, static_cast<unsigned>(vars.size()), static_cast<unsigned>(n), cursor, 0});
    vars.insert(vars.end(), v, v + n);
    return items.size() - 1;
  }
};

// The code of a batch item that did not run (see Sql_Exec_Batch).
constexpr int kSqlNotRun = 1;

// Runs the batch. With stop_code non-zero, the first item that fails with
// that code ends it: the items after it do not run and get kSqlNotRun (for
// -1 or 1403 the items then go one at a time). Sets
// SqlCode to, and returns, 0, or the code of a failure that broke the
// session (Sql_Rt_Broken; the items from the one that met it on get that
// code and did nothing).
int Sql_Exec_Batch(SqlBatch* batch, int stop_code = 0);

// Cursor: open reads its inputs, fetch writes one row into `out`, close.
// Several cursors may be open at once; an open cursor survives a commit.
int Sql_Cur_Open(const char* text, SqlVars in = {});
int Sql_Cur_Fetch(const char* text, SqlVars out);
int Sql_Cur_Fetch(const char* text, const SqlVar* out, size_t n);
int Sql_Cur_Close(const char* text);

// Dynamic statement: prepare a text held in a variable, then execute it
// without host variables.
int Sql_Dyn_Prepare(const char* text);
int Sql_Dyn_Execute();

// Makes the transaction's changes permanent; sessions and cursors go on.
// In dry mode it commits nothing and returns 0: the work stays visible to
// the session's later statements until Sql_Rt_Rollback.
int Sql_Rt_Commit();

// A commit whose answer need not be awaited now: asks for it as
// Sql_Rt_Commit would and returns 0 at once. The commit goes with the
// next batch (Sql_Exec_Batch), ahead of its items in the same round trip
// where the backend can send it so, else before anything else reaches the
// session; it commits even where a stop signal came since it was asked
// for. Sql_Rt_Commit_Result then gives its code (and sets SqlCode) as
// Sql_Rt_Commit would have, running it first if nothing has yet.
int Sql_Rt_Commit_Defer();
int Sql_Rt_Commit_Result();
// Whether the last deferred commit broke the session (rather than a
// statement of the batch that carried it).
bool Sql_Rt_Commit_Broke();

// The condition that broke the session, or null while it can go on: a short
// plain description (ASCII, no file name or secret) of a failure that no
// later statement can survive, such as a full disk, a read-only or damaged
// database file or a lost connection (each backend lists its own). The call
// that met it returns its code as usual; from then on every call returns
// that same code at once and touches nothing. A caller that would log a
// failure and go on checks this first and stops instead; the driver then
// ends the session with Sql_Rt_Disconnect, which rolls the open transaction
// back. Sql_Rt_Connect and Sql_Rt_Disconnect clear it.
const char* Sql_Rt_Broken();

// Undoes everything since the last real commit; sessions and cursors go on.
// Returns 0, or -2091 when the database had already rolled the transaction
// back by itself in between (work was lost before this call), or another
// negative code.
int Sql_Rt_Rollback();

// Dry mode, for a run that must leave the database as it was: commits do
// nothing, and the caller ends with Sql_Rt_Rollback. Off at start and again
// after Sql_Rt_Disconnect; a connect does not change it.
void Sql_Rt_Dry_Set(bool on);

// The backends built in ("sqlite", "postgresql", "odbc"), by index from 0; null
// past the last.
const char* Sql_Backend_Name(int index);

// The backend a net service name is for (one of the names above), or null.
const char* Sql_Net_Backend(const char* net);

// Checks a net service name before it is used, stored or shown: null when it
// may be, else a short text of what is allowed, in the log's language. The
// backend that owns the name's scheme decides; a database server's name must
// not carry a user, a password or a password file (LOGIN and PASS give
// them), since the net service name is shown where a connect fails. A name
// no backend owns passes here and fails the connect with -12154.
const char* Sql_Net_Check(const char* net);

// Counters for the benchmark: statement executions (exec, open, fetch),
// prepares and round trips to a database server since the session opened
// (after a disconnect: those of the session that ended).
struct SqlStats {
  long executions = 0;
  long prepares = 0;
  long round_trips = 0;
  long longest_wait_ms = 0;  // the longest wait for one answer of the server
};
SqlStats Sql_Stats();

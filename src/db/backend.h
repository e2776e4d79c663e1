// The runtime's backend interface: what sqlrt.cpp asks of a database. One
// backend per net service scheme, linked in statically and picked at connect
// time through Sql_Backend_Find. A backend translates the neutral statement
// text (sqlparse.h) into its dialect and maps its native errors onto the
// SqlCode values of sqlrt.h; nothing outside the backend sees either. The
// runtime's sessions can be wrapped (Sql_Rt_Session_Wrap): the seam of the
// tests' fault injection, which the phases never see.
#pragma once

#include <memory>
#include <string>

#include "db/sqlparse.h"
#include "db/sqlrt.h"

namespace sqlrt {

class Statement {
 public:
  virtual ~Statement() = default;
  // Columns of the result (0 for statements without one).
  virtual int Columns() const = 0;
  // Binds input `index` (0-based); the caller's buffer must stay unchanged
  // until the execution has run (Step of a statement, Materialize of a
  // cursor).
  virtual int Bind(int index, const SqlVar& var) = 0;
  // Runs the statement, or steps on: 0 a row is ready, 1403 no (further)
  // row, negative on failure (the statement's own effect undone).
  virtual int Step() = 0;
  // Runs a query to its end and keeps its rows; Step and Column then move
  // over the kept rows until Reset. This is how cursors run: they read as of
  // their open, hold no lock or snapshot while the job writes and commits,
  // and are not disturbed by the job's writes to the tables they read.
  virtual int Materialize() = 0;
  // Copies column `index` of the current row into `out`, bounded by its size.
  virtual int Column(int index, const SqlVar& out) = 0;
  // Ends the current execution; bindings may be replaced afterwards.
  virtual void Reset() = 0;
  // Batches (Session::Batches): adds an execution of the statement with its
  // current bindings, as Step would run it, to the session's open batch.
  // Returns the item's index (0, 1, ...) or a negative code (nothing added).
  virtual int Queue() { return kSqlBadStatement; }
  // After Session::Batch_Run: makes the outcome of batch item `item` the
  // statement's current execution and returns its code; on 0, Step and
  // Column read its rows (a write gives 1403 at once), until Reset. The
  // runtime adopts the items in order, each at most once, none after one
  // that ended the batch: a backend may run an item only as it is adopted.
  virtual int Adopt(int /*item*/) { return kSqlBadStatement; }
};

class Session {
 public:
  virtual ~Session() = default;
  // Prepares a neutral text. On failure returns the negative code and
  // leaves *out empty.
  virtual int Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) = 0;
  // Makes schema `name` (upper case, a plain identifier) current for the
  // names written without a schema: the runtime's execution of ALTER
  // SESSION SET CURRENT_SCHEMA, which is never prepared. 0, or
  // a negative code with the current schema unchanged.
  virtual int Switch_Schema(const std::string& name) = 0;
  virtual int Commit() = 0;
  // A commit that goes ahead of the next Batch_Run's items, in the same
  // round trip and apart from them (its failure fails none of them):
  // false when the backend cannot (the caller then commits by itself).
  // Commit_Ahead_Result, after that Batch_Run, gives what Commit would
  // have returned; it sends and reads the commit when no Batch_Run did.
  virtual bool Commit_Ahead() { return false; }
  virtual int Commit_Ahead_Result() { return Commit(); }
  // Undoes the open transaction, if any: 0, or kSqlTxnRolledBack when the
  // database had ended it by itself since the last commit or rollback.
  virtual int Rollback() = 0;
  // Changes whenever the resolution of table names changes (a schema
  // switch): statements prepared before then must be prepared again.
  virtual unsigned Name_Generation() const = 0;
  // Whether statements can be sent together (Statement::Queue): to a
  // server in one round trip, or a run of one insert as one statement.
  virtual bool Batches() const { return false; }
  // Opens an empty batch; forgets the outcomes of the last one.
  virtual void Batch_Begin() {}
  // Runs the queued items in order, each as a statement of its own with
  // statement-level rollback; with stop_code non-zero the first item that
  // fails with it ends the batch, and the items after it get kSqlNotRun.
  // Returns 0, or the code of a failure that broke the session (the items
  // from the one that met it on get that code).
  virtual int Batch_Run(int /*stop_code*/) { return 0; }
  // Waits for the server's answer since the session opened: one per
  // message batch sent to a database server; 0 for the embedded database.
  virtual long Round_Trips() const { return 0; }
  // The longest wait for an answer of the server since the session opened,
  // in milliseconds (the benchmark's measure of the reply timeout's
  // margin); 0 for the embedded database.
  virtual long Longest_Wait_Ms() const { return 0; }
  // The condition that leaves the session unable to do anything more, or
  // null while it can go on (Sql_Rt_Broken in sqlrt.h).
  //
  // A backend sets it where it maps its native errors, for the failures
  // after which no later statement of the session can succeed: the
  // database cannot be written (read-only file, read-only server), cannot
  // be read (damaged file or page), has no room (full disk, out of memory),
  // is unreachable (I/O error, lost connection, server shut down) or is
  // held by another program beyond the lock wait. A failure that concerns
  // one statement or its rows (a key refused, a missing table or column,
  // no row, a value that does not convert) never sets it.
  //
  // REQUIRES of an override: the text is a short plain description in the
  // log's language, ASCII only ("Datentraeger voll"), a string literal;
  // it names no file, login, password or connect text. It is set by the
  // call that met the condition, and that call returns its negative status
  // as usual; once set it stays, unchanged, for the life of the session.
  // The runtime reads it after every failed call, then answers every later
  // call with that status without calling the backend again, until the
  // session is destroyed (which must roll back and must not block).
  // Default: the backend knows no such condition.
  virtual const char* Broken() const { return nullptr; }
};

// Broken()'s text after a stop signal (base/stop.h) cut a wait of the
// session short, as the runtime gives it for a stop before a call (-1013).
constexpr char kSqlStoppedWhat[] = "Lauf durch Signal beendet";

// A backend as the runtime knows it; every one is linked in and listed in
// sqlrt.cpp. A net service name is "scheme:target", and each backend owns
// its schemes (compared case-insensitively), their form and the parameters
// that would carry credentials: nothing outside it spells them.
struct BackendEntry {
  const char* name;  // as --version names it: "sqlite", "postgresql", "odbc"
  // Whether `net` names this backend by its scheme.
  bool (*owns)(const char* net);
  // Before `net` (one it owns) is used, stored or shown: null when it may
  // be, else a short text of what is allowed, in the log's language. A
  // refused name may hold a secret and must not be shown.
  const char* (*check)(const char* net);
  // Opens a session on `net` (owned and checked). Returns 0 or a negative
  // code; never puts the password into any message.
  int (*open)(const char* login, const char* password, const char* net, const SqlOptions& options,
              std::unique_ptr<Session>* out);
  // After open failed on `net` (owned and checked) with `rc` for a session
  // that was to use `schema`: what is missing, named as `net` gives it, in
  // the log's language with control characters shown as \x1b; "" when the
  // backend has nothing to add. Null: never anything.
  std::string (*connect_missing)(int rc, const char* net, const char* schema);
};

// Wraps the runtime's sessions, for code that must see or change what the
// runtime asks of its backend (the tests' fault injection). `wrap` gets a
// session and returns the session the runtime is to use from then on,
// usually one that forwards to the one it got and owns it.
using SessionWrap = std::unique_ptr<Session> (*)(std::unique_ptr<Session>);

// Every session opened from now on is handed to `wrap` as it opens, until
// the next call; null: sessions are used as the backend opens them. The
// session open now, if any, is wrapped at once (unless this same `wrap`
// wrapped it already), and the runtime then prepares its statements again
// through the wrapper, as it does after a schema switch: open cursors close.
// A wrapped session stays wrapped until it ends.
// REQUIRES: `wrap` returns a session, never null.
void Sql_Rt_Session_Wrap(SessionWrap wrap);

// The backend that owns `net`, or null.
const BackendEntry* Sql_Backend_Find(const char* net);

// Case-insensitive ASCII prefix test, for the backends' scheme checks.
bool Sql_Net_Has_Scheme(const char* net, const char* scheme_colon);

extern const BackendEntry kSqliteBackend;  // sqlite_backend.cpp
extern const BackendEntry kPgBackend;      // pg_session.cpp
extern const BackendEntry kOdbcBackend;    // odbc_session.cpp

}  // namespace sqlrt

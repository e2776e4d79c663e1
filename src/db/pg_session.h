// The PostgreSQL backend's session and statements, private to the backend:
// pg_session.cpp holds the session (connect, the transaction frame, the
// pipeline and its batches, the catalog, the schema switch, the net service
// names), pg_statement.cpp the statements (binding, execution, the columns'
// values). The runtime reaches both through backend.h only (kPgBackend).
//
// Transactions: Oracle's. A transaction begins with the first insert,
// update or delete after connect or commit; reads outside it run on their
// own. Inside a transaction every statement runs between SAVEPOINT and
// RELEASE, sent with it in one pipeline (one round trip); only a failure
// costs a second one, ROLLBACK TO SAVEPOINT, so that a failed statement
// undoes its own effect alone and the transaction goes on. A commit without
// a write before it sends nothing.
//
// Batches: a run of consecutive executions of one insert or update goes as
// one statement over arrays (Pg_Run_Sql), exactly when it has the effect
// and the codes of the executions one by one; otherwise the run goes again
// item by item (PgSession::Batch_Run).
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/backend.h"
#include "db/pg_error.h"
#include "db/pg_translate.h"

namespace sqlrt {

// Type OIDs of the built-in types (fixed in every PostgreSQL release).
constexpr Oid kOidBool = 16;
constexpr Oid kOidInt8 = 20;
constexpr Oid kOidInt2 = 21;
constexpr Oid kOidInt4 = 23;
constexpr Oid kOidText = 25;
constexpr Oid kOidFloat4 = 700;
constexpr Oid kOidFloat8 = 701;
constexpr Oid kOidBpchar = 1042;
constexpr Oid kOidVarchar = 1043;
constexpr Oid kOidDate = 1082;
constexpr Oid kOidTimestamp = 1114;
constexpr Oid kOidTimestampTz = 1184;
constexpr Oid kOidNumeric = 1700;

// How the runs of one write in a batch go to the server: as one statement
// over arrays, prepared in the session when its first run goes out.
struct PgRun {
  // The run's statement: the plain form first where there is one
  // (Pg_Run_Sql_Plain), then the counting form (Pg_Run_Sql), which alone
  // is empty when the write's runs go item by item.
  struct Form {
    std::string sql;
    std::string name;
    bool prepared = false;
  };
  Form plain, counted;
  // The same two forms for the runs whose parameters in `scalars` go as one
  // value each (Pg_Run_Sql), made as such runs come, at most kRunVariants:
  // the arrays that a value common to all the items would fill cost the
  // client and the server a conversion per element.
  struct Variant {
    uint64_t scalars;
    Form plain, counted;
  };
  std::vector<Variant> variants;
  uint64_t keys = 0;  // the common values that bound an update's rows (Pg_Run_Keys)
  PgTranslation tr;                // what the variants' texts are made from
  std::vector<std::string> types;  // the parameters' type names, as the server inferred them
  bool keys_met = false;  // a plain run met an existing key: counting from then on
  bool ignore = false;  // an insert that reports an existing key without failing
  // The element type of each parameter's array: the arrays of integers
  // and timestamps, and of texts, go in binary form (nothing for the
  // server to parse); 0 where the array goes as text.
  std::vector<Oid> elems;
};

class PgSession : public Session {
 public:
  ~PgSession() override {
    Batch_Clear();
    if (conn_ != nullptr) PQfinish(conn_);  // the server rolls back what is open
  }
  int Open(const char* login, const char* password, const std::string& dbname, const SqlOptions& options);
  int Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) override;
  int Commit() override;
  bool Commit_Ahead() override {
    ahead_ = true;
    return true;
  }
  int Commit_Ahead_Result() override;
  int Rollback() override;
  unsigned Name_Generation() const override { return generation_; }
  long Round_Trips() const override { return round_trips_; }
  long Longest_Wait_Ms() const override { return longest_wait_ms_; }
  const char* Broken() const override { return broken_; }

  // Runs a prepared statement with its values inside the transaction frame
  // it needs; the result of a query is kept in *result.
  int Execute(const std::string& name, bool write, int n, const char* const* values, const int* lengths,
              PGresult** result);
  int Switch_Schema(const std::string& name) override;

  bool Batches() const override { return true; }
  void Batch_Begin() override;
  int Batch_Run(int stop_code) override;
  // Adds an execution of a prepared statement to the batch; its values are
  // copied. run: how runs of the statement go (null: item by item), kept
  // by the caller. Returns the item's index.
  int Batch_Queue(const std::string* name, bool write, PgRun* run, int n, const char* const* values,
                  const int* lengths);
  // The item's code, and its result (now the caller's) on 0.
  int Batch_Take(int item, PGresult** result);

 private:
  // One message of a pipeline and what came back for it.
  struct Slot {
    ExecStatusType status = PGRES_FATAL_ERROR;
    std::string sqlstate;
    PGresult* keep = nullptr;  // the query's result, when asked for
    bool want = false;
    bool none = false;  // a run's statement that wrote no row
  };
  int Connect_Wait(long timeout_ms);
  bool Flush();
  bool Await();
  int Sync(Slot* slots, int count);
  // One query of the session's own with text parameters, in a round trip
  // of its own; on 0 its result is in slot->keep.
  int Query(const char* sql, const char* const* values, int count, Slot* slot);
  int Fail_Broken(const PgError& error);
  int Load_Catalog();
  int Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out, std::string* sqlstate);
  int Frame(const char* name);  // one fixed statement in a pipeline of its own
  bool Send_Frame(const char* stmt, int* count);  // queues a fixed statement
  void Undo();  // rolls back to the statement's savepoint after a failure
  bool Send_Undo(int* count);  // queues that rollback (and dayset_nowait when due)
  void Ahead_Send();  // the commit asked for by Commit_Ahead, with a sync of its own
  bool Ahead_Read();  // its answer, ahead of what follows it; false when that broke the session

  // A batch: its items in order, their parameters one after the other.
  struct BatchItem {
    const std::string* name;
    bool write;
    PgRun* run;
    size_t first;  // in param_off_, param_len_
    int count;
    int slot = -1;  // of its execution in the pipeline last sent
    bool merged = false;  // that execution was its run's statement
    bool solo = false;    // its run failed: it goes alone
    bool plain = false;    // that statement was its run's plain form
    bool counted = false;  // its plain run met an existing key: the counting form next
    int rc = kSqlNotRun;
    PGresult* result = nullptr;
  };
  void Batch_Clear();
  size_t Run_Span(size_t k) const;  // items from pending_[k] on that go as one
  bool Send_Item(size_t item, int* count);
  bool Send_Run(size_t k, size_t span, int* count);
  bool Binary_Array(size_t k, size_t span, size_t p, Oid elem, std::string* a);
  uint64_t Run_Scalars(size_t k, size_t span, size_t params) const;
  std::vector<BatchItem> batch_;
  std::string param_bytes_;
  std::vector<size_t> param_off_;
  std::vector<int> param_len_;  // -1: NULL
  std::vector<const char*> send_values_;
  std::vector<Slot> slots_;
  std::vector<size_t> pending_, again_;  // items still to send
  std::vector<std::string> arrays_;       // a run's parameters, one array each
  std::vector<int> array_lens_, array_formats_;
  std::vector<std::pair<int, PgRun::Form*>> run_prepares_;  // slot of a run's prepare in the pipeline
  std::vector<int> run_slots_;                         // slots of the runs' statements

  PGconn* conn_ = nullptr;
  bool in_txn_ = false;
  bool txn_lost_ = false;
  const char* broken_ = nullptr;
  int broken_code_ = 0;
  unsigned generation_ = 1;
  std::string current_;  // the current schema in lower case; empty before the switch
  PgCatalog catalog_;
  bool catalog_loaded_ = false;
  bool sunday_first_ = true;
  std::string system_;  // the schema the statements name with a prefix, folded
  long next_name_ = 0;
  long round_trips_ = 0;
  long reply_ms_ = 180000;
  long longest_wait_ms_ = 0;  // the longest wait for an answer
  // A statement of the open transaction met the lock wait: once the undo
  // of it has gone, the transaction waits for no lock (dayset_nowait).
  bool nowait_due_ = false;
  bool nowait_ = false;  // dayset_nowait sent in the open transaction
  // Commit_Ahead: asked for, not yet sent (ahead_); sent, its answer not
  // yet read (ahead_sent_); its code.
  bool ahead_ = false;
  bool ahead_sent_ = false;
  int ahead_rc_ = 0;
};

// A statement prepared on the server under `name`, with the translation
// that says how its parameters are made and the types of its columns.
class PgStatement : public Statement {
 public:
  PgStatement(PgSession* s, std::string name, bool write, PgTranslation tr, std::vector<Oid> types, PgRun run)
      : s_(s),
        name_(std::move(name)),
        write_(write),
        tr_(std::move(tr)),
        types_(std::move(types)),
        run_(std::move(run)) {
    const size_t n = tr_.params.size();
    values_.resize(n);
    null_.assign(n, 1);
    ptrs_.assign(n, nullptr);
    lens_.assign(n, 0);
  }
  ~PgStatement() override { PQclear(res_); }
  int Columns() const override { return static_cast<int>(types_.size()); }
  int Bind(int index, const SqlVar& var) override;
  int Step() override;
  int Materialize() override;
  int Column(int index, const SqlVar& out) override;
  void Reset() override;
  int Queue() override;
  int Adopt(int item) override;

 private:
  void Values();
  int Run();
  int Ignored() const;

  PgSession* s_;
  std::string name_;
  bool write_;
  PgTranslation tr_;
  std::vector<Oid> types_;
  PgRun run_;
  // Parameter values, kept between executions so that their buffers are
  // reused; null_ marks those sent as NULL.
  std::vector<std::string> values_;
  std::vector<char> null_;
  std::vector<const char*> ptrs_;
  std::vector<int> lens_;
  PGresult* res_ = nullptr;
  bool started_ = false;
  int row_ = -1;
};

}  // namespace sqlrt

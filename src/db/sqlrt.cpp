// The SQL runtime: statement cache, host-variable binding, cursors, the
// dynamic statement and counters, over the backend picked at connect time
// (backend.h).
#include "db/sqlrt.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/stop.h"
#include "db/backend.h"
#include "db/oradate.h"
#include "db/sqlparse.h"

int SqlCode = 0;

namespace sqlrt {

namespace {

const BackendEntry* const kBackends[] = {&kSqliteBackend, &kPgBackend, &kOdbcBackend};

}  // namespace

const BackendEntry* Sql_Backend_Find(const char* net) {
  for (const BackendEntry* b : kBackends) {
    if (b->owns(net)) return b;
  }
  return nullptr;
}

bool Sql_Net_Has_Scheme(const char* net, const char* scheme_colon) {
  for (; *scheme_colon != '\0'; ++net, ++scheme_colon) {
    const char c = *net >= 'A' && *net <= 'Z' ? static_cast<char>(*net - 'A' + 'a') : *net;
    if (c != *scheme_colon) return false;
  }
  return true;
}

}  // namespace sqlrt

const char* Sql_Backend_Name(int index) {
  constexpr int n = static_cast<int>(sizeof sqlrt::kBackends / sizeof sqlrt::kBackends[0]);
  return index >= 0 && index < n ? sqlrt::kBackends[index]->name : nullptr;
}

const char* Sql_Net_Check(const char* net) {
  const sqlrt::BackendEntry* b = sqlrt::Sql_Backend_Find(net);
  return b != nullptr ? b->check(net) : nullptr;
}

const char* Sql_Net_Backend(const char* net) {
  const sqlrt::BackendEntry* b = sqlrt::Sql_Backend_Find(net);
  return b != nullptr ? b->name : nullptr;
}

SqlOptions Sql_Options_Default() {
  SqlOptions o;
  char territory[64];
  Ora_Territory_From_Env(territory, sizeof territory);
  o.territory = territory;
  return o;
}

namespace {

using sqlrt::Statement;

// One statement text of the run: its parse, and its prepared form in the
// current session.
struct Entry {
  std::string text;  // the text as first seen, to detect a reused address
  SqlParsed parsed;
  int parse_rc = 0;
  std::unique_ptr<Statement> stmt;
  int columns = 0;
  bool open = false;  // cursor state
};

struct Runtime {
  std::unique_ptr<sqlrt::Session> session;
  unsigned generation = 0;
  std::unordered_map<const char*, std::unique_ptr<Entry>> cache;
  std::unique_ptr<Statement> dyn;
  std::string dyn_schema;  // the prepared text is a schema switch to it
  int dyn_rc = 0;
  SqlStats stats{};
  sqlrt::SessionWrap wrap = nullptr;     // for the sessions opened from now on
  sqlrt::SessionWrap wrapped = nullptr;  // the wrap of the session open now
  int broken = 0;                  // the code every call returns once broken
  const char* broken_what = nullptr;
  bool dry = false;
  std::vector<int> batch_queued;      // Sql_Exec_Batch: each item's place in the session's batch
  std::vector<Entry*> batch_entries;  // and its statement
  // Sql_Rt_Commit_Defer: a commit asked for and not yet run (kDeferred),
  // going ahead of the batch in hand (kAhead), or run with commit_rc.
  enum { kNoCommit, kDeferred, kAhead, kCommitted } commit = kNoCommit;
  int commit_rc = 0;
  bool commit_broke = false;  // that commit broke the session
};

Runtime rt;

int Set(int code) {
  SqlCode = code;
  return code;
}

// Ends a call that reached the backend: a failure after which the backend
// reports the session broken fixes the code of every later call.
int Done(int code) {
  if (code < 0 && rt.broken == 0 && rt.session != nullptr) {
    if (const char* what = rt.session->Broken()) {
      rt.broken = code;
      rt.broken_what = what;
    }
  }
  return Set(code);
}

void Drop_Statements() {
  for (auto& [key, e] : rt.cache) {
    if (e->stmt != nullptr) e->stmt->Reset();
    e->stmt.reset();
    e->open = false;
  }
}

// The cache entry of a text, parsed; null and *rc on a parse failure. A
// text at an address seen before with other contents replaces that entry.
Entry* Entry_Get(const char* text, int* rc) {
  auto it = rt.cache.find(text);
  if (it != rt.cache.end() && std::strcmp(it->second->text.c_str(), text) == 0) {
    Entry* e = it->second.get();
    *rc = e->parse_rc;
    return e->parse_rc == 0 ? e : nullptr;
  }
  auto e = std::make_unique<Entry>();
  e->text = text;
  e->parse_rc = Sql_Parse(text, &e->parsed);
  Entry* raw = e.get();
  if (it != rt.cache.end()) {
    if (it->second->stmt != nullptr) it->second->stmt->Reset();
    it->second = std::move(e);
  } else {
    rt.cache.emplace(text, std::move(e));
  }
  *rc = raw->parse_rc;
  return raw->parse_rc == 0 ? raw : nullptr;
}

// Prepares the entry's statement if this session has not; a failure is not
// kept, so the next call tries again.
int Entry_Prepare(Entry* e) {
  if (rt.session->Name_Generation() != rt.generation) {
    Drop_Statements();
    rt.generation = rt.session->Name_Generation();
  }
  if (e->stmt != nullptr) return 0;
  std::unique_ptr<Statement> st;
  const int rc = rt.session->Prepare(e->parsed, &st);
  if (rc != 0) return rc;
  e->columns = st->Columns();
  if (e->parsed.outputs > 0 && e->parsed.outputs != e->columns) {
    assert(!"into list and select list differ in length");
    return kSqlSelectListMismatch;
  }
  e->stmt = std::move(st);
  ++rt.stats.prepares;
  return 0;
}

// Looks the text up and prepares it; null and *rc on failure.
Entry* Entry_Ready(const char* text, int* rc) {
  if (rt.session == nullptr) {
    *rc = kSqlNotConnected;
    return nullptr;
  }
  Entry* e = Entry_Get(text, rc);
  if (e == nullptr) return nullptr;
  *rc = Entry_Prepare(e);
  return *rc == 0 ? e : nullptr;
}

int Bind_Inputs(Statement* st, const SqlVar* vars, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int rc = st->Bind(static_cast<int>(i), vars[i]);
    if (rc != 0) return rc;
  }
  return 0;
}

// Copies the current row into the outputs; the first failure's code, after
// copying every column that can be copied.
int Copy_Row(Statement* st, const SqlVar* out, size_t n) {
  int result = 0;
  for (size_t i = 0; i < n; ++i) {
    const int rc = st->Column(static_cast<int>(i), out[i]);
    if (rc != 0 && result == 0) result = rc;
  }
  return result;
}

// Runs a deferred commit that no batch took along, before anything else
// reaches the session: it was asked for first, so it commits even where
// a stop came since (the stop is seen by the calls after it).
// A commit that went ahead of a batch is read by the batch (Ahead_Done).
void Settle() {
  if (rt.commit != Runtime::kDeferred) return;
  rt.commit = Runtime::kCommitted;
  rt.commit_rc = rt.session != nullptr ? rt.session->Commit() : kSqlNotConnected;
  const int saved = SqlCode;
  const bool whole = rt.broken == 0;
  rt.commit_rc = Done(rt.commit_rc);
  rt.commit_broke = whole && rt.broken != 0;
  SqlCode = saved;
}

void Ahead_Done() {
  if (rt.commit != Runtime::kAhead) return;
  rt.commit = Runtime::kCommitted;
  rt.commit_rc = rt.session->Commit_Ahead_Result();
  const int saved = SqlCode;
  // The commit's answer came before the batch's: a session that the batch
  // found broken at this code was broken by the commit.
  rt.commit_broke = rt.commit_rc != 0 && rt.session->Broken() != nullptr && rt.commit_rc == rt.broken;
  rt.commit_rc = Done(rt.commit_rc);
  SqlCode = saved;
}

}  // namespace

int Sql_Rt_Connect(const char* connect_text, const SqlOptions& options) {
  Sql_Rt_Disconnect();
  // login/password@net: the login ends at the first '/', the net service
  // name begins after the last '@'.
  const char* at = std::strrchr(connect_text, '@');
  if (at == nullptr) return Set(kSqlUnknownService);
  const char* slash = std::strchr(connect_text, '/');
  if (slash == nullptr || slash > at) slash = at;  // no password given
  const char* net = at + 1;
  const sqlrt::BackendEntry* backend = sqlrt::Sql_Backend_Find(net);
  if (backend == nullptr) return Set(kSqlUnknownService);
  std::string login(connect_text, static_cast<size_t>(slash - connect_text));
  std::string password(slash == at ? at : slash + 1, static_cast<size_t>(slash == at ? 0 : at - slash - 1));
  std::unique_ptr<sqlrt::Session> s;
  const int rc = backend->open(login.c_str(), password.c_str(), net, options, &s);
  std::fill(password.begin(), password.end(), '\0');
  if (rc != 0) return Set(rc);
  if (rt.wrap != nullptr) s = rt.wrap(std::move(s));
  rt.wrapped = rt.wrap;
  rt.session = std::move(s);
  rt.generation = rt.session->Name_Generation();
  rt.stats = SqlStats{};
  return Set(0);
}

void Sql_Rt_Disconnect() {
  Settle();
  rt.commit = Runtime::kNoCommit;
  rt.broken = 0;
  rt.broken_what = nullptr;
  rt.cache.clear();
  rt.dyn.reset();
  rt.dyn_schema.clear();
  rt.dyn_rc = 0;
  rt.dry = false;
  // The counters stay readable until the next connect.
  if (rt.session != nullptr) {
    rt.stats.round_trips = rt.session->Round_Trips();
    rt.stats.longest_wait_ms = rt.session->Longest_Wait_Ms();
  }
  rt.session.reset();  // rolls back what is not committed
  rt.wrapped = nullptr;
}

void sqlrt::Sql_Rt_Session_Wrap(SessionWrap wrap) {
  Settle();
  rt.wrap = wrap;
  if (wrap == nullptr || rt.session == nullptr || rt.wrapped == wrap) return;
  // The statements prepared so far would bypass the wrapper.
  Drop_Statements();
  rt.session = wrap(std::move(rt.session));
  rt.wrapped = wrap;
  rt.generation = rt.session->Name_Generation();
}

namespace {

// A stop asked for by a signal (base/stop.h) ends the session's work as a
// failure that broke it would: from the next call on, every call fails with
// -1013 before it reaches the database, so that nothing more is committed
// and the caller's loops end at their next check of Sql_Rt_Broken.
bool Halted() {
  if (rt.broken == 0 && rt.session != nullptr && Stop_Signal() != 0) {
    rt.broken = kSqlCancelled;
    rt.broken_what = sqlrt::kSqlStoppedWhat;
  }
  return rt.broken != 0;
}

// The statement of an execution, prepared, with its inputs bound; null and
// *rc when it cannot run (no session, a bad text or variables).
Entry* Exec_Ready(const char* text, const SqlVar* v, size_t n, int* rc) {
  Settle();
  if (Halted()) {
    *rc = rt.broken;
    return nullptr;
  }
  Entry* e = Entry_Ready(text, rc);
  if (e == nullptr) return nullptr;
  const size_t nout = static_cast<size_t>(e->parsed.outputs);
  if (n != nout + static_cast<size_t>(e->parsed.inputs)) {
    assert(!"host variables do not match the statement's placeholders");
    *rc = kSqlBindMismatch;
    return nullptr;
  }
  *rc = Bind_Inputs(e->stmt.get(), v + nout, n - nout);
  if (*rc != 0) {
    e->stmt->Reset();
    return nullptr;
  }
  return e;
}

// Ends an execution whose first step gave rc: a select-into takes its one
// row; a write's 1403 is success.
int Exec_Finish(Entry* e, const SqlVar* v, int rc) {
  Statement* st = e->stmt.get();
  if (e->parsed.select) {
    if (rc == 0) {
      const int copy = Copy_Row(st, v, static_cast<size_t>(e->parsed.outputs));
      rc = st->Step();
      rc = rc == 0 ? kSqlTooManyRows : rc == kSqlNoRow ? copy : rc;
    }
  } else if (rc == kSqlNoRow) {
    rc = 0;
  }
  st->Reset();
  return rc;
}

int Exec(const char* text, const SqlVar* v, size_t n) {
  int rc;
  Entry* e = Exec_Ready(text, v, n, &rc);
  if (e == nullptr) return rt.broken != 0 ? Set(rt.broken) : Done(rc);
  ++rt.stats.executions;
  return Done(Exec_Finish(e, v, e->stmt->Step()));
}

// A cursor's statement, closed, with its inputs bound; null and *rc when
// it cannot open.
Entry* Open_Ready(const char* text, const SqlVar* in, size_t n, int* rc) {
  Settle();
  if (Halted()) {
    *rc = rt.broken;
    return nullptr;
  }
  Entry* e = Entry_Ready(text, rc);
  if (e == nullptr) return nullptr;
  if (n != static_cast<size_t>(e->parsed.inputs) || e->parsed.outputs != 0) {
    assert(!"host variables do not match the cursor's placeholders");
    *rc = kSqlBindMismatch;
    return nullptr;
  }
  Statement* st = e->stmt.get();
  st->Reset();  // reopening an open cursor starts it afresh
  e->open = false;
  *rc = Bind_Inputs(st, in, n);
  if (*rc != 0) {
    st->Reset();
    return nullptr;
  }
  return e;
}

int Cur_Open(const char* text, const SqlVar* in, size_t n) {
  int rc;
  Entry* e = Open_Ready(text, in, n, &rc);
  if (e == nullptr) return rt.broken != 0 ? Set(rt.broken) : Done(rc);
  ++rt.stats.executions;
  rc = e->stmt->Materialize();
  if (rc != 0) {
    e->stmt->Reset();
    return Done(rc);
  }
  e->open = true;
  return Done(0);
}

}  // namespace

int Sql_Exec(const char* text, SqlVars vars) { return Exec(text, vars.begin(), vars.size()); }

int Sql_Exec_Batch(SqlBatch* batch, int stop_code) {
  auto& items = batch->items;
  const SqlVar* vars = batch->vars.data();
  const size_t n = items.size();
  size_t i = 0;
  // A code that a statement may give without an error (an existing key,
  // no row) cannot end a batch on a server that runs the rest regardless.
  const bool soft_stop = stop_code == kSqlDupKey || stop_code == kSqlNoRow;
  const bool batches = rt.session != nullptr && rt.session->Batches() && !soft_stop;
  // A deferred commit goes ahead of the batch, in its round trip, where
  // the session can send it so.
  if (rt.commit == Runtime::kDeferred && batches && rt.session->Commit_Ahead()) rt.commit = Runtime::kAhead;
  Settle();
  if (!batches) {
    for (; i < n && rt.broken == 0; ++i) {
      const SqlBatch::Item& it = items[i];
      items[i].rc = it.cursor ? Cur_Open(it.text, vars + it.first, it.count) : Exec(it.text, vars + it.first, it.count);
      if (stop_code != 0 && items[i].rc == stop_code) {
        for (++i; i < n; ++i) items[i].rc = kSqlNotRun;
        break;
      }
    }
  } else {
    // Queued in order; an item that cannot run keeps its code and is not
    // sent. Each queued item remembers its place in the session's batch.
    std::vector<int>& queued = rt.batch_queued;
    queued.assign(n, -1);
    std::vector<Entry*>& entries = rt.batch_entries;
    entries.assign(n, nullptr);
    rt.session->Batch_Begin();
    for (; i < n && rt.broken == 0; ++i) {
      int rc;
      const SqlBatch::Item& it = items[i];
      Entry* e = it.cursor ? Open_Ready(it.text, vars + it.first, it.count, &rc)
                           : Exec_Ready(it.text, vars + it.first, it.count, &rc);
      if (e != nullptr) {
        rc = e->stmt->Queue();
        e->stmt->Reset();
        if (rc >= 0) {
          queued[i] = rc;
          entries[i] = e;
          continue;
        }
      }
      items[i].rc = rt.broken != 0 ? rt.broken : Done(rc);
      if (stop_code != 0 && items[i].rc == stop_code) {
        ++i;  // it ran (and failed); nothing after it is sent
        break;
      }
    }
    const size_t tried = i;
    Done(rt.session->Batch_Run(stop_code));
    // The outcomes in order; from the first item that failed with
    // stop_code on, nothing counts as run.
    bool stopped = false;
    for (size_t k = 0; k < tried; ++k) {
      Entry* e = entries[k];
      if (stopped) {
        items[k].rc = kSqlNotRun;
        if (e != nullptr) e->stmt->Reset();
        continue;
      }
      if (e != nullptr && items[k].cursor) {
        // The rows stay with the statement for the fetches.
        const int rc = e->stmt->Adopt(queued[k]);
        if (rc == kSqlNotRun || (rc != 0 && rc == rt.broken)) {
          items[k].rc = rc;
          e->stmt->Reset();
          continue;
        }
        ++rt.stats.executions;
        if (rc != 0) e->stmt->Reset();
        e->open = rc == 0;
        items[k].rc = Done(rc);
      } else if (e != nullptr) {
        int rc = e->stmt->Adopt(queued[k]);
        if (rc == 0) rc = e->stmt->Step();
        if (rc == kSqlNotRun || (rc != 0 && rc == rt.broken)) {
          items[k].rc = rc;
          e->stmt->Reset();
          continue;
        }
        ++rt.stats.executions;
        items[k].rc = Done(Exec_Finish(e, vars + items[k].first, rc));
      }
      stopped = stop_code != 0 && items[k].rc == stop_code;
    }
    for (i = tried; i < n; ++i) items[i].rc = rt.broken != 0 ? rt.broken : kSqlNotRun;
  }
  for (; i < n; ++i) items[i].rc = rt.broken;
  Ahead_Done();
  return Set(rt.broken);
}

int Sql_Cur_Open(const char* text, SqlVars in) { return Cur_Open(text, in.begin(), in.size()); }

int Sql_Cur_Fetch(const char* text, SqlVars out) { return Sql_Cur_Fetch(text, out.begin(), out.size()); }

int Sql_Cur_Fetch(const char* text, const SqlVar* out, size_t n) {
  if (Halted()) return Set(rt.broken);
  int rc;
  Entry* e = Entry_Ready(text, &rc);
  if (e == nullptr) return Done(rc);
  if (!e->open) return Done(kSqlInvalidCursor);
  if (n != static_cast<size_t>(e->columns)) {
    assert(!"fetch variables do not match the select list");
    return Done(kSqlSelectListMismatch);
  }
  Statement* st = e->stmt.get();
  ++rt.stats.executions;
  rc = st->Step();  // 1403 again and again after the last row
  if (rc != 0) return Done(rc);
  return Done(Copy_Row(st, out, n));
}

int Sql_Cur_Close(const char* text) {
  if (Halted()) return Set(rt.broken);
  int rc;
  Entry* e = Entry_Ready(text, &rc);
  if (e == nullptr) return Done(rc);
  if (!e->open) return Done(kSqlInvalidCursor);
  e->stmt->Reset();
  e->open = false;
  return Done(0);
}

int Sql_Dyn_Prepare(const char* text) {
  Settle();
  if (Halted()) return Set(rt.broken);
  rt.dyn.reset();
  rt.dyn_schema.clear();
  if (rt.session == nullptr) return Done(rt.dyn_rc = kSqlNotConnected);
  // The schema switch is the runtime's own: it runs at the execute.
  const int sw = Sql_Parse_Schema_Switch(text, &rt.dyn_schema);
  rt.dyn_rc = sw;
  if (sw == 1) {
    // Any other text is prepared as a statement without host variables.
    SqlParsed parsed;
    rt.dyn_rc = Sql_Parse(text, &parsed);
    if (rt.dyn_rc == 0 && (parsed.inputs != 0 || parsed.outputs != 0)) rt.dyn_rc = kSqlBindMismatch;
    if (rt.dyn_rc == 0) rt.dyn_rc = rt.session->Prepare(parsed, &rt.dyn);
  }
  if (rt.dyn_rc == 0) ++rt.stats.prepares;
  return Done(rt.dyn_rc);
}

int Sql_Dyn_Execute() {
  Settle();
  if (Halted()) return Set(rt.broken);
  if (rt.session == nullptr) return Done(kSqlNotConnected);
  // A failed prepare leaves nothing to run: its code stands.
  if (rt.dyn_rc != 0) return Done(rt.dyn_rc);
  int rc;
  if (!rt.dyn_schema.empty()) {
    ++rt.stats.executions;
    rc = rt.session->Switch_Schema(rt.dyn_schema);
    return Done(rc == kSqlNoRow ? 0 : rc);
  }
  if (rt.dyn == nullptr) return Done(kSqlInvalidCursor);
  ++rt.stats.executions;
  rc = rt.dyn->Step();
  rt.dyn->Reset();
  if (rc == kSqlNoRow) rc = 0;
  return Done(rc);
}

int Sql_Rt_Commit() {
  Settle();
  if (Halted()) return Set(rt.broken);
  if (rt.session == nullptr) return Done(kSqlNotConnected);
  if (rt.dry) return Set(0);
  return Done(rt.session->Commit());
}

int Sql_Rt_Commit_Defer() {
  Settle();
  rt.commit = Runtime::kCommitted;
  rt.commit_broke = false;
  if (Halted()) {
    rt.commit_rc = rt.broken;
  } else if (rt.session == nullptr) {
    rt.commit_rc = kSqlNotConnected;
  } else if (rt.dry) {
    rt.commit_rc = 0;
  } else {
    rt.commit = Runtime::kDeferred;
    rt.commit_rc = 0;
  }
  return Set(0);
}

int Sql_Rt_Commit_Result() {
  Settle();
  if (rt.commit == Runtime::kNoCommit) return Set(0);
  rt.commit = Runtime::kNoCommit;
  return Set(rt.commit_rc);
}

bool Sql_Rt_Commit_Broke() { return rt.commit_broke; }

int Sql_Rt_Rollback() {
  Settle();
  if (rt.broken != 0) return Set(rt.broken);
  if (rt.session == nullptr) return Set(kSqlNotConnected);
  return Done(rt.session->Rollback());
}

void Sql_Rt_Dry_Set(bool on) { rt.dry = on; }

const char* Sql_Rt_Broken() { return rt.broken_what; }

SqlStats Sql_Stats() {
  SqlStats s = rt.stats;
  if (rt.session != nullptr) {
    s.round_trips = rt.session->Round_Trips();
    s.longest_wait_ms = rt.session->Longest_Wait_Ms();
  }
  return s;
}

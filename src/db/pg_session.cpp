// The PostgreSQL backend's session (pg_session.h): "postgresql://HOST[:PORT]/
// DBNAME[?PARAM=VALUE&...]" (also "postgres://") and "pg:SERVICE" for an
// entry of libpq's service file.
//
// Login and password travel to libpq as parameters of their own, never in a
// connection text; a net service name with a user or password in it is
// refused before anything is sent (Pg_Net_Check below).
//
// Schemas: schema NAME of the job is the PostgreSQL schema of the same name
// in lower case. PostgreSQL folds the statements' unquoted names the same
// way, so "HRSYSTEM.Hrs133Bak" addresses hrsystem.hrs133bak as it stands.
// The switch sets search_path to the current schema alone: an unqualified
// name that is missing there fails with -942, it never falls back to public
// or hrsystem. A schema that does not exist is refused (-1435).
//
// Settings: every session sets what the translation relies on at connect
// (DateStyle ISO, TimeZone UTC, client encoding UTF-8, lock_timeout), so the
// server's defaults do not matter. Texts compare byte by byte because the
// DDL gives every text column the collation "C".
//
// Statements are translated by pg_translate.h with the column types of the
// current schema and of hrsystem, read from the catalog once per schema;
// their failures map by pg_error.h.
#include <poll.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/stop.h"
#include "db/oradate.h"
#include "db/pg_net.h"
#include "db/pg_session.h"
#include "db/pg_shared.h"

namespace sqlrt {

namespace {

// The fixed statements of the transaction frame, prepared once per session.
// dayset_nowait: no lock wait for the rest of the transaction (1 ms; 0
// would mean none at all).
constexpr const char* kFrame[][2] = {
    {"dayset_nowait", kPgNoWaitSql},
    {"dayset_begin", "BEGIN"},
    {"dayset_sp", "SAVEPOINT dayset_stmt"},
    {"dayset_release", "RELEASE SAVEPOINT dayset_stmt"},
    {"dayset_undo", "ROLLBACK TO SAVEPOINT dayset_stmt"},
    {"dayset_commit", "COMMIT"},
    {"dayset_rollback", "ROLLBACK"},
};

// A stop signal is looked for at least this often while a wait goes on.
constexpr int kStopLookMs = 200;

// A point in time a wait must not pass.
struct Deadline {
  explicit Deadline(long ms) : start(std::chrono::steady_clock::now()), end(start + std::chrono::milliseconds(ms)) {}
  long Left_Ms() const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
  }
  std::chrono::steady_clock::time_point start, end;
};

enum class PgWait { kReady, kTimeout, kStop };

// Waits until socket `fd` is ready for `events` (poll's), the deadline has
// passed or a stop signal has come (base/stop.h), whichever is first.
PgWait Pg_Wait(int fd, short events, const Deadline& deadline) {
  for (;;) {
    if (Stop_Signal() != 0) return PgWait::kStop;
    const long left = deadline.Left_Ms();
    if (left <= 0) return PgWait::kTimeout;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<long>(left, kStopLookMs)));
    if (n > 0) return PgWait::kReady;  // readiness, an error or a hang-up: libpq tells which
    if (n < 0 && errno != EINTR) return PgWait::kReady;
  }
}

}  // namespace


int PgSession::Open(const char* login, const char* password, const std::string& dbname,
                    const SqlOptions& options) {
  sunday_first_ = Ora_Territory_Sunday_First(options.territory.c_str());
  system_ = Pg_Fold_Name(options.system_schema);
  reply_ms_ = std::max(options.reply_timeout_s, 1) * 1000L;

  // Nothing of the server's defaults is relied on; before the switch no
  // unqualified table name resolves.
  std::string settings;
  for (const auto& [name, value] : Pg_Session_Settings(options)) {
    settings += (settings.empty() ? "-c " : " -c ") + name + "=" + value;
  }
  // A true partition is seen by the kernel: keepalives on an idle
  // connection, and the user timeout on data the server never acknowledges.
  // A relay that stops forwarding acknowledges everything, so the job also
  // bounds its own wait for every answer (Await). They come before dbname,
  // so that a URI's own settings win.
  const std::string user_timeout = std::to_string(std::min(reply_ms_, 60000L));
  const std::string connect_timeout = std::to_string(std::max(options.connect_timeout_s, 1));
  std::vector<const char*> keys = {"keepalives",       "keepalives_idle", "keepalives_interval", "keepalives_count",
                                   "tcp_user_timeout", "connect_timeout", "dbname",              "user",
                                   "client_encoding",  "options",         "fallback_application_name"};
  std::vector<const char*> values = {"1", "30", "10", "3", user_timeout.c_str(), connect_timeout.c_str(),
                                     dbname.c_str(), login, "UTF8", settings.c_str(), "dayset"};
  if (*password != '\0') {
    keys.push_back("password");
    values.push_back(password);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectStartParams(keys.data(), values.data(), 1);
  if (conn_ == nullptr) return kPgNoMemory;
  // A refusal by the server then carries its SQLSTATE (Pg_Connect_Error).
  PQsetErrorVerbosity(conn_, PQERRORS_SQLSTATE);
  const int rc = Connect_Wait(std::max(options.connect_timeout_s, 1) * 1000L);
  if (rc != 0) return rc;
  PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
  // From here on no call of libpq blocks: every wait is Await's or Flush's.
  if (PQsetnonblocking(conn_, 1) != 0 || PQenterPipelineMode(conn_) != 1) return kPgConnectionLost;
  constexpr int kCount = sizeof kFrame / sizeof kFrame[0];
  Slot slots[kCount];
  for (int i = 0; i < kCount; ++i) {
    if (PQsendPrepare(conn_, kFrame[i][0], kFrame[i][1], 0, nullptr) != 1) return Fail_Broken(Pg_Error_Lost());
  }
  return Sync(slots, kCount);
}

// libpq's connect, polled: the whole of it (every address tried, the
// authentication, the server's start-up answer) within timeout_ms, and cut
// short by a stop signal.
int PgSession::Connect_Wait(long timeout_ms) {
  if (PQstatus(conn_) == CONNECTION_BAD) {
    return Pg_Connect_Error(PQerrorMessage(conn_), PQconnectionNeedsPassword(conn_) != 0);
  }
  const Deadline deadline(timeout_ms);
  PostgresPollingStatusType st = PGRES_POLLING_WRITING;
  for (;;) {
    if (st == PGRES_POLLING_OK) return 0;
    if (st == PGRES_POLLING_FAILED) {
      return Pg_Connect_Error(PQerrorMessage(conn_),
                              PQconnectionNeedsPassword(conn_) != 0 || PQconnectionUsedPassword(conn_) != 0);
    }
    switch (Pg_Wait(PQsocket(conn_), st == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
      case PgWait::kReady:
        break;
      case PgWait::kTimeout:
        return kSqlConnectTimeout;
      case PgWait::kStop:
        return kSqlCancelled;
    }
    st = PQconnectPoll(conn_);
  }
}

// Sends what libpq holds for the server, reading what comes meanwhile (a
// server that answers while the client still sends must not be left
// waiting). False when the session broke.
bool PgSession::Flush() {
  Deadline deadline(reply_ms_);
  for (;;) {
    const int f = PQflush(conn_);
    if (f == 0) return true;
    if (f < 0) return Fail_Broken(Pg_Error_Lost()), false;
    const PgWait w = Pg_Wait(PQsocket(conn_), POLLOUT | POLLIN, deadline);
    if (w == PgWait::kTimeout) return Fail_Broken(Pg_Error_No_Answer()), false;
    if (w == PgWait::kStop) return Fail_Broken(Pg_Error_Stopped()), false;
    if (PQconsumeInput(conn_) != 1) return Fail_Broken(Pg_Error_Lost()), false;
    deadline = Deadline(reply_ms_);  // the server takes what is sent
  }
}

// Waits until PQgetResult has what it needs, without blocking: at most the
// reply timeout without a byte from the server, and not past a stop signal.
// False when the session broke.
bool PgSession::Await() {
  if (!PQisBusy(conn_)) return true;
  Deadline deadline(reply_ms_);
  const auto started = deadline.start;
  while (PQisBusy(conn_)) {
    const PgWait w = Pg_Wait(PQsocket(conn_), POLLIN, deadline);
    if (w == PgWait::kTimeout) return Fail_Broken(Pg_Error_No_Answer()), false;
    if (w == PgWait::kStop) return Fail_Broken(Pg_Error_Stopped()), false;
    if (PQconsumeInput(conn_) != 1) return Fail_Broken(Pg_Error_Lost()), false;
    deadline = Deadline(reply_ms_);
  }
  const long waited = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
  if (waited > longest_wait_ms_) longest_wait_ms_ = waited;
  return true;
}

// REQUIRES: error.broken is set.
int PgSession::Fail_Broken(const PgError& error) {
  if (broken_ == nullptr) {
    broken_ = error.broken;
    broken_code_ = error.code;
  }
  return broken_code_;
}

// Sends the sync and reads one result per slot, then the sync's. Returns 0
// when every slot succeeded, else the code of the first failure (the slots
// after it are aborted by the server).
int PgSession::Sync(Slot* slots, int count) {
  if (broken_ != nullptr) return broken_code_;
  ++round_trips_;
  if (PQpipelineSync(conn_) != 1) return Fail_Broken(Pg_Error_Lost());
  if (!Flush()) return broken_code_;
  if (ahead_sent_ && !Ahead_Read()) return broken_code_;
  PgError first{0, nullptr};
  for (int i = 0; i < count; ++i) {
    Slot& s = slots[i];
    bool got = false;
    for (;;) {
      if (!Await()) return broken_code_;
      PGresult* r = PQgetResult(conn_);
      if (r == nullptr) break;
      if (!got) {
        got = true;
        s.status = PQresultStatus(r);
        const char* st = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        s.sqlstate = st != nullptr ? st : "";
        if (s.want && (s.status == PGRES_TUPLES_OK || s.status == PGRES_COMMAND_OK)) {
          s.keep = r;
          continue;
        }
      }
      PQclear(r);
    }
    if (!got) return Fail_Broken(Pg_Error_Lost());
    if (first.code == 0 && s.status != PGRES_COMMAND_OK && s.status != PGRES_TUPLES_OK) {
      first = s.status == PGRES_PIPELINE_ABORTED ? Pg_Error_Lost() : Pg_Error_Of(s.sqlstate.c_str());
    }
  }
  PGresult* r = Await() ? PQgetResult(conn_) : nullptr;
  const bool synced = r != nullptr && PQresultStatus(r) == PGRES_PIPELINE_SYNC;
  PQclear(r);
  if (!synced || PQstatus(conn_) != CONNECTION_OK) {
    for (int i = 0; i < count; ++i) {
      PQclear(slots[i].keep);
      slots[i].keep = nullptr;
    }
    return Fail_Broken(Pg_Error_Lost());
  }
  if (first.broken != nullptr) return Fail_Broken(first);
  // A lock not granted within the wait: the rest of the transaction does
  // not wait again (Send_Undo).
  if (first.code == kSqlLocked) nowait_due_ = true;
  return first.code;
}

int PgSession::Frame(const char* name) {
  if (broken_ != nullptr) return broken_code_;
  if (PQsendQueryPrepared(conn_, name, 0, nullptr, nullptr, nullptr, 0) != 1) return Fail_Broken(Pg_Error_Lost());
  Slot s;
  return Sync(&s, 1);
}

bool PgSession::Send_Frame(const char* stmt, int* count) {
  ++*count;
  return PQsendQueryPrepared(conn_, stmt, 0, nullptr, nullptr, nullptr, 0) == 1;
}

bool PgSession::Send_Undo(int* count) {
  if (!Send_Frame("dayset_undo", count) || !Send_Frame("dayset_release", count)) return false;
  // Outside every savepoint, so that no later undo takes it back.
  if (!nowait_due_ || nowait_) return true;
  nowait_ = true;
  return Send_Frame("dayset_nowait", count);
}

void PgSession::Undo() {
  // The failed statement's own effect goes; the transaction stays.
  Slot undo[3];
  int count = 0;
  if (!Send_Undo(&count)) {
    Fail_Broken(Pg_Error_Lost());
    return;
  }
  if (Sync(undo, count) != 0 && broken_ == nullptr) {
    // The transaction cannot be saved: it ends here, and the next commit
    // says so.
    Frame("dayset_rollback");
    in_txn_ = false;
    txn_lost_ = true;
  }
}

// A statement alone is a batch of one: the same frame (the transaction's
// start, the savepoint) in the same round trip.
int PgSession::Execute(const std::string& name, bool write, int n, const char* const* values, const int* lengths,
                       PGresult** result) {
  if (broken_ != nullptr) return broken_code_;
  Batch_Begin();
  Batch_Queue(&name, write, nullptr, n, values, lengths);
  const int rc = Batch_Run(0);
  if (rc != 0) return rc;
  return Batch_Take(0, result);
}

void PgSession::Batch_Clear() {
  for (BatchItem& item : batch_) PQclear(item.result);
  batch_.clear();
  param_bytes_.clear();
  param_off_.clear();
  param_len_.clear();
}

void PgSession::Batch_Begin() { Batch_Clear(); }

int PgSession::Batch_Queue(const std::string* name, bool write, PgRun* run, int n, const char* const* values,
                           const int* lengths) {
  BatchItem item;
  item.name = name;
  item.write = write;
  item.run = run;
  item.first = param_off_.size();
  item.count = n;
  for (int i = 0; i < n; ++i) {
    param_off_.push_back(param_bytes_.size());
    param_len_.push_back(values[i] == nullptr ? -1 : lengths[i]);
    // Values in text form go as C strings.
    if (values[i] != nullptr) param_bytes_.append(values[i], static_cast<size_t>(lengths[i])).push_back('\0');
  }
  batch_.push_back(item);
  return static_cast<int>(batch_.size() - 1);
}

int PgSession::Batch_Take(int item, PGresult** result) {
  BatchItem& b = batch_[static_cast<size_t>(item)];
  *result = b.result;
  b.result = nullptr;
  return b.rc;
}

// A run of at least this many inserts goes in the plain form: it saves the
// server a look-up of the key per row (about 5 µs here), while a run that
// meets an existing key costs a round trip more (it goes again counting),
// which a shorter run does not win back. An insert that has met existing
// keys so (a rerun's carry-over years) goes counting from then on.
constexpr size_t kPlainRunMin = 32;

// The form a run of `span` items goes in: null when they go alone.
PgRun::Form* Run_Form(PgRun* run, bool solo, bool counted, size_t span) {
  if (run == nullptr || solo) return nullptr;
  if (!counted && !run->keys_met && span >= kPlainRunMin && !run->plain.sql.empty()) return &run->plain;
  return run->counted.sql.empty() ? nullptr : &run->counted;
}

// The most forms with parameters as single values that a run keeps, each
// prepared in the session when its first run goes out; once they are
// made, a run takes the one with the most of its common values (the others
// go in arrays). A write's runs mostly share a few (the job's: a person's
// own values and the run's time, and the assignment's where it holds all
// year).
constexpr size_t kRunVariants = 8;

// The form of kind `plain` (else counting) for a run whose parameters in
// *scalars have one value each: that of the variant with the most of them
// that has no other, made when new and there is room; *scalars becomes
// its parameters. A run that has the common values its rows' bounds need
// (PgRun::keys) takes a form with them before any without, and where the
// room is full and none has them, the form with only those, made beyond
// the room. Null where none fits (the run goes all in arrays); a form
// whose text the server refused fits nothing.
PgRun::Form* Run_Variant(PgRun* run, uint64_t* scalars, bool plain) {
  const auto form = [plain](PgRun::Variant& v) { return plain ? &v.plain : &v.counted; };
  const bool keyed = run->keys != 0 && (run->keys & ~*scalars) == 0;
  const auto rank = [run, keyed](const PgRun::Variant& v) {
    return (keyed && (run->keys & ~v.scalars) == 0 ? 64 : 0) + std::popcount(v.scalars);
  };
  // Room for all at once: the forms of a batch are held by address until its answers are in.
  const auto make = [run, &form](uint64_t mask) {
    run->variants.reserve(kRunVariants + 1);
    const std::string n = std::to_string(run->variants.size() + 1);
    PgRun::Variant& v = run->variants.emplace_back();
    v.scalars = mask;
    v.counted.sql = Pg_Run_Sql(run->tr, run->types, mask);
    v.counted.name = run->counted.name + n;
    v.plain.sql = Pg_Run_Sql_Plain(run->tr, run->types, mask);
    v.plain.name = run->plain.name + n;
    return form(v)->sql.empty() ? nullptr : &v;
  };
  PgRun::Variant* best = nullptr;
  bool made = false, keys_made = false;
  for (PgRun::Variant& v : run->variants) {
    made = made || v.scalars == *scalars;
    keys_made = keys_made || v.scalars == run->keys;
    if ((v.scalars & ~*scalars) != 0 || form(v)->sql.empty()) continue;
    if (best == nullptr || rank(v) > rank(*best)) best = &v;
  }
  if (!made && run->variants.size() < kRunVariants) {
    if (PgRun::Variant* v = make(*scalars)) best = v;
  } else if (keyed && !keys_made && (best == nullptr || (run->keys & ~best->scalars) != 0)) {
    if (PgRun::Variant* v = make(run->keys)) best = v;
  }
  if (best == nullptr) return nullptr;
  *scalars = best->scalars;
  return form(*best);
}

size_t PgSession::Run_Span(size_t k) const {
  const BatchItem& b = batch_[pending_[k]];
  if (!b.write || Run_Form(b.run, b.solo, b.counted, 0) == nullptr) return 1;
  size_t j = k + 1;
  while (j < pending_.size() && batch_[pending_[j]].run == b.run && !batch_[pending_[j]].solo &&
         batch_[pending_[j]].counted == b.counted) {
    ++j;
  }
  return j - k;
}

bool PgSession::Send_Item(size_t item, int* count) {
  BatchItem& b = batch_[item];
  b.slot = (*count)++;
  b.merged = false;
  b.plain = false;
  slots_[static_cast<size_t>(b.slot)].want = true;
  send_values_.resize(static_cast<size_t>(b.count));
  for (int p = 0; p < b.count; ++p) {
    const size_t q = b.first + static_cast<size_t>(p);
    send_values_[static_cast<size_t>(p)] = param_len_[q] < 0 ? nullptr : param_bytes_.data() + param_off_[q];
  }
  return PQsendQueryPrepared(conn_, b.name->c_str(), b.count, send_values_.data(), param_len_.data() + b.first,
                             nullptr, 0) == 1;
}

namespace {

void Put_Be32(std::string* out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
  out->append(b, 4);
}

void Put_Be64(std::string* out, uint64_t v) {
  Put_Be32(out, static_cast<uint32_t>(v >> 32));
  Put_Be32(out, static_cast<uint32_t>(v));
}

// A decimal integer as the server's own input reads it without blanks
// around it: an optional '-', then digits, within [lo, hi].
bool Int_Text(const char* v, int len, int64_t lo, int64_t hi, int64_t* out) {
  int i = 0;
  const bool neg = len > 0 && v[0] == '-';
  if (neg) ++i;
  if (i == len || len - i > 19) return false;
  uint64_t n = 0;
  for (; i < len; ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
    n = n * 10 + static_cast<uint64_t>(v[i] - '0');
  }
  if (len - (neg ? 1 : 0) == 19 && n > static_cast<uint64_t>(INT64_MAX) + (neg ? 1 : 0)) return false;
  const int64_t s = neg ? static_cast<int64_t>(0 - n) : static_cast<int64_t>(n);
  if (s < lo || s > hi) return false;
  *out = s;
  return true;
}

// Days from 1 January 2000 to the given date of the proleptic Gregorian
// calendar.
int64_t Days_From_2000(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 730425;  // 730425: 1 March of year 0 to 1 January 2000
}

// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD", as the backend writes its
// timestamps, as microseconds since 2000, the server's binary form; false
// for any other text and for a date or time that does not exist (the
// server then reads the text itself and refuses it as it always did).
bool Timestamp_Text(const char* v, int len, int64_t* out) {
  const auto num = [v](int at, int width, int* n) {
    *n = 0;
    for (int i = 0; i < width; ++i) {
      if (v[at + i] < '0' || v[at + i] > '9') return false;
      *n = *n * 10 + (v[at + i] - '0');
    }
    return true;
  };
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (len != 10 && len != 19) return false;
  if (!num(0, 4, &y) || v[4] != '-' || !num(5, 2, &mo) || v[7] != '-' || !num(8, 2, &d)) return false;
  if (len == 19 && !(v[10] == ' ' && num(11, 2, &h) && v[13] == ':' && num(14, 2, &mi) && v[16] == ':' &&
                     num(17, 2, &s))) {
    return false;
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 ||
      mi > 59 || s > 59) {
    return false;
  }
  *out = ((Days_From_2000(y, mo, d) * 24 + h) * 60 + mi) * 60 + s;
  *out *= 1000000;
  return true;
}

}  // namespace

// Each parameter as an array, an element per item. Integers, timestamps
// and texts go in binary form when every element converts exactly; any
// other array in text form: quoted, with '"' and '\' escaped, NULL
// unquoted.
bool PgSession::Send_Run(size_t k, size_t span, int* count) {
  const BatchItem& head = batch_[pending_[k]];
  PgRun* run = head.run;
  PgRun::Form* form = Run_Form(run, false, head.counted, span);
  const bool plain = form == &run->plain;
  const size_t np = static_cast<size_t>(head.count);
  uint64_t scalars = Run_Scalars(k, span, np);
  PgRun::Form* variant = scalars != 0 ? Run_Variant(run, &scalars, plain) : nullptr;
  if (variant != nullptr) {
    form = variant;
  } else {
    scalars = 0;
  }
  if (!form->prepared) {
    run_prepares_.emplace_back((*count)++, form);
    if (PQsendPrepare(conn_, form->name.c_str(), form->sql.c_str(), 0, nullptr) != 1) return false;
  }
  if (arrays_.size() < np) arrays_.resize(np);
  send_values_.resize(np);
  array_lens_.assign(np, 0);
  array_formats_.assign(np, 0);
  for (size_t p = 0; p < np; ++p) {
    if (Pg_Run_Scalar(scalars, p)) {
      // The first item's value in its text form, as the item alone sends it.
      const size_t q = head.first + p;
      send_values_[p] = param_len_[q] < 0 ? nullptr : param_bytes_.data() + param_off_[q];
      continue;
    }
    std::string& a = arrays_[p];
    const Oid elem = p < run->elems.size() ? run->elems[p] : 0;
    if (elem != 0 && Binary_Array(k, span, p, elem, &a)) {
      send_values_[p] = a.data();
      array_lens_[p] = static_cast<int>(a.size());
      array_formats_[p] = 1;
      continue;
    }
    a.assign(1, '{');
    for (size_t j = k; j < k + span; ++j) {
      const size_t q = batch_[pending_[j]].first + p;
      if (j > k) a += ',';
      if (param_len_[q] < 0) {
        a += "NULL";
        continue;
      }
      a += '"';
      const char* v = param_bytes_.data() + param_off_[q];
      for (const char* e = v + param_len_[q]; v < e; ++v) {
        if (*v == '"' || *v == '\\') a += '\\';
        a += *v;
      }
      a += '"';
    }
    a += '}';
    send_values_[p] = a.c_str();
  }
  const int slot = (*count)++;
  slots_[static_cast<size_t>(slot)].want = true;
  run_slots_.push_back(slot);
  for (size_t j = k; j < k + span; ++j) {
    batch_[pending_[j]].slot = slot;
    batch_[pending_[j]].merged = true;
    batch_[pending_[j]].plain = plain;
  }
  return PQsendQueryPrepared(conn_, form->name.c_str(), static_cast<int>(np), send_values_.data(), array_lens_.data(),
                             array_formats_.data(), 0) == 1;
}

// The parameters from the second to the 64th (Pg_Run_Scalar) whose value
// is the same for the run's `span` items from pending_[k] on: the same
// bytes, or NULL for all.
uint64_t PgSession::Run_Scalars(size_t k, size_t span, size_t params) const {
  uint64_t scalars = 0;
  const size_t head = batch_[pending_[k]].first;
  for (size_t p = 1; p < params && p < 64; ++p) {
    const int len = param_len_[head + p];
    const char* v = param_bytes_.data() + param_off_[head + p];
    bool same = true;
    for (size_t j = k + 1; j < k + span && same; ++j) {
      const size_t q = batch_[pending_[j]].first + p;
      same = param_len_[q] == len &&
             (len <= 0 || std::memcmp(param_bytes_.data() + param_off_[q], v, static_cast<size_t>(len)) == 0);
    }
    if (same) scalars |= uint64_t{1} << p;
  }
  return scalars;
}

// The server's binary form of a one-dimensional array: dimensions, a
// flag for NULLs, the element type, the length and lower bound, then
// each element as its length (-1: NULL) and bytes.
bool PgSession::Binary_Array(size_t k, size_t span, size_t p, Oid elem, std::string* a) {
  a->clear();
  Put_Be32(a, 1);
  Put_Be32(a, 0);  // the NULL flag, set below
  Put_Be32(a, elem);
  Put_Be32(a, static_cast<uint32_t>(span));
  Put_Be32(a, 1);
  bool nulls = false;
  for (size_t j = k; j < k + span; ++j) {
    const size_t q = batch_[pending_[j]].first + p;
    const int len = param_len_[q];
    if (len < 0) {
      nulls = true;
      Put_Be32(a, 0xFFFFFFFFu);
      continue;
    }
    const char* v = param_bytes_.data() + param_off_[q];
    int64_t n = 0;
    switch (elem) {
      case kOidInt2:
        if (!Int_Text(v, len, INT16_MIN, INT16_MAX, &n)) return false;
        Put_Be32(a, 2);
        a->push_back(static_cast<char>(n >> 8));
        a->push_back(static_cast<char>(n));
        break;
      case kOidInt4:
        if (!Int_Text(v, len, INT32_MIN, INT32_MAX, &n)) return false;
        Put_Be32(a, 4);
        Put_Be32(a, static_cast<uint32_t>(n));
        break;
      case kOidInt8:
        if (!Int_Text(v, len, INT64_MIN, INT64_MAX, &n)) return false;
        Put_Be32(a, 8);
        Put_Be64(a, static_cast<uint64_t>(n));
        break;
      case kOidTimestamp:
        if (!Timestamp_Text(v, len, &n)) return false;
        Put_Be32(a, 8);
        Put_Be64(a, static_cast<uint64_t>(n));
        break;
      default:  // a text: its bytes, which the server converts as it does the text form
        if (std::memchr(v, '\0', static_cast<size_t>(len)) != nullptr) return false;
        Put_Be32(a, static_cast<uint32_t>(len));
        a->append(v, static_cast<size_t>(len));
        break;
    }
  }
  if (nulls) (*a)[7] = 1;
  return true;
}

// The items go out in one pipeline, inside a transaction under one
// savepoint for them all. A failure makes the server skip the rest of the
// pipeline; the savepoint then undoes the whole batch so far, and the items
// go out again: the writes before the failed one (their effect undone; the
// reads before it keep what they read, which the same writes give again),
// then those after it, from then on each under a savepoint of its own, so
// that a second failure undoes only itself. Every item thus has its effect
// once, in order, as if sent alone, and a batch without failures pays two
// messages for its rollback point, not two per statement. The undo travels
// at the head of the pipeline that sends the items again.
//
// A run of executions of one write goes as one statement (PgRun), which
// fails unless each execution wrote exactly one row or none did: then each
// of them has the outcome it has alone (0, or -1 for an insert whose key
// exists). When it
// fails, nothing tells which execution would have: the run is undone like
// a failed item, and its items go again one by one, to meet the failure
// (and the stop code) where the server does.
int PgSession::Batch_Run(int stop_code) {
  const size_t n = batch_.size();
  std::vector<size_t>& pending = pending_;
  pending.clear();
  for (size_t i = 0; i < n; ++i) {
    pending.push_back(i);
    batch_[i].solo = false;
    batch_[i].counted = false;
  }
  if (ahead_) Ahead_Send();
  bool each = false;  // a savepoint per item
  bool undo = false;  // the last failure is still to undo
  while (!pending.empty()) {
    if (broken_ != nullptr) break;
    // Inside a transaction, or starting one, the items are guarded; reads
    // outside one need nothing (nothing of theirs to undo).
    bool guard = in_txn_;
    for (size_t k = 0; k < pending.size() && !guard; ++k) guard = batch_[pending[k]].write;
    const bool begin = guard && !in_txn_;
    slots_.clear();
    slots_.resize(6 + 4 * pending.size());
    run_prepares_.clear();
    run_slots_.clear();
    int count = 0;
    bool sent = !undo || Send_Undo(&count);
    if (begin) nowait_due_ = nowait_ = false;
    sent = sent && (!begin || Send_Frame("dayset_begin", &count));
    if (sent && guard && !each) sent = Send_Frame("dayset_sp", &count);
    for (size_t k = 0; k < pending.size() && sent;) {
      const size_t span = Run_Span(k);
      if (guard && each) sent = Send_Frame("dayset_sp", &count);
      sent = sent && (span > 1 ? Send_Run(k, span, &count) : Send_Item(pending[k], &count));
      if (sent && guard && each) sent = Send_Frame("dayset_release", &count);
      k += span;
    }
    if (sent && guard && !each) sent = Send_Frame("dayset_release", &count);
    if (!sent) {
      Fail_Broken(Pg_Error_Lost());
      break;
    }
    const int rc = Sync(slots_.data(), count);
    if (begin && slots_[0].status == PGRES_COMMAND_OK) in_txn_ = true;
    for (const auto& [slot, form] : run_prepares_) {
      const ExecStatusType st = slots_[static_cast<size_t>(slot)].status;
      if (st == PGRES_COMMAND_OK) {
        form->prepared = true;
      } else if (st != PGRES_PIPELINE_ABORTED && broken_ == nullptr) {
        form->sql.clear();  // the server refuses the text: not in this form from now on
      }
    }
    if (undo && broken_ == nullptr && (slots_[0].status != PGRES_COMMAND_OK || slots_[1].status != PGRES_COMMAND_OK)) {
      // The transaction cannot be saved: it ends here, and the next commit
      // says so. What was to go, goes in a new one.
      for (Slot& sl : slots_) {
        PQclear(sl.keep);
        sl.keep = nullptr;
      }
      Frame("dayset_rollback");
      in_txn_ = false;
      txn_lost_ = true;
      undo = false;
      continue;
    }
    undo = false;
    // What a run wrote: a row for each of its items, or none.
    for (int slot : run_slots_) {
      Slot& sl = slots_[static_cast<size_t>(slot)];
      sl.none = sl.keep != nullptr && PQntuples(sl.keep) == 1 && std::strcmp(PQgetvalue(sl.keep, 0, 0), "0") == 0;
      PQclear(sl.keep);
      sl.keep = nullptr;
    }
    // The item that failed: the first whose messages reach the first
    // message that did not succeed. The items before it ran; those after
    // it were skipped by the server.
    size_t failed = pending.size();
    if (rc != 0) {
      int bad = 0;
      while (bad < count && (slots_[static_cast<size_t>(bad)].status == PGRES_COMMAND_OK ||
                             slots_[static_cast<size_t>(bad)].status == PGRES_TUPLES_OK)) {
        ++bad;
      }
      failed = 0;
      while (failed + 1 < pending.size() && batch_[pending[failed]].slot + (guard && each ? 1 : 0) < bad) ++failed;
    }
    for (size_t k = 0; k < pending.size(); ++k) {
      BatchItem& b = batch_[pending[k]];
      Slot& sl = slots_[static_cast<size_t>(b.slot)];
      if (k < failed) {
        PQclear(b.result);
        b.result = sl.keep;
        // A run's insert that met existing keys only: each of them alone
        // would have reported its key.
        b.rc = b.merged && sl.none && b.run->ignore ? kSqlDupKey : 0;
      } else {
        PQclear(sl.keep);
      }
      sl.keep = nullptr;
    }
    if (rc == 0) return 0;
    if (broken_ != nullptr) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(failed));
      break;
    }
    BatchItem& f = batch_[pending[failed]];
    size_t rest = failed + 1;  // what the server skipped
    bool stop = false;
    if (f.merged) {
      rest = failed;
      // A plain run that met an existing key goes again counting, which
      // tells a run of existing keys (each -1) from a mixed one; any other
      // failure, or a counting run's, sends its items alone.
      const bool count = f.plain && rc == kSqlDupKey && !f.run->counted.sql.empty();
      if (count) f.run->keys_met = true;
      for (size_t k = failed; k < pending.size() && batch_[pending[k]].slot == f.slot; ++k) {
        (count ? batch_[pending[k]].counted : batch_[pending[k]].solo) = true;
      }
    } else {
      PQclear(f.result);
      f.result = nullptr;
      f.rc = rc;
      stop = stop_code != 0 && rc == stop_code;  // the rest stays kSqlNotRun
    }
    // What goes again: the writes that the undo takes back (all of the
    // batch's so far, under one savepoint), then what the server skipped.
    again_.clear();
    if (guard && !each) {
      for (size_t k = 0; k < failed; ++k) {
        if (batch_[pending[k]].write) again_.push_back(pending[k]);
      }
    }
    if (!stop) again_.insert(again_.end(), pending.begin() + static_cast<std::ptrdiff_t>(rest), pending.end());
    if (guard && in_txn_) {
      if (again_.empty()) {
        Undo();
      } else {
        undo = true;
      }
    }
    pending.swap(again_);
    each = true;
  }
  for (size_t i : pending) {
    PQclear(batch_[i].result);
    batch_[i].result = nullptr;
    batch_[i].rc = broken_code_;
  }
  return broken_ != nullptr ? broken_code_ : 0;
}

void PgSession::Ahead_Send() {
  ahead_ = false;
  ahead_rc_ = 0;
  if (broken_ != nullptr) {
    ahead_rc_ = broken_code_;
  } else if (txn_lost_) {
    txn_lost_ = false;
    ahead_rc_ = kSqlTxnRolledBack;
  } else if (in_txn_) {
    in_txn_ = false;
    int count = 0;
    // A sync of its own: a failed commit makes the server skip nothing of
    // what follows it.
    if (!Send_Frame("dayset_commit", &count) || PQpipelineSync(conn_) != 1) {
      ahead_rc_ = Fail_Broken(Pg_Error_Lost());
    } else {
      ahead_sent_ = true;
    }
  }
}

bool PgSession::Ahead_Read() {
  ahead_sent_ = false;
  ExecStatusType status = PGRES_FATAL_ERROR;
  std::string sqlstate;
  bool got = false;
  for (;;) {
    if (!Await()) {
      ahead_rc_ = broken_code_;
      return false;
    }
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) break;
    if (!got) {
      got = true;
      status = PQresultStatus(r);
      const char* st = PQresultErrorField(r, PG_DIAG_SQLSTATE);
      sqlstate = st != nullptr ? st : "";
    }
    PQclear(r);
  }
  PGresult* r = got && Await() ? PQgetResult(conn_) : nullptr;
  const bool synced = r != nullptr && PQresultStatus(r) == PGRES_PIPELINE_SYNC;
  PQclear(r);
  if (!synced || PQstatus(conn_) != CONNECTION_OK) {
    ahead_rc_ = Fail_Broken(Pg_Error_Lost());
    return false;
  }
  if (status == PGRES_COMMAND_OK) return true;
  const PgError e = Pg_Error_Of(sqlstate.c_str());
  ahead_rc_ = e.broken != nullptr ? Fail_Broken(e) : e.code;
  return broken_ == nullptr;
}

int PgSession::Commit_Ahead_Result() {
  if (ahead_) Ahead_Send();
  if (ahead_sent_) {
    ++round_trips_;
    if (!Flush() || !Ahead_Read()) return broken_ != nullptr ? broken_code_ : ahead_rc_;
  }
  return ahead_rc_;
}

int PgSession::Commit() {
  if (broken_ != nullptr) return broken_code_;
  if (txn_lost_) {
    txn_lost_ = false;
    return kSqlTxnRolledBack;
  }
  if (!in_txn_) return 0;
  in_txn_ = false;
  return Frame("dayset_commit");
}

int PgSession::Rollback() {
  if (broken_ != nullptr) return broken_code_;
  // Work the server had already undone must not pass for rolled back here:
  // a dry run's counts would then fall short unnoticed.
  const bool lost = txn_lost_;
  txn_lost_ = false;
  int rc = 0;
  if (in_txn_) {
    in_txn_ = false;
    rc = Frame("dayset_rollback");
  }
  return rc != 0 ? rc : lost ? kSqlTxnRolledBack : 0;
}

int PgSession::Query(const char* sql, const char* const* values, int count, Slot* slot) {
  if (PQsendQueryParams(conn_, sql, count, nullptr, values, nullptr, nullptr, 0) != 1) {
    return Fail_Broken(Pg_Error_Lost());
  }
  slot->want = true;
  return Sync(slot, 1);
}

int PgSession::Load_Catalog() {
  catalog_.clear();
  const char* values[2] = {current_.c_str(), system_.c_str()};
  Slot s;
  const int rc = Query(kPgCatalogSql, values, 2, &s);
  if (rc != 0) return rc;
  for (int i = 0; i < PQntuples(s.keep); ++i) {
    const PgType ty = Pg_Type_Of_Oid(static_cast<Oid>(std::strtoul(PQgetvalue(s.keep, i, 1), nullptr, 10)));
    const auto [it, added] = catalog_.emplace(PQgetvalue(s.keep, i, 0), ty);
    if (!added && it->second != ty) it->second = PgType::kUnknown;  // the same name with two types
  }
  PQclear(s.keep);
  catalog_loaded_ = true;
  return 0;
}

int PgSession::Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) {
  if (broken_ != nullptr) return broken_code_;
  const bool fresh = !catalog_loaded_;
  if (fresh) {
    const int rc = Load_Catalog();
    if (rc != 0) return rc;
  }
  std::string state;
  int rc = Prepare_Once(parsed, out, &state);
  // A table made after the catalog was read: its date columns were not
  // known to the translation. Read the catalog again and try once more.
  if (rc != 0 && state == "42883" && !fresh) {
    rc = Load_Catalog();
    if (rc == 0) rc = Prepare_Once(parsed, out, &state);
  }
  return rc;
}

int PgSession::Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out, std::string* sqlstate) {
  PgTranslation tr = Pg_Translate(parsed, catalog_, sunday_first_);
  if (tr.error != 0) return tr.error;
  const std::string name = "dayset_" + std::to_string(++next_name_);
  // A prepare that fails inside a transaction would end it on the server:
  // it is guarded like a statement.
  const bool guard = in_txn_;
  Slot slots[4];
  int count = 0;
  bool sent = !guard || Send_Frame("dayset_sp", &count);
  sent = sent && PQsendPrepare(conn_, name.c_str(), tr.sql.c_str(), static_cast<int>(tr.params.size()), nullptr) == 1;
  ++count;
  const int describe = count++;
  slots[describe].want = true;
  sent = sent && PQsendDescribePrepared(conn_, name.c_str()) == 1;
  if (sent && guard) sent = Send_Frame("dayset_release", &count);
  if (!sent) return Fail_Broken(Pg_Error_Lost());
  const int rc = Sync(slots, count);
  if (rc != 0) {
    for (const Slot& sl : slots) {
      if (!sl.sqlstate.empty()) {
        *sqlstate = sl.sqlstate;
        break;
      }
    }
    PQclear(slots[describe].keep);
    if (broken_ == nullptr && guard) Undo();
    return rc;
  }
  const PGresult* desc = slots[describe].keep;
  std::vector<Oid> types;
  for (int c = 0; c < PQnfields(desc); ++c) types.push_back(PQftype(desc, c));
  // A run takes its arrays' element types from what the server infers for
  // the statement's own parameters, so that it converts and compares the
  // values as each execution would.
  PgRun run;
  if (tr.run != PgTranslation::kRunNone) {
    std::vector<std::string> params;
    for (int p = 0; p < PQnparams(desc); ++p) params.emplace_back(Pg_Type_Name(PQparamtype(desc, p)));
    run.counted.sql = Pg_Run_Sql(tr, params);
    run.counted.name = name + "_run";
    run.plain.sql = Pg_Run_Sql_Plain(tr, params);
    run.plain.name = name + "_plain";
    run.ignore = tr.ignore;
    run.keys = Pg_Run_Keys(tr, params);
    run.tr = tr;
    run.types = params;
    for (int p = 0; p < PQnparams(desc); ++p) {
      const Oid t = PQparamtype(desc, p);
      const bool binary = t == kOidInt2 || t == kOidInt4 || t == kOidInt8 || t == kOidTimestamp || t == kOidText ||
                          t == kOidVarchar || t == kOidBpchar;
      run.elems.push_back(binary ? t : 0);
    }
  }
  PQclear(slots[describe].keep);
  *out = std::make_unique<PgStatement>(this, name, parsed.write, std::move(tr), std::move(types), std::move(run));
  return 0;
}

int PgSession::Switch_Schema(const std::string& name) {
  if (broken_ != nullptr) return broken_code_;
  const std::string lower = Pg_Fold_Name(name);
  if (lower == current_) return 0;
  const std::string path = "\"" + lower + "\"";
  const char* values[2] = {path.c_str(), lower.c_str()};
  Slot s;
  const int rc = Query(kPgSchemaSwitchSql, values, 2, &s);
  if (rc != 0) return rc;
  const bool found = PQntuples(s.keep) == 1;
  PQclear(s.keep);
  if (!found) return kSqlNoSchema;
  current_ = lower;
  catalog_loaded_ = false;
  ++generation_;
  return 0;
}

namespace {

int Pg_Open(const char* login, const char* password, const std::string& dbname, const SqlOptions& options,
            std::unique_ptr<Session>* out) {
  auto s = std::make_unique<PgSession>();
  const int rc = s->Open(login, password, dbname, options);
  if (rc != 0) return rc;
  *out = std::move(s);
  return 0;
}

constexpr const char* kUriSchemes[] = {"postgresql:", "postgres:"};
constexpr char kServiceScheme[] = "pg:";

// The part after the URI scheme, or null when `net` is no URI of ours.
const char* Uri_Rest(const char* net) {
  for (const char* scheme : kUriSchemes) {
    if (Sql_Net_Has_Scheme(net, scheme)) return net + std::strlen(scheme);
  }
  return nullptr;
}

bool Pg_Owns(const char* net) { return Uri_Rest(net) != nullptr || Sql_Net_Has_Scheme(net, kServiceScheme); }

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when a parameter of the URI's query part names a credential: its key,
// percent-decoded and compared case-insensitively, is one libpq takes a user
// or a secret from.
bool Query_Has_Credential(const char* query) {
  static const char* const kKeys[] = {"user", "password", "passfile", "sslpassword"};
  const char* p = query;
  while (*p != '\0') {
    std::string name;  // decoded and lower-cased
    while (*p != '\0' && *p != '=' && *p != '&') {
      char c = *p++;
      if (c == '%' && Hex(p[0]) >= 0 && Hex(p[1]) >= 0) {
        c = static_cast<char>(Hex(p[0]) * 16 + Hex(p[1]));
        p += 2;
      }
      name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    for (const char* key : kKeys) {
      if (name == key) return true;
    }
    while (*p != '\0' && *p != '&') ++p;
    if (*p == '&') ++p;
  }
  return false;
}

const char* Pg_Net_Check(const char* net) {
  static const char kAllowed[] = "ohne Benutzer und Passwort, die aus LOGIN und PASS kommen";
  // user@host or user:password@host; an '@' would also end the login and
  // password in the connect text.
  if (std::strchr(net, '@') != nullptr) return kAllowed;
  const char* query = std::strchr(net, '?');
  if (query != nullptr && Query_Has_Credential(query + 1)) return kAllowed;
  return nullptr;
}

int Pg_Session_Open(const char* login, const char* password, const char* net, const SqlOptions& options,
                    std::unique_ptr<Session>* out) {
  if (const char* rest = Uri_Rest(net)) {
    if (std::strncmp(rest, "//", 2) != 0) return kSqlUnknownService;
    return Pg_Open(login, password, std::string("postgresql:") + rest, options, out);
  }
  const char* service = net + std::strlen(kServiceScheme);
  if (*service == '\0') return kSqlUnknownService;
  for (const char* p = service; *p != '\0'; ++p) {
    const char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.')) {
      return kSqlUnknownService;
    }
  }
  return Pg_Open(login, password, std::string("service=") + service, options, out);
}

}  // namespace

const BackendEntry kPgBackend = {"postgresql", Pg_Owns, Pg_Net_Check, Pg_Session_Open, nullptr};

}  // namespace sqlrt

std::string Pg_Net_Conninfo(const char* net) {
  using namespace sqlrt;
  if (!Pg_Owns(net)) return std::string();
  if (const char* rest = Uri_Rest(net)) return std::string("postgresql:") + rest;
  std::string quoted = "service='";
  for (const char* p = net + std::strlen(kServiceScheme); *p != '\0'; ++p) {
    if (*p == '\\' || *p == '\'') quoted += '\\';
    quoted += *p;
  }
  return quoted + "'";
}

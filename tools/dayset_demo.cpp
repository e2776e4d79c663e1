// dayset-demo: makes a demo installation that the nightly calendar job can
// run on at once.
//
//   dayset-demo [--persons N] [--seed S] [--start YYYYMMDD] [--net NAME]
//               [--login ROLE] [--pg-admin CONNINFO] DIR
//
// DIR must not exist yet or be empty. It receives
//   HRSYSTEM.db  the schema's DDL with a small personnel database in it,
//   dayset.ini   the job's configuration file for that database,
// and the job is then run from within DIR, where it also writes DAYSET.LOG:
//   cd DIR && dayset 0 YEAR dayset.ini 0 0
//
// With a PostgreSQL net service name (postgresql://HOST[:PORT]/DB, pg:SERVICE)
// the database is schema hrsystem of that database instead, made from
// db/schema-postgresql.sql; the database must not hold that schema yet. The
// schema is made through a connection of its own: --pg-admin CONNINFO, or
// else the net service name itself, as the user, password and other settings
// of libpq's environment give (PGUSER, PGPASSWORD, ~/.pgpass). The role of
// --login is granted what the job needs (USAGE on the schema; SELECT,
// INSERT and UPDATE on its tables) and must exist; dayset.ini gets the
// password "demo", to be replaced with the role's own by dayset-conf. The
// schema, its grants and its contents are one transaction: a failure leaves
// the database as it was.
//
// What the database holds (all of it derived from the seed, the start date
// and the day the command runs; the same three give the same contents):
//   - one base-calendar day, the day before the start date, for the job to
//     extend from (it derives every later day from the stored one);
//   - work calendars of both families, 101-103 (Hrs135Muw, Hrs133Kal) and
//     201-203 (Hrs135Mu2, Hrs133Ka2), with weekly patterns in Hrs137Wch: an
//     office week (x01), a seven-day week (x02) and a week without Sunday
//     (x03). Each calendar holds one day, its latest day on or before the
//     base day, so that the job extends it from the start date on rather
//     than from the day it runs;
//   - four working-time groups with rotations of 1, 7, 7 and 14 days and a
//     plan row for every rotation day;
//   - N persons 00000001..N with employment rows (mostly current, some
//     ended, some persons with an older and a newer one), all pointing at
//     calendars of the second family, and their assignments to groups,
//     departments and cost centres (a few persons with overlapping ones, so
//     that the log shows what the job does about them).
//
// Weekday numbers: the job's connection numbers weekdays by the territory in
// NLS_TERRITORY, else the territory part of NLS_LANG
// (language_territory.charset), else AMERICA. AMERICA counts Sunday as 1,
// GERMANY and the other European territories Monday as 1. The base-calendar
// day and the weekly patterns (WchTag) are numbered by the same rule (the
// runtime's own) from this command's environment, so run the job with the
// same NLS settings.
//
// Dates are stored as the job's database keeps them: Julian day numbers at
// local midnight (julianday('YYYY-MM-DD'), N.5), on PostgreSQL timestamps at
// midnight; empty texts as NULL.
//
// Exit status: 0 done (one summary line on standard output), 1 failure (a
// message on standard error; nothing is left behind), 2 usage error.

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini.h"
#include "db/oradate.h"
#include "db/session.h"
#include "base/clock.h"

#if __has_include("dayset_demo_schema.h")
#include "dayset_demo_schema.h"  // kDemoSchemaSql, kDemoSchemaPgSql: db/, embedded at build time
#define DAYSET_DEMO_SCHEMA_EMBEDDED 1
#endif

namespace {

namespace fs = std::filesystem;
namespace chr = std::chrono;
using Day = chr::sys_days;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kDbName = "HRSYSTEM.db";
constexpr const char* kIniName = "dayset.ini";
constexpr size_t kNetRoom = 51;  // the job's room for the net service name
constexpr long kMaxPersons = 99999999;  // person numbers have 8 digits

// A failure that ends the command; the message names the file and the cause,
// never a configuration value.
struct Failure {
  std::string message;
};

// ---------------------------------------------------------------------------
// Dates

// yyyymmdd of a real calendar date in the years 1900 to 2999.
std::optional<Day> Ymd_Parse(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  auto number = [&](size_t at, size_t len) {
    int v = 0;
    for (size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
    return v;
  };
  int y = number(0, 4);
  chr::year_month_day ymd{chr::year{y}, chr::month{static_cast<unsigned>(number(4, 2))},
                          chr::day{static_cast<unsigned>(number(6, 2))}};
  if (y < 1900 || y > 2999 || !ymd.ok()) return std::nullopt;
  return Day{ymd};
}

std::string Ymd_Text(Day d) {
  chr::year_month_day ymd{d};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02u%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return buf;
}

int Year_Of(Day d) { return static_cast<int>(chr::year_month_day{d}.year()); }

// The database's form of a date: the Julian day number of its local midnight.
double Julian_Day(Day d) { return static_cast<double>(d.time_since_epoch().count()) + 2440587.5; }

int Iso_Weekday(Day d) { return static_cast<int>(chr::weekday{d}.iso_encoding()); }  // Monday 1

Day Monday_On_Or_Before(Day d) { return d - chr::days{Iso_Weekday(d) - 1}; }

// The weekday number as the job's connection gives it (element 'd').
int Weekday_Number(int iso_weekday, bool monday_first) {
  return monday_first ? iso_weekday : iso_weekday % 7 + 1;
}

// The local date of the job's clock.
Day Today() {
  std::time_t now = Clock_Now();
  std::tm local{};
  localtime_r(&now, &local);
  return Day{chr::year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday};
}

// The attributes the base calendar keeps for a day.
struct BakDay {
  int BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow;
};

BakDay Bak_Day_Make(Day d, bool monday_first) {
  chr::year_month_day ymd{d};
  BakDay b{};
  b.BakJhr = static_cast<int>(ymd.year());
  b.BakMon = static_cast<int>(static_cast<unsigned>(ymd.month()));
  b.BakTag = static_cast<int>(static_cast<unsigned>(ymd.day()));
  b.BakJtg = static_cast<int>((d - Day{ymd.year() / chr::January / 1}).count()) + 1;
  // ISO 8601: the week belongs to the year that holds its Thursday.
  Day thursday = d + chr::days{4 - Iso_Weekday(d)};
  chr::year week_year = chr::year_month_day{thursday}.year();
  b.BakYow = static_cast<int>(week_year);
  b.BakWch = static_cast<int>((thursday - Day{week_year / chr::January / 1}).count()) / 7 + 1;
  b.BakWtg = Weekday_Number(Iso_Weekday(d), monday_first);
  return b;
}

// ---------------------------------------------------------------------------
// Pseudo-random numbers: splitmix64, so that a seed gives the same database
// on every platform.

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // In [0, n) for n > 0.
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  // In [lo, hi].
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Percent(int p) { return Below(100) < p; }
  template <typename T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<int>(N))];
  }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------------------
// The demo's fixed master data

// Day types by ISO weekday, Monday first; null: the pattern has no row.
struct WorkCalendar {
  const char* num;
  const char* types[7];
};
constexpr WorkCalendar kFirstFamily[] = {
    {"101", {"AT", "AT", "AT", "AT", "AT", "SA", "SO"}},
    {"102", {"SD", "SD", "SD", "SD", "SD", "SD", "SD"}},
    {"103", {"AT", "AT", "AT", "AT", "AT", "SA", nullptr}},
};
constexpr WorkCalendar kSecondFamily[] = {
    {"201", {"AT", "AT", "AT", "AT", "AT", "SA", "SO"}},
    {"202", {"SD", "SD", "SD", "SD", "SD", "SD", "SD"}},
    {"203", {"AT", "AT", "AT", "AT", "AT", "SA", nullptr}},
};
enum CalendarKind { kOffice = 0, kSevenDay = 1, kNoSunday = 2 };

struct PlanDay {
  const char* azt;  // planned time hhmm
  const char* vra;
};
struct TimeGroup {
  const char* num;
  int tge;  // days of the rotation
  PlanDay plan[14];
};
constexpr PlanDay kWork{"0800", "NORMAL"};
constexpr PlanDay kHalf{"0400", "TEILZEIT"};
constexpr PlanDay kFree{"0000", "FREI"};
constexpr PlanDay kEarly{"0800", "FRUEH"};
constexpr PlanDay kLate{"0800", "SPAET"};
constexpr TimeGroup kGroups[] = {
    {"GLZ", 1, {{"0800", "GLEITZEIT"}}},
    {"BUERO", 7, {kWork, kWork, kWork, kWork, kWork, kFree, kFree}},
    {"TEILZEIT", 7, {kHalf, kHalf, kHalf, kHalf, kHalf, kFree, kFree}},
    {"SCHICHT", 14,
     {kEarly, kEarly, kEarly, kEarly, kEarly, kFree, kFree, kLate, kLate, kLate, kLate, kLate, kFree,
      kFree}},
};
enum GroupIndex { kGlz = 0, kBuero = 1, kTeilzeit = 2, kSchicht = 3 };

constexpr const char* kFirstNames[] = {"Anna",  "Ben",   "Clara", "David", "Emma",   "Felix", "Greta",
                                       "Hanna", "Ida",   "Jonas", "Katrin", "Lukas", "Marie", "Niklas",
                                       "Olga",  "Paul",  "Rita",  "Simon", "Tanja",  "Uwe"};
constexpr const char* kLastNames[] = {"Bauer",   "Becker", "Berger", "Fischer", "Franke", "Hoffmann", "Keller",
                                      "Koch",    "Lang",   "Lorenz", "Meyer",   "Neumann", "Richter", "Schmidt",
                                      "Schulz",  "Vogel",  "Wagner", "Weber",   "Wolf",   "Zimmermann"};
constexpr const char* kDepartments[] = {"VERWALTUNG", "VERTRIEB", "PRODUKTION", "LAGER",
                                        "EDV",        "EINKAUF",  "PERSONAL",   "FINANZEN"};
constexpr const char* kAkrCodes[] = {"TV1", "TV2", "AUSH", "LEIT"};
constexpr const char* kAbrCodes[] = {"MON", "STD", "AUS"};
constexpr const char* kKrtCodes[] = {"K1", "K2", "K3"};

#ifndef DAYSET_DEMO_SCHEMA_EMBEDDED
// Built without the generated header: the DDL comes from the source tree.
std::string Source_File(const char* rel) {
  std::string path = std::string(DAYSET_SOURCE_DIR) + "/" + rel;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || text.str().empty()) throw Failure{"cannot read the DDL " + path};
  return text.str();
}
#endif

// ---------------------------------------------------------------------------
// The database, written through SQLite or libpq directly

// A prepared insert of one database: values are bound in column order, then
// Run writes the row and starts the next one.
class Row {
 public:
  virtual ~Row() = default;
  virtual void Text(std::string_view v) = 0;  // empty: NULL
  virtual void Int(long v) = 0;
  virtual void Date(std::optional<Day> d) = 0;
  virtual void Run() = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  // Runs SQL without values; `what` names it in the failure.
  virtual void Exec(const char* sql, const char* what) = 0;
  // `sql` has the placeholders ?, or ?1, ?2, ... where a value is used twice.
  virtual std::unique_ptr<Row> Prepare(const char* table, const char* sql) = 0;
};

class SqliteDatabase : public Database {
 public:
  explicit SqliteDatabase(const std::string& path) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      throw Failure{"cannot create " + path + ": " + why};
    }
  }
  ~SqliteDatabase() override { sqlite3_close(db_); }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  void Exec(const char* sql, const char* what) override {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string why = err != nullptr ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw Failure{"cannot write " + path_ + " (" + what + "): " + why};
    }
  }
  std::unique_ptr<Row> Prepare(const char* table, const char* sql) override;
  void Close() {
    if (sqlite3_close(db_) != SQLITE_OK) throw Failure{"cannot close " + path_ + ": " + sqlite3_errmsg(db_)};
    db_ = nullptr;
  }
  sqlite3* handle() const { return db_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

class SqliteRow : public Row {
 public:
  SqliteRow(SqliteDatabase& db, const char* table, const char* sql) : db_(db), table_(table) {
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail("prepare");
  }
  ~SqliteRow() override { sqlite3_finalize(stmt_); }
  SqliteRow(const SqliteRow&) = delete;
  SqliteRow& operator=(const SqliteRow&) = delete;

  void Text(std::string_view v) override {
    Check(v.empty() ? sqlite3_bind_null(stmt_, next_)
                    : sqlite3_bind_text(stmt_, next_, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
  }
  void Int(long v) override { Check(sqlite3_bind_int64(stmt_, next_, v)); }
  void Date(std::optional<Day> d) override {
    Check(d ? sqlite3_bind_double(stmt_, next_, Julian_Day(*d)) : sqlite3_bind_null(stmt_, next_));
  }
  void Run() override {
    if (sqlite3_step(stmt_) != SQLITE_DONE) Fail("insert");
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    next_ = 1;
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Fail("bind");
    ++next_;
  }
  [[noreturn]] void Fail(const char* what) {
    throw Failure{"cannot write " + db_.path() + " (" + what + " " + table_ + "): " + sqlite3_errmsg(db_.handle())};
  }

  SqliteDatabase& db_;
  const char* table_;
  sqlite3_stmt* stmt_ = nullptr;
  int next_ = 1;
};

std::unique_ptr<Row> SqliteDatabase::Prepare(const char* table, const char* sql) {
  return std::make_unique<SqliteRow>(*this, table, sql);
}

// A PostgreSQL database: one transaction from Begin to Commit; the
// destructor rolls back what is not committed. libpq's messages name the
// server and the database, never a password.
class PgDatabase : public Database {
 public:
  explicit PgDatabase(const std::string& conninfo) {
    // The session's settings are made explicit, as the job's own session
    // makes them, so that the server's defaults do not matter.
    const char* keys[] = {"dbname", "client_encoding", "options", "fallback_application_name", nullptr};
    const char* values[] = {conninfo.c_str(), "UTF8", "-c DateStyle=ISO,YMD -c TimeZone=UTC -c client_min_messages=warning",
                            "dayset-demo", nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string why = Message();
      PQfinish(conn_);
      throw Failure{"cannot connect to the database: " + why};
    }
  }
  ~PgDatabase() override { PQfinish(conn_); }
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  void Exec(const char* sql, const char* what) override {
    PGresult* r = PQexec(conn_, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    if (!ok) throw Failure{std::string("cannot write the database (") + what + "): " + Message()};
  }
  // Whether a query finds a row.
  bool Exists(const char* sql) {
    PGresult* r = PQexec(conn_, sql);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
      PQclear(r);
      throw Failure{"cannot read the database: " + Message()};
    }
    const bool found = PQntuples(r) > 0;
    PQclear(r);
    return found;
  }
  // A name quoted as an identifier.
  std::string Identifier(const std::string& name) {
    char* q = PQescapeIdentifier(conn_, name.c_str(), name.size());
    if (q == nullptr) throw Failure{"cannot quote " + name + ": " + Message()};
    std::string out = q;
    PQfreemem(q);
    return out;
  }
  std::unique_ptr<Row> Prepare(const char* table, const char* sql) override;
  PGconn* handle() const { return conn_; }
  // libpq's last message, on one line.
  std::string Message() const {
    std::string m = PQerrorMessage(conn_);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    for (char& c : m) {
      if (c == '\n') c = ' ';
    }
    return m;
  }

 private:
  PGconn* conn_ = nullptr;
  int statements_ = 0;
  friend class PgRow;
};

class PgRow : public Row {
 public:
  PgRow(PgDatabase& db, const char* table, const char* sql) : db_(db), table_(table) {
    // ? and ?N become $N.
    std::string text;
    int params = 0;
    for (const char* p = sql; *p != '\0'; ++p) {
      if (*p != '?') {
        text += *p;
        continue;
      }
      int n = 0;
      while (p[1] >= '0' && p[1] <= '9') n = n * 10 + (*++p - '0');
      if (n == 0) n = params + 1;
      params = std::max(params, n);
      text += '$';
      text += std::to_string(n);
    }
    values_.resize(static_cast<size_t>(params));
    null_.resize(static_cast<size_t>(params));
    name_ = "demo_";
    name_ += std::to_string(++db.statements_);
    PGresult* r = PQprepare(db.handle(), name_.c_str(), text.c_str(), params, nullptr);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) Fail("prepare");
  }

  void Text(std::string_view v) override { Set(std::string(v), v.empty()); }
  void Int(long v) override { Set(std::to_string(v), false); }
  void Date(std::optional<Day> d) override {
    if (!d) return Set("", true);
    chr::year_month_day ymd{*d};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()));
    Set(buf, false);
  }
  void Run() override {
    std::vector<const char*> params(values_.size());
    for (size_t i = 0; i < values_.size(); ++i) params[i] = null_[i] ? nullptr : values_[i].c_str();
    PGresult* r = PQexecPrepared(db_.handle(), name_.c_str(), static_cast<int>(params.size()), params.data(), nullptr,
                                 nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) Fail("insert");
    next_ = 0;
  }

 private:
  void Set(std::string v, bool null) {
    if (next_ >= values_.size()) Fail("bind");
    values_[next_] = std::move(v);
    null_[next_] = null;
    ++next_;
  }
  [[noreturn]] void Fail(const char* what) {
    throw Failure{std::string("cannot write the database (") + what + " " + table_ + "): " + db_.Message()};
  }

  PgDatabase& db_;
  const char* table_;
  std::string name_;
  std::vector<std::string> values_;
  std::vector<bool> null_;
  size_t next_ = 0;
};

std::unique_ptr<Row> PgDatabase::Prepare(const char* table, const char* sql) {
  return std::make_unique<PgRow>(*this, table, sql);
}

// One insert statement, prepared once and run once per row. Values are bound
// in column order; an empty text goes in as NULL.
class Insert {
 public:
  Insert(Database& db, const char* table, const char* sql) : row_(db.Prepare(table, sql)) {}

  Insert& Text(std::string_view v) {
    row_->Text(v);
    return *this;
  }
  Insert& Int(long v) {
    row_->Int(v);
    return *this;
  }
  Insert& Date(std::optional<Day> d) {
    row_->Date(d);
    return *this;
  }
  void Run() {
    row_->Run();
    ++rows_;
  }
  long rows() const { return rows_; }

 private:
  std::unique_ptr<Row> row_;
  long rows_ = 0;
};

std::string Schema_Sql() {
#ifdef DAYSET_DEMO_SCHEMA_EMBEDDED
  return kDemoSchemaSql;
#else
  return Source_File("db/schema.sql");
#endif
}

std::string Schema_Pg_Sql() {
#ifdef DAYSET_DEMO_SCHEMA_EMBEDDED
  return kDemoSchemaPgSql;
#else
  return Source_File("db/schema-postgresql.sql");
#endif
}

// ---------------------------------------------------------------------------
// The contents

struct Settings {
  long persons = 300;
  uint64_t seed = 1;
  std::optional<Day> start;
  std::string net = "sqlite:.";
  std::string login = "dayset";
  std::string pg_admin;  // libpq conninfo for making the schema; empty: from net
  std::string dir;
};

// A net service name of the PostgreSQL backend.
bool Net_Is_Pg(std::string_view net) {
  return net.rfind("postgresql:", 0) == 0 || net.rfind("postgres:", 0) == 0 || net.rfind("pg:", 0) == 0;
}

// libpq's connection text for a net service name: a URI as it stands, pg:NAME
// as the service NAME.
std::string Net_Conninfo(const std::string& net) {
  if (net.rfind("pg:", 0) != 0) return net;
  std::string quoted = "service='";
  for (char c : net.substr(3)) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

struct Counts {
  long persons = 0, employments = 0, assignments = 0, calendars = 0, groups = 0;
};

// One employment row of a person and the group it starts with.
struct Employment {
  Day gvo;
  std::optional<Day> gbi;
  int calendar;  // index into kSecondFamily
  int group;     // index into kGroups
  std::string akr, abr;
};

class DemoWriter {
 public:
  DemoWriter(Database& db, const Settings& settings, Day start, Day today, bool monday_first)
      : rng_(settings.seed),
        persons_(settings.persons),
        start_(start),
        base_(start - chr::days{1}),
        today_(today),
        monday_first_(monday_first),
        bak_(db, "Hrs133Bak",
             "insert into Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat)"
             " values (?,?,?,?,?,?,?,?,?)"),
        muw_(db, "Hrs135Muw", "insert into Hrs135Muw (MuwKal,MuwSta) values (?,1)"),
        mu2_(db, "Hrs135Mu2", "insert into Hrs135Mu2 (Mu2Kal,Mu2Sta) values (?,1)"),
        wch_(db, "Hrs137Wch", "insert into Hrs137Wch (WchKal,WchTag,WchTtp,WchSta) values (?,?,?,1)"),
        kal_(db, "Hrs133Kal",
             "insert into Hrs133Kal (KalNum,KalDtm,KalTtp,KalPtp,KalBtp,KalGwt,KalDat,KalSta)"
             " values (?1,?2,?3,?3,?3,100,?4,1)"),
        ka2_(db, "Hrs133Ka2",
             "insert into Hrs133Ka2 (Ka2Num,Ka2Dtm,Ka2Ttp,Ka2Ptp,Ka2Btp,Ka2Gwt,Ka2Dat,Ka2Sta)"
             " values (?1,?2,?3,?3,?3,100,?4,1)"),
        agr_(db, "Hrs160Agr", "insert into Hrs160Agr (AgrNum,AgrTge) values (?,?)"),
        wpl_(db, "Hrs161Wpl", "insert into Hrs161Wpl (WplAgr,WplTag,WplAzt,WplVra) values (?,?,?,?)"),
        pnr_(db, "Hrs300Pnr", "insert into Hrs300Pnr (PnrNum,PnrNam,PnrSta) values (?,?,1)"),
        bsv_(db, "Hrs310Bsv",
             "insert into Hrs310Bsv (BsvPnr,BsvGvo,BsvGbi,BsvKal,BsvAkr,BsvAbr,BsvSta) values (?,?,?,?,?,?,1)"),
        zuo_(db, "Hrs311Zuo",
             "insert into Hrs311Zuo (ZuoPnr,ZuoGvo,ZuoGbi,ZuoSdt,ZuoStg,ZuoAgr,ZuoAbt,ZuoKst,ZuoKrt,ZuoKtr,ZuoVra)"
             " values (?,?,?,?,?,?,?,?,?,?,?)") {}

  Counts Write() {
    BaseCalendar_Write();
    WorkCalendars_Write(kFirstFamily, muw_, kal_);
    WorkCalendars_Write(kSecondFamily, mu2_, ka2_);
    Groups_Write();
    for (long i = 1; i <= persons_; ++i) Person_Write(i);
    Counts c;
    c.persons = pnr_.rows();
    c.employments = bsv_.rows();
    c.assignments = zuo_.rows();
    c.calendars = muw_.rows() + mu2_.rows();
    c.groups = agr_.rows();
    return c;
  }

 private:
  void BaseCalendar_Write() {
    BakDay b = Bak_Day_Make(base_, monday_first_);
    bak_.Date(base_).Int(b.BakJhr).Int(b.BakMon).Int(b.BakTag).Int(b.BakWch).Int(b.BakWtg).Int(b.BakJtg);
    bak_.Int(b.BakYow).Date(today_).Run();
  }

  template <size_t N>
  void WorkCalendars_Write(const WorkCalendar (&family)[N], Insert& list, Insert& days) {
    for (const WorkCalendar& cal : family) {
      list.Text(cal.num).Run();
      for (int iso = 1; iso <= 7; ++iso) {
        if (cal.types[iso - 1] == nullptr) continue;
        wch_.Text(cal.num).Int(Weekday_Number(iso, monday_first_)).Text(cal.types[iso - 1]).Run();
      }
      // The latest day on or before the base day that the pattern covers.
      Day anchor = base_;
      while (cal.types[Iso_Weekday(anchor) - 1] == nullptr) anchor -= chr::days{1};
      days.Text(cal.num).Date(anchor).Text(cal.types[Iso_Weekday(anchor) - 1]).Date(today_).Run();
    }
  }

  void Groups_Write() {
    for (const TimeGroup& g : kGroups) {
      agr_.Text(g.num).Int(g.tge).Run();
      for (int day = 1; day <= g.tge; ++day) {
        wpl_.Text(g.num).Int(day).Text(g.plan[day - 1].azt).Text(g.plan[day - 1].vra).Run();
      }
    }
  }

  // A group whose plan suits the calendar.
  int Group_Pick(int calendar) {
    if (calendar == kSevenDay) return kSchicht;
    if (calendar == kNoSunday) return rng_.Percent(70) ? kBuero : kTeilzeit;
    int g = rng_.Below(10);
    return g < 5 ? kBuero : g < 8 ? kGlz : kTeilzeit;
  }

  // A calendar of the second family, a group and the employment's codes.
  void Profile_Pick(Employment* e) {
    int r = rng_.Below(100);
    e->calendar = r < 60 ? kOffice : r < 80 ? kSevenDay : kNoSunday;
    e->group = Group_Pick(e->calendar);
    e->akr = rng_.Percent(85) ? rng_.Pick(kAkrCodes) : "";
    e->abr = rng_.Percent(85) ? rng_.Pick(kAbrCodes) : "";
  }

  void Employment_Write(const std::string& pnr, const Employment& e) {
    bsv_.Text(pnr).Date(e.gvo).Date(e.gbi).Text(kSecondFamily[e.calendar].num).Text(e.akr).Text(e.abr).Run();
  }

  // One assignment from gvo to gbi (open when empty) to `group`. Weekly and
  // two-week rotations start on a Monday, so that rotation day 1 is a Monday.
  void Assignment_Write(const std::string& pnr, Day gvo, std::optional<Day> gbi, int group, int department) {
    const TimeGroup& g = kGroups[group];
    Day sdt = g.tge == 1 ? gvo : Monday_On_Or_Before(gvo);
    int stg = g.tge == 14 && rng_.Percent(50) ? 8 : 1;
    char kst[16];
    std::snprintf(kst, sizeof kst, "%d", 1000 + department * 100 + rng_.Below(10));
    std::string krt = rng_.Percent(80) ? rng_.Pick(kKrtCodes) : "";
    char ktr[16] = "";
    if (rng_.Percent(70)) std::snprintf(ktr, sizeof ktr, "KT%02d", rng_.Below(20));
    const char* vra = rng_.Percent(30) ? "STANDARD" : "";
    zuo_.Text(pnr).Date(gvo).Date(gbi).Date(sdt).Int(stg).Text(g.num).Text(kDepartments[department]);
    zuo_.Text(kst).Text(krt).Text(ktr).Text(vra).Run();
  }

  void Person_Write(long number) {
    char pnr_text[24];  // 8 digits: number is at most kMaxPersons
    std::snprintf(pnr_text, sizeof pnr_text, "%08ld", number);
    std::string pnr = pnr_text;
    std::string name = std::string(rng_.Pick(kFirstNames)) + " " + rng_.Pick(kLastNames);
    pnr_.Text(pnr).Text(name).Run();

    Employment current;
    Profile_Pick(&current);
    int department = rng_.Below(static_cast<int>(std::size(kDepartments)));
    int kind = rng_.Below(100);
    if (kind < 80) {
      // Current: open, or ending some time after today.
      current.gvo = base_ - chr::days{rng_.Below(15 * 365)};
      if (rng_.Percent(15)) current.gbi = today_ + chr::days{rng_.Between(30, 730)};
    } else if (kind < 88) {
      // Ended before today: the job leaves the person alone.
      current.gvo = std::min(base_, today_ - chr::days{1}) - chr::days{rng_.Between(365, 10 * 365)};
      current.gbi = today_ - chr::days{rng_.Between(1, 300)};
    } else {
      // An older relationship, closed the day before the newer one began, or
      // (kind 94 and up) left open: the job takes the newer one.
      current.gvo = base_ - chr::days{rng_.Below(4 * 365)};
      Employment older;
      Profile_Pick(&older);
      older.gvo = current.gvo - chr::days{rng_.Between(2 * 365, 10 * 365)};
      if (kind < 94) older.gbi = current.gvo - chr::days{1};
      Employment_Write(pnr, older);
      Assignment_Write(pnr, older.gvo, current.gvo - chr::days{1}, older.group, rng_.Below(8));
    }
    Employment_Write(pnr, current);

    if (current.gbi && *current.gbi < today_) {
      Assignment_Write(pnr, current.gvo, current.gbi, current.group, department);
      return;
    }
    // Current relationships keep their last assignment open. Some change
    // group or department during the first year; a few of those overlap.
    if (rng_.Percent(40)) {
      Day change = start_ + chr::days{rng_.Between(30, 330)};
      Day first_end = change - chr::days{1};
      if (rng_.Percent(5)) first_end += chr::days{rng_.Between(1, 10)};
      Assignment_Write(pnr, current.gvo, first_end, current.group, department);
      int group = Group_Pick(current.calendar);
      if (rng_.Percent(50)) department = rng_.Below(static_cast<int>(std::size(kDepartments)));
      Assignment_Write(pnr, change, std::nullopt, group, department);
    } else {
      Assignment_Write(pnr, current.gvo, std::nullopt, current.group, department);
    }
  }

  Random rng_;
  long persons_;
  Day start_, base_, today_;
  bool monday_first_;
  Insert bak_, muw_, mu2_, wch_, kal_, ka2_, agr_, wpl_, pnr_, bsv_, zuo_;
};

// ---------------------------------------------------------------------------
// The command

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: dayset-demo [--persons N] [--seed S] [--start YYYYMMDD] [--net NAME]\n"
               "                   [--login ROLE] [--pg-admin CONNINFO] DIR\n"
               "Creates a demo installation: a database with work calendars, working-time groups\n"
               "and persons (HRSYSTEM.db in DIR, or schema hrsystem of a PostgreSQL database),\n"
               "and dayset.ini for the job in DIR (new, or an empty directory).\n"
               "Then run the job from within DIR:  cd DIR && dayset 0 YEAR dayset.ini 0 0\n"
               "  --persons N       persons 00000001..N, 0 to %ld (default 300)\n"
               "  --seed S          seed of the generated contents, 0 to 2^64-1 (default 1)\n"
               "  --start YYYYMMDD  first day of the calendars; the base calendar holds the day\n"
               "                    before it (default 1 January of this year)\n"
               "  --net NAME        net service name in dayset.ini, at most %zu characters\n"
               "                    (default sqlite:. : the database in the job's directory);\n"
               "                    postgresql://HOST[:PORT]/DB or pg:SERVICE: schema hrsystem is\n"
               "                    made in that database (it must not hold one yet)\n"
               "  --login ROLE      LOGIN in dayset.ini (default dayset); on PostgreSQL the role\n"
               "                    the job runs as, granted USAGE on the schema and SELECT,\n"
               "                    INSERT, UPDATE on its tables; set its password afterwards\n"
               "                    with: dayset-conf set DIR/dayset.ini PASS\n"
               "  --pg-admin CONNINFO  libpq connection of a role that may create the schema\n"
               "                    (default: NAME as the user of libpq's environment); its\n"
               "                    password from PGPASSWORD or ~/.pgpass, never in CONNINFO\n"
               "Weekday numbers follow NLS_TERRITORY / NLS_LANG as the job's connection does\n"
               "(AMERICA, Sunday 1, when neither is set): run the job with the same setting.\n",
               kMaxPersons, kNetRoom);
}

// Whether `conninfo` is a connection text libpq understands, without a
// password in it: a password on the command line is in the process list.
bool Conninfo_Without_Password(const char* conninfo) {
  PQconninfoOption* options = PQconninfoParse(conninfo, nullptr);
  if (options == nullptr) return false;
  bool ok = true;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr && *o->val != '\0') ok = false;
  }
  PQconninfoFree(options);
  return ok;
}

// A decimal number without sign in [0, max].
bool Number_Parse(const char* text, uint64_t max, uint64_t* value) {
  if (*text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// Fills settings from the arguments; returns false (with a message on
// standard error) on a usage error.
bool Args_Parse(int argc, char** argv, Settings* s, bool* help) {
  auto refuse = [](const std::string& why) {
    std::fprintf(stderr, "dayset-demo: %s\n", why.c_str());
    Usage(stderr);
    return false;
  };
  bool have_dir = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return true;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg != "--persons" && arg != "--seed" && arg != "--start" && arg != "--net" && arg != "--login" &&
          arg != "--pg-admin") {
        return refuse("unknown option " + std::string(arg));
      }
      if (i + 1 >= argc) return refuse("option " + std::string(arg) + " needs a value");
      const char* value = argv[++i];
      uint64_t number = 0;
      if (arg == "--persons") {
        if (!Number_Parse(value, kMaxPersons, &number)) {
          return refuse("--persons wants a number from 0 to " + std::to_string(kMaxPersons));
        }
        s->persons = static_cast<long>(number);
      } else if (arg == "--seed") {
        if (!Number_Parse(value, UINT64_MAX, &number)) return refuse("--seed wants a number from 0 to 2^64-1");
        s->seed = number;
      } else if (arg == "--start") {
        s->start = Ymd_Parse(value);
        if (!s->start) return refuse("--start wants a date YYYYMMDD in the years 1900 to 2999");
      } else if (arg == "--net" || arg == "--login") {
        std::string_view text = value;
        if (text.empty() || text.size() > kNetRoom) {
          return refuse(std::string(arg) + " wants 1 to " + std::to_string(kNetRoom) + " characters");
        }
        for (char c : text) {
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return refuse(std::string(arg) + " holds a control character");
          }
        }
        if (arg == "--login") {
          s->login = value;
        } else if (Sql_Net_Check(value) != nullptr) {
          return refuse("--net: a PostgreSQL net service name carries no user or password (LOGIN and PASS do)");
        } else {
          s->net = value;
        }
      } else {
        if (!Conninfo_Without_Password(value)) {
          return refuse("--pg-admin wants a libpq connection without a password (PGPASSWORD or ~/.pgpass give it)");
        }
        s->pg_admin = value;
      }
      continue;
    }
    if (have_dir) return refuse("only one DIR, please");
    if (arg.empty()) return refuse("DIR is empty");
    s->dir = argv[i];
    have_dir = true;
  }
  if (!have_dir) return refuse("DIR is missing");
  if (!s->pg_admin.empty() && !Net_Is_Pg(s->net)) return refuse("--pg-admin wants a PostgreSQL --net");
  return true;
}
// What the command has created so far, removed again when it fails, so that
// a rerun finds DIR as it was.
class Leftovers {
 public:
  void Directory(const fs::path& dir) { dir_ = dir; }
  void File(const fs::path& file) { files_.push_back(file); }
  void Keep() {
    files_.clear();
    dir_.clear();
  }
  ~Leftovers() {
    std::error_code ec;
    for (const fs::path& f : files_) fs::remove(f, ec);
    if (!dir_.empty()) fs::remove(dir_, ec);  // only when empty
  }

 private:
  std::vector<fs::path> files_;
  fs::path dir_;
};

void Directory_Prepare(const fs::path& dir, Leftovers* leftovers) {
  std::error_code ec;
  fs::file_status st = fs::status(dir, ec);
  if (fs::exists(st)) {
    if (!fs::is_directory(st)) throw Failure{dir.string() + " exists and is not a directory"};
    bool empty = fs::is_empty(dir, ec);
    if (ec) throw Failure{"cannot read " + dir.string() + ": " + ec.message()};
    if (!empty) throw Failure{dir.string() + " is not empty; give a new or an empty directory"};
    return;
  }
  if (ec && ec != std::errc::no_such_file_or_directory) {
    throw Failure{"cannot look at " + dir.string() + ": " + ec.message()};
  }
  if (!fs::create_directories(dir, ec) || ec) {
    throw Failure{"cannot create " + dir.string() + ": " + (ec ? ec.message() : "already there")};
  }
  leftovers->Directory(dir);
}

void Sqlite_Write(const std::string& path, const Settings& s, Day start, Day today, bool monday_first,
                  Counts* counts, Leftovers* leftovers) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) leftovers->File(path + suffix);
  std::string ddl = Schema_Sql();
  SqliteDatabase db(path);
  db.Exec(ddl.c_str(), "DDL");
  db.Exec("begin immediate", "begin");
  {
    DemoWriter writer(db, s, start, today, monday_first);
    *counts = writer.Write();
  }
  db.Exec("commit", "commit");
  db.Close();
}

// Schema hrsystem from the DDL, the job's grants and the contents, in one
// transaction: a failure leaves the database as it was.
void Pg_Write(const Settings& s, Day start, Day today, bool monday_first, Counts* counts) {
  PgDatabase db(s.pg_admin.empty() ? Net_Conninfo(s.net) : s.pg_admin);
  db.Exec("begin", "begin");
  if (db.Exists("select 1 from pg_namespace where nspname = 'hrsystem'")) {
    throw Failure{"the database holds a schema hrsystem already; give one without it"};
  }
  db.Exec("create schema hrsystem; set local search_path = hrsystem", "schema");
  db.Exec(Schema_Pg_Sql().c_str(), "DDL");
  const std::string role = db.Identifier(s.login);
  db.Exec(("grant usage on schema hrsystem to " + role + "; grant select, insert, update on all tables in "
           "schema hrsystem to " + role).c_str(),
          "grants of the job's role");
  {
    DemoWriter writer(db, s, start, today, monday_first);
    *counts = writer.Write();
  }
  db.Exec("commit", "commit");
}

void Config_Write(const std::string& path, const Settings& s, Leftovers* leftovers) {
  leftovers->File(path);
  // The section and the numbers are not empty and not 0, so that the job's
  // look-ups (empty section, number 0) take each record by its name alone.
  // The job drops the last character of SCHEMA.
  struct Record {
    int32_t number;
    const char* name;
    const char* value;
  } const records[] = {
      {1, "LOGIN", s.login.c_str()}, {2, "PASS", "demo"}, {3, "NET8", s.net.c_str()}, {4, "SCHEMA", "HRSYSTEMX"}};
  for (const Record& r : records) {
    int rc = Ini_Record_Put(path.c_str(), "DB", r.number, r.name, r.value);
    if (rc != 0) throw Failure{std::string("cannot write ") + r.name + " into " + path + ": " + std::strerror(rc)};
  }
}

int Demo_Main(int argc, char** argv) {
  Settings s;
  bool help = false;
  if (!Args_Parse(argc, argv, &s, &help)) return kExitUsage;
  if (help) {
    Usage(stdout);
    return kExitOk;
  }
  Day today = Today();
  Day start = s.start ? *s.start : Day{chr::year{Year_Of(today)} / chr::January / 1};
  // The territory the job's connection will number weekdays by.
  char territory[64];
  Ora_Territory_From_Env(territory, sizeof territory);
  bool monday_first = !Ora_Territory_Sunday_First(territory);

  Leftovers leftovers;
  Counts counts;
  try {
    fs::path dir(s.dir);
    Directory_Prepare(dir, &leftovers);
    Config_Write((dir / kIniName).string(), s, &leftovers);
    if (Net_Is_Pg(s.net)) {
      Pg_Write(s, start, today, monday_first, &counts);
    } else {
      Sqlite_Write((dir / kDbName).string(), s, start, today, monday_first, &counts, &leftovers);
    }
  } catch (const Failure& f) {
    std::fprintf(stderr, "dayset-demo: %s\n", f.message.c_str());
    return kExitFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dayset-demo: %s\n", e.what());
    return kExitFailed;
  }
  leftovers.Keep();

  int year = std::max(Year_Of(start), Year_Of(today));
  std::printf(
      "dayset-demo: %s: %ld persons, %ld employments, %ld assignments, %ld work calendars, "
      "%ld working-time groups; base calendar from %s, weekdays numbered from %s (%s); %s"
      "run: cd %s && dayset 0 %d %s 0 0\n",
      s.dir.c_str(), counts.persons, counts.employments, counts.assignments, counts.calendars, counts.groups,
      Ymd_Text(start - chr::days{1}).c_str(), monday_first ? "Monday" : "Sunday", territory,
      Net_Is_Pg(s.net) ? ("schema hrsystem made; set the password of " + s.login + ": dayset-conf set " + s.dir +
                          "/" + kIniName + " PASS; ").c_str()
                       : "",
      s.dir.c_str(), year, kIniName);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) { return Demo_Main(argc, argv); }

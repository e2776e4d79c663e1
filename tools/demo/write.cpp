#include "demo/write.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "db/pg_net.h"
#include "db/sqlrt.h"
#include "demo/pg_admin.h"

#if __has_include("dayset_demo_schema.h")
#include "dayset_demo_schema.h"  // kDemoSchemaSql, kDemoSchemaPgSql: db/, embedded at build time
#define DAYSET_DEMO_SCHEMA_EMBEDDED 1
#else
#include <fstream>
#include <sstream>
#endif

namespace {

// The rows' statements in the job's embedded-SQL form. The runtime prepares
// each text once and keeps it by its address.
const char kBakIns[] =
    "insert into HRSYSTEM.Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) "
    "values (TO_DATE(:b0,'yyyymmdd'),:b1,:b2,:b3,:b4,:b5,:b6,:b7,TO_DATE(:b8,'yyyymmdd'))";
const char kMuwIns[] = "insert into HRSYSTEM.Hrs135Muw (MuwKal,MuwSta) values (:b0,1)";
const char kMu2Ins[] = "insert into HRSYSTEM.Hrs135Mu2 (Mu2Kal,Mu2Sta) values (:b0,1)";
const char kWchIns[] = "insert into HRSYSTEM.Hrs137Wch (WchKal,WchTag,WchTtp,WchSta) values (:b0,:b1,:b2,1)";
const char kKalIns[] =
    "insert into HRSYSTEM.Hrs133Kal (KalNum,KalDtm,KalTtp,KalPtp,KalBtp,KalGwt,KalDat,KalSta) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),:b2,:b3,:b4,100,TO_DATE(:b5,'yyyymmdd'),1)";
const char kKa2Ins[] =
    "insert into HRSYSTEM.Hrs133Ka2 (Ka2Num,Ka2Dtm,Ka2Ttp,Ka2Ptp,Ka2Btp,Ka2Gwt,Ka2Dat,Ka2Sta) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),:b2,:b3,:b4,100,TO_DATE(:b5,'yyyymmdd'),1)";
const char kAgrIns[] = "insert into HRSYSTEM.Hrs160Agr (AgrNum,AgrTge) values (:b0,:b1)";
const char kWplIns[] = "insert into HRSYSTEM.Hrs161Wpl (WplAgr,WplTag,WplAzt,WplVra) values (:b0,:b1,:b2,:b3)";
const char kPnrIns[] = "insert into HRSYSTEM.Hrs300Pnr (PnrNum,PnrNam,PnrSta) values (:b0,:b1,1)";
const char kBsvIns[] =
    "insert into HRSYSTEM.Hrs310Bsv (BsvPnr,BsvGvo,BsvGbi,BsvKal,BsvAkr,BsvAbr,BsvSta) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),:b3,:b4,:b5,1)";
const char kZuoIns[] =
    "insert into HRSYSTEM.Hrs311Zuo (ZuoPnr,ZuoGvo,ZuoGbi,ZuoSdt,ZuoStg,ZuoAgr,ZuoAbt,ZuoKst,ZuoKrt,ZuoKtr,ZuoVra) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),TO_DATE(:b3,'yyyymmdd'),:b4,:b5,:b6,:b7,:b8,:b9,"
    ":b10)";

const char kBakCount[] = "select count(*) into :b0 from HRSYSTEM.Hrs133Bak";

// Rows per batch, and per transaction: one round trip and one commit each
// on a server.
constexpr size_t kChunkRows = 1000;

// The rows through the runtime, a chunk at a time. The runtime reads a
// batch's host variables only when the batch runs, so the chunk keeps its
// values until then (a deque does not move what it holds as it grows).
class RuntimeRows : public DemoRows {
 public:
  explicit RuntimeRows(std::string where) : where_(std::move(where)) {}

  void Bak_Add(const BakSatz& d, const char* stamp) override {
    Add(kBakIns, "Hrs133Bak",
        {Str(d.BakDtm), Int(d.BakJhr), Int(d.BakMon), Int(d.BakTag), Int(d.BakWch), Int(d.BakWtg), Int(d.BakJtg),
         Int(d.BakYow), Str(stamp)});
  }
  void Cal_Add(int family, const char* num) override {
    Add(family == 1 ? kMuwIns : kMu2Ins, family == 1 ? "Hrs135Muw" : "Hrs135Mu2", {Str(num)});
  }
  void Wch_Add(const char* kal, int32_t tag, const char* ttp) override {
    Add(kWchIns, "Hrs137Wch", {Str(kal), Int(tag), Str(ttp)});
  }
  void Day_Add(int family, const char* num, const char* dtm, const char* ttp, const char* stamp) override {
    Add(family == 1 ? kKalIns : kKa2Ins, family == 1 ? "Hrs133Kal" : "Hrs133Ka2",
        {Str(num), Str(dtm), Str(ttp), Str(ttp), Str(ttp), Str(stamp)});
  }
  void Agr_Add(const char* num, int32_t tge) override { Add(kAgrIns, "Hrs160Agr", {Str(num), Int(tge)}); }
  void Wpl_Add(const char* agr, int32_t tag, const char* azt, const char* vra) override {
    Add(kWplIns, "Hrs161Wpl", {Str(agr), Int(tag), Str(azt), Str(vra)});
  }
  void Pnr_Add(const char* pnr, const char* name) override { Add(kPnrIns, "Hrs300Pnr", {Str(pnr), Str(name)}); }
  void Bsv_Add(const char* pnr, const char* gvo, const char* gbi, const char* kal, const char* akr,
               const char* abr) override {
    Add(kBsvIns, "Hrs310Bsv", {Str(pnr), Str(gvo), Str(gbi), Str(kal), Str(akr), Str(abr)});
  }
  void Zuo_Add(const DemoZuo& z) override {
    Add(kZuoIns, "Hrs311Zuo",
        {Str(z.pnr), Str(z.gvo), Str(z.gbi), Str(z.sdt), Int(z.stg), Str(z.agr), Str(z.abt), Str(z.kst),
         Str(z.krt), Str(z.ktr), Str(z.vra)});
  }

  // Writes and commits what is left.
  void Finish() { Chunk_Write(); }

 private:
  // An input variable holding a copy of `text` (empty: NULL).
  SqlVar Str(const char* text) {
    const std::string& kept = texts_.emplace_back(text);
    return SqlStr(kept.c_str(), static_cast<int32_t>(kept.size() + 1));
  }
  SqlVar Int(int32_t value) { return SqlInt(&ints_.emplace_back(value)); }

  void Add(const char* text, const char* table, SqlVars vars) {
    batch_.Add(text, vars);
    tables_.push_back(table);
    if (batch_.items.size() >= kChunkRows) Chunk_Write();
  }

  void Chunk_Write() {
    if (!batch_.items.empty()) {
      Sql_Exec_Batch(&batch_);
      for (size_t i = 0; i < batch_.items.size(); ++i) {
        if (batch_.items[i].rc != 0) Fail(std::string("insert ") + tables_[i], batch_.items[i].rc);
      }
    }
    if (Sql_Rt_Commit() != 0) Fail("commit", SqlCode);
    batch_.Clear();
    tables_.clear();
    texts_.clear();
    ints_.clear();
  }

  [[noreturn]] void Fail(const std::string& what, int code) {
    throw DemoFailure{"cannot write " + where_ + " (" + what + "): status " + std::to_string(code)};
  }

  std::string where_;  // the database as the messages name it
  SqlBatch batch_;
  std::vector<const char*> tables_;  // of the batch's items
  std::deque<std::string> texts_;
  std::deque<int32_t> ints_;
};

// The rows of `plan` on the runtime's open session, which ends here.
DemoCounts Rows_Write(const DemoPlan& plan, const std::string& where) {
  DemoCounts counts;
  try {
    RuntimeRows rows(where);
    counts = Demo_Generate(plan, &rows);
    rows.Finish();
  } catch (const DemoFailure&) {
    Sql_Rt_Disconnect();  // rolls back the chunk that failed
    throw;
  }
  Sql_Rt_Disconnect();
  return counts;
}

#ifndef DAYSET_DEMO_SCHEMA_EMBEDDED
// Built without the generated header: the DDL comes from the source tree.
std::string Source_File(const char* rel) {
  std::string path = std::string(DAYSET_SOURCE_DIR) + "/" + rel;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || text.str().empty()) throw DemoFailure{"cannot read the DDL " + path};
  return text.str();
}
#endif

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

// The file from the DDL script, through SQLite itself: the runtime runs the
// job's statements, not scripts.
void Sqlite_Schema_Make(const std::string& path) {
  const std::string ddl = Schema_Sql();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    std::string why = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw DemoFailure{"cannot create " + path + ": " + why};
  }
  char* err = nullptr;
  if (sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string why = err != nullptr ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    sqlite3_close(db);
    throw DemoFailure{"cannot write " + path + " (DDL): " + why};
  }
  if (sqlite3_close(db) != SQLITE_OK) throw DemoFailure{"cannot close " + path + ": " + sqlite3_errmsg(db)};
}

// The runtime's connect text ends the login at its last '@', and DIR may
// hold one: the session is opened from within DIR, as sqlite:. (the backend
// keeps the directory's real path), and the command's directory restored.
void Sqlite_Connect(const std::string& dir, const std::string& path) {
  const int here = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (here < 0 || chdir(dir.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    if (here >= 0) close(here);
    throw DemoFailure{"cannot open " + path + ": " + why};
  }
  const int rc = Sql_Rt_Connect("/@sqlite:.");
  const bool back = fchdir(here) == 0;
  const std::string why = back ? "" : std::strerror(errno);
  close(here);
  if (rc == 0 && !back) Sql_Rt_Disconnect();
  if (!back) throw DemoFailure{"cannot return to the working directory: " + why};
  if (rc != 0) throw DemoFailure{"cannot open " + path + ": status " + std::to_string(rc)};
}

// The runtime's session reads the password as libpq's environment gives it;
// a password file that the administrator's connection names is handed on
// that way.
void Passfile_Hand_On(const std::string& conninfo) {
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), nullptr);
  if (options == nullptr) return;
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, "passfile") == 0 && o->val != nullptr && *o->val != '\0') {
      setenv("PGPASSFILE", o->val, 1);
    }
  }
  PQconninfoFree(options);
}

// The runtime's session as the administrator: the net service name itself,
// or one that reaches what --pg-admin reaches, with its user as the login.
int Pg_Admin_Connect(const DemoSettings& s) {
  std::string user;
  const std::string net = s.pg_admin.empty() ? s.net : Pg_Net_Of_Conninfo(s.pg_admin.c_str(), &user);
  Passfile_Hand_On(s.pg_admin);
  return Sql_Rt_Connect((user + "/@" + net).c_str());
}

}  // namespace

DemoCounts Demo_Sqlite_Write(const std::string& dir, const DemoPlan& plan) {
  const std::string path = dir + "/" + kDemoDbName;
  Sqlite_Schema_Make(path);
  Sqlite_Connect(dir, path);
  return Rows_Write(plan, path);
}

DemoCounts Demo_Pg_Write(const DemoSettings& s, const DemoPlan& plan) {
  DemoPgAdmin admin(s.pg_admin.empty() ? Pg_Net_Conninfo(s.net.c_str()) : s.pg_admin);
  admin.Schema_Make(Schema_Pg_Sql().c_str(), s.login);
  try {
    // The rows go through the runtime's own session, as the administrator.
    if (Pg_Admin_Connect(s) != 0) {
      throw DemoFailure{"cannot connect to the database: status " + std::to_string(SqlCode)};
    }
    return Rows_Write(plan, "the database");
  } catch (const DemoFailure& f) {
    // The schema was committed for the runtime's session to see: a failure
    // takes it away again.
    std::string why;
    if (!admin.Schema_Drop(&why)) throw DemoFailure{f.message + "; schema hrsystem stays: " + why};
    throw;
  }
}

BakSatz Demo_Base_Day_Write(const DemoSettings& s, const DemoPlan& plan) {
  const bool server = Demo_Net_Is_Server(s.net);
  const char* ddl = server ? "schema hrsystem made with db/schema-postgresql.sql" : "HRSYSTEM.db made with db/schema.sql";
  // An embedded database is reached as the job reaches it; connecting never
  // makes the file.
  const int rc = server ? Pg_Admin_Connect(s) : Sql_Rt_Connect(("/@" + s.net).c_str());
  if (rc != 0) {
    throw DemoFailure{"cannot connect to " + s.net + ": status " + std::to_string(SqlCode) + " (it wants the " + ddl +
                      ")"};
  }
  int32_t days = 0;
  Sql_Exec(kBakCount, {SqlInt(&days)});
  const int count_rc = SqlCode;
  if (count_rc != 0 || days != 0) {
    Sql_Rt_Disconnect();
    if (count_rc != 0) {
      throw DemoFailure{"cannot read the base calendar HRSYSTEM.Hrs133Bak of " + s.net + ": status " +
                        std::to_string(count_rc) + " (it wants the " + ddl + "); nothing written"};
    }
    throw DemoFailure{"the base calendar of " + s.net + " holds " + (days == 1 ? "a day" : std::to_string(days) + " days") +
                      " already; the job extends it from its latest day: nothing written"};
  }
  char stamp[kDateYmdSize];
  Demo_Day_Text(plan.today, stamp);
  const BakSatz day = Demo_Bak_Day(plan.start - 1, plan.sunday_first);
  try {
    RuntimeRows rows("the base calendar of " + s.net);
    rows.Bak_Add(day, stamp);
    rows.Finish();
  } catch (const DemoFailure&) {
    Sql_Rt_Disconnect();  // rolls the row back
    throw;
  }
  Sql_Rt_Disconnect();
  return day;
}

// The job's session: connect, schema switch and its refusals, commit, and
// name resolution between HRSYSTEM and a client schema.
#include "db/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/faultsession.h"
#include "../support/testdb.h"
#include "db/sqlrt.h"

namespace {

using testdb::DbTest;
using Rows_t = std::vector<std::string>;

class SessionTest : public DbTest {
 protected:
  std::string Net() const { return db_->Net(); }
  int Connect(const char* schema) {
    return Sql_Connect(db_->Login().c_str(), db_->Password().c_str(), Net().c_str(), schema);
  }
};

// What the session does with the embedded database as its vehicle.
class SessionSqliteTest : public SessionTest {};
// What only the server has: passwords, roles, privileges.
class SessionPgTest : public SessionTest {};

const char kPnrIns[] = "insert into Hrs300Pnr (PnrNum,PnrNam,PnrSta) values (:b0,:b1,:b2)";
const char kKa2Cur[] =
    "select TO_CHAR(Ka2Dtm,'yyyymmdd') ,Ka2Ttp ,Ka2Dtm  from Hrs133Ka2 where (((Ka2Num=:b0 and "
    "Ka2Dtm>TO_DATE(:b1,'yyyymmdd')) and Ka2Dtm<=TO_DATE(:b2,'yyyymmdd')) and Ka2Sta<4) order by Ka2Dtm";
const char kKalCur[] =
    "select TO_CHAR(KalDtm,'yyyymmdd') ,KalTtp ,KalDtm  from HRSYSTEM.Hrs133Kal where (((KalNum=:b0 and "
    "KalDtm>TO_DATE(:b1,'yyyymmdd')) and KalDtm<=TO_DATE(:b2,'yyyymmdd')) and KalSta<4) order by KalDtm";

int Pnr_Ins(const char* num) {
  int32_t sta = 1;
  return Sql_Exec(kPnrIns, {SqlStr(num, 9), SqlStr("N", 2), SqlInt(&sta)});
}

TEST_P(SessionSqliteTest, ConnectFailures) {
  const struct {
    std::string net;
    int32_t code;
  } cases[] = {
      {"sqlite:" + dir_.path() + "/missing", -12154},  // no such directory
      {"sqlite:" + dir_.file("HRSYSTEM.db"), -12154},  // a file, not a directory
      {"sqlite:", -12154},
      {"oracle:PROD", -12154},                         // no such backend
      {"PROD", -12154},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sql_Connect("dayset", "secret", c.net.c_str(), "HRSYSTEM"), c.code) << c.net;
  }
  // Nothing was created on the way.
  std::string out;
  testdb::RunCommand("ls " + dir_.path(), &out);
  EXPECT_EQ(out.find("missing"), std::string::npos);
}

// Schemas that do not exist or are no plain identifiers: refused before any
// statement, or by the switch; nothing is created.
TEST_P(SessionTest, SchemaRefusals) {
  const struct {
    const char* schema;
    int32_t code;
  } cases[] = {
      {"HRNONE", -1435},
      {"", kSqlBadOption},
      {"HRSYSTEM;DROP", kSqlBadOption},
      {"X' OR '1'='1", kSqlBadOption},
      {"HR SYSTEM", kSqlBadOption},
      {"1HR", kSqlBadOption},
      {"\"HRSYSTEM\"", kSqlBadOption},
      {"HRSYSTEM\n", kSqlBadOption},
  };
  for (const auto& c : cases) EXPECT_EQ(Connect(c.schema), c.code) << c.schema;
  if (GetParam() == testdb::Backend::kSqlite) {
    EXPECT_FALSE(std::filesystem::exists(dir_.file("HRNONE.db")));
  } else {
    EXPECT_EQ(db_->Rows("HRSYSTEM", "select nspname from pg_namespace where nspname like 'hr%' order by 1"),
              Rows_t{"hrsystem"});
  }
}

TEST_P(SessionSqliteTest, TextLimits) {
  // 100 characters of connect text are the most; longer is refused, not cut.
  std::string net = Net();
  const std::string login = "u";
  const std::string pass(100 - login.size() - 2 - net.size(), 'p');
  EXPECT_EQ(Sql_Connect(login.c_str(), pass.c_str(), net.c_str(), "HRSYSTEM"), 0);
  const std::string longer = pass + "p";
  EXPECT_EQ(Sql_Connect(login.c_str(), longer.c_str(), net.c_str(), "HRSYSTEM"), kSqlTextTooLong);
  // A schema of 67 characters is taken (and missing), 68 is refused.
  const std::string s67 = "H" + std::string(66, 'X');
  EXPECT_EQ(Sql_Connect("u", "p", net.c_str(), s67.c_str()), -1435);
  const std::string s68 = s67 + "X";
  EXPECT_EQ(Sql_Connect("u", "p", net.c_str(), s68.c_str()), kSqlTextTooLong);
}

TEST_P(SessionSqliteTest, PasswordAndLoginAreNotChecked) {
  EXPECT_EQ(Sql_Connect("", "", Net().c_str(), "HRSYSTEM"), 0);
  EXPECT_EQ(Sql_Connect("other", "p@ss/word", Net().c_str(), "HRSYSTEM"), 0);
  EXPECT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
}

// What standard error says of a failed connect to the embedded database
// names what is missing, as the net service name gives it; Sql_Connect's
// own codes agree.
TEST_P(SessionSqliteTest, ConnectCauseNamesWhatIsMissing) {
  std::filesystem::create_directory(dir_.file("nodb"));
  const std::string missing = "sqlite:" + dir_.file("missing");
  const std::string esc = "sqlite:" + dir_.file("m\033[2J");
  const std::string nodb = "sqlite:" + dir_.file("nodb");
  const std::string dot = "sqlite:" + dir_.path();
  const struct {
    std::string net;
    const char* schema;
    int32_t code;
    std::string cause;
  } cases[] = {
      {missing, "HRSYSTEM", -12154,
       "Netzdienstname unbekannt: das Verzeichnis \"" + dir_.file("missing") + "\" der eingebetteten Datenbank fehlt"},
      {esc, "HRSYSTEM", -12154,
       "Netzdienstname unbekannt: das Verzeichnis \"" + dir_.file("m\\x1b[2J") +
           "\" der eingebetteten Datenbank fehlt"},
      {nodb, "HRSYSTEM", -1435,
       std::string(Sql_Connect_Reason(-1435)) + ": die Schemadatei \"" + dir_.file("nodb") + "/HRSYSTEM.db\" fehlt"},
      {dot, "HRNONE", -1435,
       std::string(Sql_Connect_Reason(-1435)) + ": die Schemadatei \"" + dir_.file("HRNONE.db") + "\" fehlt"},
      // Nothing is missing: the general words alone.
      {dot, "", kSqlBadOption, Sql_Connect_Reason(kSqlBadOption)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sql_Connect("dayset", "secret", c.net.c_str(), c.schema), c.code) << c.net;
    EXPECT_EQ(Sql_Connect_Cause(c.code, c.net.c_str(), c.schema), c.cause) << c.net;
  }
  // Another backend's name gets the general words.
  EXPECT_EQ(Sql_Connect_Cause(-12154, "oracle:PROD", "HRSYSTEM"), Sql_Connect_Reason(-12154));
}

// The embedded lock wait lasts its time, and then gives up (-54).
TEST_P(SessionSqliteTest, LockWaitLastsItsTime) {
  SqlOptions wait = Sql_Options_Default();
  wait.lock_wait_ms = 400;
  ASSERT_EQ(Reconnect("HRSYSTEM", wait), 0);
  std::unique_ptr<testdb::TableLock> lock = db_->Lock("HRSYSTEM", "Hrs300Pnr");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Pnr_Ins("00000001"), -54);
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, std::chrono::milliseconds(400));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  lock->Release();
}

TEST_P(SessionTest, CommitReturnsOne) {
  EXPECT_EQ(Sql_Commit(), 1);  // nothing to commit
  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  faults::Add("", faults::kCommit, 1, -3113);
  EXPECT_EQ(Sql_Commit(), 0);
  EXPECT_EQ(Sql_Commit(), 1);
}

TEST_P(SessionTest, DynamicStatement) {
  EXPECT_EQ(Sql_Dyn_Prepare("ALTER SESSION SET CURRENT_SCHEMA="), -922);
  EXPECT_EQ(Sql_Dyn_Execute(), -922);
  EXPECT_EQ(Sql_Dyn_Prepare("ALTER SESSION SET CURRENT_SCHEMA=HRSYSTEM;DROP"), -922);
  EXPECT_EQ(Sql_Dyn_Execute(), -922);
  EXPECT_EQ(Sql_Dyn_Prepare("alter session set current_schema = hrsystem"), 0);
  EXPECT_EQ(Sql_Dyn_Execute(), 0);
  EXPECT_EQ(Sql_Dyn_Prepare("ALTER SESSION SET CURRENT_SCHEMA=HRNONE"), 0);
  EXPECT_EQ(Sql_Dyn_Execute(), -1435);
  // Other statements run as they are.
  EXPECT_EQ(Sql_Dyn_Prepare("insert into Hrs300Pnr (PnrNum,PnrNam,PnrSta) values ('00000007','D',1)"), 0);
  EXPECT_EQ(Sql_Dyn_Execute(), 0);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000007"});
  // A fault on the switch makes the connect fail with its code.
  faults::Add("CURRENT_SCHEMA", faults::kDynamic, 1, -1017);
  EXPECT_EQ(Connect("HRSYSTEM"), -1017);
}

// A client schema: unqualified names resolve in HRCLIENT, HRSYSTEM. names
// in HRSYSTEM; a table missing in the client schema is missing, even though
// HRSYSTEM has it.
TEST_P(SessionTest, ClientSchemaResolution) {
  db_->CreateSchema("HRCLIENT");
  db_->DropTable("HRCLIENT", "Hrs133Ka2");
  Exec("insert into Hrs133Kal values ('001'," + D("2026-12-09") + ",'A','A','A',100,NULL,1)");
  Exec("insert into Hrs133Ka2 values ('001'," + D("2026-12-09") + ",'S','S','S',100,NULL,1)");
  ASSERT_EQ(Reconnect("HRCLIENT"), 0);

  const SqlVars in = {SqlStr("001", 4), SqlStr("20261201", 11), SqlStr("20261231", 11)};
  EXPECT_EQ(Sql_Cur_Open(kKa2Cur, in), -942);
  ASSERT_EQ(Sql_Cur_Open(kKalCur, in), 0);
  char day[11], ttp[4], dflt[30];
  int16_t ind;
  EXPECT_EQ(Sql_Cur_Fetch(kKalCur, {SqlStr(day, 11, &ind), SqlStr(ttp, 4, &ind), SqlStr(dflt, 30, &ind)}), 0);
  EXPECT_STREQ(day, "20261209");
  EXPECT_STREQ(ttp, "A");
  EXPECT_EQ(Sql_Cur_Fetch(kKalCur, {SqlStr(day, 11, &ind), SqlStr(ttp, 4, &ind), SqlStr(dflt, 30, &ind)}), 1403);
  EXPECT_EQ(Sql_Cur_Close(kKalCur), 0);

  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(db_->Rows("HRCLIENT", "select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"0"});

  // Back in HRSYSTEM the same unqualified texts address HRSYSTEM.db.
  ASSERT_EQ(Sql_Dyn_Prepare("ALTER SESSION SET CURRENT_SCHEMA=HRSYSTEM"), 0);
  ASSERT_EQ(Sql_Dyn_Execute(), 0);
  ASSERT_EQ(Sql_Cur_Open(kKa2Cur, in), 0);
  EXPECT_EQ(Sql_Cur_Fetch(kKa2Cur, {SqlStr(day, 11, &ind), SqlStr(ttp, 4, &ind), SqlStr(dflt, 30, &ind)}), 0);
  EXPECT_STREQ(ttp, "S");
  EXPECT_EQ(Sql_Cur_Close(kKa2Cur), 0);
}

TEST_P(SessionPgTest, ConnectFailures) {
  const std::string net = Net();  // postgresql://HOST:PORT/NAME
  const std::string server = net.substr(0, net.rfind('/'));
  const std::string address = server.substr(std::strlen("postgresql://"));
  const struct {
    const char* what;
    std::string login, pass, net;
  } cases[] = {
      {"wrong password", db_->Login(), "wrong", net},
      {"unknown role", "nosuchrole", db_->Password(), net},
      {"unknown database", db_->Login(), db_->Password(), server + "/nosuchdb"},
      {"no server", db_->Login(), db_->Password(), "postgresql://127.0.0.1:1/" + db_->Name()},
      {"unknown service", db_->Login(), db_->Password(), "pg:nosuchservice"},
      // Refused before connecting, the right password notwithstanding: the
      // net service name goes into the log on a connect failure.
      {"password in the name", db_->Login(), db_->Password(),
       "postgresql://" + db_->Login() + ":" + db_->Password() + "@" + address + "/" + db_->Name()},
      {"password parameter", db_->Login(), db_->Password(), net + "?password=" + db_->Password()},
  };
  for (const auto& c : cases) {
    EXPECT_LT(Sql_Connect(c.login.c_str(), c.pass.c_str(), c.net.c_str(), "HRSYSTEM"), 0) << c.what;
    EXPECT_EQ(Pnr_Ins("00000001"), -1012) << c.what;  // no session
  }
  EXPECT_EQ(Connect("HRSYSTEM"), 0);
}

// The job's role reads and writes the tables and can do nothing else; the
// job needs nothing else (every test here runs it as that role).
TEST_P(SessionPgTest, JobRoleMayNotCreate) {
  const char* const ddl[] = {
      "create table Hrs999New (A integer)",
      "create table public.Hrs999New (A integer)",
      "create temporary table Hrs999New (A integer)",
      "create schema hrnew",
      "create index Hrs300Pnr_Nam on Hrs300Pnr (PnrNam)",
      "drop table Hrs332Urv",
  };
  for (const char* text : ddl) {
    int rc = Sql_Dyn_Prepare(text);
    if (rc == 0) rc = Sql_Dyn_Execute();
    EXPECT_LT(rc, 0) << text;
  }
  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
  // It owns nothing, nothing was made, and it may not make roles or databases.
  const std::string role = "(select oid from pg_roles where rolname = '" + db_->Login() + "')";
  const std::string owned = "(select count(*) from pg_class where relowner = " + role + " or relname = 'hrs999new')";
  const std::string schemas =
      "(select count(*) from pg_namespace where nspowner = " + role + " or nspname = 'hrnew')";
  EXPECT_EQ(db_->Rows("HRSYSTEM", "select " + owned + ", " + schemas +
                                      ", rolsuper, rolcreatedb, rolcreaterole from pg_roles where oid = " + role),
            Rows_t{"0|0|f|f|f"});
  EXPECT_EQ(Rows("select count(*) from Hrs332Urv"), Rows_t{"0"});
}

INSTANTIATE_TEST_SUITE_P(, SessionTest, testdb::EveryBackend(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, SessionSqliteTest, testdb::OnlySqlite(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, SessionPgTest, testdb::OnlyPostgres(), testdb::BackendName);

TEST(StrUpper, OnlyAsciiLetters) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"hrsystem", "HRSYSTEM"},
      {"Hr_Client$1#", "HR_CLIENT$1#"},
      {"az AZ 09 -.;'", "AZ AZ 09 -.;'"},
      {"m\xfcller \xe4\xf6\xdf", "M\xfcLLER \xe4\xf6\xdf"},
      {"`{@[", "`{@["},
  };
  for (const auto& c : cases) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s", c.in);
    EXPECT_EQ(Str_Upper(buf), buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
}

}  // namespace

// The job's session: connect, schema switch and its refusals, commit, and
// name resolution between HRSYSTEM and a client schema.
#include "db/session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/testdb.h"
#include "db/sqlrt.h"

namespace {

using testdb::DbTest;
using Rows_t = std::vector<std::string>;

class SessionTest : public DbTest {
 protected:
  std::string Net() const { return "sqlite:" + dir_.path(); }
};

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

TEST_F(SessionTest, ConnectFailures) {
  const struct {
    std::string net;
    const char* schema;
    int32_t code;
  } cases[] = {
      {"sqlite:" + dir_.path() + "/missing", "HRSYSTEM", -12154},  // no such directory
      {"sqlite:" + dir_.file("HRSYSTEM.db"), "HRSYSTEM", -12154},  // a file, not a directory
      {"sqlite:", "HRSYSTEM", -12154},
      {"oracle:PROD", "HRSYSTEM", -12154},                          // no such backend
      {"PROD", "HRSYSTEM", -12154},
      {Net(), "HRNONE", -1435},                                     // no such schema file
      {Net(), "", kSqlSchemaInvalid},
      {Net(), "HRSYSTEM;DROP", kSqlSchemaInvalid},
      {Net(), "X' OR '1'='1", kSqlSchemaInvalid},
      {Net(), "HR SYSTEM", kSqlSchemaInvalid},
      {Net(), "1HR", kSqlSchemaInvalid},
      {Net(), "\"HRSYSTEM\"", kSqlSchemaInvalid},
      {Net(), "HRSYSTEM\n", kSqlSchemaInvalid},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sql_Connect("dayset", "secret", c.net.c_str(), c.schema), c.code) << c.net << " " << c.schema;
  }
  // Nothing was created on the way.
  std::string out;
  testdb::RunCommand("ls " + dir_.path(), &out);
  EXPECT_EQ(out.find("missing"), std::string::npos);
  EXPECT_EQ(out.find("HRNONE"), std::string::npos);
}

TEST_F(SessionTest, TextLimits) {
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

TEST_F(SessionTest, PasswordAndLoginAreNotChecked) {
  EXPECT_EQ(Sql_Connect("", "", Net().c_str(), "HRSYSTEM"), 0);
  EXPECT_EQ(Sql_Connect("other", "p@ss/word", Net().c_str(), "HRSYSTEM"), 0);
  EXPECT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
}

TEST_F(SessionTest, CommitReturnsOne) {
  EXPECT_EQ(Sql_Commit(), 1);  // nothing to commit
  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(Sql_Commit(), 1);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  Sql_Fault_Add("", SqlOp::kCommit, 1, -3113);
  EXPECT_EQ(Sql_Commit(), 0);
  EXPECT_EQ(Sql_Commit(), 1);
}

TEST_F(SessionTest, DynamicStatement) {
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
  Sql_Fault_Add("CURRENT_SCHEMA", SqlOp::kDynamic, 1, -1017);
  EXPECT_EQ(Sql_Connect("u", "p", Net().c_str(), "HRSYSTEM"), -1017);
}

// A client schema: unqualified names resolve in HRCLIENT.db, HRSYSTEM.
// names in HRSYSTEM.db; a table missing in the client schema is missing,
// even though HRSYSTEM.db has it.
TEST_F(SessionTest, ClientSchemaResolution) {
  testdb::CreateSchemaFile(dir_.path(), "HRCLIENT");
  testdb::ExecSql(db("HRCLIENT"), "drop table Hrs133Ka2");
  Exec("insert into Hrs133Kal values ('001',julianday('2026-12-09'),'A','A','A',100,NULL,1)");
  Exec("insert into Hrs133Ka2 values ('001',julianday('2026-12-09'),'S','S','S',100,NULL,1)");
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
  EXPECT_EQ(testdb::QueryRows(db("HRCLIENT"), "select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"0"});

  // Back in HRSYSTEM the same unqualified texts address HRSYSTEM.db.
  ASSERT_EQ(Sql_Dyn_Prepare("ALTER SESSION SET CURRENT_SCHEMA=HRSYSTEM"), 0);
  ASSERT_EQ(Sql_Dyn_Execute(), 0);
  ASSERT_EQ(Sql_Cur_Open(kKa2Cur, in), 0);
  EXPECT_EQ(Sql_Cur_Fetch(kKa2Cur, {SqlStr(day, 11, &ind), SqlStr(ttp, 4, &ind), SqlStr(dflt, 30, &ind)}), 0);
  EXPECT_STREQ(ttp, "S");
  EXPECT_EQ(Sql_Cur_Close(kKa2Cur), 0);
}

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

// Contract of the SQL runtime on the embedded database: the status codes,
// values, NULLs and indicators, cursors across commits and the Oracle
// functions the job's statements use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/sqlrt.h"
#include "../support/testdb.h"

namespace {

using testdb::DbTest;

class SqlRtTest : public DbTest {};

const char kBakIns[] =
    "insert into HRSYSTEM.Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) values "
    "(TO_DATE(:b0,'yyyymmdd'),:b1,:b2,:b3,:b4,:b5,:b6,:b7,sysdate)";
const char kBakLst[] =
    "select TO_CHAR(NVL(max(BakDtm),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak";
const char kBakNxt[] =
    "select TO_CHAR((BakDtm+1),'yyyymmdd') ,TO_NUMBER(TO_CHAR((BakDtm+1),'yyyy')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'mm')) ,TO_NUMBER(TO_CHAR((BakDtm+1),'dd')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'iw')) ,TO_NUMBER(TO_CHAR((BakDtm+1),'d')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'ddd')) into :b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  from "
    "HRSYSTEM.Hrs133Bak where BakDtm=TO_DATE(:b0,'yyyymmdd')";

int Bak_Ins(const char* day) {
  int32_t v[7] = {1, 2, 3, 4, 5, 6, 7};
  return Sql_Exec(kBakIns, {SqlStr(day, 11), SqlInt(&v[0]), SqlInt(&v[1]), SqlInt(&v[2]), SqlInt(&v[3]),
                            SqlInt(&v[4]), SqlInt(&v[5]), SqlInt(&v[6])});
}

TEST_F(SqlRtTest, SelectIntoEmptyTableGivesSysdate) {
  char day[11] = "x";
  int16_t ind = 7;
  EXPECT_EQ(Sql_Exec(kBakLst, {SqlStr(day, sizeof day, &ind)}), 0);
  EXPECT_STREQ(day, "20261208");
  EXPECT_EQ(ind, 0);
}

TEST_F(SqlRtTest, InsertThenNextDay) {
  ASSERT_EQ(Bak_Ins("20261231"), 0);
  char day[11];
  int16_t i[7];
  int32_t n[6];
  EXPECT_EQ(Sql_Exec(kBakNxt, {SqlStr(day, 11, &i[0]), SqlInt(&n[0], &i[1]), SqlInt(&n[1], &i[2]),
                               SqlInt(&n[2], &i[3]), SqlInt(&n[3], &i[4]), SqlInt(&n[4], &i[5]),
                               SqlInt(&n[5], &i[6]), SqlStr("20261231", 11)}),
            0);
  EXPECT_STREQ(day, "20270101");
  EXPECT_EQ(n[0], 2027);
  EXPECT_EQ(n[1], 1);
  EXPECT_EQ(n[2], 1);
  EXPECT_EQ(n[3], 53);  // 2027-01-01 is a Friday of ISO week 53 of 2026
  EXPECT_EQ(n[4], 6);   // AMERICA: Sunday 1, so Friday 6
  EXPECT_EQ(n[5], 1);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select date(BakDtm), time(BakDat) from Hrs133Bak"),
            std::vector<std::string>{"2026-12-31|10:00:00"});
}

}  // namespace

namespace {

const char kBsvCur[] =
    "select BsvPnr ,TO_CHAR(BsvGvo,'yyyymmdd') ,TO_CHAR(BsvGbi,'yyyymmdd') ,BsvKal ,BsvAkr ,BsvAbr ,PnrNam ,BsvGvo  "
    "from Hrs310Bsv ,Hrs300Pnr where (((((BsvPnr>=:b0 and BsvPnr<=:b1) and (BsvGbi is null  or "
    "BsvGbi>=TO_DATE(sysdate))) and BsvPnr=PnrNum) and BsvSta<4) and PnrSta<4) order by BsvPnr asc ,BsvGvo desc";
const char kUrvIns[] = "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,:b1)";

TEST_F(SqlRtTest, CursorSurvivesCommits) {
  for (int p = 1; p <= 5; ++p) {
    Exec("insert into Hrs300Pnr values ('0000000" + std::to_string(p) + "','Name " + std::to_string(p) +
         "',1);insert into Hrs310Bsv values ('0000000" + std::to_string(p) +
         "',julianday('2020-01-01'),NULL,'001','AK','AB',1);");
  }
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  char pnr[9], gvo[11], gbi[11], kal[4], akr[6], abr[6], nam[51], dflt[30];
  int16_t ind;
  int n = 0;
  while (Sql_Cur_Fetch(kBsvCur, {SqlStr(pnr, 9, &ind), SqlStr(gvo, 11, &ind), SqlStr(gbi, 11, &ind),
                                  SqlStr(kal, 4, &ind), SqlStr(akr, 6, &ind), SqlStr(abr, 6, &ind),
                                  SqlStr(nam, 51, &ind), SqlStr(dflt, 30, &ind)}) == 0) {
    ++n;
    EXPECT_STREQ(gvo, "20200101");
    EXPECT_STREQ(dflt, "01-JAN-20");
    for (int32_t y = 2020; y <= 2022; ++y) EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr(pnr, 9), SqlInt(&y)}), 0);
    EXPECT_EQ(Sql_Rt_Commit(), 0);
  }
  EXPECT_EQ(SqlCode, 1403);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(Sql_Cur_Close(kBsvCur), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs332Urv"), std::vector<std::string>{"15"});
}

}  // namespace

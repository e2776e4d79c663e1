// Contract of the SQL runtime on every backend: the status codes, values,
// NULLs and indicators, cursors across commits, transactions, locks and the
// Oracle functions the job's statements use.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../support/faultsession.h"
#include "../support/testdb.h"
#include "db/session.h"
#include "db/sqlrt.h"

namespace {

using testdb::DbTest;
using Rows_t = std::vector<std::string>;

class SqlRtTest : public DbTest {};
// What one backend does of its own.
class SqlRtSqliteTest : public DbTest {};
class SqlRtPgTest : public DbTest {
 protected:
  // From here on the server counts the statements that write `table` on
  // `events` ("insert", "insert or update"); a failed one's count is undone
  // with it. Statements() gives the count so far.
  void Count_Statements(const std::string& events, const std::string& table) {
    Exec("create table dayset_stmts (n int); create function hrsystem.dayset_count() returns trigger "
         "language plpgsql security definer as $$begin insert into hrsystem.dayset_stmts values (1); "
         "return null; end$$; create trigger dayset_count after " +
         events + " on hrsystem." + table + " for each statement execute function hrsystem.dayset_count()");
  }
  long Statements() { return std::stol(Rows("select count(*) from dayset_stmts")[0]); }
  // The time-group rows that mode `mode` ("B" batched, "S" one by one)
  // wrote, by person (its letter cut) and day: `columns` of those that
  // `where` (ending in "and") picks.
  Rows_t Mode_Rows(const std::string& columns, const char* mode, const std::string& where = "") {
    return Rows("select substr(ZtgPnr, 2), to_char(ZtgVon, 'yyyymmdd'), " + columns + " from Hrs329Ztg where " +
                where + "ZtgPnr like '" + mode + "%' order by 1, 2");
  }
};

// Statement texts as the phases write them.
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
const char kBsvCur[] =
    "select BsvPnr ,TO_CHAR(BsvGvo,'yyyymmdd') ,TO_CHAR(BsvGbi,'yyyymmdd') ,BsvKal ,BsvAkr ,BsvAbr ,PnrNam ,BsvGvo  "
    "from Hrs310Bsv ,Hrs300Pnr where (((((BsvPnr>=:b0 and BsvPnr<=:b1) and (BsvGbi is null  or "
    "BsvGbi>=TO_DATE(sysdate))) and BsvPnr=PnrNum) and BsvSta<4) and PnrSta<4) order by BsvPnr asc ,BsvGvo desc";
// One row of the employment cursor into b, as the person phase fetches it.
int Bsv_Fetch(char (&b)[8][51]) {
  int16_t ind;
  return Sql_Cur_Fetch(kBsvCur, {SqlStr(b[0], 9, &ind), SqlStr(b[1], 11, &ind), SqlStr(b[2], 11, &ind),
                                 SqlStr(b[3], 4, &ind), SqlStr(b[4], 6, &ind), SqlStr(b[5], 6, &ind),
                                 SqlStr(b[6], 51, &ind), SqlStr(b[7], 30, &ind)});
}
const char kTagIns[] =
    "insert into Hrs327Tag (TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
    "(:b0,TO_Date(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),TO_DATE(:b3,'yyyymmddHH24MISS'),TO_DATE(:b4,'yyyymmdd'),"
    "TO_DATE(:b5,'yyyymmddHH24MISS'),sysdate)";
const char kTagSel[] =
    "select TagPnr ,TO_CHAR(TagTag,'yyyymmdd') into :b0:b1,:b2:b3  from Hrs327Tag where (TagPnr=:b0 and "
    "TagTag=TO_DATE(:b2,'yyyymmdd'))";
const char kZuoGet[] =
    "select (MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra into "
    ":b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr where "
    "(((((ZuoPnr=:b14 and ZuoPnr=TagPnr) and ZuoGvo<=TO_DATE(:b15,'yyyymmdd')) and (ZuoGbi>=TO_DATE(:b15,'yyyymmdd') "
    "or ZuoGbi is null )) and TagTag=TO_DATE(:b15,'yyyymmdd')) and AgrNum=ZuoAgr)";
const char kUrvIns[] = "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,:b1)";
const char kUrvMax[] = "select max(UrvJhr) into :b0:b1  from Hrs332Urv where UrvPnr=:b2";
const char kPnrIns[] = "insert into Hrs300Pnr (PnrNum,PnrNam,PnrSta) values (:b0,:b1:b2,:b3)";
const char kPnrNam[] = "select PnrNam into :b0:b1  from Hrs300Pnr where PnrNum=:b2";
const char kPnrNamNoInd[] = "select PnrNam into :b0  from Hrs300Pnr where PnrNum=:b1";
const char kPnrAll[] = "select PnrNum into :b0:b1  from Hrs300Pnr";

int Bak_Ins(const char* day) {
  int32_t v[7] = {1, 2, 3, 4, 5, 6, 7};
  return Sql_Exec(kBakIns, {SqlStr(day, 11), SqlInt(&v[0]), SqlInt(&v[1]), SqlInt(&v[2]), SqlInt(&v[3]),
                            SqlInt(&v[4]), SqlInt(&v[5]), SqlInt(&v[6])});
}

int Tag_Ins(const char* pnr, const char* day) {
  const std::string from = std::string(day) + "000000";
  return Sql_Exec(kTagIns, {SqlStr(pnr, 9), SqlStr(day, 11), SqlStr(day, 11), SqlStr(from.c_str(), 15),
                            SqlStr(day, 11), SqlStr(from.c_str(), 15)});
}

int Pnr_Ins(const char* num, const char* name, int16_t ind = 0) {
  int32_t sta = 1;
  int16_t i = ind;
  return Sql_Exec(kPnrIns, {SqlStr(num, 9), SqlStr(name, 51, &i), SqlInt(&sta)});
}

TEST_P(SqlRtTest, SelectIntoEmptyTableGivesSysdate) {
  NEEDS_FIXED_CLOCK();
  char day[11] = "x";
  int16_t ind = 7;
  EXPECT_EQ(Sql_Exec(kBakLst, {SqlStr(day, sizeof day, &ind)}), 0);
  EXPECT_STREQ(day, "20261208");
  EXPECT_EQ(ind, 0);
}

TEST_P(SqlRtTest, NextDayAttributesAndSysdate) {
  NEEDS_FIXED_CLOCK();
  ASSERT_EQ(Bak_Ins("20261231"), 0);
  char day[11];
  int16_t i[7];
  int32_t n[6];
  EXPECT_EQ(Sql_Exec(kBakNxt, {SqlStr(day, 11, &i[0]), SqlInt(&n[0], &i[1]), SqlInt(&n[1], &i[2]),
                               SqlInt(&n[2], &i[3]), SqlInt(&n[3], &i[4]), SqlInt(&n[4], &i[5]),
                               SqlInt(&n[5], &i[6]), SqlStr("20261231", 11)}),
            0);
  EXPECT_STREQ(day, "20270101");
  const int32_t expect[6] = {2027, 1, 1, 53, 6, 1};  // Friday of ISO week 53; AMERICA: Friday is 6
  for (int k = 0; k < 6; ++k) EXPECT_EQ(n[k], expect[k]) << k;
  // A day without a row: 1403, outputs untouched.
  std::strcpy(day, "keep");
  EXPECT_EQ(Sql_Exec(kBakNxt, {SqlStr(day, 11, &i[0]), SqlInt(&n[0], &i[1]), SqlInt(&n[1], &i[2]),
                               SqlInt(&n[2], &i[3]), SqlInt(&n[3], &i[4]), SqlInt(&n[4], &i[5]),
                               SqlInt(&n[5], &i[6]), SqlStr("20270101", 11)}),
            1403);
  EXPECT_STREQ(day, "keep");
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  // A date at midnight; sysdate is the job's clock with the time of day.
  EXPECT_EQ(Rows("select " + db_->DateTime("BakDtm") + ", " + db_->DateTime("BakDat") + " from Hrs133Bak"),
            Rows_t{"2026-12-31 00:00:00|2026-12-08 10:00:00"});
}

TEST_P(SqlRtTest, StringOutputsAreCutAndIndicated) {
  ASSERT_EQ(Pnr_Ins("00000001", "Abcdefghij"), 0);
  char small[5] = "????";
  int16_t ind = 0;
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(small, sizeof small, &ind), SqlStr("00000001", 9)}), 0);
  EXPECT_STREQ(small, "Abcd");
  EXPECT_EQ(ind, 10);  // the full length
  char exact[11];
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(exact, sizeof exact, &ind), SqlStr("00000001", 9)}), 0);
  EXPECT_STREQ(exact, "Abcdefghij");
  EXPECT_EQ(ind, 0);
  // Without an indicator the cut is silent too.
  EXPECT_EQ(Sql_Exec(kPnrNamNoInd, {SqlStr(small, sizeof small), SqlStr("00000001", 9)}), 0);
  EXPECT_STREQ(small, "Abcd");
}

TEST_P(SqlRtTest, NullsAndEmptyTexts) {
  ASSERT_EQ(Pnr_Ins("00000001", ""), 0);             // empty text: NULL
  ASSERT_EQ(Pnr_Ins("00000002", "Name", -1), 0);     // indicator -1: NULL
  ASSERT_EQ(Pnr_Ins("00000003", "Name"), 0);
  // An input buffer without a NUL is read no further than its size.
  const char unterminated[4] = {'0', '0', '0', '4'};
  int32_t sta = 1;
  int16_t zero = 0;
  ASSERT_EQ(Sql_Exec(kPnrIns, {SqlStr(unterminated, 4), SqlStr("X", 2, &zero), SqlInt(&sta)}), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNum, PnrNam from Hrs300Pnr order by PnrNum"),
            (Rows_t{"00000001|NULL", "00000002|NULL", "00000003|Name", "0004|X"}));

  char name[51] = "untouched";
  int16_t ind = 0;
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(name, sizeof name, &ind), SqlStr("00000001", 9)}), 0);
  EXPECT_EQ(ind, -1);
  EXPECT_STREQ(name, "untouched");
  // NULL into a variable without indicator.
  EXPECT_EQ(Sql_Exec(kPnrNamNoInd, {SqlStr(name, sizeof name), SqlStr("00000002", 9)}), -1405);
  // A stored empty text (written by another program) reads as NULL.
  Exec("update Hrs300Pnr set PnrNam='' where PnrNum='00000003'");
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(name, sizeof name, &ind), SqlStr("00000003", 9)}), 0);
  EXPECT_EQ(ind, -1);
  // max() over no rows is NULL.
  int32_t year = 0;
  EXPECT_EQ(Sql_Exec(kUrvMax, {SqlInt(&year, &ind), SqlStr("00000001", 9)}), 0);
  EXPECT_EQ(ind, -1);
}

TEST_P(SqlRtTest, StatusCodes) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  ASSERT_EQ(Pnr_Ins("00000002", "B"), 0);
  char num[9] = "keep";
  int16_t ind;
  EXPECT_EQ(Sql_Exec(kPnrAll, {SqlStr(num, sizeof num, &ind)}), -2112);
  char name[51];
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(name, sizeof name, &ind), SqlStr("00000009", 9)}), 1403);
  EXPECT_EQ(SqlCode, 1403);
  // A unique key violation undoes only that statement, and so do statements
  // that fail as they are first prepared, in the middle of the transaction.
  EXPECT_EQ(Pnr_Ins("00000001", "again"), -1);
  EXPECT_EQ(Sql_Exec("insert into Hrs999Xyz (A) values (:b0)", {SqlStr("1", 2)}), -942);
  EXPECT_EQ(Sql_Exec("insert into Hrs300Pnr (PnrNum,PnrXyz) values (:b0,:b1)", {SqlStr("1", 2), SqlStr("1", 2)}),
            -904);
  EXPECT_EQ(Sql_Exec("update Hrs300Pnr  set PnrXyz=:b0 where PnrNum=:b1", {SqlStr("1", 2), SqlStr("1", 2)}), -904);
  EXPECT_EQ(Sql_Exec("select PnrXyz into :b0:b1  from Hrs300Pnr", {SqlStr(name, 51, &ind)}), -904);
  EXPECT_EQ(Sql_Exec("insert inot Hrs300Pnr values (1)"), -900);
  EXPECT_EQ(Pnr_Ins("00000003", "C"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNum, PnrNam from Hrs300Pnr order by 1"),
            (Rows_t{"00000001|A", "00000002|B", "00000003|C"}));
  // Oracle's date error for a date that does not exist; the row is not written.
  EXPECT_EQ(Bak_Ins("20260230"), -1847);
  EXPECT_EQ(Bak_Ins("2026123"), -1861);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs133Bak"), Rows_t{"0"});
  // None of these concerns more than its statement: the session goes on.
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
}

// Table lists with aliases, qualified and unqualified names, and words that
// only look like table positions inside literals.
TEST_P(SqlRtTest, TableNamesInAllPositions) {
  Exec("insert into Hrs300Pnr values ('00000001','from x',1);"
       "insert into Hrs310Bsv values ('00000001'," + D("2020-01-01") + ",NULL,'001','AK','AB',1);");
  int32_t n = 0;
  int16_t ind;
  EXPECT_EQ(Sql_Exec("select count(*) into :b0:b1  from Hrs300Pnr p ,HRSYSTEM.Hrs310Bsv b where "
                     "p.PnrNum=b.BsvPnr and p.PnrNam='from x'",
                     {SqlInt(&n, &ind)}),
            0);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Sql_Exec("update Hrs300Pnr  set PnrNam='update Hrs999Xyz' where PnrNum=:b0", {SqlStr("00000001", 9)}),
            0);
  // The job never deletes, so its role on the server may not; this test does.
  if (testdb::OnServer(GetParam())) Exec("grant delete on Hrs310Bsv to " + db_->Login());
  EXPECT_EQ(Sql_Exec("delete from HRSYSTEM.Hrs310Bsv where BsvPnr=:b0", {SqlStr("00000001", 9)}), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNam, (select count(*) from Hrs310Bsv) from Hrs300Pnr"),
            Rows_t{"update Hrs999Xyz|0"});
}

TEST_P(SqlRtTest, ToDateOfNullIsNull) {
  const char ins[] = "insert into Hrs310Bsv (BsvPnr,BsvGvo,BsvGbi,BsvSta) values "
                     "(:b0,TO_DATE(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),:b3)";
  int32_t v = 1;
  // An empty text is NULL, and TO_DATE(NULL) is NULL, not an error ...
  EXPECT_EQ(Sql_Exec(ins, {SqlStr("00000001", 9), SqlStr("20260101", 11), SqlStr("", 11), SqlInt(&v)}), 0);
  // ... until a NOT NULL column refuses it.
  EXPECT_EQ(Sql_Exec(ins, {SqlStr("00000002", 9), SqlStr("", 11), SqlStr("", 11), SqlInt(&v)}), -1400);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select date(BsvGvo), BsvGbi from Hrs310Bsv"), Rows_t{"2026-01-01|NULL"});
}

TEST_P(SqlRtTest, DateColumnIntoStringHasDefaultForm) {
  ASSERT_EQ(Bak_Ins("20261208"), 0);
  ASSERT_EQ(Bak_Ins("19991231"), 0);
  const char sel[] = "select BakDtm ,TO_CHAR(BakDtm,'yyyymmdd') into :b0:b1,:b2:b3  from HRSYSTEM.Hrs133Bak where "
                     "BakDtm=TO_DATE(:b4,'yyyymmdd')";
  char d1[30], d2[11];
  int16_t i1, i2;
  EXPECT_EQ(Sql_Exec(sel, {SqlStr(d1, 30, &i1), SqlStr(d2, 11, &i2), SqlStr("20261208", 11)}), 0);
  EXPECT_STREQ(d1, "08-DEC-26");
  EXPECT_STREQ(d2, "20261208");
  EXPECT_EQ(Sql_Exec(sel, {SqlStr(d1, 30, &i1), SqlStr(d2, 11, &i2), SqlStr("19991231", 11)}), 0);
  EXPECT_STREQ(d1, "31-DEC-99");
}

// A DATE that another program filled with a number that is no time of the
// years 1 to 9999 fails the row with -1841, whichever way it is read; the
// session goes on.
TEST_P(SqlRtSqliteTest, DateColumnHoldingNoDateFailsTheRow) {
  char d1[30];
  int16_t i1;
  const char all[] = "select BakDtm ,TO_CHAR(BakDtm,'yyyymmdd') ,TO_DATE(BakDtm)  from HRSYSTEM.Hrs133Bak where "
                     "BakDtm>:b0";
  int32_t after = 3000000;
  for (const char* number : {"20261208", "9.2e281"}) {
    Exec(std::string("delete from Hrs133Bak; insert into Hrs133Bak (BakDtm) values (") + number + ")");
    for (const char* text : {"select TO_CHAR(BakDtm,'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak where BakDtm>:b2",
                             "select BakDtm into :b0:b1  from HRSYSTEM.Hrs133Bak where BakDtm>:b2"}) {
      EXPECT_EQ(Sql_Exec(text, {SqlStr(d1, 30, &i1), SqlInt(&after)}), -1841) << text << " " << number;
    }
    EXPECT_EQ(Sql_Cur_Open(all, {SqlInt(&after)}), -1841) << number;
  }
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
}

// A select list's TO_CHAR of a date under the job's formats gives its text
// as the function makes it, whether the text is made in the row or at the
// fetch: NULL, one text for the rows of one day in a UNION, and a text
// that is no date refused where the row's other values are refused, before
// or after it (a text cut to its variable and a number: the next test, on
// every backend).
TEST_P(SqlRtSqliteTest, SelectListDateTextsAsTheFunctionMakesThem) {
  Exec("insert into Hrs327Tag (TagPnr,TagTag,TagUhr,TagBis) values "
       "('1', julianday('2026-12-08'), julianday('2026-12-08 06:00'), NULL), "
       "('2', julianday('2026-12-08'), julianday('2026-12-08 18:30:05'), julianday('2026-12-31')), "
       "('x', julianday('2026-12-09'), 'no date', NULL)");
  const struct {
    const char* text;
    Rows_t rows;  // each fetched row, '|' between columns, NULL as "NULL"; or the open's code
    int open;
  } cursors[] = {
      {"select TO_CHAR(TagUhr,'yyyymmddHH24MISS') ,TO_CHAR(TagBis, 'YYYYMMDD' )  from Hrs327Tag where "
       "TagPnr<'x' order by TagPnr",
       {"20261208060000|NULL", "20261208183005|20261231"}, 0},
      {"select TO_CHAR(TagUhr,'yyyymmdd')  from Hrs327Tag where TagPnr='1' union select "
       "TO_CHAR(TagUhr,'yyyymmdd')  from Hrs327Tag where TagPnr='2'",
       {"20261208"}, 0},
      {"select TO_CHAR(TagUhr,'yyyymmdd') ,MOD(TagPnr,2)  from Hrs327Tag where TagPnr='x'", {}, -1861},
      {"select MOD(TagPnr,2) ,TO_CHAR(TagUhr,'yyyymmdd')  from Hrs327Tag where TagPnr='x'", {}, -1722},
  };
  for (const auto& c : cursors) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(Sql_Cur_Open(c.text), c.open);
    if (c.open != 0) continue;
    Rows_t rows;
    char a[20], b[20];
    int16_t ia, ib;
    const bool two = std::strstr(c.text, "union") == nullptr;
    while (two ? Sql_Cur_Fetch(c.text, {SqlStr(a, sizeof a, &ia), SqlStr(b, sizeof b, &ib)}) == 0
               : Sql_Cur_Fetch(c.text, {SqlStr(a, sizeof a, &ia)}) == 0) {
      rows.push_back(std::string(ia < 0 ? "NULL" : a) + (two ? std::string("|") + (ib < 0 ? "NULL" : b) : ""));
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(Sql_Cur_Close(c.text), 0);
  }
}

// The same on every backend, where a server sends the date and the client
// writes its text: times to the second, NULL, a text cut to its variable
// and a number; and where the server must compare the texts themselves
// (ORDER BY position, DISTINCT), the texts' order and their one row.
TEST_P(SqlRtTest, SelectListDateTextsAreTheFunctionsOnEveryBackend) {
  Exec("insert into Hrs327Tag (TagPnr,TagTag,TagUhr,TagBis) values ('1', " + D("2026-12-08") + ", " +
       D("2026-12-08 18:30:05") + ", NULL), ('2', " + D("2026-11-09") + ", " + D("2026-11-09 06:00:00") + ", " +
       D("2026-12-31") + ")");
  const struct {
    const char* text;
    Rows_t rows;  // '|' between columns, NULL as "NULL"
  } cursors[] = {
      {"select TO_CHAR(TagUhr,'yyyymmddHH24MISS') ,TO_CHAR(TagBis, 'YYYYMMDD' )  from Hrs327Tag order by TagPnr",
       {"20261208183005|NULL", "20261109060000|20261231"}},
      {"select TO_CHAR(TagTag,'dd.mm.yyyy') ,TO_CHAR(TagUhr,'hh24:mi')  from Hrs327Tag order by 1",
       {"08.12.2026|18:30", "09.11.2026|06:00"}},
      {"select distinct TO_CHAR(TagUhr,'yyyy') ,TO_CHAR(TagTag,'yyyy')  from Hrs327Tag", {"2026|2026"}},
  };
  for (const auto& c : cursors) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(Sql_Cur_Open(c.text), 0);
    Rows_t rows;
    char a[20], b[20];
    int16_t ia, ib;
    while (Sql_Cur_Fetch(c.text, {SqlStr(a, sizeof a, &ia), SqlStr(b, sizeof b, &ib)}) == 0) {
      rows.push_back(std::string(ia < 0 ? "NULL" : a) + "|" + (ib < 0 ? "NULL" : b));
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(Sql_Cur_Close(c.text), 0);
  }
  const char into[] = "select TO_CHAR(TagUhr,'yyyymmdd') ,TO_CHAR(TagUhr,'yyyymmddhh24miss') into :b0,:b1:b2  from "
                      "Hrs327Tag where TagPnr='1'";
  int32_t day = 0;
  char cut[5];
  int16_t ind = 0;
  EXPECT_EQ(Sql_Exec(into, {SqlInt(&day), SqlStr(cut, sizeof cut, &ind)}), 0);
  EXPECT_EQ(day, 20261208);
  EXPECT_STREQ(cut, "2026");
  EXPECT_EQ(ind, 14);
}

TEST_P(SqlRtTest, RepeatedPlaceholderAndModulo) {
  // Rotation day of an assignment: (day - start + start day - 1) mod days + 1.
  Exec("insert into Hrs160Agr values ('G1', 7);"
       "insert into Hrs311Zuo (ZuoPnr,ZuoGvo,ZuoGbi,ZuoSdt,ZuoStg,ZuoAgr,ZuoAbt,ZuoKst,ZuoKrt,ZuoKtr,ZuoVra) values "
       "('00000001'," + D("2026-01-01") + ",NULL," + D("2026-12-01") + ",3,'G1','ABT',NULL,'KR','KT','VR');");
  ASSERT_EQ(Tag_Ins("00000001", "20261208"), 0);
  ASSERT_EQ(Tag_Ins("00000001", "20261130"), 0);
  int32_t day = 0;
  char agr[14], abt[16], kst[31] = "keep", krt[5], ktr[7], vra[14];
  int16_t ind[7];
  auto get = [&](const char* d) {
    return Sql_Exec(kZuoGet, {SqlInt(&day, &ind[0]), SqlStr(agr, 14, &ind[1]), SqlStr(abt, 16, &ind[2]),
                              SqlStr(kst, 31, &ind[3]), SqlStr(krt, 5, &ind[4]), SqlStr(ktr, 7, &ind[5]),
                              SqlStr(vra, 14, &ind[6]), SqlStr("00000001", 9), SqlStr(d, 11), SqlStr(d, 11),
                              SqlStr(d, 11)});
  };
  EXPECT_EQ(get("20261208"), 0);
  EXPECT_EQ(day, 3);  // (7 + 3 - 1) mod 7 + 1
  EXPECT_STREQ(agr, "G1");
  EXPECT_EQ(ind[3], -1);
  EXPECT_STREQ(kst, "keep");
  // The day before the rotation's start date.
  EXPECT_EQ(get("20261130"), 0);
  EXPECT_EQ(day, 2);  // mod(-1 + 3 - 1, 7) + 1
  EXPECT_EQ(get("20261209"), 1403);  // no day record
}

TEST_P(SqlRtTest, OracleArithmetic) {
  const char mod[] = "select MOD(:b2,:b3) into :b0:b1  from dual";
  const struct {
    int32_t m, n, expect;
  } cases[] = {{7, 3, 1}, {-7, 3, -1}, {7, -3, 1}, {-7, -3, -1}, {7, 0, 7}, {0, 5, 0}, {-6, 3, 0}};
  for (const auto& c : cases) {
    int32_t r = 99;
    int16_t ind;
    ASSERT_EQ(Sql_Exec(mod, {SqlInt(&r, &ind), SqlInt(&c.m), SqlInt(&c.n)}), 0);
    EXPECT_EQ(r, c.expect) << c.m << " mod " << c.n;
  }
  int32_t r;
  int16_t ind;
  EXPECT_EQ(Sql_Exec("select TO_NUMBER(:b2) into :b0:b1  from dual", {SqlInt(&r, &ind), SqlStr(" 42 ", 5)}), 0);
  EXPECT_EQ(r, 42);
  EXPECT_EQ(Sql_Exec("select TO_NUMBER(:b2) into :b0:b1  from dual", {SqlInt(&r, &ind), SqlStr("4x", 5)}), -1722);
  EXPECT_EQ(Sql_Exec("select NVL(:b2,:b3) into :b0:b1  from dual",
                     {SqlInt(&r, &ind), SqlStr("", 5), SqlStr("17", 5)}),
            0);
  EXPECT_EQ(r, 17);
  // Implicit conversion of text to a 32-bit variable, and its limit.
  EXPECT_EQ(Sql_Exec("select '2147483648' into :b0:b1  from dual", {SqlInt(&r, &ind)}), -1455);
  // Date minus date is a number of days.
  EXPECT_EQ(Sql_Exec("select TO_DATE(:b2,'yyyymmdd')-TO_DATE(:b3,'yyyymmdd') into :b0:b1  from dual",
                     {SqlInt(&r, &ind), SqlStr("20270301", 11), SqlStr("20261208", 11)}),
            0);
  EXPECT_EQ(r, 83);
}

// Every TO_CHAR element of the statements over every day of 1990 to 2040,
// checked against the C library's calendar (UTC, so no zone enters).
TEST_P(SqlRtTest, ToCharElementsAgainstCalendar) {
  std::tm t{};
  t.tm_year = 1990 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 1;
  std::time_t s = timegm(&t);
  std::vector<std::tm> days;
  for (;; s += 86400) {
    std::tm d{};
    gmtime_r(&s, &d);
    if (d.tm_year + 1900 > 2040) break;
    days.push_back(d);
    char ymd[11];
    std::strftime(ymd, sizeof ymd, "%Y%m%d", &d);
    ASSERT_EQ(Bak_Ins(ymd), 0) << ymd;
  }
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  const char cur[] = "select TO_CHAR(BakDtm,'yyyymmdd') ,TO_CHAR(BakDtm,'yyyy') ,TO_CHAR(BakDtm,'mm') ,"
                     "TO_CHAR(BakDtm,'dd') ,TO_CHAR(BakDtm,'iw') ,TO_CHAR(BakDtm,'d') ,TO_CHAR(BakDtm,'ddd') ,"
                     "TO_NUMBER(TO_CHAR(BakDtm,'iw')) ,TO_CHAR((BakDtm+1),'yyyymmdd')  from HRSYSTEM.Hrs133Bak "
                     "order by BakDtm";
  ASSERT_EQ(Sql_Cur_Open(cur), 0);
  char f[8][11];
  int32_t iw;
  int16_t ind;
  size_t k = 0;
  while (Sql_Cur_Fetch(cur, {SqlStr(f[0], 11, &ind), SqlStr(f[1], 11, &ind), SqlStr(f[2], 11, &ind),
                             SqlStr(f[3], 11, &ind), SqlStr(f[4], 11, &ind), SqlStr(f[5], 11, &ind),
                             SqlStr(f[6], 11, &ind), SqlInt(&iw, &ind), SqlStr(f[7], 11, &ind)}) == 0) {
    ASSERT_LT(k, days.size());
    const std::tm& d = days[k];
    char e[7][11];
    std::strftime(e[0], 11, "%Y%m%d", &d);
    std::strftime(e[1], 11, "%Y", &d);
    std::strftime(e[2], 11, "%m", &d);
    std::strftime(e[3], 11, "%d", &d);
    std::strftime(e[4], 11, "%V", &d);
    e[5][0] = static_cast<char>('1' + d.tm_wday);  // AMERICA: Sunday 1
    e[5][1] = '\0';
    std::strftime(e[6], 11, "%j", &d);
    for (int j = 0; j < 7; ++j) ASSERT_STREQ(f[j], e[j]) << e[0] << " element " << j;
    ASSERT_EQ(iw, std::atoi(e[4])) << e[0];
    std::tm next{};
    const std::time_t ns = timegm(const_cast<std::tm*>(&d)) + 86400;
    gmtime_r(&ns, &next);
    char en[11];
    std::strftime(en, sizeof en, "%Y%m%d", &next);
    ASSERT_STREQ(f[7], en);
    ++k;
  }
  EXPECT_EQ(SqlCode, 1403);
  EXPECT_EQ(k, days.size());
  EXPECT_EQ(Sql_Cur_Close(cur), 0);
}

// 'd' follows the territory read at connect.
TEST_P(SqlRtTest, WeekdayNumberFollowsTerritory) {
  ASSERT_EQ(Bak_Ins("20261206"), 0);  // a Sunday
  ASSERT_EQ(Bak_Ins("20261207"), 0);  // a Monday
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  const char sel[] = "select TO_NUMBER(TO_CHAR(BakDtm,'d')) into :b0:b1  from HRSYSTEM.Hrs133Bak where "
                     "BakDtm=TO_DATE(:b2,'yyyymmdd')";
  const char* old_t = std::getenv("NLS_TERRITORY");
  const char* old_l = std::getenv("NLS_LANG");
  const std::string keep_t = old_t != nullptr ? old_t : "", keep_l = old_l != nullptr ? old_l : "";
  const struct {
    const char* territory;
    const char* lang;
    int32_t sunday, monday;
  } cases[] = {
      {nullptr, nullptr, 1, 2},
      {"GERMANY", nullptr, 7, 1},
      {nullptr, "GERMAN_GERMANY.WE8MSWIN1252", 7, 1},
      {nullptr, "AMERICAN_AMERICA.WE8MSWIN1252", 1, 2},
      {"AMERICA", "GERMAN_GERMANY.WE8MSWIN1252", 1, 2},
  };
  for (const auto& c : cases) {
    if (c.territory != nullptr) setenv("NLS_TERRITORY", c.territory, 1); else unsetenv("NLS_TERRITORY");
    if (c.lang != nullptr) setenv("NLS_LANG", c.lang, 1); else unsetenv("NLS_LANG");
    ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
    int32_t d = 0;
    int16_t ind;
    ASSERT_EQ(Sql_Exec(sel, {SqlInt(&d, &ind), SqlStr("20261206", 11)}), 0);
    EXPECT_EQ(d, c.sunday) << (c.territory ? c.territory : "-") << " / " << (c.lang ? c.lang : "-");
    ASSERT_EQ(Sql_Exec(sel, {SqlInt(&d, &ind), SqlStr("20261207", 11)}), 0);
    EXPECT_EQ(d, c.monday) << (c.territory ? c.territory : "-") << " / " << (c.lang ? c.lang : "-");
  }
  if (old_t != nullptr) setenv("NLS_TERRITORY", keep_t.c_str(), 1); else unsetenv("NLS_TERRITORY");
  if (old_l != nullptr) setenv("NLS_LANG", keep_l.c_str(), 1); else unsetenv("NLS_LANG");
}

// The employment cursor is fetched on after each person's commit while
// other statements write; it sees the rows as of its open.
TEST_P(SqlRtTest, CursorSurvivesCommits) {
  for (int p = 1; p <= 5; ++p) {
    const std::string n = "0000000" + std::to_string(p);
    Exec("insert into Hrs300Pnr values ('" + n + "','Name " + std::to_string(p) +
         "',1);insert into Hrs310Bsv values ('" + n + "'," + D("2020-01-01") + ",NULL,'001','AK','AB',1);");
  }
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  char pnr[9], gvo[11], gbi[11] = "keep", kal[4], akr[6], abr[6], nam[51], dflt[30];
  int16_t ind;
  int n = 0;
  while (Sql_Cur_Fetch(kBsvCur, {SqlStr(pnr, 9, &ind), SqlStr(gvo, 11, &ind), SqlStr(gbi, 11, &ind),
                                  SqlStr(kal, 4, &ind), SqlStr(akr, 6, &ind), SqlStr(abr, 6, &ind),
                                  SqlStr(nam, 51, &ind), SqlStr(dflt, 30, &ind)}) == 0) {
    ++n;
    EXPECT_EQ(pnr, "0000000" + std::to_string(n));
    EXPECT_STREQ(gvo, "20200101");
    EXPECT_STREQ(gbi, "keep");  // NULL: untouched
    EXPECT_STREQ(dflt, "01-JAN-20");
    for (int32_t y = 2020; y <= 2022; ++y) EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr(pnr, 9), SqlInt(&y)}), 0);
    // Writing to a table the cursor reads does not disturb it.
    int32_t sta = 1;
    char extra[9] = "9000000?";
    extra[7] = static_cast<char>('0' + n);
    EXPECT_EQ(Sql_Exec(kPnrIns, {SqlStr(extra, 9), SqlStr("x", 2), SqlInt(&sta)}), 0);
    EXPECT_EQ(Sql_Rt_Commit(), 0);
    // Committed: another connection sees it while the cursor is open.
    EXPECT_EQ(Rows("select count(*) from Hrs332Urv"), Rows_t{std::to_string(3 * n)});
  }
  EXPECT_EQ(SqlCode, 1403);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(Sql_Cur_Fetch(kBsvCur, {SqlStr(pnr, 9, &ind), SqlStr(gvo, 11, &ind), SqlStr(gbi, 11, &ind),
                                     SqlStr(kal, 4, &ind), SqlStr(akr, 6, &ind), SqlStr(abr, 6, &ind),
                                     SqlStr(nam, 51, &ind), SqlStr(dflt, 30, &ind)}),
            1403);
  EXPECT_EQ(Sql_Cur_Close(kBsvCur), 0);
  EXPECT_EQ(Sql_Cur_Fetch(kBsvCur, {SqlStr(pnr, 9, &ind), SqlStr(gvo, 11, &ind), SqlStr(gbi, 11, &ind),
                                     SqlStr(kal, 4, &ind), SqlStr(akr, 6, &ind), SqlStr(abr, 6, &ind),
                                     SqlStr(nam, 51, &ind), SqlStr(dflt, 30, &ind)}),
            -1001);
}

// A cursor reads its inputs at open: changing the buffers afterwards does
// not change the rows.
TEST_P(SqlRtTest, CursorInputsReadAtOpen) {
  for (const char* d : {"20261201", "20261202", "20261203", "20261204"}) ASSERT_EQ(Bak_Ins(d), 0);
  const char cur[] = "select TO_CHAR(BakDtm,'yyyymmdd')  from HRSYSTEM.Hrs133Bak where BakDtm>TO_DATE(:b0,'yyyymmdd') "
                     "order by BakDtm";
  char from[11] = "20261201";
  ASSERT_EQ(Sql_Cur_Open(cur, {SqlStr(from, 11)}), 0);
  std::strcpy(from, "20261203");
  char day[11];
  int16_t ind;
  Rows_t got;
  while (Sql_Cur_Fetch(cur, {SqlStr(day, 11, &ind)}) == 0) got.push_back(day);
  EXPECT_EQ(got, (Rows_t{"20261202", "20261203", "20261204"}));
  // Reopening starts afresh with the new inputs.
  ASSERT_EQ(Sql_Cur_Open(cur, {SqlStr(from, 11)}), 0);
  got.clear();
  while (Sql_Cur_Fetch(cur, {SqlStr(day, 11, &ind)}) == 0) got.push_back(day);
  EXPECT_EQ(got, Rows_t{"20261204"});
  EXPECT_EQ(Sql_Cur_Close(cur), 0);
}

TEST_P(SqlRtTest, StatementsArePreparedOnce) {
  const SqlStats before = Sql_Stats();
  for (int i = 0; i < 50; ++i) {
    char day[11];
    int16_t ind;
    ASSERT_EQ(Sql_Exec(kBakLst, {SqlStr(day, 11, &ind)}), 0);
  }
  const SqlStats after = Sql_Stats();
  EXPECT_EQ(after.prepares - before.prepares, 1);
  EXPECT_EQ(after.executions - before.executions, 50);
}

// A prepare that fails is not kept: once the table exists the same text works.
TEST_P(SqlRtTest, FailedPrepareIsRetried) {
  const char sel[] = "select count(*) into :b0:b1  from Hrs999New";
  int32_t n;
  int16_t ind;
  EXPECT_EQ(Sql_Exec(sel, {SqlInt(&n, &ind)}), -942);
  Exec("create table Hrs999New (A integer); insert into Hrs999New values (1);");
  EXPECT_EQ(Sql_Exec(sel, {SqlInt(&n, &ind)}), 0);
  EXPECT_EQ(n, 1);
}

// The same address with other text (a reused buffer) is a new statement.
TEST_P(SqlRtTest, ReusedTextBufferIsNotConfused) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  char text[80];
  int32_t n;
  int16_t ind;
  std::strcpy(text, "select count(*) into :b0:b1  from Hrs300Pnr");
  EXPECT_EQ(Sql_Exec(text, {SqlInt(&n, &ind)}), 0);
  EXPECT_EQ(n, 1);
  std::strcpy(text, "select count(*) into :b0:b1  from Hrs332Urv");
  EXPECT_EQ(Sql_Exec(text, {SqlInt(&n, &ind)}), 0);
  EXPECT_EQ(n, 0);
}

TEST_P(SqlRtTest, HostVariableCountMismatch) {
  char day[11];
  int16_t ind;
  // Prepared here first: a death test's child then stops at the check and
  // never talks over the server connection it shares with this process
  // (an answer left unread there would confuse the next statement).
  int32_t y = 2026;
  ASSERT_EQ(Sql_Exec(kBakLst, {SqlStr(day, 11, &ind)}), 0);
  ASSERT_EQ(Sql_Exec(kUrvIns, {SqlStr("x", 2), SqlInt(&y)}), 0);
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  ASSERT_EQ(Sql_Cur_Close(kBsvCur), 0);
  EXPECT_DEBUG_DEATH(
      EXPECT_EQ(Sql_Exec(kBakLst, {SqlStr(day, 11, &ind), SqlStr("x", 2)}), -1008), "host variables");
  EXPECT_DEBUG_DEATH(EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("x", 2)}), -1008), "host variables");
  EXPECT_DEBUG_DEATH(EXPECT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("x", 2)}), -1008), "host variables");
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  EXPECT_DEBUG_DEATH(EXPECT_EQ(Sql_Cur_Fetch(kBsvCur, {SqlStr(day, 11, &ind)}), -1007), "select list");
  EXPECT_EQ(Sql_Cur_Close(kBsvCur), 0);
}

// Idle, the session holds no transaction: between two units another
// connection writes at once.
TEST_P(SqlRtTest, NoTransactionWhileIdle) {
  char day[11];
  int16_t ind;
  ASSERT_EQ(Sql_Exec(kBakLst, {SqlStr(day, 11, &ind)}), 0);  // a read alone begins nothing
  const auto t0 = std::chrono::steady_clock::now();
  Exec("insert into Hrs300Pnr values ('00000001','A',1)");
  ASSERT_EQ(Pnr_Ins("00000002", "B"), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  Exec("insert into Hrs300Pnr values ('00000003','C',1)");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(Sql_Rt_Commit(), 0);  // nothing to commit
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"3"});
}

TEST_P(SqlRtTest, UncommittedWorkIsRolledBackAtDisconnect) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  ASSERT_EQ(Pnr_Ins("00000002", "B"), 0);
  Sql_Rt_Disconnect();
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  EXPECT_EQ(Sql_Exec(kBakLst, {}), -1012);  // not connected
}

// Rollback undoes what the last commit left open; in dry mode commits keep
// the work for the session's own reads (a cursor opened afterwards sees it),
// and one rollback undoes everything since the connect.
TEST_P(SqlRtTest, RollbackAndDryMode) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  ASSERT_EQ(Pnr_Ins("00000002", "B"), 0);
  EXPECT_EQ(Sql_Rt_Rollback(), 0);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  EXPECT_EQ(Sql_Rt_Rollback(), 0);  // nothing open

  Sql_Rt_Dry_Set(true);
  ASSERT_EQ(Pnr_Ins("00000003", "C"), 0);
  ASSERT_EQ(Bak_Ins("20270101"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  ASSERT_EQ(Pnr_Ins("00000004", "D"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"1"});  // no other connection sees it
  const char kAll[] = "select PnrNum from Hrs300Pnr order by PnrNum";
  ASSERT_EQ(Sql_Cur_Open(kAll), 0);
  Sql_Rt_Dry_Set(false);
  EXPECT_EQ(Sql_Rt_Rollback(), 0);
  Rows_t seen;
  char num[9];
  while (Sql_Cur_Fetch(kAll, {SqlStr(num, sizeof num)}) == 0) seen.push_back(num);
  EXPECT_EQ(seen, (Rows_t{"00000001", "00000003", "00000004"}));  // as of the open
  EXPECT_EQ(Sql_Cur_Close(kAll), 0);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
  EXPECT_EQ(Rows("select count(*) from Hrs133Bak"), Rows_t{"0"});
  // The session goes on: the next unit commits as usual.
  ASSERT_EQ(Pnr_Ins("00000005", "E"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"2"});
}

// A table another connection holds locked is waited for.
TEST_P(SqlRtTest, LockedTableIsWaitedFor) {
  std::unique_ptr<testdb::TableLock> lock = db_->Lock("HRSYSTEM", "Hrs300Pnr");
  const auto t0 = std::chrono::steady_clock::now();
  std::thread release([&lock] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    lock->Release();
  });
  EXPECT_EQ(Pnr_Ins("00000001", "A"), 0);
  release.join();
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs300Pnr"), Rows_t{"1"});
}

// The embedded database: a lock held beyond the wait holds the whole file,
// so it breaks the session: -54, and from then on every call gives -54 at
// once, even once the lock is gone, until a new connect. The failed unit is
// rolled back; the committed one stays.
TEST_P(SqlRtSqliteTest, LockHeldTooLongBreaksTheSession) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  SqlOptions short_wait = Sql_Options_Default();
  short_wait.lock_wait_ms = 200;
  ASSERT_EQ(Reconnect("HRSYSTEM", short_wait), 0);
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
  std::unique_ptr<testdb::TableLock> lock = db_->Lock("HRSYSTEM", "Hrs300Pnr");
  EXPECT_EQ(Pnr_Ins("00000002", "B"), -54);
  ASSERT_NE(Sql_Rt_Broken(), nullptr);
  EXPECT_STREQ(Sql_Rt_Broken(), "Datenbank von einem anderen Programm gesperrt");
  lock->Release();
  const auto t0 = std::chrono::steady_clock::now();
  char day[11];
  int16_t ind;
  EXPECT_EQ(Sql_Exec(kBakLst, {SqlStr(day, 11, &ind)}), -54);
  EXPECT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), -54);
  EXPECT_EQ(Sql_Rt_Commit(), -54);
  EXPECT_EQ(SqlCode, -54);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
  ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
  EXPECT_EQ(Pnr_Ins("00000002", "B"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr order by 1"), (Rows_t{"00000001", "00000002"}));
}

// The server: a lock on one table held beyond the wait fails the statement
// with -54 and nothing else; the session goes on.
TEST_P(SqlRtPgTest, LockHeldTooLongFailsTheStatement) {
  int32_t y = 2026;
  ASSERT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y)}), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  SqlOptions short_wait = Sql_Options_Default();
  short_wait.lock_wait_ms = 200;
  ASSERT_EQ(Reconnect("HRSYSTEM", short_wait), 0);
  std::unique_ptr<testdb::TableLock> lock = db_->Lock("HRSYSTEM", "Hrs300Pnr");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Pnr_Ins("00000002", "B"), -54);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
  // The unit goes on in a table the lock does not hold.
  y = 2027;
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y)}), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  lock->Release();
  EXPECT_EQ(Pnr_Ins("00000002", "B"), 0);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000002"});
  EXPECT_EQ(Rows("select UrvJhr from Hrs332Urv order by 1"), (Rows_t{"2026", "2027"}));
}

// The server is asked once per statement: the transaction start, the
// statement's savepoint and its release travel with it; a commit with
// nothing to commit is not sent; only a failure costs a second round trip.
// A timestamp beyond the years 1 to 9999, which the server stores and the
// job's dates cannot be, fails the row with -1841 when read as a text, as a
// DATE outside those years does on the embedded database; the session goes
// on.
TEST_P(SqlRtPgTest, TimestampBeyondTheYear9999FailsTheRow) {
  Exec("insert into Hrs133Bak (BakDtm) values ('10000-01-01'), ('2026-12-08')");
  char d1[30] = "x";
  int16_t i1;
  const char sel[] = "select BakDtm into :b0:b1  from HRSYSTEM.Hrs133Bak where BakDtm>TO_DATE(:b2,'yyyymmdd')";
  EXPECT_EQ(Sql_Exec(sel, {SqlStr(d1, 30, &i1), SqlStr("99991231", 11)}), -1841);
  EXPECT_EQ(Sql_Rt_Broken(), nullptr);
  EXPECT_EQ(Sql_Exec(sel, {SqlStr(d1, 30, &i1), SqlStr("20261207", 11)}), -2112);
  // Its text too, as on the embedded database.
  const char text[] =
      "select TO_CHAR(BakDtm,'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak where BakDtm>TO_DATE(:b2,'yyyymmdd')";
  EXPECT_EQ(Sql_Exec(text, {SqlStr(d1, 30, &i1), SqlStr("99991231", 11)}), -1841);
}

TEST_P(SqlRtPgTest, EachStatementCostsOneRoundTrip) {
  char nam[51];
  int16_t ind;
  int32_t y = 2026;
  // Prepared once (one round trip each), then executed.
  ASSERT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y)}), 0);
  ASSERT_EQ(Sql_Exec(kPnrNam, {SqlStr(nam, sizeof nam, &ind), SqlStr("00000001", 9)}), 1403);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  const long base = Sql_Stats().round_trips;
  const auto trips = [&] { return Sql_Stats().round_trips - base; };
  y = 2027;
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y)}), 0);  // begins the transaction
  EXPECT_EQ(trips(), 1);
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(nam, sizeof nam, &ind), SqlStr("00000001", 9)}), 1403);
  EXPECT_EQ(trips(), 2);
  // An existing key costs no undo: the insert reports it without an error.
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y)}), -1);
  EXPECT_EQ(trips(), 3);
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(trips(), 4);
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(nam, sizeof nam, &ind), SqlStr("00000001", 9)}), 1403);
  EXPECT_EQ(Sql_Rt_Commit(), 0);  // nothing written since the last one
  EXPECT_EQ(trips(), 5);
  EXPECT_EQ(Rows("select UrvJhr from Hrs332Urv order by 1"), (Rows_t{"2026", "2027"}));

  // A batch is one round trip; a failure in it costs its undo and the
  // sending of the rest.
  int32_t years[4] = {2028, 2029, 2030, 2031};
  SqlBatch b;
  for (const int32_t& yr : years) b.Add(kUrvIns, {SqlStr("00000001", 9), SqlInt(&yr)});
  EXPECT_EQ(Sql_Exec_Batch(&b), 0);
  EXPECT_EQ(trips(), 6);
  b.Clear();
  const int32_t more[3] = {2032, 2032, 2033};
  for (const int32_t& yr : more) b.Add(kUrvIns, {SqlStr("00000001", 9), SqlInt(&yr)});
  b.Add(kUrvIns, {SqlStr("", 9), SqlInt(&more[0])});  // NULL key
  b.Add(kUrvIns, {SqlStr("00000002", 9), SqlInt(&more[0])});
  EXPECT_EQ(Sql_Exec_Batch(&b), 0);
  EXPECT_EQ(trips(), 9);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs332Urv"), Rows_t{"9"});
}

// A run of one insert or update in a batch is one statement on the server
// when each of its executions writes its one row; otherwise they go again
// one by one. Either way each gets the code and the effect it has alone:
// the rows and codes of the same batches run one statement at a time.
TEST_P(SqlRtPgTest, RunOfOneWriteIsOneStatementWithTheOutcomeOfEach) {
  Count_Statements("insert or update", "hrs329ztg");
  const char kIns[] =
      "insert into Hrs329Ztg (ZtgPnr,ZtgVon,ZtgAkr,ZtgAbt,ZtgTag,ZtgDat,ZtgSta) values "
      "(:b0,TO_DATE(:b1,'yyyymmdd'),:b2:b3,:b4:b5,:b6,sysdate,1)";
  const char kUpd[] =
      "update Hrs329Ztg  set ZtgAkr=:b0:b1,ZtgAbt=:b2:b3,ZtgTag=:b4,ZtgDat=sysdate where (ZtgPnr=:b5 and "
      "ZtgVon=TO_DATE(:b6,'yyyymmdd'))";
  struct Item {
    bool update;
    const char* pnr;  // after the mode's letter; "" a NULL key
    const char* day;
    const char* akr;  // "" NULL
    const char* abt;
    int32_t tag;
  };
  struct Case {
    const char* what;
    std::vector<Item> items;
    int stop;
    std::vector<int> rc;
    long statements;  // batched
  };
  const Case cases[] = {
      {"inserts",
       {{false, "0000001", "20270101", "a\"b", "c\\d", 1},
        {false, "0000001", "20270102", "x,y", "{z}", -2},
        {false, "0000001", "20270103", "NULL", "", 3},
        {false, "0000002", "20270101", " lead ", "\xc3\xa4\"\\,{}", 2147483647}},
       0, {0, 0, 0, 0}, 1},
      {"updates", {{true, "0000001", "20270101", "{\"}", "", 7}, {true, "0000002", "20270101", "", "\\\\", 8}}, 0,
       {0, 0}, 1},
      // Nothing written by any: what each does alone too.
      {"keys that all exist",
       {{false, "0000001", "20270101", "x", "x", 9}, {false, "0000001", "20270102", "x", "x", 9}}, 0, {-1, -1}, 1},
      {"updates that all find no row",
       {{true, "0000009", "20270101", "x", "x", 9}, {true, "0000001", "20271231", "x", "x", 9}}, 0, {0, 0}, 1},
      {"keys that exist, also within the run",
       {{false, "0000001", "20270104", "n", "n", 1},
        {false, "0000001", "20270101", "old", "old", 1},
        {false, "0000001", "20270104", "twice", "twice", 1},
        {false, "0000001", "20270105", "n", "n", 1}},
       0, {0, -1, -1, 0}, 4},
      {"updates of no row and of one row twice",
       {{true, "0000001", "20270109", "none", "", 1},
        {true, "0000001", "20270102", "first", "", 1},
        {true, "0000001", "20270102", "second", "", 2}},
       0, {0, 0, 0}, 3},
      // One person's rows, bounded by the range of the days, in no order.
      {"updates of one person, out of day order",
       {{true, "0000001", "20270103", "p", "", 4},
        {true, "0000001", "20270101", "q", "", 5},
        {true, "0000001", "20270105", "r", "", 6}},
       0, {0, 0, 0}, 1},
      {"a failure, then a run",
       {{false, "", "20270101", "n", "n", 1}, {true, "0000001", "20270103", "u", "", 1},
        {false, "0000003", "20270101", "", "", 1}, {false, "0000003", "20270102", "", "", 1}},
       0, {kSqlNotNull, 0, 0, 0}, 2},
      // Sent once for the whole run: the same rows as each alone.
      {"values common to the run",
       {{false, "0000005", "20270101", "q\"\\{,}", "", 1},
        {false, "0000005", "20270102", "q\"\\{,}", "", 2},
        {false, "0000005", "20270103", "q\"\\{,}", "", 3}},
       0, {0, 0, 0}, 1},
      {"a stop code inside a run",
       {{false, "0000004", "20270101", "", "", 1}, {false, "", "20270102", "", "", 1},
        {false, "0000004", "20270103", "", "", 1}},
       kSqlNotNull, {0, kSqlNotNull, kSqlNotRun}, 1},
  };
  for (bool together : {true, false}) {
    faults::Batches_Set(together);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(together ? "batched: " : "one by one: ") + c.what);
      std::vector<std::string> pnr;
      for (const Item& it : c.items) pnr.push_back(*it.pnr == '\0' ? "" : (together ? "B" : "S") + std::string(it.pnr));
      const long before = Statements();
      SqlBatch b;
      for (size_t i = 0; i < c.items.size(); ++i) {
        const Item& it = c.items[i];
        const SqlVar key[2] = {SqlStr(pnr[i].c_str(), 9), SqlStr(it.day, 9)};
        if (it.update) {
          b.Add(kUpd, {SqlStr(it.akr, 51), SqlStr(it.abt, 51), SqlInt(&it.tag), key[0], key[1]});
        } else {
          b.Add(kIns, {key[0], key[1], SqlStr(it.akr, 51), SqlStr(it.abt, 51), SqlInt(&it.tag)});
        }
      }
      EXPECT_EQ(Sql_Exec_Batch(&b, c.stop), 0);
      std::vector<int> rc;
      for (const auto& item : b.items) rc.push_back(item.rc);
      EXPECT_EQ(rc, c.rc);
      ASSERT_EQ(Sql_Rt_Commit(), 0);
      if (together) {
        EXPECT_EQ(Statements() - before, c.statements);
      }
    }
  }
  faults::Batches_Set(true);
  const auto rows = [&](const char* mode) {
    return Mode_Rows("ZtgAkr, ZtgAbt, ZtgTag, to_char(ZtgDat, 'yyyymmddhh24miss')", mode);
  };
  EXPECT_EQ(rows("B").size(), 12u);
  EXPECT_EQ(rows("B"), rows("S"));

  // A value common to the run that the server refuses: each item alone
  // meets the refusal, as it does sent alone; nothing is written.
  const auto bad = [&](SqlBatch* b, const char* day) {
    b->Add(kIns, {SqlStr("B0000006", 9), SqlStr(day, 9), SqlStr("", 51), SqlStr("", 51), SqlStr("1x", 3)});
  };
  SqlBatch b;
  bad(&b, "20270101");
  ASSERT_EQ(Sql_Exec_Batch(&b), 0);
  const int alone = b.items[0].rc;
  ASSERT_LT(alone, 0);
  b.Clear();
  for (const char* day : {"20270102", "20270103", "20270104"}) bad(&b, day);
  EXPECT_EQ(Sql_Exec_Batch(&b), 0);
  for (const auto& item : b.items) EXPECT_EQ(item.rc, alone);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs329Ztg where ZtgPnr = 'B0000006'"), (Rows_t{"0"}));
}

// Runs whose common values come in more patterns than the forms kept for
// them: each run takes a form of some of its common values, or none, and
// writes what its items write one by one.
TEST_P(SqlRtPgTest, RunsOfManyPatternsOfCommonValuesWriteAsEachAlone) {
  Count_Statements("insert or update", "hrs329ztg");
  const char kIns[] =
      "insert into Hrs329Ztg (ZtgPnr,ZtgVon,ZtgAkr,ZtgAbt,ZtgTag,ZtgDat,ZtgSta) values "
      "(:b0,TO_DATE(:b1,'yyyymmdd'),:b2:b3,:b4:b5,:b6,sysdate,1)";
  const char* const days[] = {"20270101", "20270102", "20270103"};
  const char* const texts[] = {"a", "b\"", "c\\"};
  for (bool together : {true, false}) {
    faults::Batches_Set(together);
    // Bit 0: the person differs by item; bits 1 to 3: the code, the
    // department, the rotation day do. Every pattern twice: first those with
    // the fewest common values, whose forms fill the room.
    for (int pass = 0; pass < 2; ++pass) {
      for (int m = 0; m < 16; ++m) {
        const int pattern = pass == 0 ? 15 - m : m;
        SqlBatch b;
        std::vector<std::string> pnr;
        std::vector<int32_t> tag;
        for (int i = 0; i < 3; ++i) {
          pnr.push_back(std::string(together ? "B" : "S") + std::to_string(pass) + std::to_string(pattern) + "_" +
                        std::to_string((pattern & 1) != 0 ? i : 0));
          tag.push_back((pattern & 8) != 0 ? i : 7);
        }
        for (size_t i = 0; i < 3; ++i) {
          const size_t day = (pattern & 1) != 0 ? 0 : i;
          b.Add(kIns, {SqlStr(pnr[i].c_str(), 9), SqlStr(days[day], 9),
                       SqlStr((pattern & 2) != 0 ? texts[i] : "", 51), SqlStr((pattern & 4) != 0 ? texts[i] : "x", 51),
                       SqlInt(&tag[i])});
        }
        const long before = Statements();
        ASSERT_EQ(Sql_Exec_Batch(&b), 0);
        for (const auto& item : b.items) EXPECT_EQ(item.rc, 0) << pattern;
        ASSERT_EQ(Sql_Rt_Commit(), 0);
        // Batched, in one statement: no form failed on the server.
        EXPECT_EQ(Statements() - before, together ? 1 : 3) << pattern;
      }
    }
  }
  faults::Batches_Set(true);
  const auto rows = [&](const char* mode) { return Mode_Rows("ZtgAkr, ZtgAbt, ZtgTag", mode); };
  EXPECT_EQ(rows("B").size(), 96u);
  EXPECT_EQ(rows("B"), rows("S"));

  // Updates: eight runs over three persons fill the room with forms that
  // have the person in an array; the runs of one person that follow then
  // take one more form, with the person alone, made while the batch still
  // holds the form of the run before.
  const char kUpd[] =
      "update Hrs329Ztg  set ZtgAkr=:b0:b1,ZtgAbt=:b2:b3,ZtgKst=:b4:b5,ZtgKtr=:b6:b7,ZtgDat=sysdate where "
      "(ZtgPnr=:b8 and ZtgVon=TO_DATE(:b9,'yyyymmdd'))";
  for (bool together : {true, false}) {
    faults::Batches_Set(together);
    const std::string mode = together ? "B" : "S";
    // Run k < 8: the persons of pattern 15 - 2k (day one each); k >= 8: the
    // person of pattern 2k - 16 (three days). Bits 0 to 2 of k % 8: the
    // department, the cost centre, the account code differ by item.
    const auto add = [&](SqlBatch* b, int k, std::vector<std::string>* keep) {
      const bool persons = k < 8;
      const int pattern = persons ? 15 - 2 * k : 2 * k - 16;
      for (int i = 0; i < 3; ++i) {
        keep->push_back(mode + "0" + std::to_string(pattern) + "_" + std::to_string(persons ? i : 0));
      }
      for (size_t i = 0; i < 3; ++i) {
        const auto value = [&](int bit) { return ((k % 8) & bit) != 0 ? texts[i] : "same"; };
        b->Add(kUpd, {SqlStr(texts[i], 51), SqlStr(value(1), 51), SqlStr(value(2), 51), SqlStr(value(4), 51),
                      SqlStr((*keep)[keep->size() - 3 + i].c_str(), 9), SqlStr(days[persons ? 0 : i], 9)});
      }
    };
    for (const std::vector<int>& runs :
         std::vector<std::vector<int>>{{0}, {1}, {2}, {3}, {4}, {5}, {6}, {7, 8}, {9, 10}, {11, 12}, {13, 14}, {15}}) {
      SqlBatch b;
      std::vector<std::string> keep;
      keep.reserve(3 * runs.size());
      char akr[51];
      int16_t ind = 0;
      for (size_t r = 0; r < runs.size(); ++r) {
        // A read between parts the runs.
        if (r > 0) {
          b.Add("select ZtgAkr into :b0:b1 from Hrs329Ztg where ZtgPnr=:b2", {SqlStr(akr, 51, &ind), SqlStr("none", 9)});
        }
        add(&b, runs[r], &keep);
      }
      const long before = Statements();
      ASSERT_EQ(Sql_Exec_Batch(&b), 0);
      for (size_t i = 0; i < b.items.size(); ++i) {
        EXPECT_EQ(b.items[i].rc, i % 4 == 3 ? kSqlNoRow : 0) << runs[0] << " " << i;
      }
      ASSERT_EQ(Sql_Rt_Commit(), 0);
      EXPECT_EQ(Statements() - before, together ? static_cast<long>(runs.size()) : 3 * static_cast<long>(runs.size()))
          << runs[0];
    }
  }
  faults::Batches_Set(true);
  const auto updated = [&](const char* mode) {
    return Mode_Rows("ZtgAkr, ZtgAbt, ZtgKst, ZtgKtr", mode, "ZtgKtr is not null and ");
  };
  EXPECT_EQ(updated("B").size(), 48u);
  EXPECT_EQ(updated("B"), updated("S"));
}

// A long run of one insert goes without the look-up of existing keys; one
// that meets them goes again counting (all of them existing: each -1, in
// one statement), then, mixed, item by item.
TEST_P(SqlRtPgTest, LongRunMeetsExistingKeysAsEachAlone) {
  Count_Statements("insert", "hrs332urv");
  std::vector<int32_t> years(60);
  for (size_t i = 0; i < years.size(); ++i) years[i] = 2000 + static_cast<int32_t>(i);
  const auto run = [&](size_t from, size_t to, const char* pnr_at_30) {
    SqlBatch b;
    for (size_t i = from; i < to; ++i) b.Add(kUrvIns, {SqlStr(i == 30 ? pnr_at_30 : "00000001", 9), SqlInt(&years[i])});
    const long before = Statements();
    EXPECT_EQ(Sql_Exec_Batch(&b), 0);
    EXPECT_EQ(Sql_Rt_Commit(), 0);
    std::vector<int> rc;
    for (const auto& item : b.items) rc.push_back(item.rc);
    return std::pair{rc, Statements() - before};
  };
  auto [rc, n] = run(0, 40, "00000001");
  EXPECT_EQ(rc, std::vector<int>(40, 0));
  EXPECT_EQ(n, 1);
  std::tie(rc, n) = run(0, 40, "00000001");
  EXPECT_EQ(rc, std::vector<int>(40, -1));
  EXPECT_EQ(n, 1);
  std::vector<int> mixed(40, -1);
  std::fill(mixed.begin() + 20, mixed.end(), 0);
  mixed[10] = kSqlNotNull;  // year 2030 with a NULL key
  std::tie(rc, n) = run(20, 60, "");
  EXPECT_EQ(rc, mixed);
  EXPECT_EQ(n, 40 - 1);
  EXPECT_EQ(Rows("select count(*), min(UrvJhr), max(UrvJhr) from Hrs332Urv where UrvPnr = '00000001'"),
            (Rows_t{"60|2000|2059"}));
}

// On the embedded database a run of one insert in a batch goes as one
// statement of several value rows, in chunks of up to 64; where a chunk
// fails, its items go again one by one. Either way each item gets the code
// and the effect it has alone: the same batches run one statement at a time
// give the same codes and rows, also where the table's key gives way
// without undoing (ON CONFLICT FAIL) or a trigger does. changes() after a
// batch counts the rows of its last statement.
TEST_P(SqlRtSqliteTest, RunOfOneInsertIsOneStatementWithTheOutcomeOfEach) {
  Exec("create table Hrs990Tst (TstKey TEXT NOT NULL PRIMARY KEY ON CONFLICT FAIL, TstVal INTEGER);"
       "create table Hrs991Tst (TstKey TEXT NOT NULL PRIMARY KEY, TstVal INTEGER);"
       "create trigger Hrs991Tst_Three before insert on Hrs991Tst when new.TstVal = 3 "
       "begin select raise(fail, 'three'); end");
  const char kFailIns[] = "insert into Hrs990Tst (TstKey,TstVal) values (:b0,:b1)";
  const char kTrigIns[] = "insert into Hrs991Tst (TstKey,TstVal) values (:b0,:b1)";
  const char kChanges[] = "select changes() into :b0  from dual";
  enum Kind { kTag, kUrv, kFail, kTrig };
  struct Item {
    Kind kind;
    const char* key;  // after the mode's letter; "" a NULL key
    const char* day;  // kTag
    int32_t val;      // kUrv: the year
  };
  struct Case {
    const char* what;
    std::vector<Item> items;
    int stop;
    std::vector<int> rc;
    int32_t changes;  // batched
  };
  const auto years = [](const char* key, int32_t from, int32_t to) {
    std::vector<Item> items;
    for (int32_t y = from; y <= to; ++y) items.push_back(Item{kUrv, key, "", y});
    return items;
  };
  const auto with = [](std::vector<Item> items, std::vector<Item> more) {
    items.insert(items.end(), more.begin(), more.end());
    return items;
  };
  const auto with_rc = [](std::vector<int> rc, std::vector<int> more) {
    rc.insert(rc.end(), more.begin(), more.end());
    return rc;
  };
  const std::vector<int> ok64(64, 0);
  const Case cases[] = {
      {"runs of two inserts by turns",
       {{kTag, "0000001", "20270101", 0}, {kTag, "0000001", "20270102", 0}, {kUrv, "0000001", "", 2027},
        {kUrv, "0000001", "", 2028}, {kTag, "0000001", "20270103", 0}, {kTag, "0000001", "20270104", 0}},
       0, {0, 0, 0, 0, 0, 0}, 2},
      {"a chunk of 64", years("0000002", 2100, 2163), 0, ok64, 64},
      {"a key that exists in the middle",
       {{kTag, "0000001", "20270105", 0}, {kTag, "0000001", "20270102", 0}, {kTag, "0000001", "20270106", 0},
        {kTag, "0000001", "20270107", 0}, {kTag, "0000001", "20270108", 0}, {kTag, "0000001", "20270109", 0}},
       0, {0, -1, 0, 0, 0, 0}, 2},
      {"a key twice within the run",
       {{kUrv, "0000003", "", 2200}, {kUrv, "0000003", "", 2201}, {kUrv, "0000003", "", 2200},
        {kUrv, "0000003", "", 2202}},
       0, {0, 0, -1, 0}, 1},
      {"a NULL key",
       {{kTag, "0000001", "20270110", 0}, {kTag, "", "20270111", 0}, {kTag, "0000001", "20270112", 0},
        {kTag, "0000001", "20270113", 0}},
       0, {0, kSqlNotNull, 0, 0}, 1},
      // Its insert does not run at all: the four others are one chunk.
      {"a date that does not exist",
       {{kTag, "0000001", "20270114", 0}, {kTag, "0000001", "20270230", 0}, {kTag, "0000001", "20270115", 0},
        {kTag, "0000001", "20270116", 0}, {kTag, "0000001", "20270117", 0}},
       0, {0, -1847, 0, 0, 0}, 4},
      {"a stop code inside a run",
       {{kTag, "0000001", "20270118", 0}, {kTag, "", "20270119", 0}, {kTag, "0000001", "20270120", 0},
        {kTag, "0000001", "20270121", 0}},
       kSqlNotNull, {0, kSqlNotNull, kSqlNotRun, kSqlNotRun}, 0},
      {"longer than a chunk, a key twice at its end",
       with(years("0000004", 2300, 2363), {{kUrv, "0000004", "", 2364}, {kUrv, "0000004", "", 2300},
                                           {kUrv, "0000004", "", 2365}}),
       0, with_rc(ok64, {0, -1, 0}), 1},
      {"a key that gives way without undoing",
       {{kFail, "k1", "", 1}, {kFail, "k2", "", 2}, {kFail, "k1", "", 3}, {kFail, "k3", "", 4}}, 0,
       {0, 0, -1, 0}, 1},
      {"a trigger that fails without undoing",
       {{kTrig, "t1", "", 1}, {kTrig, "t2", "", 2}, {kTrig, "t3", "", 3}, {kTrig, "t4", "", 4}}, 0,
       {0, 0, -1, 0}, 1},
  };
  for (bool together : {true, false}) {
    faults::Batches_Set(together);
    const std::string mode = together ? "B" : "S";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(together ? "batched: " : "one by one: ") + c.what);
      // The inputs first, so that they stay in place while the batch runs.
      std::vector<std::string> key, stamp;
      for (const Item& it : c.items) {
        key.push_back(*it.key == '\0' ? "" : mode + it.key);
        stamp.push_back(std::string(it.day) + "000000");
      }
      SqlBatch b;
      for (size_t i = 0; i < c.items.size(); ++i) {
        const Item& it = c.items[i];
        const SqlVar k = SqlStr(key[i].c_str(), 9);
        switch (it.kind) {
          case kTag:
            b.Add(kTagIns, {k, SqlStr(it.day, 11), SqlStr(it.day, 11), SqlStr(stamp[i].c_str(), 15),
                            SqlStr(it.day, 11), SqlStr(stamp[i].c_str(), 15)});
            break;
          case kUrv:
            b.Add(kUrvIns, {k, SqlInt(&it.val)});
            break;
          case kFail:
          case kTrig:
            b.Add(it.kind == kFail ? kFailIns : kTrigIns, {k, SqlInt(&it.val)});
            break;
        }
      }
      EXPECT_EQ(Sql_Exec_Batch(&b, c.stop), 0);
      std::vector<int> rc;
      for (const auto& item : b.items) rc.push_back(item.rc);
      EXPECT_EQ(rc, c.rc);
      int32_t changes = -1;
      ASSERT_EQ(Sql_Exec(kChanges, {SqlInt(&changes)}), 0);
      EXPECT_EQ(changes, together ? c.changes : c.changes == 0 ? 0 : 1);
      ASSERT_EQ(Sql_Rt_Commit(), 0);
    }
  }
  faults::Batches_Set(true);
  const auto rows = [&](const char* mode) {
    Rows_t all;
    for (const char* q : {"select substr(TagPnr, 2), datetime(TagTag), datetime(TagVon), datetime(TagUhr), "
                          "datetime(TagBis), datetime(TagEnd) from Hrs327Tag where TagPnr like '?%' order by 1, 2",
                          "select substr(UrvPnr, 2), UrvJhr from Hrs332Urv where UrvPnr like '?%' order by 1, 2",
                          "select substr(TstKey, 2), TstVal from Hrs990Tst where TstKey like '?%' order by 1",
                          "select substr(TstKey, 2), TstVal from Hrs991Tst where TstKey like '?%' order by 1"}) {
      std::string sql = q;
      sql.replace(sql.find('?'), 1, mode);
      const Rows_t r = Rows(sql);
      all.insert(all.end(), r.begin(), r.end());
    }
    return all;
  };
  // 17 day records, 2 + 64 + 3 + 66 years, three keys of each table.
  EXPECT_EQ(rows("B").size(), 17u + 135u + 6u);
  EXPECT_EQ(rows("B"), rows("S"));
}

// A batch gives each statement the code and the effect it has alone, in
// order, whatever fails among them; a stop code ends it there.
TEST_P(SqlRtTest, BatchRunsAsSingleStatementsWould) {
  for (bool together : {true, false}) {
    SCOPED_TRACE(together ? "batched" : "one by one");
    faults::Batches_Set(together);
    SqlBatch b;
    ASSERT_EQ(Sql_Exec_Batch(&b), 0);  // empty
    char nam[3][51] = {"x", "x", "x"};
    int16_t ind[3] = {7, 7, 7};
    const char* pnr[2] = {together ? "00000001" : "00000011", together ? "00000002" : "00000012"};
    int32_t sta = 1;
    int16_t null = -1, set = 0;
    b.Add(kPnrIns, {SqlStr(pnr[0], 9), SqlStr("Anna", 51, &set), SqlInt(&sta)});
    b.Add(kPnrNam, {SqlStr(nam[0], sizeof nam[0], &ind[0]), SqlStr(pnr[0], 9)});  // sees the insert
    b.Add(kPnrIns, {SqlStr(pnr[0], 9), SqlStr("Otto", 51, &set), SqlInt(&sta)});  // key exists
    b.Add(kPnrIns, {SqlStr("", 9), SqlStr("Null", 51, &set), SqlInt(&sta)});      // NULL key
    b.Add(kPnrNam, {SqlStr(nam[1], sizeof nam[1], &ind[1]), SqlStr("99999999", 9)});
    b.Add(kPnrIns, {SqlStr(pnr[1], 9), SqlStr("", 51, &null), SqlInt(&sta)});
    b.Add(kPnrNam, {SqlStr(nam[2], sizeof nam[2], &ind[2]), SqlStr(pnr[1], 9)});
    EXPECT_EQ(Sql_Exec_Batch(&b), 0);
    std::vector<int> rc;
    for (const auto& item : b.items) rc.push_back(item.rc);
    EXPECT_EQ(rc, (std::vector<int>{0, 0, -1, -1400, 1403, 0, 0}));
    EXPECT_STREQ(nam[0], "Anna");
    EXPECT_STREQ(nam[1], "x");
    EXPECT_EQ(ind[2], -1);

    b.Clear();
    const char* stop[3] = {together ? "00000003" : "00000013", "", together ? "00000004" : "00000014"};
    for (const char* p : stop) b.Add(kPnrIns, {SqlStr(p, 9), SqlStr("Emil", 51, &set), SqlInt(&sta)});
    EXPECT_EQ(Sql_Exec_Batch(&b, -1400), 0);
    EXPECT_EQ(b.items[0].rc, 0);
    EXPECT_EQ(b.items[1].rc, -1400);
    EXPECT_EQ(b.items[2].rc, kSqlNotRun);
    b.Clear();
    b.Add(kPnrIns, {SqlStr(pnr[0], 9), SqlStr("Emil", 51, &set), SqlInt(&sta)});
    b.Add(kPnrIns, {SqlStr(stop[2], 9), SqlStr("Emil", 51, &set), SqlInt(&sta)});
    EXPECT_EQ(Sql_Exec_Batch(&b, -1), 0);
    EXPECT_EQ(b.items[0].rc, -1);
    EXPECT_EQ(b.items[1].rc, kSqlNotRun);
  }
  faults::Batches_Set(true);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select PnrNum, PnrNam from Hrs300Pnr order by 1"),
            (Rows_t{"00000001|Anna", "00000002|NULL", "00000003|Emil", "00000011|Anna", "00000012|NULL", "00000013|Emil"}));
}

// What is committed survives a kill of the process; what is not, is gone.
TEST_P(SqlRtTest, CommittedWorkSurvivesKill) {
  Sql_Rt_Disconnect();  // the child has a session of its own
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (Reconnect("HRSYSTEM") != 0) _exit(2);
    if (Pnr_Ins("00000001", "A") != 0 || Sql_Rt_Commit() != 0 || Pnr_Ins("00000002", "B") != 0) _exit(3);
    raise(SIGKILL);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr"), Rows_t{"00000001"});
}

TEST_P(SqlRtTest, FaultInjection) {
  faults::Add("Hrs332Urv", faults::kExec, 2, -3113);
  int32_t y[3] = {2020, 2021, 2022};
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y[0])}), 0);
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y[1])}), -3113);
  EXPECT_EQ(SqlCode, -3113);
  EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr("00000001", 9), SqlInt(&y[2])}), 0);
  // Other texts and kinds are not counted.
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  faults::Add("", faults::kCommit, 1, -3114, -1);
  EXPECT_EQ(Sql_Rt_Commit(), -3114);
  EXPECT_EQ(Sql_Rt_Commit(), -3114);
  faults::Clear();
  EXPECT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select UrvJhr from Hrs332Urv order by 1"), (Rows_t{"2020", "2022"}));

  faults::Add("Hrs310Bsv", faults::kFetch, 1, -1555, 2);
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  char b[8][51];
  auto fetch = [&] { return Bsv_Fetch(b); };
  EXPECT_EQ(fetch(), -1555);
  EXPECT_EQ(fetch(), -1555);
  EXPECT_EQ(fetch(), 1403);
  EXPECT_EQ(Sql_Cur_Close(kBsvCur), 0);
}

// A fault strikes the execution it names: a select-into's check for a
// second row is part of the same one, and a batch's items are counted one
// by one (on a server too, where they would otherwise travel together).
TEST_P(SqlRtTest, FaultsCountExecutionsNotRoundTrips) {
  ASSERT_EQ(Pnr_Ins("00000001", "A"), 0);
  char nam[51];
  int16_t ind;
  faults::Add("from Hrs300Pnr", faults::kExec, 2, -3113);
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(nam, sizeof nam, &ind), SqlStr("00000001", 9)}), 0);
  EXPECT_EQ(Sql_Exec(kPnrNam, {SqlStr(nam, sizeof nam, &ind), SqlStr("00000001", 9)}), -3113);

  faults::Add("insert into Hrs332Urv", faults::kExec, 2, -3114);
  const int32_t y[3] = {2020, 2021, 2022};
  SqlBatch b;
  for (const int32_t& yr : y) b.Add(kUrvIns, {SqlStr("00000001", 9), SqlInt(&yr)});
  EXPECT_EQ(Sql_Exec_Batch(&b), 0);
  std::vector<int> rc;
  for (const auto& item : b.items) rc.push_back(item.rc);
  EXPECT_EQ(rc, (std::vector<int>{0, -3114, 0}));
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  EXPECT_EQ(Rows("select UrvJhr from Hrs332Urv order by 1"), (Rows_t{"2020", "2022"}));
}

}  // namespace

namespace {

// Another program commits while the employment cursor is open: the job's
// next unit still writes and commits, and the cursor goes on with the rows
// as of its open.
TEST_P(SqlRtTest, OtherWriterWhileCursorOpen) {
  for (int p = 1; p <= 3; ++p) {
    const std::string n = "0000000" + std::to_string(p);
    Exec("insert into Hrs300Pnr values ('" + n + "','N',1);insert into Hrs310Bsv values ('" + n +
         "'," + D("2020-01-01") + ",NULL,'001','AK','AB',1);");
  }
  ASSERT_EQ(Sql_Cur_Open(kBsvCur, {SqlStr("        ", 9), SqlStr("zzzzzzzz", 9)}), 0);
  char b[8][51];
  auto fetch = [&] { return Bsv_Fetch(b); };
  int32_t y = 2026;
  int n = 0;
  while (fetch() == 0) {
    ++n;
    Exec("insert into Hrs300Pnr values ('8000000" + std::to_string(n) +
         "','other',1);insert into Hrs310Bsv values ('8000000" + std::to_string(n) +
         "'," + D("2020-01-01") + ",NULL,'001','AK','AB',1);");
    EXPECT_EQ(Sql_Exec(kUrvIns, {SqlStr(b[0], 9), SqlInt(&y)}), 0) << b[0];
    EXPECT_EQ(Sql_Rt_Commit(), 0);
  }
  EXPECT_EQ(SqlCode, 1403);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Sql_Cur_Close(kBsvCur), 0);
  EXPECT_EQ(Rows("select count(*) from Hrs332Urv"), Rows_t{"3"});
}

INSTANTIATE_TEST_SUITE_P(, SqlRtTest, testdb::EveryBackend(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, SqlRtSqliteTest, testdb::OnlySqlite(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, SqlRtPgTest, testdb::OnlyPostgres(), testdb::BackendName);

}  // namespace

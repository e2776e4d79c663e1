// The PostgreSQL backend without a server: the dialect translation of the
// job's statement texts (parsed as the runtime parses them, with the column
// types the session would read from the catalog), and the map of the
// server's SQLSTATEs.
#include "db/pg_translate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/oradate.h"
#include "db/pg_error.h"
#include "db/sqlparse.h"

namespace {

using sqlrt::PgCatalog;
using sqlrt::PgParam;
using sqlrt::PgTranslation;
using sqlrt::PgType;

// The columns of the job's schema that the cases name, typed as the DDL
// types them: timestamp(0) columns are dates, integer columns numbers.
const PgCatalog kJobCatalog = {
    {"bakdtm", PgType::kDate}, {"kaldtm", PgType::kDate}, {"tagtag", PgType::kDate},
    {"bsvgbi", PgType::kDate}, {"zuosdt", PgType::kDate}, {"zuostg", PgType::kNum},
    {"agrtge", PgType::kNum},  {"urvjhr", PgType::kNum},  {"bsvpnr", PgType::kText},
};
// Before the catalog knows a table (one made after it was read).
const PgCatalog kNoCatalog;

// The parameters as a text: "p" a host variable as it stands, "d:FMT" one
// read under a date format, "now" and "today" the job's clock.
std::string Params(const PgTranslation& t) {
  std::string out;
  for (const PgParam& p : t.params) {
    if (!out.empty()) out += ' ';
    switch (p.kind) {
      case PgParam::kPlain:
        out += "p";
        break;
      case PgParam::kDateFmt:
        out += "d:" + p.fmt;
        break;
      case PgParam::kSysdate:
        out += "now";
        break;
      case PgParam::kToday:
        out += "today";
        break;
    }
  }
  return out;
}

PgTranslation Translate(const char* text, const PgCatalog& catalog, bool sunday_first) {
  SqlParsed parsed;
  EXPECT_EQ(Sql_Parse(text, &parsed), 0) << text;
  return sqlrt::Pg_Translate(parsed, catalog, sunday_first);
}

bool Ends_With(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

struct TranslateCase {
  const char* text;  // as the job writes it
  const PgCatalog* catalog;
  bool sunday_first;
  const char* sql;     // what the server is to prepare
  const char* params;  // Params()
};

void Check(const TranslateCase& c) {
  const PgTranslation t = Translate(c.text, *c.catalog, c.sunday_first);
  EXPECT_EQ(t.error, 0) << c.text;
  EXPECT_EQ(t.sql, c.sql) << c.text;
  EXPECT_EQ(Params(t), c.params) << c.text;
  // An insert that ignores an existing key must report it as one.
  EXPECT_EQ(t.ignore, Ends_With(t.sql, " ON CONFLICT DO NOTHING")) << c.text;
}

// The job's own statements (src/calendar, src/person).
TEST(PgTranslate, JobStatements) {
  const TranslateCase cases[] = {
      // The day a table ends with, or today: TO_DATE(sysdate) is today's midnight.
      {"select TO_CHAR(NVL(max(BakDtm),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak",
       &kJobCatalog, false,
       "select to_char(COALESCE(max(BakDtm), $1::timestamp), 'YYYYMMDD')  from HRSYSTEM.Hrs133Bak", "today"},
      // Date + 1 by the column's type; 'd' counts from Monday outside a
      // Sunday-first territory, from Sunday inside one.
      {"select TO_CHAR((BakDtm+1),'yyyymmdd') ,TO_NUMBER(TO_CHAR((BakDtm+1),'iw')) ,"
       "TO_NUMBER(TO_CHAR((BakDtm+1),'d')) ,TO_NUMBER(TO_CHAR((BakDtm+1),'ddd')) into :b0:b1,:b2:b3,:b4:b5,:b6:b7  "
       "from HRSYSTEM.Hrs133Bak where BakDtm=TO_DATE(:b0,'yyyymmdd')",
       &kJobCatalog, false,
       "select to_char(((BakDtm + (1) * interval '1 day')), 'YYYYMMDD') ,"
       "NULLIF((to_char(((BakDtm + (1) * interval '1 day')), 'IW'))::text, '')::numeric ,"
       "NULLIF((to_char(((BakDtm + (1) * interval '1 day')), 'ID'))::text, '')::numeric ,"
       "NULLIF((to_char(((BakDtm + (1) * interval '1 day')), 'DDD'))::text, '')::numeric  "
       "from HRSYSTEM.Hrs133Bak where BakDtm=$1::timestamp",
       "d:yyyymmdd"},
      {"select TO_NUMBER(TO_CHAR((BakDtm+1),'d')) into :b0:b1  from HRSYSTEM.Hrs133Bak", &kJobCatalog, true,
       "select NULLIF((to_char(((BakDtm + (1) * interval '1 day')), 'D'))::text, '')::numeric  from "
       "HRSYSTEM.Hrs133Bak",
       ""},
      // Before the catalog knows the column, its arithmetic is left to the
      // server, which refuses it (and the session reads the catalog again).
      {"select TO_CHAR((BakDtm+1),'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak", &kNoCatalog, false,
       "select to_char((BakDtm+1), 'YYYYMMDD')  from HRSYSTEM.Hrs133Bak", ""},
      // sysdate goes after the host variables; an insert ignores a key
      // that exists.
      {"insert into HRSYSTEM.Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) "
       "values (TO_DATE(:b0,'yyyymmdd'),:b1,:b2,:b3,:b4,:b5,:b6,:b7,sysdate)",
       &kJobCatalog, false,
       "insert into HRSYSTEM.Hrs133Bak(BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) "
       "values ($1::timestamp,$2,$3,$4,$5,$6,$7,$8,$9::timestamp) ON CONFLICT DO NOTHING",
       "d:yyyymmdd p p p p p p p now"},
      {"select distinct MuwKal  from HRSYSTEM.Hrs135Muw ,Hrs137Wch where ((MuwKal=WchKal and MuwSta<4) and "
       "WchSta<4)",
       &kJobCatalog, false,
       "select distinct MuwKal  from HRSYSTEM.Hrs135Muw ,Hrs137Wch where ((MuwKal=WchKal and MuwSta<4) and "
       "WchSta<4)",
       ""},
      {"select BsvPnr ,TO_CHAR(BsvGvo,'yyyymmdd') ,TO_CHAR(BsvGbi,'yyyymmdd') ,BsvKal ,BsvAkr ,BsvAbr "
       ",PnrNam ,BsvGvo  from Hrs310Bsv ,Hrs300Pnr where (((((BsvPnr>=:b0 and BsvPnr<=:b1) and (BsvGbi "
       "is null  or BsvGbi>=TO_DATE(sysdate))) and BsvPnr=PnrNum) and BsvSta<4) and PnrSta<4) order by "
       "BsvPnr asc ,BsvGvo desc",
       &kJobCatalog, false,
       "select BsvPnr ,to_char(BsvGvo, 'YYYYMMDD') ,BsvGbi ,BsvKal ,BsvAkr ,BsvAbr "
       ",PnrNam ,BsvGvo  from Hrs310Bsv ,Hrs300Pnr where (((((BsvPnr>=$1 and BsvPnr<=$2) and (BsvGbi "
       "is null  or BsvGbi>=$3::timestamp)) and BsvPnr=PnrNum) and BsvSta<4) and PnrSta<4) order by "
       "BsvPnr asc ,BsvGvo desc",
       "p p today"},
      {"select TagPnr ,TO_CHAR(TagTag,'yyyymmdd') into :b0:b1,:b2:b3  from Hrs327Tag where (TagPnr=:b0 "
       "and TagTag=TO_DATE(:b2,'yyyymmdd'))",
       &kJobCatalog, false,
       "select TagPnr ,TagTag  from Hrs327Tag where (TagPnr=$1 and TagTag=$2::timestamp)",
       "p d:yyyymmdd"},
      {"insert into Hrs327Tag (TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
       "(:b0,TO_Date(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),TO_DATE(:b3,'yyyymmddHH24MISS'),TO_DATE(:b4,"
       "'yyyymmdd'),TO_DATE(:b5,'yyyymmddHH24MISS'),sysdate)",
       &kJobCatalog, false,
       "insert into Hrs327Tag(TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
       "($1,$2::timestamp,$3::timestamp,$4::timestamp,$5::timestamp,$6::timestamp,$7::timestamp) "
       "ON CONFLICT DO NOTHING",
       "p d:yyyymmdd d:yyyymmdd d:yyyymmddHH24MISS d:yyyymmdd d:yyyymmddHH24MISS now"},
      // date - date is a number of days; MOD(m, 0) is m as in Oracle; a
      // repeated placeholder is a parameter per appearance.
      {"select (MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra "
       "into :b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr "
       "where (((((ZuoPnr=:b14 and ZuoPnr=TagPnr) and ZuoGvo<=TO_DATE(:b15,'yyyymmdd')) and "
       "(ZuoGbi>=TO_DATE(:b15,'yyyymmdd') or ZuoGbi is null )) and TagTag=TO_DATE(:b15,'yyyymmdd')) and "
       "AgrNum=ZuoAgr)",
       &kJobCatalog, false,
       "select ((CASE WHEN (AgrTge) = 0 THEN (((((EXTRACT(EPOCH FROM (TAGTAG - ZUOSDT)) / 86400))+ZUOSTG)-1)) "
       "ELSE MOD(((((EXTRACT(EPOCH FROM (TAGTAG - ZUOSDT)) / 86400))+ZUOSTG)-1), AgrTge) END)+1) ,ZuoAgr ,ZuoAbt "
       ",ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra  from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr where (((((ZuoPnr=$1 and "
       "ZuoPnr=TagPnr) and ZuoGvo<=$2::timestamp) and (ZuoGbi>=$3::timestamp or ZuoGbi is null )) and "
       "TagTag=$4::timestamp) and AgrNum=ZuoAgr)",
       "p d:yyyymmdd d:yyyymmdd d:yyyymmdd"},
      // An update is no insert: no ON CONFLICT; sysdate in the set list
      // still comes after every host variable.
      {"update Hrs329Ztg  set "
       "ZtgAkr=:b0:b1,ZtgAbt=:b2:b3,ZtgKst=:b4:b5,ZtgKtr=:b6:b7,ZtgKrt=:b8:b9,ZtgAgr=:b10:b11,ZtgTag=:b12,"
       "ZtgBsd=:b13:b14,ZtgVra=:b15:b16,ZtgAzt=:b17:b18,ZtgTtp=:b19:b20,ZtgDat=sysdate,ZtgSta=1 where "
       "(ZtgPnr=:b21 and ZtgVon=TO_DATE(:b22,'yyyymmdd'))",
       &kJobCatalog, false,
       "update Hrs329Ztg  set ZtgAkr=$1,ZtgAbt=$2,ZtgKst=$3,ZtgKtr=$4,ZtgKrt=$5,ZtgAgr=$6,ZtgTag=$7,"
       "ZtgBsd=$8,ZtgVra=$9,ZtgAzt=$10,ZtgTtp=$11,ZtgDat=$14::timestamp,ZtgSta=1 where "
       "(ZtgPnr=$12 and ZtgVon=$13::timestamp)",
       "p p p p p p p p p p p p d:yyyymmdd now"},
      {"select max(UrvJhr) into :b0:b1  from Hrs332Urv where UrvPnr=:b2", &kJobCatalog, false,
       "select max(UrvJhr)  from Hrs332Urv where UrvPnr=$1", "p"},
  };
  for (const TranslateCase& c : cases) Check(c);
}

// The dialect beyond the job's present texts: what a new statement may
// write and what must pass untouched.
// A select list's TO_CHAR of a date column under a format of digits goes
// as the column, its format kept for the client as a template, by the
// column's place; everywhere else, and where the server compares the
// texts, TO_CHAR stays.
TEST(PgTranslate, SelectListDatesGoAsThemselves) {
  const struct {
    const char* text;
    const char* sql;
    const char* date_out;  // the templates by column, '|' between them
  } cases[] = {
      {"select NVL(BakDtm,KalDtm) ,TO_CHAR(TagTag,'yyyymmddHH24MISS') ,MOD(ZuoStg,AgrTge) ,"
       "TO_CHAR( BakDtm , 'dd.mm.yyyy hh24:mi' )  from Hrs327Tag",
       "select COALESCE(BakDtm, KalDtm) ,TagTag ,(CASE WHEN (AgrTge) = 0 THEN (ZuoStg) ELSE MOD(ZuoStg, AgrTge) "
       "END) , BakDtm   from Hrs327Tag",
       "|YMDHIS||D.M.Y H:I"},
      // Ordered by the column, not by its text's place: the same order.
      {"select TO_CHAR(KalDtm,'yyyymmdd')  from Hrs133Kal where KalDtm>TO_DATE('20261201','yyyymmdd') order by "
       "KalDtm",
       "select KalDtm  from Hrs133Kal where KalDtm>timestamp '2026-12-01 00:00:00' order by KalDtm", "YMD"},
      // Names, days of the week, years of two digits; no date column, an
      // expression, a call's argument, a subquery's list.
      {"select TO_CHAR(TagTag,'dd-mon-yyyy') ,TO_CHAR(TagTag,'d') ,TO_CHAR(TagTag,'rrmmdd') ,TO_CHAR(BsvPnr,'yyyy') ,"
       "TO_CHAR((TagTag+1),'yyyymmdd') ,TO_NUMBER(TO_CHAR(TagTag,'yyyy')) ,TO_CHAR(TagTag,'yyyy')||'x'  from "
       "(select TO_CHAR(TagTag,'yyyy') from Hrs327Tag)",
       "select to_char(TagTag, 'DD-mon-YYYY') ,to_char(TagTag, 'ID') ,to_char(TagTag, 'YYMMDD') ,to_char(BsvPnr, "
       "'YYYY') ,to_char(((TagTag + (1) * interval '1 day')), 'YYYYMMDD') ,NULLIF((to_char(TagTag, "
       "'YYYY'))::text, '')::numeric ,to_char(TagTag, 'YYYY')||'x'  from (select to_char(TagTag, 'YYYY') from "
       "Hrs327Tag)",
       ""},
      {"select distinct TO_CHAR(TagTag,'yyyy')  from Hrs327Tag", "select distinct to_char(TagTag, 'YYYY')  from Hrs327Tag",
       ""},
      {"select TO_CHAR(TagTag,'mm') ,count(*)  from Hrs327Tag group by TO_CHAR(TagTag,'mm')",
       "select to_char(TagTag, 'MM') ,count(*)  from Hrs327Tag group by to_char(TagTag, 'MM')", ""},
      {"select TO_CHAR(TagTag,'dd.mm.yyyy')  from Hrs327Tag order by 1",
       "select to_char(TagTag, 'DD.MM.YYYY')  from Hrs327Tag order by 1", ""},
      {"select TO_CHAR(TagTag,'yyyy')  from Hrs327Tag union select TO_CHAR(KalDtm,'yyyy')  from Hrs133Kal",
       "select to_char(TagTag, 'YYYY')  from Hrs327Tag union select to_char(KalDtm, 'YYYY')  from Hrs133Kal", ""},
  };
  for (const auto& c : cases) {
    const PgTranslation t = Translate(c.text, kJobCatalog, false);
    EXPECT_EQ(t.error, 0) << c.text;
    EXPECT_EQ(t.sql, c.sql) << c.text;
    std::string formats;
    for (size_t i = 0; i < t.date_out.size(); ++i) formats += (i > 0 ? "|" : "") + t.date_out[i];
    EXPECT_EQ(formats, c.date_out) << c.text;
  }
}

TEST(PgTranslate, Dialect) {
  const TranslateCase cases[] = {
      // Literals and quoted identifiers pass as written, with what looks
      // like a function, sysdate or a placeholder inside.
      {"select 'it''s sysdate + 1, NVL(a,b)' , \"BakDtm\" + 1 from dual where x = 'TO_DATE(:b1)'", &kJobCatalog,
       false,
       "select 'it''s sysdate + 1, NVL(a,b)' , \"BakDtm\" + 1 from (select 'X' as DUMMY) as DUAL where x = "
       "'TO_DATE(:b1)'",
       ""},
      // Date columns named with a schema or an alias.
      {"select HRSYSTEM.Hrs133Bak.BakDtm + 1 , t.BakDtm - 1 from HRSYSTEM.Hrs133Bak t", &kJobCatalog, false,
       "select (HRSYSTEM.Hrs133Bak.BakDtm + (1) * interval '1 day') , (t.BakDtm - (1) * interval '1 day') from "
       "HRSYSTEM.Hrs133Bak t",
       ""},
      // Arithmetic by the operands' types: number + date, a fraction of a
      // day, sysdate, an aggregate of a date; numbers stay numbers.
      {"select 1 + BakDtm , BakDtm + 1.5 , BakDtm * 2 , max(BakDtm) + 1 , count(*) + 1 , UrvJhr - 1 from T "
       "where BakDtm - 1 > sysdate",
       &kJobCatalog, false,
       "select (BakDtm + (1) * interval '1 day') , (BakDtm + (1.5) * interval '1 day') , BakDtm * 2 , "
       "(max(BakDtm) + (1) * interval '1 day') , count(*) + 1 , UrvJhr - 1 from T "
       "where (BakDtm - (1) * interval '1 day') > $1::timestamp",
       "now"},
      {"select NVL(BakDtm,sysdate) + 1 , NVL(BsvPnr,'x') , MOD(UrvJhr,4) from T", &kJobCatalog, false,
       "select (COALESCE(BakDtm, $1::timestamp) + (1) * interval '1 day') , COALESCE(BsvPnr, 'x') , "
       "(CASE WHEN (4) = 0 THEN (UrvJhr) ELSE MOD(UrvJhr, 4) END) from T",
       "now"},
      // TO_CHAR: the formats' elements, the default form of a date, a number.
      {"select TO_CHAR(BakDtm,'DD-MON-RR') , TO_CHAR(BakDtm,'Mon dd.mm.yyyy hh24:mi:ss') , TO_CHAR(BakDtm) , "
       "TO_CHAR(UrvJhr) from T",
       &kJobCatalog, false,
       "select to_char(BakDtm, 'DD-MON-YY') , to_char(BakDtm, 'Mon DD.MM.YYYY HH24:MI:SS') , "
       "to_char(BakDtm, 'DD-MON-YY') , (UrvJhr)::text from T",
       ""},
      // TO_DATE of a literal is read here, with the same rules as a host
      // variable's; an empty text is NULL; of a date it is the day.
      {"select TO_DATE('00010101','yyyymmdd') , TO_DATE('20261208235959','yyyymmddHH24MISS') , "
       "TO_DATE('31-dec-99') , TO_DATE('') , TO_DATE(BakDtm) , TO_DATE(BsvPnr,'yyyymmdd') from dual",
       &kJobCatalog, false,
       "select timestamp '0001-01-01 00:00:00' , timestamp '2026-12-08 23:59:59' , timestamp '1999-12-31 "
       "00:00:00' , NULL::timestamp , date_trunc('day', BakDtm) , to_timestamp(NULLIF((BsvPnr)::text, ''), "
       "'YYYYMMDD')::timestamp(0) from (select 'X' as DUMMY) as DUAL",
       ""},
      {"INSERT INTO Hrs332Urv (UrvPnr) values (:b0)", &kJobCatalog, false,
       "INSERT INTO Hrs332Urv(UrvPnr) values ($1) ON CONFLICT DO NOTHING", "p"},
      {"delete from Hrs327Tag where TagTag < sysdate - 30", &kJobCatalog, false,
       "delete from Hrs327Tag where TagTag < ($1::timestamp - (30) * interval '1 day')", "now"},
      // dual is the one-row table only after from.
      {"select nosuch(BakDtm) , dual from T", &kJobCatalog, false, "select nosuch(BakDtm) , dual from T", ""},
      {"", &kJobCatalog, false, "", ""},
  };
  for (const TranslateCase& c : cases) Check(c);
}

// What the translation refuses (the statement is not prepared), and odd
// texts it hands on for the server to judge.
TEST(PgTranslate, Odd) {
  const struct {
    const char* text;
    int error;
  } cases[] = {
      {"select TO_CHAR(BakDtm,'yyyy q') from T", kOraFormatUnknown},
      {"select TO_CHAR(BakDtm, :b0) from dual", kOraFormatUnknown},
      {"select TO_DATE(:b0, fmt) from dual", kOraFormatUnknown},
      {"select TO_DATE('x','bogus') from dual", kOraFormatUnknown},
      {"select TO_DATE('20261332','yyyymmdd') from dual", kOraBadMonth},
      {"select TO_DATE('20260230','yyyymmdd') from dual", kOraBadDay},
      // A '?' of the text itself has no host variable.
      {"select TO_DATE(?,'yyyymmdd') from dual", kSqlBindMismatch},
      {"select a from T where b = :b0 or c = ?", kSqlBindMismatch},
      // Unbalanced, or sysdate called: the server refuses them.
      {"select f((a , b from T", 0},
      {"select MOD(a) , NVL(a) , TO_CHAR(a, 'yyyy', 'x') from T", 0},
      {"select sysdate ( ) from dual", 0},
  };
  for (const auto& c : cases) {
    const PgTranslation t = Translate(c.text, kJobCatalog, false);
    EXPECT_EQ(t.error, c.error) << c.text;
  }
}

TEST(PgError, BySqlstate) {
  const struct {
    const char* state;
    int code;
    bool broken;
  } cases[] = {
      {"23505", kSqlDupKey, false},
      {"23502", kSqlNotNull, false},
      {"23514", kSqlCheck, false},
      {"42P01", kSqlNoTable, false},
      {"3F000", kSqlNoTable, false},
      {"42703", kSqlNoColumn, false},
      {"42883", kSqlNoColumn, false},
      {"55P03", kSqlLocked, false},
      {"40P01", kSqlDeadlock, false},
      {"42601", kSqlBadStatement, false},
      {"22P02", kSqlBadNumber, false},
      {"22003", kSqlIntOverflow, false},
      {"22008", kOraDateMismatch, false},
      {"25006", sqlrt::kPgReadOnly, true},
      {"53100", sqlrt::kPgDiskFull, true},
      {"53200", sqlrt::kPgNoMemory, true},
      {"58030", sqlrt::kPgIoError, true},
      {"57P01", sqlrt::kPgShutdown, true},
      {"57P03", sqlrt::kPgShutdown, true},
      // Class 08, or no SQLSTATE at all: the connection is gone.
      {"08006", sqlrt::kPgConnectionLost, true},
      {"08P01", sqlrt::kPgConnectionLost, true},
      {"", sqlrt::kPgConnectionLost, true},
      {"0800", sqlrt::kPgConnectionLost, true},
      {nullptr, sqlrt::kPgConnectionLost, true},
      // Anything else by its class; a statement's own failure.
      {"23503", -20023, false},
      {"42P07", -20042, false},
      {"57014", -20057, false},
      {"XX000", -20099, false},
      {"HV000", -20099, false},
  };
  for (const auto& c : cases) {
    const char* name = c.state != nullptr ? c.state : "(null)";
    const sqlrt::PgError e = sqlrt::Pg_Error_Of(c.state);
    EXPECT_EQ(e.code, c.code) << name;
    EXPECT_EQ(e.broken != nullptr, c.broken) << name;
    // The condition goes into the run log: plain ASCII.
    for (const char* p = e.broken; p != nullptr && *p != '\0'; ++p) {
      EXPECT_TRUE(*p >= ' ' && *p <= '~') << name;
    }
  }
  const sqlrt::PgError lost = sqlrt::Pg_Error_Lost();
  EXPECT_EQ(lost.code, sqlrt::kPgConnectionLost);
  EXPECT_STREQ(lost.broken, sqlrt::Pg_Error_Of("08006").broken);
}

}  // namespace

// A run of executions of one write as one statement over arrays: the job's
// day insert and time-group update as the server is to prepare them, and
// the shapes whose runs go item by item.
TEST(PgTranslate, RunOfOneWrite) {
  const PgTranslation ins = Translate(
      "insert into Hrs332Urv (UrvPnr,UrvJhr,UrvDat) values (:b0,:b1+1,sysdate)", kJobCatalog, false);
  EXPECT_EQ(sqlrt::Pg_Run_Sql(ins, {"varchar", "int4", "timestamp"}),
            "WITH dayset_w AS (insert into Hrs332Urv(UrvPnr,UrvJhr,UrvDat) SELECT dayset_u.dayset_p1,"
            "dayset_u.dayset_p2+1,dayset_u.dayset_p3::timestamp FROM (SELECT unnest($1::varchar[]) AS dayset_p1, "
            "unnest($2::int4[]) AS dayset_p2, unnest($3::timestamp[]) AS dayset_p3) AS dayset_u ON CONFLICT DO "
            "NOTHING RETURNING 1) "
            "SELECT count(*) / (count(*) = cardinality($1::varchar[]) OR count(*) = 0)::int FROM dayset_w");
  EXPECT_EQ(sqlrt::Pg_Run_Sql(ins, {"varchar", "int4"}), "");  // a type per parameter or nothing
  EXPECT_EQ(sqlrt::Pg_Run_Sql(ins, {"varchar", "", "timestamp"}), "");
  // A long run goes plain: no conflict clause, no count.
  EXPECT_EQ(sqlrt::Pg_Run_Sql_Plain(ins, {"varchar", "int4", "timestamp"}),
            "insert into Hrs332Urv(UrvPnr,UrvJhr,UrvDat) SELECT dayset_u.dayset_p1,dayset_u.dayset_p2+1,"
            "dayset_u.dayset_p3::timestamp FROM (SELECT unnest($1::varchar[]) AS dayset_p1, unnest($2::int4[]) AS "
            "dayset_p2, unnest($3::timestamp[]) AS dayset_p3) AS dayset_u");
  EXPECT_EQ(sqlrt::Pg_Run_Sql_Plain(ins, {"varchar", "", "timestamp"}), "");
  // Values common to every item go once; the first parameter stays an array
  // (the run's length), whatever its bit says.
  EXPECT_EQ(sqlrt::Pg_Run_Sql_Plain(ins, {"varchar", "int4", "timestamp"}, 0b111),
            "insert into Hrs332Urv(UrvPnr,UrvJhr,UrvDat) SELECT dayset_u.dayset_p1,dayset_u.dayset_p2+1,"
            "dayset_u.dayset_p3::timestamp FROM (SELECT unnest($1::varchar[]) AS dayset_p1, $2::int4 AS "
            "dayset_p2, $3::timestamp AS dayset_p3) AS dayset_u");
  const PgTranslation upd = Translate(
      "update Hrs329Ztg  set ZtgAkr=:b0:b1,ZtgDat=sysdate where (ZtgPnr=:b2 and ZtgVon=TO_DATE(:b3,'yyyymmdd') "
      "and ZtgAkr<>'$1')",
      kJobCatalog, false);
  EXPECT_EQ(sqlrt::Pg_Run_Sql(upd, {"varchar", "varchar", "timestamp", "timestamp"}),
            "WITH dayset_w AS (update Hrs329Ztg  set ZtgAkr=dayset_u.dayset_p1,ZtgDat=dayset_u.dayset_p4::timestamp "
            " FROM (SELECT unnest($1::varchar[]) AS dayset_p1, unnest($2::varchar[]) AS dayset_p2, "
            "unnest($3::timestamp[]) AS dayset_p3, unnest($4::timestamp[]) AS dayset_p4, generate_series(1, "
            "cardinality($1::varchar[])) AS dayset_k) AS dayset_u where (ZtgPnr=dayset_u.dayset_p2 and "
            "ZtgVon=dayset_u.dayset_p3::timestamp and ZtgAkr<>'$1') RETURNING dayset_u.dayset_k) SELECT count(*) / "
            "((count(*) = cardinality($1::varchar[]) AND count(DISTINCT dayset_k) = count(*)) OR count(*) = 0)::int "
            "FROM dayset_w");
  EXPECT_EQ(sqlrt::Pg_Run_Sql(upd, {"varchar", "varchar", "timestamp", "timestamp"}, 0b1010),
            "WITH dayset_w AS (update Hrs329Ztg  set ZtgAkr=dayset_u.dayset_p1,ZtgDat=dayset_u.dayset_p4::timestamp "
            " FROM (SELECT unnest($1::varchar[]) AS dayset_p1, $2::varchar AS dayset_p2, "
            "unnest($3::timestamp[]) AS dayset_p3, $4::timestamp AS dayset_p4, generate_series(1, "
            "cardinality($1::varchar[])) AS dayset_k) AS dayset_u where (ZtgPnr=dayset_u.dayset_p2 and "
            "ZtgVon=dayset_u.dayset_p3::timestamp and ZtgAkr<>'$1') RETURNING dayset_u.dayset_k) SELECT count(*) / "
            "((count(*) = cardinality($1::varchar[]) AND count(DISTINCT dayset_k) = count(*)) OR count(*) = 0)::int "
            "FROM dayset_w");
  // The job's update: a person's run bounds its rows by the person and
  // the range of the days, whatever their order; with the person in an
  // array, or a clause of another shape, no row is bounded.
  const PgTranslation keyed = Translate(
      "update Hrs329Ztg  set ZtgAkr=:b0:b1,ZtgDat=sysdate where (ZtgPnr=:b2 and ZtgVon=TO_DATE(:b3,'yyyymmdd'))",
      kJobCatalog, false);
  const std::vector<std::string> types = {"varchar", "text", "timestamp", "timestamp"};
  EXPECT_EQ(sqlrt::Pg_Run_Keys(keyed, types), 0b10u);
  EXPECT_EQ(sqlrt::Pg_Run_Sql(keyed, types, 0b1010),
            "WITH dayset_w AS (update Hrs329Ztg  set ZtgAkr=dayset_u.dayset_p1,ZtgDat=dayset_u.dayset_p4::timestamp "
            " FROM (SELECT unnest($1::varchar[]) AS dayset_p1, $2::text AS dayset_p2, "
            "unnest($3::timestamp[]) AS dayset_p3, $4::timestamp AS dayset_p4, generate_series(1, "
            "cardinality($1::varchar[])) AS dayset_k) AS dayset_u where (ZtgPnr=dayset_u.dayset_p2 and "
            "ZtgVon=dayset_u.dayset_p3::timestamp) AND ZtgPnr = $2::text AND ZtgVon >= (SELECT "
            "min(dayset_b::timestamp) FROM unnest($3::timestamp[]) AS dayset_b) AND ZtgVon <= (SELECT "
            "max(dayset_b::timestamp) FROM unnest($3::timestamp[]) AS dayset_b) RETURNING dayset_u.dayset_k) SELECT "
            "count(*) / ((count(*) = cardinality($1::varchar[]) AND count(DISTINCT dayset_k) = count(*)) OR count(*) "
            "= 0)::int FROM dayset_w");
  EXPECT_EQ(sqlrt::Pg_Run_Sql(keyed, types, 0b1000).find("dayset_b"), std::string::npos);
  EXPECT_EQ(sqlrt::Pg_Run_Keys(upd, {"varchar", "varchar", "timestamp", "timestamp"}), 0u);
  const char* const unbounded[] = {
      "update Hrs329Ztg set ZtgAkr=:b0 where ZtgPnr=:b1 or ZtgVon=TO_DATE(:b2,'yyyymmdd')",
      "update Hrs329Ztg set ZtgAkr=:b0 where ZtgPnr=:b1 and not ZtgVon=TO_DATE(:b2,'yyyymmdd')",
      "update Hrs329Ztg set ZtgAkr=:b0 where (ZtgPnr=:b1 and ZtgVon=TO_DATE(:b2,'yyyymmdd')) = true",
      "update Hrs329Ztg set ZtgAkr=:b0 where upper(ZtgPnr)=:b1 and ZtgVon=TO_DATE(:b2,'yyyymmdd')",
      "update Hrs329Ztg set ZtgAkr=:b0 where ZtgPnr>=:b1 and ZtgVon=TO_DATE(:b2,'yyyymmdd')",
  };
  for (const char* text : unbounded) {
    const PgTranslation t = Translate(text, kJobCatalog, false);
    const std::vector<std::string> ty = {"varchar", "text", "timestamp"};
    EXPECT_EQ(sqlrt::Pg_Run_Keys(t, ty), 0u) << text;
    EXPECT_EQ(sqlrt::Pg_Run_Sql(t, ty, 0b110).find("dayset_b"), std::string::npos) << text;
  }
  const char* const alone[] = {
      "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,1),(:b1,2)",
      "insert into Hrs332Urv (UrvPnr,UrvJhr) select PnrNum,:b0 from Hrs300Pnr",
      "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,(select max(UrvJhr) from Hrs332Urv))",
      "insert into Hrs332Urv (UrvPnr,UrvJhr) values ('1',2)",
      "update Hrs332Urv set UrvJhr=:b0",
      "update Hrs332Urv set UrvJhr=:b0 where UrvPnr in (select PnrNum from Hrs300Pnr)",
      "delete from Hrs332Urv where UrvPnr=:b0",
      "select UrvJhr into :b0 from Hrs332Urv where UrvPnr=:b1",
  };
  for (const char* text : alone) {
    const PgTranslation t = Translate(text, kJobCatalog, false);
    EXPECT_EQ(sqlrt::Pg_Run_Sql(t, std::vector<std::string>(t.params.size(), "int4")), "") << text;
  }
}

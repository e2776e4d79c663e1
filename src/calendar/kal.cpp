#include "calendar/kal.h"

#include <cstring>

#include "calendar/caltxt.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "base/text.h"

namespace {

// The statements of one family. The first family lives in HRSYSTEM; the
// second in the current schema, which may not have its tables at all.
struct KalStmts {
  const char* NumCur;
  const char* LstDay;
  const char* DayCur;
  const char* NewDay;
};

const KalStmts kKalStmts = {
    "select distinct MuwKal  from HRSYSTEM.Hrs135Muw ,Hrs137Wch where ((MuwKal=WchKal and MuwSta<4) and WchSta<4)",
    "select TO_CHAR(NVL(max(KalDtm),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Kal "
    "where KalNum=:b2",
    "select TO_CHAR(BakDtm,'yyyymmdd') ,WchTtp ,BakDtm  from HRSYSTEM.Hrs133Bak ,HRSYSTEM.Hrs135Muw ,Hrs137Wch "
    "where ((((((WchKal=:b0 and WchKal=MuwKal) and WchTag=BakWtg) and BakDtm>TO_DATE(:b1,'yyyymmdd')) and "
    "BakDtm<=TO_DATE(:b2,'yyyymmdd')) and MuwSta<4) and WchSta<4) order by BakDtm",
    "insert into HRSYSTEM.Hrs133Kal (KalNum,KalDtm,KalTtp,KalPtp,KalBtp,KalGwt,KalDat,KalSta) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),:b2,:b3,:b4,:b5,sysdate,1)",
};

const KalStmts kKa2Stmts = {
    "select distinct Mu2Kal  from Hrs135Mu2 ,Hrs137Wch where ((Mu2Kal=WchKal and Mu2Sta<4) and WchSta<4)",
    "select TO_CHAR(NVL(max(Ka2Dtm),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from Hrs133Ka2 where Ka2Num=:b2",
    "select TO_CHAR(BakDtm,'yyyymmdd') ,WchTtp ,BakDtm  from HRSYSTEM.Hrs133Bak ,Hrs135Mu2 ,Hrs137Wch "
    "where ((((((WchKal=:b0 and WchKal=Mu2Kal) and WchTag=BakWtg) and BakDtm>TO_DATE(:b1,'yyyymmdd')) and "
    "BakDtm<=TO_DATE(:b2,'yyyymmdd')) and Mu2Sta<4) and WchSta<4) order by BakDtm",
    "insert into Hrs133Ka2 (Ka2Num,Ka2Dtm,Ka2Ttp,Ka2Ptp,Ka2Btp,Ka2Gwt,Ka2Dat,Ka2Sta) "
    "values (:b0,TO_DATE(:b1,'yyyymmdd'),:b2,:b3,:b4,:b5,sysdate,1)",
};

// The operations of one family. Each runs one statement and returns SqlCode.
//   NumCur_*: calendar numbers with a usable list row and weekly pattern row;
//             the fetch writes Satz->KalNum only on 0.
//   LstDay_Get: latest stored day of KalNum, or the database's current date
//             for a calendar without rows; writes Dat (11 bytes) only on 0.
//   DayCur_*: base-calendar days after LstDay up to EndDat whose weekday has
//             a usable pattern row, ascending; the fetch sets KalDtm, the
//             three types and KalGwt only on 0, leaving KalNum alone.
//   NewDay_Ins: inserts *Satz with status 1, stamped with sysdate.
int32_t NumCur_Open(const KalStmts& s) { return Sql_Cur_Open(s.NumCur); }

int32_t NumCur_Fetch(const KalStmts& s, KalSatz* Satz) {
  char num[sizeof Satz->KalNum] = "";
  int16_t ind = 0;
  Sql_Cur_Fetch(s.NumCur, {SqlStr(num, sizeof num, &ind)});
  if (SqlCode == 0) Str_Copy(Satz->KalNum, sizeof Satz->KalNum, num);
  return SqlCode;
}

int32_t NumCur_Close(const KalStmts& s) { return Sql_Cur_Close(s.NumCur); }

int32_t LstDay_Get(const KalStmts& s, const char* KalNum, char* Dat) {
  char dtm[kCalDateTextSize] = "";
  int16_t ind = 0;
  Sql_Exec(s.LstDay, {SqlStr(dtm, sizeof dtm, &ind), SqlStr(KalNum, 4)});
  if (SqlCode == 0) Str_Copy(Dat, kCalDateTextSize, dtm);
  return SqlCode;
}

int32_t DayCur_Open(const KalStmts& s, const char* KalNum, const char* LstDay, const char* EndDat) {
  char end[kCalDateTextSize];
  Str_Copy(end, sizeof end, EndDat);
  return Sql_Cur_Open(s.DayCur, {SqlStr(KalNum, 4), SqlStr(LstDay, kCalDateTextSize),
                                 SqlStr(static_cast<const char*>(end), sizeof end)});
}

int32_t DayCur_Fetch(const KalStmts& s, KalSatz* Satz) {
  char dtm[kCalDateTextSize] = "";
  char ttp[sizeof Satz->KalTtp] = "";
  char bak[30] = "";  // the day in the session's date form; not used
  int16_t ind[3] = {};
  Sql_Cur_Fetch(s.DayCur, {SqlStr(dtm, sizeof dtm, &ind[0]), SqlStr(ttp, sizeof ttp, &ind[1]),
                           SqlStr(bak, sizeof bak, &ind[2])});
  if (SqlCode != 0) return SqlCode;
  // A pattern row without a day type gives a day without one (stored as
  // NULL), never the type of the day fetched before.
  if (ind[1] == -1) ttp[0] = '\0';
  Str_Copy(Satz->KalDtm, sizeof Satz->KalDtm, dtm);
  Str_Copy(Satz->KalTtp, sizeof Satz->KalTtp, ttp);
  Str_Copy(Satz->KalPtp, sizeof Satz->KalPtp, ttp);
  Str_Copy(Satz->KalBtp, sizeof Satz->KalBtp, ttp);
  Satz->KalGwt = 100;
  return SqlCode;
}

int32_t DayCur_Close(const KalStmts& s) { return Sql_Cur_Close(s.DayCur); }

int32_t NewDay_Ins(const KalStmts& s, const KalSatz* Satz) {
  char dtm[kCalDateTextSize];
  Str_Copy(dtm, sizeof dtm, Satz->KalDtm);
  return Sql_Exec(s.NewDay, {SqlStr(Satz->KalNum, sizeof Satz->KalNum),
                             SqlStr(static_cast<const char*>(dtm), sizeof dtm),
                             SqlStr(Satz->KalTtp, sizeof Satz->KalTtp), SqlStr(Satz->KalPtp, sizeof Satz->KalPtp),
                             SqlStr(Satz->KalBtp, sizeof Satz->KalBtp), SqlInt(&Satz->KalGwt)});
}

// One family as the phase loop sees it: its statements and its messages.
struct KalFamily {
  const KalStmts& Stmts;
  const char* MsgNumOpen;
  const char* MsgLstDay;
  const char* MsgNewDay;
  const char* MsgDayFetch;
  const char* MsgNumFetch;
};

// Extends every calendar of one family and commits once. A failed
// latest-day look-up ends the family's loop: the calendars not yet fetched
// wait for the next run.
// A failure that breaks the session (Sql_Rt_Broken) ends the family at once
// and unlogged, without its commit: the driver reports it.
void Kal_Family_Extend(const KalFamily& f, KalSatz* Satz, const char* EndDat) {
  if (NumCur_Open(f.Stmts) != 0) {
    if (Sql_Rt_Broken() != nullptr) return;
    RunLog_Printf(f.MsgNumOpen, SqlCode);
  }
  int32_t rc;
  char lst[kCalDateTextSize];
  while ((rc = NumCur_Fetch(f.Stmts, Satz)) == 0) {
    if ((rc = LstDay_Get(f.Stmts, Satz->KalNum, lst)) != 0) {
      if (Sql_Rt_Broken() != nullptr) return;
      RunLog_Printf(f.MsgLstDay, rc);
      break;
    }
    if (std::strcmp(lst, EndDat) >= 0) continue;  // already complete
    DayCur_Open(f.Stmts, Satz->KalNum, lst, EndDat);  // a failed open shows in the fetch
    int32_t day;
    while ((day = DayCur_Fetch(f.Stmts, Satz)) == 0) {
      int32_t ins = NewDay_Ins(f.Stmts, Satz);
      if (ins != 0 && ins != kSqlNoRow) {
        if (Sql_Rt_Broken() != nullptr) return;
        RunLog_Printf(f.MsgNewDay, ins);
      }
    }
    if (Sql_Rt_Broken() != nullptr) return;
    if (day != kSqlNoRow) RunLog_Printf(f.MsgDayFetch, day);
    DayCur_Close(f.Stmts);
  }
  if (Sql_Rt_Broken() != nullptr) return;
  if (rc != 0 && rc != kSqlNoRow) RunLog_Printf(f.MsgNumFetch, rc);
  NumCur_Close(f.Stmts);
  Sql_Commit();
}

const KalFamily kKalFamily = {
    kKalStmts,
    "Error: KalNum Cursor Open. RC:%d\n",
    "Error: Letzten Kal-Tag ermitteln. RC:%d\n",
    "Error:Kal-Tag einf\xfcgen. RC:%d\n",
    "Error: N\xe4" "chste KalSatz ermitteln. RC:%d\n",
    "Error: N\xe4" "chste KalNum ermitteln. RC:%d\n",
};

const KalFamily kKa2Family = {
    kKa2Stmts,
    "Error: Ka2Num Cursor Open. RC:%d\n",
    "Error: Letzten Ka2-Tag ermitteln. RC:%d\n",
    "Error:Ka2-Tag einf\xfcgen. RC:%d\n",
    "Error: N\xe4" "chste Ka2Satz ermitteln. RC:%d\n",
    "Error: N\xe4" "chste Ka2Num ermitteln. RC:%d\n",
};

}  // namespace

void Kal_Days_Extend(const char* EndDat) {
  KalSatz satz{};
  Kal_Family_Extend(kKalFamily, &satz, EndDat);
  if (Sql_Rt_Broken() != nullptr) return;
  Kal_Family_Extend(kKa2Family, &satz, EndDat);
}

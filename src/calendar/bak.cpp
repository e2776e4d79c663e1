#include "calendar/bak.h"

#include <cstring>

#include "calendar/caltxt.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "base/text.h"

namespace {

const char kBakLstDaySel[] =
    "select TO_CHAR(NVL(max(BakDtm),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from HRSYSTEM.Hrs133Bak";

// Every attribute of the next day comes from the database's own date
// arithmetic on the stored row, so the calendar agrees with what the rest of
// the system's SQL computes for the same date (weekday numbering included).
const char kBakNxtDaySel[] =
    "select TO_CHAR((BakDtm+1),'yyyymmdd') ,TO_NUMBER(TO_CHAR((BakDtm+1),'yyyy')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'mm')) ,TO_NUMBER(TO_CHAR((BakDtm+1),'dd')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'iw')) ,TO_NUMBER(TO_CHAR((BakDtm+1),'d')) ,"
    "TO_NUMBER(TO_CHAR((BakDtm+1),'ddd')) into :b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  "
    "from HRSYSTEM.Hrs133Bak where BakDtm=TO_DATE(:b0,'yyyymmdd')";

const char kBakNewDayIns[] =
    "insert into HRSYSTEM.Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) "
    "values (TO_DATE(:b0,'yyyymmdd'),:b1,:b2,:b3,:b4,:b5,:b6,:b7,sysdate)";

}  // namespace

int32_t Bak_Yow_Calc(int32_t Jhr, int32_t Mon, int32_t Wch) {
  if (Mon == 12 && Wch == 1) return Jhr + 1;
  if (Mon == 1 && Wch > 51) return Jhr - 1;
  return Jhr;
}

int32_t Bak_LstDay_Get(char* Dat) {
  char dtm[kCalDateTextSize] = "";
  int16_t ind = 0;
  Sql_Exec(kBakLstDaySel, {SqlStr(dtm, sizeof dtm, &ind)});
  if (SqlCode == 0) Str_Copy(Dat, kDateYmdSize, dtm);
  return SqlCode;
}

int32_t Bak_NxtDay_Init(BakSatz* Satz) {
  char cur[kCalDateTextSize];
  Str_Copy(cur, sizeof cur, Satz->BakDtm);
  char dtm[kCalDateTextSize] = "";
  int32_t jhr = 0, mon = 0, tag = 0, wch = 0, wtg = 0, jtg = 0;
  int16_t ind[7] = {};
  Sql_Exec(kBakNxtDaySel, {SqlStr(dtm, sizeof dtm, &ind[0]), SqlInt(&jhr, &ind[1]), SqlInt(&mon, &ind[2]),
                           SqlInt(&tag, &ind[3]), SqlInt(&wch, &ind[4]), SqlInt(&wtg, &ind[5]),
                           SqlInt(&jtg, &ind[6]), SqlStr(static_cast<const char*>(cur), sizeof cur)});
  if (SqlCode != 0) return SqlCode;
  Str_Copy(Satz->BakDtm, sizeof Satz->BakDtm, dtm);
  Satz->BakJhr = jhr;
  Satz->BakMon = mon;
  Satz->BakTag = tag;
  Satz->BakWch = wch;
  Satz->BakWtg = wtg;
  Satz->BakJtg = jtg;
  Satz->BakYow = Bak_Yow_Calc(jhr, mon, wch);
  return SqlCode;
}

int32_t Bak_NewDay_Ins(const BakSatz* Satz) {
  // The statement's date variable is 11 bytes; the record's field is a
  // 9-byte DateYmd, so it travels in a buffer of the stated size.
  char dtm[kCalDateTextSize];
  Str_Copy(dtm, sizeof dtm, Satz->BakDtm);
  return Sql_Exec(kBakNewDayIns, {SqlStr(static_cast<const char*>(dtm), sizeof dtm), SqlInt(&Satz->BakJhr),
                                  SqlInt(&Satz->BakMon), SqlInt(&Satz->BakTag), SqlInt(&Satz->BakWch),
                                  SqlInt(&Satz->BakWtg), SqlInt(&Satz->BakJtg), SqlInt(&Satz->BakYow)});
}

int32_t Bak_Days_Extend(const char* EndDat) {
  // A failure that breaks the session (Sql_Rt_Broken) ends the phase at once
  // and unlogged: the driver reports it.
  BakSatz satz{};
  if (Bak_LstDay_Get(satz.BakDtm) != 0) {
    if (Sql_Rt_Broken() != nullptr) return SqlCode;
    RunLog_Printf("Error: Letzten BAK-Tag ermitteln. RC:%d\n", SqlCode);
    Str_Copy(satz.BakDtm, sizeof satz.BakDtm, RunDate);
  }
  while (std::strcmp(satz.BakDtm, EndDat) < 0) {
    // Each day is derived from the stored row of the day before: without that
    // row the calendar cannot go on, and what this run inserted so far is
    // left to the next commit of the run.
    if (Bak_NxtDay_Init(&satz) != 0) {
      const int32_t rc = SqlCode;
      if (Sql_Rt_Broken() != nullptr) return rc;
      RunLog_Printf("Error: Bak_NxtDay_Init RC:%d\n", rc);
      return rc;
    }
    if (Bak_NewDay_Ins(&satz) != 0) {
      if (Sql_Rt_Broken() != nullptr) return SqlCode;
      RunLog_Printf("Error: Bak_NewDay_Ins RC:%d\n", SqlCode);
    }
  }
  Sql_Commit();
  return 0;
}

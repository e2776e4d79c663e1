#include "person/tag.h"

#include <cstring>

#include "db/sqlrt.h"
#include "person/pnr.h"
#include "person/pnr_hook.h"
#include "person/ztg.h"
#include "base/runlog.h"

namespace {

// The days of one work calendar in (WinStart, EndDat], in date order. The
// second family's table lives in the client's schema; the first family's
// always in HRSYSTEM.
const char kKa2Cur[] =
    "select TO_CHAR(Ka2Dtm,'yyyymmdd') ,Ka2Ttp ,Ka2Dtm  from Hrs133Ka2 where (((Ka2Num=:b0 and "
    "Ka2Dtm>TO_DATE(:b1,'yyyymmdd')) and Ka2Dtm<=TO_DATE(:b2,'yyyymmdd')) and Ka2Sta<4) order by "
    "Ka2Dtm";
const char kKalCur[] =
    "select TO_CHAR(KalDtm,'yyyymmdd') ,KalTtp ,KalDtm  from HRSYSTEM.Hrs133Kal where (((KalNum=:b0 "
    "and KalDtm>TO_DATE(:b1,'yyyymmdd')) and KalDtm<=TO_DATE(:b2,'yyyymmdd')) and KalSta<4) order by "
    "KalDtm";

const char kTagDaySel[] =
    "select TagPnr ,TO_CHAR(TagTag,'yyyymmdd') into :b0:b1,:b2:b3  from Hrs327Tag where (TagPnr=:b0 "
    "and TagTag=TO_DATE(:b2,'yyyymmdd'))";

const char kTagNewDayIns[] =
    "insert into Hrs327Tag (TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
    "(:b0,TO_Date(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),TO_DATE(:b3,'yyyymmddHH24MISS'),TO_DATE(:b4,"
    "'yyyymmdd'),TO_DATE(:b5,'yyyymmddHH24MISS'),sysdate)";

const char* PnrKal_Cur_Text() { return Ka2Flag ? kKa2Cur : kKalCur; }

// Opens the person's calendar-day cursor. The open that finds Hrs133Ka2
// missing clears Ka2Flag and already opens the HRSYSTEM.Hrs133Kal cursor.
int PnrKal_Cur_Open(const char* BsvKal, const char* WinStart, const char* EndDat) {
  if (Ka2Flag) {
    int rc = Sql_Cur_Open(kKa2Cur, {SqlStr(BsvKal, 4), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
    if (rc == -942) Ka2Flag = false;
    if (Ka2Flag) return rc;
  }
  return Sql_Cur_Open(kKalCur, {SqlStr(BsvKal, 4), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
}

// On 0 fills the day, its start and end and its day type; TagPnr stays.
// Otherwise the record stays as it was. The buffers start empty so that a
// NULL day type arrives as an empty text, not as the day type of the day
// before.
int PnrKal_Cur_Fetch(TagRecord* TagSatz) {
  char day[11] = "", ttp[4] = "", dtm[30] = "";
  int16_t ind = 0;  // shared, read by nobody
  int rc = Sql_Cur_Fetch(PnrKal_Cur_Text(), {SqlStr(day, sizeof day, &ind),
                                             SqlStr(ttp, sizeof ttp, &ind),
                                             SqlStr(dtm, sizeof dtm, &ind)});
  if (rc == 0) {
    Pnr_Str_Copy(TagSatz->TagTag, sizeof TagSatz->TagTag, day);
    Pnr_Str_Copy(TagSatz->TagVon, sizeof TagSatz->TagVon, day);
    Pnr_Str_Copy(TagSatz->TagBis, sizeof TagSatz->TagBis, day);
    std::memcpy(TagSatz->TagUhr, "000000", sizeof TagSatz->TagUhr);
    std::memcpy(TagSatz->TagEnd, "000000", sizeof TagSatz->TagEnd);
    Pnr_Str_Copy(TagSatz->TagTtp, sizeof TagSatz->TagTtp, ttp);
  }
  return rc;
}

int PnrKal_Cur_Close() { return Sql_Cur_Close(PnrKal_Cur_Text()); }

// 0: the person has a record for the day; 1403: not.
int Tag_Day_Sel(const char* TagPnr, const char* TagTag) {
  char pnr[9] = "", day[11] = "";
  int16_t ind = 0;
  return Sql_Exec(kTagDaySel, {SqlStr(pnr, sizeof pnr, &ind), SqlStr(day, sizeof day, &ind),
                               SqlStr(TagPnr, 9), SqlStr(TagTag, 11)});
}

// Joins a date and a time of day into yyyymmddhhmmss (dst has 15 bytes).
void Tag_DateTime_Put(char* dst, const char* date, const char* time) {
  Pnr_Str_Copy(dst, 9, date);
  std::size_t n = std::strlen(dst);
  Pnr_Str_Copy(dst + n, 15 - n, time);
}

int Tag_NewDay_Ins(const TagRecord& TagSatz) {
  char von[15];
  char bis[15];
  Tag_DateTime_Put(von, TagSatz.TagVon, TagSatz.TagUhr);
  Tag_DateTime_Put(bis, TagSatz.TagBis, TagSatz.TagEnd);
  return Sql_Exec(kTagNewDayIns, {SqlStr(TagSatz.TagPnr, 9), SqlStr(TagSatz.TagTag, 11),
                                  SqlStr(TagSatz.TagVon, 11), SqlStr(von, sizeof von),
                                  SqlStr(TagSatz.TagBis, 11), SqlStr(bis, sizeof bis)});
}

}  // namespace

long Tag_Days_Extend(const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat,
                     const char* LastZtg) {
  TagRecord TagSatz{};
  Pnr_Str_Copy(TagSatz.TagPnr, sizeof TagSatz.TagPnr, BsvSatz.BsvPnr);

  PnrKal_Cur_Open(BsvSatz.BsvKal, WinStart, EndDat);  // a failed open shows at the fetch
  long written = 0;
  int rc;
  while ((rc = PnrKal_Cur_Fetch(&TagSatz)) == 0) {
    int sel = Tag_Day_Sel(TagSatz.TagPnr, TagSatz.TagTag);
    if (sel == 1403) {
      int ins = Tag_NewDay_Ins(TagSatz);
      if (ins != 0 && ins != -1) {
        if (Sql_Rt_Broken() != nullptr) break;
        RunLog_Printf("Error: Tagsatz einf\xfc" "gen %d! " "Person: %s! Tag: %s\n", ins,
                      TagSatz.TagPnr, TagSatz.TagTag);
      }
    } else if (sel != 0) {
      if (Sql_Rt_Broken() != nullptr) break;
      // The day may lack its record: say so, since no later step will.
      RunLog_Printf("Error: Tagsatz ermitteln %d! " "Person: %s! Tag: %s\n", sel, TagSatz.TagPnr,
                    TagSatz.TagTag);
    }
    if (Ztg_Day_Build(BsvSatz, TagSatz, LastZtg)) ++written;
    if (Sql_Rt_Broken() != nullptr) break;
    Pnr_Hook_Call(PnrStep::kDayDone, TagSatz.TagPnr);
  }
  if (rc != 1403 && Sql_Rt_Broken() == nullptr) {
    RunLog_Printf("Error: N\xe4" "chsten Tag ermitteln. RC:%d" "Person: %s\n", rc, BsvSatz.BsvPnr);
  }
  PnrKal_Cur_Close();
  return written;
}

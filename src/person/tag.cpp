#include "person/tag.h"

#include <cstring>

#include "db/sqlrt.h"
#include "person/pnr.h"
#include "base/runlog.h"
#include "base/text.h"

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

// The existence check's range form: every day record of the person in the
// window, in one read, for the days whose checks would each read one of
// them. A check finds the record of its own day at midnight; so a day with
// one such row here has its record (0), one with none lacks it (1403), one
// with several would have failed its check with -2112. The read runs before
// the person's inserts, where the checks ran, and reads no row they write.
const char kTagRange[] =
    "select TO_CHAR(TagTag,'yyyymmddHH24MISS')  from Hrs327Tag where ((TagPnr=:b0 and "
    "TagTag>TO_DATE(:b1,'yyyymmdd')) and TagTag<=TO_DATE(:b2,'yyyymmdd'))";

const char* PnrKal_Cur_Text() { return Ka2Flag ? kKa2Cur : kKalCur; }

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
    Str_Copy(TagSatz->TagTag, sizeof TagSatz->TagTag, day);
    Str_Copy(TagSatz->TagVon, sizeof TagSatz->TagVon, day);
    Str_Copy(TagSatz->TagBis, sizeof TagSatz->TagBis, day);
    std::memcpy(TagSatz->TagUhr, "000000", sizeof TagSatz->TagUhr);
    std::memcpy(TagSatz->TagEnd, "000000", sizeof TagSatz->TagEnd);
    Str_Copy(TagSatz->TagTtp, sizeof TagSatz->TagTtp, ttp);
  }
  return rc;
}


// Joins a date and a time of day into yyyymmddhhmmss (dst has 15 bytes).
void Tag_DateTime_Put(char* dst, const char* date, const char* time) {
  Str_Copy(dst, 9, date);
  std::size_t n = std::strlen(dst);
  Str_Copy(dst + n, 15 - n, time);
}

}  // namespace

size_t Tag_Days_Open(const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat, SqlBatch* b) {
  return b->Open(PnrKal_Cur_Text(), {SqlStr(BsvSatz.BsvKal, 4), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
}

int Tag_Days_Fetch(int open_rc, const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat,
                   std::vector<TagRecord>* days) {
  // The open that finds Hrs133Ka2 missing clears Ka2Flag and already opens
  // the HRSYSTEM.Hrs133Kal cursor.
  if (Ka2Flag && open_rc == kSqlNoTable) {
    Ka2Flag = false;
    Sql_Cur_Open(kKalCur, {SqlStr(BsvSatz.BsvKal, 4), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
  }
  days->clear();
  TagRecord TagSatz{};
  Str_Copy(TagSatz.TagPnr, sizeof TagSatz.TagPnr, BsvSatz.BsvPnr);
  int rc;
  while ((rc = PnrKal_Cur_Fetch(&TagSatz)) == 0) days->push_back(TagSatz);
  Sql_Cur_Close(PnrKal_Cur_Text());
  return rc;
}

void Tag_Day_Init(TagDay* d, const TagRecord& TagSatz) {
  d->TagSatz = TagSatz;
  d->at = 0;
  d->sel_rc = d->ins_rc = kSqlNotRun;
}

void Tag_Sel_Add(TagDay* d, SqlBatch* b) {
  d->sel_pnr[0] = d->sel_day[0] = '\0';
  d->at = b->Add(kTagDaySel, {SqlStr(d->sel_pnr, sizeof d->sel_pnr, &d->sel_ind),
                      SqlStr(d->sel_day, sizeof d->sel_day, &d->sel_ind), SqlStr(d->TagSatz.TagPnr, 9),
                      SqlStr(d->TagSatz.TagTag, 11)});
}

void Tag_Sel_Take(TagDay* d, int rc) { d->sel_rc = rc; }

size_t Tag_Sel_Range_Open(const char* TagPnr, const char* WinStart, const char* EndDat, SqlBatch* b) {
  return b->Open(kTagRange, {SqlStr(TagPnr, 9), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
}

int Tag_Sel_Range_Fetch(char (&stamp)[15]) {
  int16_t ind = 0;
  stamp[0] = '\0';
  return Sql_Cur_Fetch(kTagRange, {SqlStr(stamp, sizeof stamp, &ind)});
}

void Tag_Sel_Range_Close() { Sql_Cur_Close(kTagRange); }

bool Tag_Ins_Due(const TagDay& d) { return d.sel_rc == kSqlNoRow; }

void Tag_Ins_Add(TagDay* d, SqlBatch* b) {
  const TagRecord& t = d->TagSatz;
  Tag_DateTime_Put(d->von, t.TagVon, t.TagUhr);
  Tag_DateTime_Put(d->bis, t.TagBis, t.TagEnd);
  d->at = b->Add(kTagNewDayIns, {SqlStr(t.TagPnr, 9), SqlStr(t.TagTag, 11), SqlStr(t.TagVon, 11),
                         SqlStr(d->von, sizeof d->von), SqlStr(t.TagBis, 11), SqlStr(d->bis, sizeof d->bis)});
}

void Tag_Ins_Take(TagDay* d, int rc) { d->ins_rc = rc; }

int Tag_Day_Log(const TagDay& d, bool write) {
  const TagRecord& t = d.TagSatz;
  if (d.sel_rc == kSqlNoRow) {
    if (d.ins_rc == 0 || d.ins_rc == kSqlDupKey) return 0;
    if (write) {
      RunLog_Printf("Error: Tagsatz einf\xfc" "gen %d! " "Person: %s! Tag: %s\n", d.ins_rc, t.TagPnr,
                    t.TagTag);
    }
    return 1;
  }
  if (d.sel_rc == 0) return 0;
  // The day may lack its record: say so, since no later step will.
  if (write) RunLog_Printf("Error: Tagsatz ermitteln %d! " "Person: %s! Tag: %s\n", d.sel_rc, t.TagPnr, t.TagTag);
  return 1;
}

void Tag_Days_Read_Log(const BsvRecord& BsvSatz, int rc) {
  if (rc != kSqlNoRow) {
    RunLog_Printf("Error: N\xe4" "chsten Tag ermitteln. RC:%d" "Person: %s\n", rc, BsvSatz.BsvPnr);
  }
}

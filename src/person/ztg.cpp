#include "person/ztg.h"

#include <cstring>

#include "base/runlog.h"
#include "person/pnr.h"
#include "base/text.h"

namespace {

const char kZtgDaySel[] =
    "select ZtgAkr ,ZtgAbt ,ZtgKst ,ZtgKtr ,ZtgKrt ,ZtgAgr ,ZtgTag ,ZtgBsd ,ZtgVra ,ZtgAzt ,ZtgTtp into "
    ":b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13,:b14:b15,:b16:b17,:b18:b19,:b20:b21  from "
    "Hrs329Ztg where (ZtgPnr=:b22 and ZtgVon=TO_DATE(:b23,'yyyymmdd'))";

// The assignment valid on the day and the day's place in the group's
// rotation. Joins the day record, so a day without one has no assignment.
const char kZuoDayGet[] =
    "select (MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra "
    "into :b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr "
    "where (((((ZuoPnr=:b14 and ZuoPnr=TagPnr) and ZuoGvo<=TO_DATE(:b15,'yyyymmdd')) and "
    "(ZuoGbi>=TO_DATE(:b15,'yyyymmdd') or ZuoGbi is null )) and TagTag=TO_DATE(:b15,'yyyymmdd')) and "
    "AgrNum=ZuoAgr)";

const char kWplDayGet[] =
    "select WplAzt ,WplVra into :b0:b1,:b2:b3  from Hrs161Wpl where (WplAgr=:b4 and WplTag=:b5)";

const char kZtgNewDayIns[] =
    "insert into Hrs329Ztg (ZtgPnr,ZtgVon,ZtgAkr,ZtgAbt,ZtgKst,ZtgKtr,ZtgKrt,ZtgAgr,ZtgTag,ZtgBsd,ZtgVra,"
    "ZtgAzt,ZtgTtp,ZtgDat,ZtgSta,ZtgPnm) values "
    "(:b0,TO_DATE(:b1,'yyyymmdd'),:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13,:b14,:b15:b16,:b17:b18,"
    ":b19:b20,:b21:b22,sysdate,1,:b23:b24)";
const char kZtgNewDayInsNoPnm[] =
    "insert into Hrs329Ztg (ZtgPnr,ZtgVon,ZtgAkr,ZtgAbt,ZtgKst,ZtgKtr,ZtgKrt,ZtgAgr,ZtgTag,ZtgBsd,ZtgVra,"
    "ZtgAzt,ZtgTtp,ZtgDat,ZtgSta) values "
    "(:b0,TO_DATE(:b1,'yyyymmdd'),:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13,:b14,:b15:b16,:b17:b18,"
    ":b19:b20,:b21:b22,sysdate,1)";

const char kZtgDayUpd[] =
    "update Hrs329Ztg  set "
    "ZtgAkr=:b0:b1,ZtgAbt=:b2:b3,ZtgKst=:b4:b5,ZtgKtr=:b6:b7,ZtgKrt=:b8:b9,ZtgAgr=:b10:b11,ZtgTag=:b12,"
    "ZtgBsd=:b13:b14,ZtgVra=:b15:b16,ZtgAzt=:b17:b18,ZtgTtp=:b19:b20,ZtgDat=sysdate,ZtgSta=1,ZtgPnm=:b21:"
    "b22 where (ZtgPnr=:b23 and ZtgVon=TO_DATE(:b24,'yyyymmdd'))";
const char kZtgDayUpdNoPnm[] =
    "update Hrs329Ztg  set "
    "ZtgAkr=:b0:b1,ZtgAbt=:b2:b3,ZtgKst=:b4:b5,ZtgKtr=:b6:b7,ZtgKrt=:b8:b9,ZtgAgr=:b10:b11,ZtgTag=:b12,"
    "ZtgBsd=:b13:b14,ZtgVra=:b15:b16,ZtgAzt=:b17:b18,ZtgTtp=:b19:b20,ZtgDat=sysdate,ZtgSta=1 where "
    "(ZtgPnr=:b21 and ZtgVon=TO_DATE(:b22,'yyyymmdd'))";

// Output buffers of the reads, by the room of the field they go into.
enum Out { kAkr, kAbt, kKst, kKtr, kKrt, kAgr, kBsd, kVra, kAzt, kTtp };

// Input indicators of the written row, one per nullable text.
enum In { kInAkr, kInAbt, kInKst, kInKtr, kInKrt, kInAgr, kInBsd, kInVra, kInAzt, kInTtp, kInPnm };

int16_t Ind_Of(const char* text) { return text[0] == '\0' ? -1 : 0; }

// Copies a fetched text unless its column was NULL, in which case the field
// becomes empty.
void Ztg_Text_Take(char* dst, std::size_t size, const char* src, int16_t ind) {
  if (ind == -1) {
    dst[0] = '\0';
  } else {
    Str_Copy(dst, size, src);
  }
}

void Clear_Outputs(ZtgDay* d) {
  for (auto& o : d->out) o[0] = '\0';
  for (auto& i : d->ind) i = 0;
  d->out_tag = 0;
}

}  // namespace

void Ztg_Day_Init(ZtgDay* d, const TagRecord& TagSatz, const char* LastZtg) {
  d->z = ZtgRecord{};
  d->due = std::strcmp(TagSatz.TagTag, LastZtg) > 0;
  d->is_new = false;
  d->sel_rc = d->zuo_rc = d->wpl_rc = d->write_rc = kSqlNotRun;
  Str_Copy(d->z.ZtgPnr, sizeof d->z.ZtgPnr, TagSatz.TagPnr);
  Str_Copy(d->z.ZtgVon, sizeof d->z.ZtgVon, TagSatz.TagTag);
}

void Ztg_Sel_Add(ZtgDay* d, SqlBatch* b) {
  Clear_Outputs(d);
  auto* o = d->out;
  b->Add(kZtgDaySel,
         {SqlStr(o[kAkr], 6, &d->ind[0]), SqlStr(o[kAbt], 16, &d->ind[1]), SqlStr(o[kKst], 31, &d->ind[2]),
          SqlStr(o[kKtr], 7, &d->ind[3]), SqlStr(o[kKrt], 5, &d->ind[4]), SqlStr(o[kAgr], 14, &d->ind[5]),
          SqlInt(&d->out_tag, &d->ind[6]), SqlStr(o[kBsd], 6, &d->ind[7]), SqlStr(o[kVra], 14, &d->ind[8]),
          SqlStr(o[kAzt], 6, &d->ind[9]), SqlStr(o[kTtp], 4, &d->ind[10]), SqlStr(d->z.ZtgPnr, 9),
          SqlStr(d->z.ZtgVon, 11)});
}

// 0: the row exists and its eleven values are taken (NULL as empty); 1403:
// no row. Any other code ends the day: it keeps whatever row it has.
void Ztg_Sel_Take(ZtgDay* d, int rc, const BsvRecord& BsvSatz, const TagRecord& TagSatz) {
  d->sel_rc = rc;
  ZtgRecord& z = d->z;
  if (rc == 0) {
    const auto* o = d->out;
    const int16_t* i = d->ind;
    Ztg_Text_Take(z.ZtgAkr, sizeof z.ZtgAkr, o[kAkr], i[0]);
    Ztg_Text_Take(z.ZtgAbt, sizeof z.ZtgAbt, o[kAbt], i[1]);
    Ztg_Text_Take(z.ZtgKst, sizeof z.ZtgKst, o[kKst], i[2]);
    Ztg_Text_Take(z.ZtgKtr, sizeof z.ZtgKtr, o[kKtr], i[3]);
    Ztg_Text_Take(z.ZtgKrt, sizeof z.ZtgKrt, o[kKrt], i[4]);
    Ztg_Text_Take(z.ZtgAgr, sizeof z.ZtgAgr, o[kAgr], i[5]);
    z.ZtgTag = i[6] == -1 ? 0 : d->out_tag;
    Ztg_Text_Take(z.ZtgBsd, sizeof z.ZtgBsd, o[kBsd], i[7]);
    Ztg_Text_Take(z.ZtgVra, sizeof z.ZtgVra, o[kVra], i[8]);
    Ztg_Text_Take(z.ZtgAzt, sizeof z.ZtgAzt, o[kAzt], i[9]);
    Ztg_Text_Take(z.ZtgTtp, sizeof z.ZtgTtp, o[kTtp], i[10]);
  }
  if (!Ztg_Day_Going(*d)) return;
  d->is_new = rc == kSqlNoRow;
  Str_Copy(z.ZtgAkr, sizeof z.ZtgAkr, BsvSatz.BsvAkr);
  Str_Copy(z.ZtgBsd, sizeof z.ZtgBsd, BsvSatz.BsvAbr);
  Str_Copy(z.ZtgTtp, sizeof z.ZtgTtp, TagSatz.TagTtp);
  Str_Copy(z.ZtgPnm, sizeof z.ZtgPnm, BsvSatz.PnrNam);
}

bool Ztg_Day_Going(const ZtgDay& d) { return d.due && (d.sel_rc == 0 || d.sel_rc == kSqlNoRow); }

void Ztg_Zuo_Add(ZtgDay* d, SqlBatch* b) {
  Clear_Outputs(d);
  auto* o = d->out;
  const char* day = d->z.ZtgVon;
  b->Add(kZuoDayGet, {SqlInt(&d->out_tag, &d->ind[0]), SqlStr(o[kAgr], 14, &d->ind[1]),
                      SqlStr(o[kAbt], 16, &d->ind[2]), SqlStr(o[kKst], 31, &d->ind[3]),
                      SqlStr(o[kKrt], 5, &d->ind[4]), SqlStr(o[kKtr], 7, &d->ind[5]),
                      SqlStr(o[kVra], 14, &d->ind[6]), SqlStr(d->z.ZtgPnr, 9), SqlStr(day, 11),
                      SqlStr(day, 11), SqlStr(day, 11)});
}

// On 0 the rotation day and the six assignment texts are taken; on any other
// code those fields become empty and ZtgTag 0.
void Ztg_Zuo_Take(ZtgDay* d, int rc) {
  d->zuo_rc = rc;
  ZtgRecord& z = d->z;
  if (rc == 0) {
    const auto* o = d->out;
    const int16_t* i = d->ind;
    z.ZtgTag = i[0] == -1 ? 0 : d->out_tag;  // a NULL rotation day leaves 0
    Ztg_Text_Take(z.ZtgAgr, sizeof z.ZtgAgr, o[kAgr], i[1]);
    Ztg_Text_Take(z.ZtgAbt, sizeof z.ZtgAbt, o[kAbt], i[2]);
    Ztg_Text_Take(z.ZtgKst, sizeof z.ZtgKst, o[kKst], i[3]);
    Ztg_Text_Take(z.ZtgKrt, sizeof z.ZtgKrt, o[kKrt], i[4]);
    Ztg_Text_Take(z.ZtgKtr, sizeof z.ZtgKtr, o[kKtr], i[5]);
    Ztg_Text_Take(z.ZtgVra, sizeof z.ZtgVra, o[kVra], i[6]);
  } else {
    z.ZtgTag = 0;
    z.ZtgAgr[0] = z.ZtgAbt[0] = z.ZtgKst[0] = z.ZtgKrt[0] = z.ZtgKtr[0] = z.ZtgVra[0] = '\0';
  }
}

void Ztg_Wpl_Add(ZtgDay* d, SqlBatch* b) {
  Clear_Outputs(d);
  b->Add(kWplDayGet, {SqlStr(d->out[kAzt], 6, &d->ind[0]), SqlStr(d->out[kVra], 14, &d->ind[1]),
                      SqlStr(d->z.ZtgAgr, 14), SqlInt(&d->z.ZtgTag)});
}

// On 0 a non-empty planned time replaces ZtgAzt and a non-empty WplVra
// replaces ZtgVra; empty or NULL plan values, and failures, change nothing.
void Ztg_Wpl_Take(ZtgDay* d, int rc) {
  d->wpl_rc = rc;
  if (rc != 0) return;
  if (d->ind[0] != -1 && d->out[kAzt][0] != '\0') Str_Copy(d->z.ZtgAzt, sizeof d->z.ZtgAzt, d->out[kAzt]);
  if (d->ind[1] != -1 && d->out[kVra][0] != '\0') Str_Copy(d->z.ZtgVra, sizeof d->z.ZtgVra, d->out[kVra]);
}

void Ztg_Write_Add(ZtgDay* d, SqlBatch* b) {
  ZtgRecord& z = d->z;
  int16_t* n = d->in_ind;
  n[kInAkr] = Ind_Of(z.ZtgAkr);
  n[kInAbt] = Ind_Of(z.ZtgAbt);
  n[kInKst] = Ind_Of(z.ZtgKst);
  n[kInKtr] = Ind_Of(z.ZtgKtr);
  n[kInKrt] = Ind_Of(z.ZtgKrt);
  n[kInAgr] = Ind_Of(z.ZtgAgr);
  n[kInBsd] = Ind_Of(z.ZtgBsd);
  n[kInVra] = Ind_Of(z.ZtgVra);
  n[kInAzt] = Ind_Of(z.ZtgAzt);
  n[kInTtp] = Ind_Of(z.ZtgTtp);
  n[kInPnm] = Ind_Of(z.ZtgPnm);
  d->pnm = ZtgPnmFlag;
  const SqlVar akr = SqlStr(z.ZtgAkr, 6, &n[kInAkr]), abt = SqlStr(z.ZtgAbt, 16, &n[kInAbt]),
               kst = SqlStr(z.ZtgKst, 31, &n[kInKst]), ktr = SqlStr(z.ZtgKtr, 7, &n[kInKtr]),
               krt = SqlStr(z.ZtgKrt, 5, &n[kInKrt]), agr = SqlStr(z.ZtgAgr, 14, &n[kInAgr]),
               tag = SqlInt(&z.ZtgTag), bsd = SqlStr(z.ZtgBsd, 6, &n[kInBsd]),
               vra = SqlStr(z.ZtgVra, 14, &n[kInVra]), azt = SqlStr(z.ZtgAzt, 6, &n[kInAzt]),
               ttp = SqlStr(z.ZtgTtp, 4, &n[kInTtp]), pnm = SqlStr(z.ZtgPnm, 51, &n[kInPnm]),
               pnr = SqlStr(z.ZtgPnr, 9), von = SqlStr(z.ZtgVon, 11);
  if (d->is_new) {
    if (d->pnm) {
      b->Add(kZtgNewDayIns, {pnr, von, akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnm});
    } else {
      b->Add(kZtgNewDayInsNoPnm, {pnr, von, akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp});
    }
  } else if (d->pnm) {
    b->Add(kZtgDayUpd, {akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnm, pnr, von});
  } else {
    b->Add(kZtgDayUpdNoPnm, {akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnr, von});
  }
}

bool Ztg_Write_Take(ZtgDay* d, int rc) {
  if (rc == kSqlNotRun) return false;
  if (rc == kSqlNoColumn && d->pnm && ZtgPnmFlag) {
    ZtgPnmFlag = false;
    return false;
  }
  d->write_rc = rc;
  return true;
}

bool Ztg_Day_Written(const ZtgDay& d) { return Ztg_Day_Going(d) && d.write_rc == 0; }

void Ztg_Day_Log(const ZtgDay& d) {
  const ZtgRecord& z = d.z;
  if (!d.due) return;
  if (!Ztg_Day_Going(d)) {
    // The day keeps whatever row it has; the operator learns that it may be
    // stale.
    RunLog_Printf("Error: Ztgsatz ermitteln %d! " "Person: %s! " "Tag: %s!\n", d.sel_rc, z.ZtgPnr,
                  z.ZtgVon);
    return;
  }
  if (d.zuo_rc != 0) {
    RunLog_Printf("Error: Zuordnung ermitteln. %d! " "Person: %s! " "Tag: %s!\n", d.zuo_rc, z.ZtgPnr,
                  z.ZtgVon);
  }
  if (d.wpl_rc != 0) {
    // One failure, one line: the group and rotation day follow on the same
    // line rather than on lines of their own that no reader could match.
    RunLog_Printf("Error: Azt + Vra ermitteln. %d! " "Person: %s! " "Tag: %s! " "ZtgTag: %d! "
                  "ZtgAgr: %s!\n",
                  d.wpl_rc, z.ZtgPnr, z.ZtgVon, z.ZtgTag, z.ZtgAgr);
  }
  if (d.write_rc != 0) {
    if (d.is_new) {
      RunLog_Printf("Error: Ztgsatz einf\xfc" "gen %d! " "Person: %s! " "Tag: %s!\n", d.write_rc, z.ZtgPnr,
                    z.ZtgVon);
    } else {
      RunLog_Printf("Error: Ztgsatz updaten %d! " "Person: %s! " "Tag: %s!\n", d.write_rc, z.ZtgPnr,
                    z.ZtgVon);
    }
  }
}

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

// The range forms of the three reads, one statement each for all the days of
// a slice (the plans': of the window). Every day's own statement finds the
// rows of its own day (the time-group row, the day record at midnight joined
// with the assignments valid on it), or the plan rows of its group and
// rotation day; each range read returns the rows all those statements would
// find together, with the day (or the group and rotation day) as an output,
// so that a day with one row gets that row's values (0), one without none
// (1403) and one with several -2112, as its own statement would. The
// person's transaction changes nothing that another day's read sees: the row
// read runs before its days' writes (an earlier slice's writes are of other
// days), the assignment read after the day records' inserts (where each
// day's assignment look-up ran), and the plans are written by nobody. Keep
// it so.
//
// The row read returns, of the eleven values the day's own read takes, the
// two whose reading matters. A rewritten row keeps only the planned time as
// read: the codes and the day type are set from the relationship and the
// day record, and the assignment look-up sets the group, the rotation day,
// the department, the cost centre, the account codes and ZtgVra, or empties
// them when it fails. The rotation day stays in because its fetch can fail
// (a number column holding no 32-bit number), and then the day's own read
// fails and the day keeps its row. A text column reads whatever it holds
// (short of a blob put into the embedded database by hand, which would make
// the day's own read fail: such a row is rewritten here).
const char kZtgRange[] =
    "select TO_CHAR(ZtgVon,'yyyymmddHH24MISS') ,ZtgTag ,ZtgAzt  from Hrs329Ztg where ((ZtgPnr=:b0 and "
    "ZtgVon>TO_DATE(:b1,'yyyymmdd')) and ZtgVon<=TO_DATE(:b2,'yyyymmdd'))";
// The day's own look-up compares ZuoGvo and ZuoGbi with the day; here with
// TagTag, which is the day for every row at midnight. The person's
// assignments are read in a subquery of their own (its order keeps a
// server from merging it into the join), so that a plan made while
// Hrs327Tag looked empty cannot look both of them up again for every day
// record: a planner then still puts either side first, and both are cheap.
const char kZuoRange[] =
    "select TO_CHAR(TagTag,'yyyymmddHH24MISS') ,(MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt "
    ",ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra  from Hrs327Tag ,(select ZuoPnr ,ZuoGvo ,ZuoGbi ,ZuoSdt ,ZuoStg ,ZuoAgr "
    ",ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra ,AgrTge  from Hrs311Zuo ,Hrs160Agr where (ZuoPnr=:b0 and "
    "AgrNum=ZuoAgr) order by ZuoAgr ,ZuoGvo) Zuo where (((((TagPnr=:b1 and ZuoPnr=TagPnr) and "
    "TagTag>TO_DATE(:b2,'yyyymmdd')) and TagTag<=TO_DATE(:b3,'yyyymmdd')) and ZuoGvo<=TagTag) and "
    "(ZuoGbi>=TagTag or ZuoGbi is null ))";
// A day's plan look-up asks for the group of its assignment, which is one
// of the person's.
const char kWplRange[] =
    "select WplAgr ,WplTag ,WplAzt ,WplVra  from Hrs161Wpl where WplAgr in (select ZuoAgr  from Hrs311Zuo "
    "where ZuoPnr=:b0)";

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
  d->agr_cut = false;
  d->at = 0;
}

namespace {

// The outputs of the row's read, into `d`'s read buffers.
void Sel_Outputs(ZtgDay* d, SqlVar* v) {
  auto* o = d->out;
  int16_t* i = d->ind;
  v[0] = SqlStr(o[kAkr], 6, &i[0]);
  v[1] = SqlStr(o[kAbt], 16, &i[1]);
  v[2] = SqlStr(o[kKst], 31, &i[2]);
  v[3] = SqlStr(o[kKtr], 7, &i[3]);
  v[4] = SqlStr(o[kKrt], 5, &i[4]);
  v[5] = SqlStr(o[kAgr], 14, &i[5]);
  v[6] = SqlInt(&d->out_tag, &i[6]);
  v[7] = SqlStr(o[kBsd], 6, &i[7]);
  v[8] = SqlStr(o[kVra], 14, &i[8]);
  v[9] = SqlStr(o[kAzt], 6, &i[9]);
  v[10] = SqlStr(o[kTtp], 4, &i[10]);
}

// The outputs of the row's range read (kZtgRange), into the same buffers;
// the others stay empty.
void Sel_Range_Outputs(ZtgDay* d, SqlVar* v) {
  v[0] = SqlInt(&d->out_tag, &d->ind[6]);
  v[1] = SqlStr(d->out[kAzt], 6, &d->ind[9]);
}

// The outputs of the assignment look-up, into `d`'s read buffers.
void Zuo_Outputs(ZtgDay* d, SqlVar* v) {
  auto* o = d->out;
  int16_t* i = d->ind;
  v[0] = SqlInt(&d->out_tag, &i[0]);
  v[1] = SqlStr(o[kAgr], 14, &i[1]);
  v[2] = SqlStr(o[kAbt], 16, &i[2]);
  v[3] = SqlStr(o[kKst], 31, &i[3]);
  v[4] = SqlStr(o[kKrt], 5, &i[4]);
  v[5] = SqlStr(o[kKtr], 7, &i[5]);
  v[6] = SqlStr(o[kVra], 14, &i[6]);
}

}  // namespace

void Ztg_Sel_Add(ZtgDay* d, SqlBatch* b) {
  Clear_Outputs(d);
  SqlVar v[13];
  Sel_Outputs(d, v);
  v[11] = SqlStr(d->z.ZtgPnr, 9);
  v[12] = SqlStr(d->z.ZtgVon, 11);
  d->at = b->Add(kZtgDaySel, v, 13);
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
  const char* day = d->z.ZtgVon;
  SqlVar v[11];
  Zuo_Outputs(d, v);
  v[7] = SqlStr(d->z.ZtgPnr, 9);
  v[8] = v[9] = v[10] = SqlStr(day, 11);
  d->at = b->Add(kZuoDayGet, v, 11);
}

// On 0 the rotation day and the six assignment texts are taken; on any other
// code those fields become empty and ZtgTag 0.
void Ztg_Zuo_Take(ZtgDay* d, int rc) {
  d->zuo_rc = rc;
  d->agr_cut = rc == 0 && d->ind[1] > 0;
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
  d->at = b->Add(kWplDayGet, {SqlStr(d->out[kAzt], 6, &d->ind[0]), SqlStr(d->out[kVra], 14, &d->ind[1]),
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

size_t Ztg_Sel_Range_Open(const char* ZtgPnr, const char* LastZtg, const char* EndDat, SqlBatch* b) {
  return b->Open(kZtgRange, {SqlStr(ZtgPnr, 9), SqlStr(LastZtg, 11), SqlStr(EndDat, 11)});
}

namespace {

// The next row of range read `text`: its day, then `n` outputs laid out by
// `outputs` as the day's own statement reads them.
int Range_Fetch(const char* text, void (*outputs)(ZtgDay*, SqlVar*), size_t n, ZtgDay* row, char (&stamp)[15]) {
  Clear_Outputs(row);
  int16_t ind = 0;
  stamp[0] = '\0';
  SqlVar v[12];
  v[0] = SqlStr(stamp, sizeof stamp, &ind);
  outputs(row, v + 1);
  return Sql_Cur_Fetch(text, v, n + 1);
}

}  // namespace

int Ztg_Sel_Range_Fetch(ZtgDay* row, char (&stamp)[15]) { return Range_Fetch(kZtgRange, Sel_Range_Outputs, 2, row, stamp); }

void Ztg_Sel_Range_Close() { Sql_Cur_Close(kZtgRange); }

size_t Ztg_Zuo_Range_Open(const char* ZtgPnr, const char* WinStart, const char* EndDat, SqlBatch* b) {
  return b->Open(kZuoRange, {SqlStr(ZtgPnr, 9), SqlStr(ZtgPnr, 9), SqlStr(WinStart, 11), SqlStr(EndDat, 11)});
}

int Ztg_Zuo_Range_Fetch(ZtgDay* row, char (&stamp)[15]) { return Range_Fetch(kZuoRange, Zuo_Outputs, 7, row, stamp); }

void Ztg_Zuo_Range_Close() { Sql_Cur_Close(kZuoRange); }

void Ztg_Out_Take(ZtgDay* d, const ZtgDay& row) {
  std::memcpy(d->out, row.out, sizeof d->out);
  std::memcpy(d->ind, row.ind, sizeof d->ind);
  d->out_tag = row.out_tag;
}

size_t Ztg_Wpl_Range_Open(const char* ZtgPnr, SqlBatch* b) { return b->Open(kWplRange, {SqlStr(ZtgPnr, 9)}); }

int Ztg_Wpl_Range_Fetch(WplRow* row) {
  *row = WplRow{};
  row->rc = Sql_Cur_Fetch(kWplRange, {SqlStr(row->agr, sizeof row->agr, &row->ind[0]), SqlInt(&row->tag, &row->ind[1]),
                                      SqlStr(row->azt, sizeof row->azt, &row->ind[2]),
                                      SqlStr(row->vra, sizeof row->vra, &row->ind[3])});
  return row->rc;
}

void Ztg_Wpl_Range_Close() { Sql_Cur_Close(kWplRange); }

// The day's look-up binds ZtgAgr (empty: NULL, which no plan row equals)
// and ZtgTag. A plan row whose group came cut or NULL, or whose rotation day
// is NULL or no 32-bit number (its fetch failed), equals nothing the
// look-up can bind.
int Ztg_Wpl_Match(ZtgDay* d, const std::vector<WplRow>& plans) {
  Clear_Outputs(d);
  const ZtgRecord& z = d->z;
  if (z.ZtgAgr[0] == '\0') return kSqlNoRow;
  int hits = 0;
  for (const WplRow& p : plans) {
    if (p.rc != 0 || p.ind[0] != 0 || p.ind[1] == -1 || p.tag != z.ZtgTag || std::strcmp(p.agr, z.ZtgAgr) != 0) {
      continue;
    }
    if (++hits > 1) return kSqlTooManyRows;
    Str_Copy(d->out[kAzt], sizeof p.azt, p.azt);
    Str_Copy(d->out[kVra], sizeof p.vra, p.vra);
    d->ind[0] = p.ind[2];
    d->ind[1] = p.ind[3];
  }
  return hits == 0 ? kSqlNoRow : 0;
}

bool Ztg_Wpl_Own(const ZtgDay& d) { return d.agr_cut; }

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
      d->at = b->Add(kZtgNewDayIns, {pnr, von, akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnm});
    } else {
      d->at = b->Add(kZtgNewDayInsNoPnm, {pnr, von, akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp});
    }
  } else if (d->pnm) {
    d->at = b->Add(kZtgDayUpd, {akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnm, pnr, von});
  } else {
    d->at = b->Add(kZtgDayUpdNoPnm, {akr, abt, kst, ktr, krt, agr, tag, bsd, vra, azt, ttp, pnr, von});
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

int Ztg_Day_Log(const ZtgDay& d, bool write) {
  const ZtgRecord& z = d.z;
  if (!d.due) return 0;
  if (!Ztg_Day_Going(d)) {
    // The day keeps whatever row it has; the operator learns that it may be
    // stale.
    if (write) {
      RunLog_Printf("Error: Ztgsatz ermitteln %d! " "Person: %s! " "Tag: %s!\n", d.sel_rc, z.ZtgPnr,
                    z.ZtgVon);
    }
    return 1;
  }
  int lines = 0;
  if (d.zuo_rc != 0) {
    ++lines;
    if (write) {
      RunLog_Printf("Error: Zuordnung ermitteln. %d! " "Person: %s! " "Tag: %s!\n", d.zuo_rc, z.ZtgPnr,
                    z.ZtgVon);
    }
  }
  if (d.wpl_rc != 0) {
    ++lines;
    // One failure, one line: the group and rotation day follow on the same
    // line rather than on lines of their own that no reader could match.
    if (write) {
      RunLog_Printf("Error: Azt + Vra ermitteln. %d! " "Person: %s! " "Tag: %s! " "ZtgTag: %d! "
                    "ZtgAgr: %s!\n",
                    d.wpl_rc, z.ZtgPnr, z.ZtgVon, z.ZtgTag, z.ZtgAgr);
    }
  }
  if (d.write_rc != 0) {
    ++lines;
    if (write && d.is_new) {
      RunLog_Printf("Error: Ztgsatz einf\xfc" "gen %d! " "Person: %s! " "Tag: %s!\n", d.write_rc, z.ZtgPnr,
                    z.ZtgVon);
    } else if (write) {
      RunLog_Printf("Error: Ztgsatz updaten %d! " "Person: %s! " "Tag: %s!\n", d.write_rc, z.ZtgPnr,
                    z.ZtgVon);
    }
  }
  return lines;
}

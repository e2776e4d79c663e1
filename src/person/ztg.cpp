#include "person/ztg.h"

#include <cstring>

#include "db/sqlrt.h"
#include "person/pnr.h"
#include "base/runlog.h"

namespace {

// The time-group record of the current person and day, rebuilt for every day.
struct ZtgRecord {
  char ZtgPnr[9];
  char ZtgVon[9];   // the day, yyyymmdd
  char ZtgAbt[16];  // department
  char ZtgKst[31];  // cost centre
  char ZtgKtr[7];
  char ZtgKrt[5];
  char ZtgAkr[6];
  char ZtgAgr[14];  // working-time group
  char ZtgVra[14];
  char ZtgAzt[6];   // planned working time
  int32_t ZtgTag;   // day of the group's rotation, 1..AgrTge; 0 when unknown
  char ZtgBsd[6];
  char ZtgTtp[4];   // day type
  char ZtgPnm[51];  // person name
};

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

// Input indicators of the written row: an empty text goes as NULL.
struct ZtgInd {
  int16_t Akr, Abt, Kst, Ktr, Krt, Agr, Bsd, Vra, Azt, Ttp, Pnm;
};

int16_t Ind_Of(const char* text) { return text[0] == '\0' ? -1 : 0; }

ZtgInd Ztg_Ind_Get(const ZtgRecord& z) {
  return ZtgInd{Ind_Of(z.ZtgAkr), Ind_Of(z.ZtgAbt), Ind_Of(z.ZtgKst), Ind_Of(z.ZtgKtr),
                Ind_Of(z.ZtgKrt), Ind_Of(z.ZtgAgr), Ind_Of(z.ZtgBsd), Ind_Of(z.ZtgVra),
                Ind_Of(z.ZtgAzt), Ind_Of(z.ZtgTtp), Ind_Of(z.ZtgPnm)};
}

// Copies a fetched text unless its column was NULL, in which case the field
// becomes empty.
void Ztg_Text_Take(char* dst, std::size_t size, const char* src, int16_t ind) {
  if (ind == -1) {
    dst[0] = '\0';
  } else {
    Pnr_Str_Copy(dst, size, src);
  }
}

// 0: the row exists and its eleven values are in ZtgSatz (NULL as empty);
// 1403: no row. Any other code leaves ZtgSatz as it was.
int Ztg_Day_Sel(ZtgRecord* z) {
  char akr[6] = "", abt[16] = "", kst[31] = "", ktr[7] = "", krt[5] = "", agr[14] = "";
  char bsd[6] = "", vra[14] = "", azt[6] = "", ttp[4] = "";
  int32_t tag = 0;
  int16_t i[11] = {};
  int rc = Sql_Exec(kZtgDaySel,
                    {SqlStr(akr, sizeof akr, &i[0]), SqlStr(abt, sizeof abt, &i[1]),
                     SqlStr(kst, sizeof kst, &i[2]), SqlStr(ktr, sizeof ktr, &i[3]),
                     SqlStr(krt, sizeof krt, &i[4]), SqlStr(agr, sizeof agr, &i[5]),
                     SqlInt(&tag, &i[6]), SqlStr(bsd, sizeof bsd, &i[7]),
                     SqlStr(vra, sizeof vra, &i[8]), SqlStr(azt, sizeof azt, &i[9]),
                     SqlStr(ttp, sizeof ttp, &i[10]), SqlStr(z->ZtgPnr, 9), SqlStr(z->ZtgVon, 11)});
  if (rc == 0) {
    Ztg_Text_Take(z->ZtgAkr, sizeof z->ZtgAkr, akr, i[0]);
    Ztg_Text_Take(z->ZtgAbt, sizeof z->ZtgAbt, abt, i[1]);
    Ztg_Text_Take(z->ZtgKst, sizeof z->ZtgKst, kst, i[2]);
    Ztg_Text_Take(z->ZtgKtr, sizeof z->ZtgKtr, ktr, i[3]);
    Ztg_Text_Take(z->ZtgKrt, sizeof z->ZtgKrt, krt, i[4]);
    Ztg_Text_Take(z->ZtgAgr, sizeof z->ZtgAgr, agr, i[5]);
    z->ZtgTag = i[6] == -1 ? 0 : tag;
    Ztg_Text_Take(z->ZtgBsd, sizeof z->ZtgBsd, bsd, i[7]);
    Ztg_Text_Take(z->ZtgVra, sizeof z->ZtgVra, vra, i[8]);
    Ztg_Text_Take(z->ZtgAzt, sizeof z->ZtgAzt, azt, i[9]);
    Ztg_Text_Take(z->ZtgTtp, sizeof z->ZtgTtp, ttp, i[10]);
  }
  return rc;
}

// On 0 the rotation day and the six assignment texts go into ZtgSatz; on any
// other code those fields become empty and ZtgTag 0.
int Zuo_Day_Get(ZtgRecord* z) {
  char agr[14] = "", abt[16] = "", kst[31] = "", krt[5] = "", ktr[7] = "", vra[14] = "";
  int32_t tag = 0;
  int16_t i[7] = {};
  int rc = Sql_Exec(kZuoDayGet,
                    {SqlInt(&tag, &i[0]), SqlStr(agr, sizeof agr, &i[1]),
                     SqlStr(abt, sizeof abt, &i[2]), SqlStr(kst, sizeof kst, &i[3]),
                     SqlStr(krt, sizeof krt, &i[4]), SqlStr(ktr, sizeof ktr, &i[5]),
                     SqlStr(vra, sizeof vra, &i[6]), SqlStr(z->ZtgPnr, 9), SqlStr(z->ZtgVon, 11),
                     SqlStr(z->ZtgVon, 11), SqlStr(z->ZtgVon, 11)});
  if (rc == 0) {
    z->ZtgTag = tag;  // a NULL rotation day leaves the 0 it started with
    Ztg_Text_Take(z->ZtgAgr, sizeof z->ZtgAgr, agr, i[1]);
    Ztg_Text_Take(z->ZtgAbt, sizeof z->ZtgAbt, abt, i[2]);
    Ztg_Text_Take(z->ZtgKst, sizeof z->ZtgKst, kst, i[3]);
    Ztg_Text_Take(z->ZtgKrt, sizeof z->ZtgKrt, krt, i[4]);
    Ztg_Text_Take(z->ZtgKtr, sizeof z->ZtgKtr, ktr, i[5]);
    Ztg_Text_Take(z->ZtgVra, sizeof z->ZtgVra, vra, i[6]);
  } else {
    z->ZtgTag = 0;
    z->ZtgAgr[0] = z->ZtgAbt[0] = z->ZtgKst[0] = z->ZtgKrt[0] = z->ZtgKtr[0] = z->ZtgVra[0] = '\0';
  }
  return rc;
}

// On 0 a non-empty planned time replaces ZtgAzt and a non-empty WplVra
// replaces ZtgVra; empty or NULL plan values, and failures, change nothing.
int Wpl_Day_Get(ZtgRecord* z) {
  char azt[6] = "", vra[14] = "";
  int16_t i[2] = {};
  int rc = Sql_Exec(kWplDayGet, {SqlStr(azt, sizeof azt, &i[0]), SqlStr(vra, sizeof vra, &i[1]),
                                 SqlStr(z->ZtgAgr, 14), SqlInt(&z->ZtgTag)});
  if (rc == 0) {
    if (i[0] != -1 && azt[0] != '\0') Pnr_Str_Copy(z->ZtgAzt, sizeof z->ZtgAzt, azt);
    if (i[1] != -1 && vra[0] != '\0') Pnr_Str_Copy(z->ZtgVra, sizeof z->ZtgVra, vra);
  }
  return rc;
}

int Ztg_NewDay_Ins(ZtgRecord* z) {
  ZtgInd n = Ztg_Ind_Get(*z);
  int rc = 0;
  if (ZtgPnmFlag) {
    rc = Sql_Exec(kZtgNewDayIns,
                  {SqlStr(z->ZtgPnr, 9), SqlStr(z->ZtgVon, 11), SqlStr(z->ZtgAkr, 6, &n.Akr),
                   SqlStr(z->ZtgAbt, 16, &n.Abt), SqlStr(z->ZtgKst, 31, &n.Kst),
                   SqlStr(z->ZtgKtr, 7, &n.Ktr), SqlStr(z->ZtgKrt, 5, &n.Krt),
                   SqlStr(z->ZtgAgr, 14, &n.Agr), SqlInt(&z->ZtgTag), SqlStr(z->ZtgBsd, 6, &n.Bsd),
                   SqlStr(z->ZtgVra, 14, &n.Vra), SqlStr(z->ZtgAzt, 6, &n.Azt),
                   SqlStr(z->ZtgTtp, 4, &n.Ttp), SqlStr(z->ZtgPnm, 51, &n.Pnm)});
    if (rc == -904) ZtgPnmFlag = false;
  }
  if (!ZtgPnmFlag) {
    rc = Sql_Exec(kZtgNewDayInsNoPnm,
                  {SqlStr(z->ZtgPnr, 9), SqlStr(z->ZtgVon, 11), SqlStr(z->ZtgAkr, 6, &n.Akr),
                   SqlStr(z->ZtgAbt, 16, &n.Abt), SqlStr(z->ZtgKst, 31, &n.Kst),
                   SqlStr(z->ZtgKtr, 7, &n.Ktr), SqlStr(z->ZtgKrt, 5, &n.Krt),
                   SqlStr(z->ZtgAgr, 14, &n.Agr), SqlInt(&z->ZtgTag), SqlStr(z->ZtgBsd, 6, &n.Bsd),
                   SqlStr(z->ZtgVra, 14, &n.Vra), SqlStr(z->ZtgAzt, 6, &n.Azt),
                   SqlStr(z->ZtgTtp, 4, &n.Ttp)});
  }
  return rc;
}

int Ztg_Day_Upd(ZtgRecord* z) {
  ZtgInd n = Ztg_Ind_Get(*z);
  int rc = 0;
  if (ZtgPnmFlag) {
    rc = Sql_Exec(kZtgDayUpd,
                  {SqlStr(z->ZtgAkr, 6, &n.Akr), SqlStr(z->ZtgAbt, 16, &n.Abt),
                   SqlStr(z->ZtgKst, 31, &n.Kst), SqlStr(z->ZtgKtr, 7, &n.Ktr),
                   SqlStr(z->ZtgKrt, 5, &n.Krt), SqlStr(z->ZtgAgr, 14, &n.Agr),
                   SqlInt(&z->ZtgTag), SqlStr(z->ZtgBsd, 6, &n.Bsd), SqlStr(z->ZtgVra, 14, &n.Vra),
                   SqlStr(z->ZtgAzt, 6, &n.Azt), SqlStr(z->ZtgTtp, 4, &n.Ttp),
                   SqlStr(z->ZtgPnm, 51, &n.Pnm), SqlStr(z->ZtgPnr, 9), SqlStr(z->ZtgVon, 11)});
    if (rc == -904) ZtgPnmFlag = false;
  }
  if (!ZtgPnmFlag) {
    rc = Sql_Exec(kZtgDayUpdNoPnm,
                  {SqlStr(z->ZtgAkr, 6, &n.Akr), SqlStr(z->ZtgAbt, 16, &n.Abt),
                   SqlStr(z->ZtgKst, 31, &n.Kst), SqlStr(z->ZtgKtr, 7, &n.Ktr),
                   SqlStr(z->ZtgKrt, 5, &n.Krt), SqlStr(z->ZtgAgr, 14, &n.Agr),
                   SqlInt(&z->ZtgTag), SqlStr(z->ZtgBsd, 6, &n.Bsd), SqlStr(z->ZtgVra, 14, &n.Vra),
                   SqlStr(z->ZtgAzt, 6, &n.Azt), SqlStr(z->ZtgTtp, 4, &n.Ttp), SqlStr(z->ZtgPnr, 9),
                   SqlStr(z->ZtgVon, 11)});
  }
  return rc;
}

}  // namespace

bool Ztg_Day_Build(const BsvRecord& BsvSatz, const TagRecord& TagSatz, const char* LastZtg) {
  if (std::strcmp(TagSatz.TagTag, LastZtg) <= 0) return false;

  ZtgRecord z{};
  Pnr_Str_Copy(z.ZtgPnr, sizeof z.ZtgPnr, TagSatz.TagPnr);
  Pnr_Str_Copy(z.ZtgVon, sizeof z.ZtgVon, TagSatz.TagTag);

  int rc = Ztg_Day_Sel(&z);
  if (rc != 0 && rc != 1403) {
    if (Sql_Rt_Broken() != nullptr) return false;
    // The day keeps whatever row it has; the operator learns that it may be
    // stale.
    RunLog_Printf("Error: Ztgsatz ermitteln %d! " "Person: %s! " "Tag: %s!\n", rc, z.ZtgPnr,
                  z.ZtgVon);
    return false;
  }
  bool is_new = rc == 1403;

  Pnr_Str_Copy(z.ZtgAkr, sizeof z.ZtgAkr, BsvSatz.BsvAkr);
  Pnr_Str_Copy(z.ZtgBsd, sizeof z.ZtgBsd, BsvSatz.BsvAbr);
  Pnr_Str_Copy(z.ZtgTtp, sizeof z.ZtgTtp, TagSatz.TagTtp);
  Pnr_Str_Copy(z.ZtgPnm, sizeof z.ZtgPnm, BsvSatz.PnrNam);

  rc = Zuo_Day_Get(&z);
  if (rc != 0) {
    if (Sql_Rt_Broken() != nullptr) return false;
    RunLog_Printf("Error: Zuordnung ermitteln. %d! " "Person: %s! " "Tag: %s!\n", rc, z.ZtgPnr,
                  z.ZtgVon);
  }
  rc = Wpl_Day_Get(&z);
  if (rc != 0) {
    if (Sql_Rt_Broken() != nullptr) return false;
    // One failure, one line: the group and rotation day follow on the same
    // line rather than on lines of their own that no reader could match.
    RunLog_Printf("Error: Azt + Vra ermitteln. %d! " "Person: %s! " "Tag: %s! " "ZtgTag: %d! "
                  "ZtgAgr: %s!\n",
                  rc, z.ZtgPnr, z.ZtgVon, z.ZtgTag, z.ZtgAgr);
  }

  if (is_new) {
    rc = Ztg_NewDay_Ins(&z);
    if (rc != 0 && Sql_Rt_Broken() == nullptr) {
      RunLog_Printf("Error: Ztgsatz einf\xfc" "gen %d! " "Person: %s! " "Tag: %s!\n", rc, z.ZtgPnr,
                    z.ZtgVon);
    }
  } else {
    rc = Ztg_Day_Upd(&z);
    if (rc != 0 && Sql_Rt_Broken() == nullptr) {
      RunLog_Printf("Error: Ztgsatz updaten %d! " "Person: %s! " "Tag: %s!\n", rc, z.ZtgPnr,
                    z.ZtgVon);
    }
  }
  return rc == 0;
}

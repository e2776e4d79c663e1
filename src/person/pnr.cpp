#include "person/pnr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/session.h"
#include "db/sqlrt.h"
#include "person/bsv.h"
#include "person/pnr_hook.h"
#include "person/tag.h"
#include "person/urv.h"
#include "base/progress.h"
#include "base/runlog.h"

bool Ka2Flag = true;
bool ZtgPnmFlag = true;

void Pnr_Run_Init() {
  Ka2Flag = true;
  ZtgPnmFlag = true;
}

long Pnr_Year_Of(const char* date) {
  char year[5];
  Pnr_Str_Copy(year, sizeof year, date);
  return std::atol(year);
}

namespace {

PnrHook g_hook = nullptr;
int g_person = 0;  // persons worked on in the running phase call
char g_broken_pnr[9] = "";

// Current employment relationships of the range with the person's name,
// newest first valid day first within a person.
const char kBsvCur[] =
    "select BsvPnr ,TO_CHAR(BsvGvo,'yyyymmdd') ,TO_CHAR(BsvGbi,'yyyymmdd') ,BsvKal ,BsvAkr ,BsvAbr "
    ",PnrNam ,BsvGvo  from Hrs310Bsv ,Hrs300Pnr where (((((BsvPnr>=:b0 and BsvPnr<=:b1) and (BsvGbi "
    "is null  or BsvGbi>=TO_DATE(sysdate))) and BsvPnr=PnrNum) and BsvSta<4) and PnrSta<4) order by "
    "BsvPnr asc ,BsvGvo desc";

const char kTagLstDay[] =
    "select TO_CHAR(NVL(max(TagTag),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from Hrs327Tag where "
    "TagPnr=:b2";

const char kZtgLstDay[] =
    "select TO_CHAR(NVL(max(ZtgVon),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from Hrs329Ztg where "
    "ZtgPnr=:b2";

// Room of the per-person dates: a yyyymmdd text, or what the look-ups and the
// cap may hold in the worst case.
constexpr std::size_t kDateRoom = 12;

int Bsv_Cur_Open(const char* PnrVon, const char* PnrBis) {
  return Sql_Cur_Open(kBsvCur, {SqlStr(PnrVon, 9), SqlStr(PnrBis, 9)});
}

// On 0 the row replaces BsvSatz; otherwise BsvSatz stays as it was. The fetch
// buffers are cleared first: the runtime leaves a variable alone when its
// column is NULL, and one person's code or name must not pass on to the next.
int Bsv_Cur_Fetch(BsvRecord* BsvSatz) {
  char pnr[9] = "", gvo[11] = "", gbi[11] = "", kal[4] = "", akr[6] = "", abr[6] = "";
  char nam[51] = "", gvo_date[30] = "";
  int16_t ind = 0;  // shared by all columns, read by nobody
  int rc = Sql_Cur_Fetch(kBsvCur, {SqlStr(pnr, sizeof pnr, &ind), SqlStr(gvo, sizeof gvo, &ind),
                                   SqlStr(gbi, sizeof gbi, &ind), SqlStr(kal, sizeof kal, &ind),
                                   SqlStr(akr, sizeof akr, &ind), SqlStr(abr, sizeof abr, &ind),
                                   SqlStr(nam, sizeof nam, &ind),
                                   SqlStr(gvo_date, sizeof gvo_date, &ind)});
  if (rc == 0) {
    Pnr_Str_Copy(BsvSatz->BsvPnr, sizeof BsvSatz->BsvPnr, pnr);
    Pnr_Str_Copy(BsvSatz->BsvGvo, sizeof BsvSatz->BsvGvo, gvo);
    Pnr_Str_Copy(BsvSatz->BsvGbi, sizeof BsvSatz->BsvGbi, gbi);
    Pnr_Str_Copy(BsvSatz->BsvKal, sizeof BsvSatz->BsvKal, kal);
    Pnr_Str_Copy(BsvSatz->BsvAkr, sizeof BsvSatz->BsvAkr, akr);
    Pnr_Str_Copy(BsvSatz->BsvAbr, sizeof BsvSatz->BsvAbr, abr);
    Pnr_Str_Copy(BsvSatz->PnrNam, sizeof BsvSatz->PnrNam, nam);
  }
  return rc;
}

int Bsv_Cur_Close() { return Sql_Cur_Close(kBsvCur); }

// Latest day of a person in one table, or the database's current date when
// the person has none. `date` (kDateRoom bytes) is written only on 0.
int Pnr_LstDay_Get(const char* text, const char* BsvPnr, char* date) {
  char out[11] = "";
  int16_t ind = 0;
  int rc = Sql_Exec(text, {SqlStr(out, sizeof out, &ind), SqlStr(BsvPnr, 9)});
  if (rc == 0) Pnr_Str_Copy(date, kDateRoom, out);
  return rc;
}

int Tag_LstDay_Get(const char* BsvPnr, char* date) { return Pnr_LstDay_Get(kTagLstDay, BsvPnr, date); }
int Ztg_LstDay_Get(const char* BsvPnr, char* date) { return Pnr_LstDay_Get(kZtgLstDay, BsvPnr, date); }

// Moves `date` back to `limit` when the limit is earlier; never later.
void Pnr_Date_Cap(char* date, const char* limit) {
  if (std::strcmp(limit, date) < 0) Pnr_Str_Copy(date, kDateRoom, limit);
}

// One person's unit of work: window, day records with their time groups,
// vacation years, commit.
void Pnr_Person_Work(const BsvRecord& BsvSatz, const char* BegDat, const char* EndDat,
                     const char* CapDat) {
  char TagLst[kDateRoom];
  char ZtgLst[kDateRoom];
  char WinBeg[kDateRoom];
  static_assert(sizeof RunDate <= kDateRoom);

  // A failure that breaks the session returns at once, unlogged: the caller
  // sees it in Sql_Rt_Broken.
  int rc = Tag_LstDay_Get(BsvSatz.BsvPnr, TagLst);
  if (rc != 0) {
    if (Sql_Rt_Broken() != nullptr) return;
    RunLog_Printf("Error: Letzten Tagsatz ermitteln. %d" "Person: %s!\n", rc, BsvSatz.BsvPnr);
    std::memcpy(TagLst, RunDate, sizeof RunDate);
  }
  rc = Ztg_LstDay_Get(BsvSatz.BsvPnr, ZtgLst);
  if (rc != 0) {
    if (Sql_Rt_Broken() != nullptr) return;
    RunLog_Printf("Error: Letzten Ztgsatz ermitteln. %d" "Person: %s!\n", rc, BsvSatz.BsvPnr);
    std::memcpy(ZtgLst, RunDate, sizeof RunDate);
  }

  // The window starts at the earlier of the two; ties take the day records.
  Pnr_Str_Copy(WinBeg, sizeof WinBeg, std::strcmp(TagLst, ZtgLst) > 0 ? ZtgLst : TagLst);

  // Every run revisits at least the whole end year; a start date only widens.
  Pnr_Date_Cap(WinBeg, CapDat);
  Pnr_Date_Cap(ZtgLst, CapDat);
  if (std::strcmp(BegDat, "0") != 0) {
    Pnr_Date_Cap(WinBeg, BegDat);
    Pnr_Date_Cap(ZtgLst, BegDat);
  }

  long written = 0;
  if (std::strcmp(WinBeg, EndDat) < 0) written = Tag_Days_Extend(BsvSatz, WinBeg, EndDat, ZtgLst);
  if (Sql_Rt_Broken() != nullptr) return;
  Urv_Years_Extend(BsvSatz, EndDat);
  if (Sql_Rt_Broken() != nullptr) return;

  Pnr_Hook_Call(PnrStep::kBeforeCommit, BsvSatz.BsvPnr);
  if (Sql_Commit() == 0) {
    if (Sql_Rt_Broken() != nullptr) return;
    // A lost commit must not pass unnoticed: the person's work is not durable.
    RunLog_Printf("Error: Commit %d! Person: %s!\n", SqlCode, BsvSatz.BsvPnr);
  }
  Pnr_Hook_Call(PnrStep::kAfterCommit, BsvSatz.BsvPnr);
  Progress_Person(written);
}

}  // namespace

void Pnr_Hook_Set(PnrHook hook) { g_hook = hook; }

const char* Pnr_Broken_Pnr() { return g_broken_pnr; }

void Pnr_Hook_Call(PnrStep step, const char* pnr) {
  if (g_hook != nullptr) g_hook(step, g_person, pnr);
}

int32_t Pnr_Days_Extend(const char* BegDat, const char* EndDat, const char* PnrVon, const char* PnrBis) {
  char PrvPnr[9] = "";
  char CapDat[kDateRoom];
  std::snprintf(CapDat, sizeof CapDat, "%4d1231", static_cast<int>(Pnr_Year_Of(EndDat) - 1));
  g_person = 0;
  g_broken_pnr[0] = '\0';

  // The phase holds one record; each successful fetch replaces it.
  BsvRecord BsvSatz{};

  Bsv_Cur_Open(PnrVon, PnrBis);
  int rc;
  while ((rc = Bsv_Cur_Fetch(&BsvSatz)) == 0) {
    // Rows come by person ascending and first valid day descending: the
    // first row of a person is the newest current relationship.
    if (std::strcmp(BsvSatz.BsvPnr, PrvPnr) != 0) {
      ++g_person;
      Pnr_Person_Work(BsvSatz, BegDat, EndDat, CapDat);
      if (Sql_Rt_Broken() != nullptr) {
        Pnr_Str_Copy(g_broken_pnr, sizeof g_broken_pnr, BsvSatz.BsvPnr);
        return SqlCode;
      }
    }
    Pnr_Str_Copy(PrvPnr, sizeof PrvPnr, BsvSatz.BsvPnr);
  }
  if (Sql_Rt_Broken() != nullptr) return SqlCode;
  if (rc != 1403) RunLog_Printf("Error: N\xe4" "chste Person ermitteln. RC:%d\n", rc);
  return Bsv_Cur_Close();
}

int32_t Pnr_Range_Split(const char* PnrVon, const char* PnrBis, int parts, std::vector<PnrRange>* out) {
  out->clear();
  // The persons in cursor order with their rows.
  struct Person {
    char pnr[9];
    long rows;
  };
  std::vector<Person> persons;
  long total = 0;
  BsvRecord BsvSatz{};
  Bsv_Cur_Open(PnrVon, PnrBis);
  int rc;
  while ((rc = Bsv_Cur_Fetch(&BsvSatz)) == 0) {
    if (persons.empty() || std::strcmp(persons.back().pnr, BsvSatz.BsvPnr) != 0) {
      persons.push_back(Person{});
      Pnr_Str_Copy(persons.back().pnr, sizeof persons.back().pnr, BsvSatz.BsvPnr);
    }
    ++persons.back().rows;
    ++total;
  }
  Bsv_Cur_Close();
  if (rc != 1403) return rc;
  if (parts < 1) parts = 1;
  // Part k ends at the first person whose rows reach k/parts of the total.
  size_t first = 0;
  long seen = 0;
  for (size_t i = 0; i < persons.size(); ++i) {
    seen += persons[i].rows;
    const long k = static_cast<long>(out->size()) + 1;
    const bool last = i + 1 == persons.size();
    if (last || (k < parts && seen * parts >= k * total)) {
      PnrRange r{};
      Pnr_Str_Copy(r.PnrVon, sizeof r.PnrVon, persons[first].pnr);
      Pnr_Str_Copy(r.PnrBis, sizeof r.PnrBis, persons[i].pnr);
      r.rows = 0;
      r.persons = static_cast<long>(i + 1 - first);
      for (size_t j = first; j <= i; ++j) r.rows += persons[j].rows;
      out->push_back(r);
      first = i + 1;
    }
  }
  return 0;
}

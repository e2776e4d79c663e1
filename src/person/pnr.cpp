#include "person/pnr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "db/oradate.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "person/bsv.h"
#include "person/pnr_hook.h"
#include "person/tag.h"
#include "person/urv.h"
#include "person/ztg.h"
#include "base/progress.h"
#include "base/runlog.h"
#include "base/text.h"

bool Ka2Flag = true;
bool ZtgPnmFlag = true;

void Pnr_Run_Init() {
  Ka2Flag = true;
  ZtgPnmFlag = true;
}

long Pnr_Year_Of(const char* date) {
  char year[5];
  Str_Copy(year, sizeof year, date);
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
    Str_Copy(BsvSatz->BsvPnr, sizeof BsvSatz->BsvPnr, pnr);
    Str_Copy(BsvSatz->BsvGvo, sizeof BsvSatz->BsvGvo, gvo);
    Str_Copy(BsvSatz->BsvGbi, sizeof BsvSatz->BsvGbi, gbi);
    Str_Copy(BsvSatz->BsvKal, sizeof BsvSatz->BsvKal, kal);
    Str_Copy(BsvSatz->BsvAkr, sizeof BsvSatz->BsvAkr, akr);
    Str_Copy(BsvSatz->BsvAbr, sizeof BsvSatz->BsvAbr, abr);
    Str_Copy(BsvSatz->PnrNam, sizeof BsvSatz->PnrNam, nam);
  }
  return rc;
}

int Bsv_Cur_Close() { return Sql_Cur_Close(kBsvCur); }

// Moves `date` back to `limit` when the limit is earlier; never later.
void Pnr_Date_Cap(char* date, const char* limit) {
  if (std::strcmp(limit, date) < 0) Str_Copy(date, kDateRoom, limit);
}

// One day of the person being worked on, and what the range read being
// taken found for it.
struct PnrDay {
  TagDay tag;
  ZtgDay ztg;
  int hits;    // rows for the day
  int hit_rc;  // the code of the first row's fetch
};

// A person's window is worked in slices of at most this many calendar
// days: four years with a leap day, twice the longest window of a nightly
// run (from the start of this year to the end of the next), so that such a
// window is one slice and a person costs the same round trips as ever; a
// window reaching decades ahead no longer holds all its days at once. The
// carry-over years go in chunks of as many years.
constexpr long kSliceDays = 1461;

// What a person's stages work in, for one slice of the window; kept for
// the whole run, so that its room is reused from slice to slice and person
// to person.
struct PersonWork {
  std::vector<TagRecord> read;
  std::vector<PnrDay> days;
  ZtgDay row;                 // a range read's row
  std::vector<WplRow> plans;  // the plans of the person's groups, read with the first slice
  int plans_rc;               // that read's code
  char ztg_from[kDateRoom];   // the slice's time-group read starts after this day
  UrvWork urv;
  SqlBatch batch;
  std::vector<long> writes;  // of the last stage: a day (>= 0) or a year (-1 - k)
  std::vector<long> again;
};
PersonWork g_work;
bool g_per_day = false;  // every look-up one statement per day (tests)
long g_slice_days = kSliceDays;

// A person's commit whose answer comes with the next person's first batch
// (or at the end of the phase): so the server commits one person while the
// next one's first reads travel, in one round trip. Its line, hook call
// and progress follow when the answer is in, before anything of the next
// person is logged.
struct PendingCommit {
  bool due = false;
  int person = 0;
  char pnr[9] = "";
  long written = 0;
  bool broke = false;  // the commit broke the session: the person named as the broken one
};
PendingCommit g_commit;

// The answer of the pending commit; false when it broke the session.
bool Commit_Finish() {
  if (!g_commit.due) return true;
  g_commit.due = false;
  // The code of the batch that carried the commit stays for the caller,
  // unless the commit broke the session.
  const int32_t batch_code = SqlCode;
  if (Sql_Commit_Result() == 0) {
    if (Sql_Rt_Commit_Broke()) {
      g_commit.broke = true;
      return false;
    }
    // A lost commit must not pass unnoticed: the person's work is not durable.
    RunLog_Printf("Error: Commit %d! Person: %s!\n", SqlCode, g_commit.pnr);
  }
  SqlCode = batch_code;
  if (g_hook != nullptr) g_hook(PnrStep::kAfterCommit, g_commit.person, g_commit.pnr);
  Progress_Person(g_commit.written);
  return true;
}

// Runs the batch and clears nothing; false when the session broke.
bool Run(SqlBatch* b, int stop_code = 0) { return Sql_Exec_Batch(b, stop_code) == 0 && Sql_Rt_Broken() == nullptr; }

bool Day_Before(const PnrDay& d, const char* day) { return std::strcmp(d.tag.TagSatz.TagTag, day) < 0; }
bool Day_After(const char* day, const PnrDay& d) { return std::strcmp(day, d.tag.TagSatz.TagTag) < 0; }

// Reads an open range read to its end and hands every row to the days of
// its date (the days are in date order; a row not at midnight is no day's):
// `fetch(stamp)` reads the next row and its day as yyyymmddhhmmss, `take(d)`
// keeps a day's first row. Returns 1403, or the code that fails the read
// for every day it covers: its open's, or a fetch's that names no day.
template <class Fetch, class Take>
int Range_Read(int open_rc, std::vector<PnrDay>* days, Fetch fetch, Take take) {
  for (PnrDay& d : *days) d.hits = 0;
  if (open_rc != 0) return open_rc;
  char stamp[15];
  for (;;) {
    const int rc = fetch(stamp);
    if (rc == kSqlNoRow || Sql_Rt_Broken() != nullptr) return rc;
    if (stamp[0] == '\0' && rc != 0) return rc;
    if (std::strlen(stamp) != 14 || std::strcmp(stamp + 8, "000000") != 0) continue;
    char day[9];
    Str_Copy(day, sizeof day, stamp);
    auto it = std::lower_bound(days->begin(), days->end(), day, Day_Before);
    for (; it != days->end() && !Day_After(day, *it); ++it) {
      if (++it->hits == 1) {
        it->hit_rc = rc;
        take(&*it);
      }
    }
  }
}

// The code a day's own select-into would have given, after Range_Read
// returned read_rc: the read's failure, no row, its one row's, or too many.
int Range_Code(const PnrDay& d, int read_rc) {
  if (read_rc != kSqlNoRow) return read_rc;
  return d.hits == 0 ? kSqlNoRow : d.hits > 1 ? kSqlTooManyRows : d.hit_rc;
}

// The latest day record, time-group row and carry-over year: the last two
// dates, or RunDate where a look-up failed. False when the session broke.
bool Last_Dates_Read(const BsvRecord& BsvSatz, const char* EndDat, PersonWork* w, char* TagLst, char* ZtgLst) {
  static_assert(sizeof RunDate <= kDateRoom);
  char tag_out[11] = "", ztg_out[11] = "";
  int16_t tag_ind = 0, ztg_ind = 0;
  SqlBatch& b = w->batch;
  b.Clear();
  const size_t tag = b.Add(kTagLstDay, {SqlStr(tag_out, sizeof tag_out, &tag_ind), SqlStr(BsvSatz.BsvPnr, 9)});
  const size_t ztg = b.Add(kZtgLstDay, {SqlStr(ztg_out, sizeof ztg_out, &ztg_ind), SqlStr(BsvSatz.BsvPnr, 9)});
  const size_t urv = Urv_Lst_Add(&w->urv, BsvSatz, &b);
  const bool ran = Run(&b);
  // The person before: its commit went ahead of this batch.
  if (!Commit_Finish() || !ran) return false;
  if (b.items[tag].rc == 0) {
    Str_Copy(TagLst, kDateRoom, tag_out);
  } else {
    RunLog_Printf("Error: Letzten Tagsatz ermitteln. %d" "Person: %s!\n", b.items[tag].rc, BsvSatz.BsvPnr);
    std::memcpy(TagLst, RunDate, sizeof RunDate);
  }
  if (b.items[ztg].rc == 0) {
    Str_Copy(ZtgLst, kDateRoom, ztg_out);
  } else {
    RunLog_Printf("Error: Letzten Ztgsatz ermitteln. %d" "Person: %s!\n", b.items[ztg].rc, BsvSatz.BsvPnr);
    std::memcpy(ZtgLst, RunDate, sizeof RunDate);
  }
  Urv_Lst_Take(&w->urv, b.items[urv].rc, BsvSatz, EndDat);
  return true;
}

// The slice's calendar days (after WinBeg up to and including EndDat),
// whether each has its day record, and the existing time-group rows of the
// days after LastZtg. Returns false when the session broke; *read_rc is the
// calendar read's end.
bool Days_Read(const BsvRecord& BsvSatz, const char* WinBeg, const char* EndDat, const char* LastZtg,
               PersonWork* w, int* read_rc) {
  SqlBatch& b = w->batch;
  b.Clear();
  const size_t cal = Tag_Days_Open(BsvSatz, WinBeg, EndDat, &b);
  size_t tag = 0, ztg = 0;
  if (!g_per_day) {
    tag = Tag_Sel_Range_Open(BsvSatz.BsvPnr, WinBeg, EndDat, &b);
    // The rows of the slice's days after LastZtg: no other row is any day's.
    Str_Copy(w->ztg_from, sizeof w->ztg_from, std::strcmp(WinBeg, LastZtg) > 0 ? WinBeg : LastZtg);
    ztg = Ztg_Sel_Range_Open(BsvSatz.BsvPnr, w->ztg_from, EndDat, &b);
  }
  if (!Run(&b)) return false;
  *read_rc = Tag_Days_Fetch(b.items[cal].rc, BsvSatz, WinBeg, EndDat, &w->read);
  if (Sql_Rt_Broken() != nullptr) return false;
  w->days.resize(w->read.size());
  for (size_t i = 0; i < w->read.size(); ++i) {
    Tag_Day_Init(&w->days[i].tag, w->read[i]);
    Ztg_Day_Init(&w->days[i].ztg, w->read[i], LastZtg);
  }

  if (g_per_day) {
    b.Clear();
    for (PnrDay& d : w->days) {
      Tag_Sel_Add(&d.tag, &b);
      if (d.ztg.due) Ztg_Sel_Add(&d.ztg, &b);
    }
    if (!Run(&b)) return false;
    for (PnrDay& d : w->days) {
      Tag_Sel_Take(&d.tag, b.items[d.tag.at].rc);
      if (d.ztg.due) Ztg_Sel_Take(&d.ztg, b.items[d.ztg.at].rc, BsvSatz, d.tag.TagSatz);
    }
    return true;
  }

  int rc = Range_Read(b.items[tag].rc, &w->days, Tag_Sel_Range_Fetch, [](PnrDay*) {});
  Tag_Sel_Range_Close();
  if (Sql_Rt_Broken() != nullptr) return false;
  for (PnrDay& d : w->days) Tag_Sel_Take(&d.tag, Range_Code(d, rc));

  ZtgDay* row = &w->row;
  rc = Range_Read(
      b.items[ztg].rc, &w->days, [row](char(&stamp)[15]) { return Ztg_Sel_Range_Fetch(row, stamp); },
      [row](PnrDay* d) { Ztg_Out_Take(&d->ztg, *row); });
  Ztg_Sel_Range_Close();
  if (Sql_Rt_Broken() != nullptr) return false;
  for (PnrDay& d : w->days) {
    if (d.ztg.due) Ztg_Sel_Take(&d.ztg, Range_Code(d, rc), BsvSatz, d.tag.TagSatz);
  }
  return true;
}

// The plan look-ups of the days in the batch, one statement per day, for
// the days that `own` picks. False when the session broke.
template <class Pick>
bool Plans_Per_Day(PersonWork* w, Pick own) {
  SqlBatch& b = w->batch;
  b.Clear();
  for (PnrDay& d : w->days) {
    if (own(d)) Ztg_Wpl_Add(&d.ztg, &b);
  }
  if (b.items.empty()) return true;
  if (!Run(&b)) return false;
  for (PnrDay& d : w->days) {
    if (own(d)) Ztg_Wpl_Take(&d.ztg, b.items[d.ztg.at].rc);
  }
  return true;
}

// The inserts of the missing day records, then the assignments and plans
// of the days whose time group is built; the plans of the person's groups
// are read with the first slice (`first`) and serve every slice, as nobody
// writes them. False when the session broke.
bool Days_Insert_And_Assign(const BsvRecord& BsvSatz, const char* WinBeg, const char* EndDat, bool first,
                            PersonWork* w) {
  SqlBatch& b = w->batch;
  b.Clear();
  for (PnrDay& d : w->days) {
    if (Tag_Ins_Due(d.tag)) Tag_Ins_Add(&d.tag, &b);
  }
  size_t zuo = 0, wpl = 0;
  if (g_per_day) {
    for (PnrDay& d : w->days) {
      if (Ztg_Day_Going(d.ztg)) Ztg_Zuo_Add(&d.ztg, &b);
    }
  } else {
    zuo = Ztg_Zuo_Range_Open(BsvSatz.BsvPnr, WinBeg, EndDat, &b);
    if (first) wpl = Ztg_Wpl_Range_Open(BsvSatz.BsvPnr, &b);
  }
  if (!Run(&b)) return false;
  for (PnrDay& d : w->days) {
    if (Tag_Ins_Due(d.tag)) Tag_Ins_Take(&d.tag, b.items[d.tag.at].rc);
  }

  if (g_per_day) {
    for (PnrDay& d : w->days) {
      if (Ztg_Day_Going(d.ztg)) Ztg_Zuo_Take(&d.ztg, b.items[d.ztg.at].rc);
    }
    return Plans_Per_Day(w, [](const PnrDay& d) { return Ztg_Day_Going(d.ztg); });
  }

  ZtgDay* row = &w->row;
  const int rc = Range_Read(
      b.items[zuo].rc, &w->days, [row](char(&stamp)[15]) { return Ztg_Zuo_Range_Fetch(row, stamp); },
      [row](PnrDay* d) { Ztg_Out_Take(&d->ztg, *row); });
  Ztg_Zuo_Range_Close();
  if (Sql_Rt_Broken() != nullptr) return false;
  for (PnrDay& d : w->days) {
    if (Ztg_Day_Going(d.ztg)) Ztg_Zuo_Take(&d.ztg, Range_Code(d, rc));
  }

  if (first) {
    w->plans_rc = b.items[wpl].rc;
    w->plans.clear();
    if (w->plans_rc == 0) {
      // Every fetch moves on, the ones that fail too (WplRow::rc).
      WplRow p;
      for (int rc; (rc = Ztg_Wpl_Range_Fetch(&p)) != kSqlNoRow && rc != kSqlInvalidCursor && Sql_Rt_Broken() == nullptr;) {
        w->plans.push_back(p);
      }
      Ztg_Wpl_Range_Close();
      if (Sql_Rt_Broken() != nullptr) return false;
    }
  }
  const int plans_rc = w->plans_rc;
  for (PnrDay& d : w->days) {
    if (Ztg_Day_Going(d.ztg) && !Ztg_Wpl_Own(d.ztg)) {
      Ztg_Wpl_Take(&d.ztg, plans_rc != 0 ? plans_rc : Ztg_Wpl_Match(&d.ztg, w->plans));
    }
  }
  return Plans_Per_Day(w, [](const PnrDay& d) { return Ztg_Day_Going(d.ztg) && Ztg_Wpl_Own(d.ztg); });
}

// Runs the writes that w->writes lists (a day of the slice, or a year of
// the carry-over chunk in hand) in day order, then year order. A write that
// finds no ZtgPnm column clears the flag and ends the batch there (-904);
// it and everything after it go again, without the column.
bool Writes_Run(const BsvRecord& BsvSatz, PersonWork* w) {
  // Each round settles at least the item that ended the one before.
  for (size_t round = 0, rounds = w->writes.size() + 1; !w->writes.empty() && round < rounds; ++round) {
    SqlBatch& b = w->batch;
    b.Clear();
    for (long e : w->writes) {
      if (e >= 0) {
        Ztg_Write_Add(&w->days[static_cast<size_t>(e)].ztg, &b);
      } else {
        Urv_Ins_Add(&w->urv, static_cast<size_t>(-1 - e), BsvSatz, &b);
      }
    }
    if (!Run(&b, ZtgPnmFlag ? kSqlNoColumn : 0)) return false;
    w->again.clear();
    for (long e : w->writes) {
      if (e >= 0) {
        ZtgDay& z = w->days[static_cast<size_t>(e)].ztg;
        if (!Ztg_Write_Take(&z, b.items[z.at].rc)) w->again.push_back(e);
        continue;
      }
      const size_t k = static_cast<size_t>(-1 - e);
      const int rc = b.items[w->urv.at[k]].rc;
      if (rc == kSqlNotRun) {
        w->again.push_back(e);
      } else {
        w->urv.rcs[k] = rc;
      }
    }
    w->writes.swap(w->again);
  }
  w->writes.clear();
  return true;
}

// The last stage of a slice: the days' time-group writes in day order (the
// one that meets a missing ZtgPnm decides for the days after it), and after
// the window's last day (`years`) the carry-over years, in chunks of at
// most a slice's length: the first in the batch of the slice's writes, as
// the one-slice order has them, the others each in a batch of its own.
bool Person_Writes(const BsvRecord& BsvSatz, bool years, PersonWork* w) {
  w->writes.clear();
  for (size_t i = 0; i < w->days.size(); ++i) {
    if (Ztg_Day_Going(w->days[i].ztg)) w->writes.push_back(static_cast<long>(i));
  }
  if (!years) return Writes_Run(BsvSatz, w);
  UrvWork& u = w->urv;
  long from = 0;
  do {
    const long n = std::min(g_slice_days, u.count - from);
    Urv_Chunk_Set(&u, from, n);
    for (long k = 0; k < n; ++k) w->writes.push_back(-1 - k);
    if (!Writes_Run(BsvSatz, w)) return false;
    Urv_Chunk_Done(&u);
    from += n;
  } while (from < u.count);
  return true;
}

// The end of the slice that begins after `beg`: the day `days` days later,
// or EndDat where that comes first or `beg` is no date (the rest of the
// window is then one slice). Always later than `beg`.
void Slice_End(const char* beg, const char* EndDat, long days, char* end) {
  Str_Copy(end, kDateRoom, EndDat);
  double jd = 0;
  if (Ora_Date_Parse(beg, std::strlen(beg), "yyyymmdd", 8, &jd) != 0) return;
  char text[kDateRoom];
  if (Ora_Date_Format(jd + static_cast<double>(days), "yyyymmdd", 8, false, text, sizeof text) < 0) return;
  if (std::strcmp(text, beg) > 0 && std::strcmp(text, EndDat) < 0) Str_Copy(end, kDateRoom, text);
}

// A day's failure lines, then its hook call.
void Day_Log(const PnrDay& d) {
  Tag_Day_Log(d.tag);
  Ztg_Day_Log(d.ztg);
  Pnr_Hook_Call(PnrStep::kDayDone, d.tag.TagSatz.TagPnr);
}

// The failure lines of a person's slices before the last, held back until
// all the person's writes are done: so they come where the one-slice order
// writes them, after every write of the person, and not at all when the
// session breaks before. The days that have lines wait in a temporary
// file, however many there are; the others are only counted, for their
// hook calls. Where the file cannot be made or written, the days' lines go
// to the log after their slice's writes (what the file holds first).
class HeldLines {
 public:
  void Begin(const char* pnr) {
    Str_Copy(pnr_, sizeof pnr_, pnr);
    days_ = held_ = 0;
    direct_ = false;
    if (file_ != nullptr) {
      std::clearerr(file_);
      std::rewind(file_);
    }
  }

  // A slice's days, after its writes.
  void Hold(const std::vector<PnrDay>& days) {
    for (const PnrDay& d : days) {
      if (!direct_) {
        if ((Tag_Day_Log(d.tag, false) == 0 && Ztg_Day_Log(d.ztg, false) == 0) || Put(d)) {
          ++days_;
          continue;
        }
        Release();
        direct_ = true;
      }
      Day_Log(d);
    }
  }

  // The held days' lines and every counted day's hook call, in day order;
  // then nothing is held.
  void Release() {
    if (held_ > 0 && std::fseek(file_, 0, SEEK_SET) != 0) held_ = 0;
    long next = -1;  // the index of the record in `h`, -1 when none is left
    const auto read = [this, &next]() {
      next = held_-- > 0 && std::fread(&h_, sizeof h_, 1, file_) == 1 ? h_.index : -1;
    };
    read();
    for (long i = 0; i < days_; ++i) {
      if (i != next) {
        Pnr_Hook_Call(PnrStep::kDayDone, pnr_);
        continue;
      }
      Day_Log(h_.day);
      read();
    }
    days_ = held_ = 0;
    if (file_ != nullptr) std::rewind(file_);
  }

 private:
  struct Held {
    long index;  // the day's place among the days counted
    PnrDay day;
  };
  static_assert(std::is_trivially_copyable_v<Held>);

  bool Put(const PnrDay& d) {
    if (file_ == nullptr) {
      file_ = std::tmpfile();
      if (file_ == nullptr) return false;
      // Unbuffered: when a write fails, the records before it are whole in the file.
      std::setvbuf(file_, nullptr, _IONBF, 0);
    }
    h_.index = days_;
    h_.day = d;
    if (std::fwrite(&h_, sizeof h_, 1, file_) != 1) return false;
    ++held_;
    return true;
  }

  FILE* file_ = nullptr;  // made at the first day held, kept for the run
  char pnr_[9] = "";
  long days_ = 0;         // days counted since Begin or Release
  long held_ = 0;         // records of them in the file
  bool direct_ = false;   // the file failed for this person
  Held h_{};
};
HeldLines g_held;

// One person's unit of work: window, day records with their time groups,
// vacation years, commit.
//
// The window is worked in slices of at most g_slice_days calendar days
// (one slice for a nightly run's window), each slice in stages, a batch
// each for all its days: first, once for the window, the latest days and
// year; then per slice the days with their existing day records and
// time-group rows; the inserts of the missing day records with the
// assignments and plans (the plans with the first slice); the time-group
// writes, and after the last slice the carry-over years; finally the
// commit, once. A read that each day would make of its own rows is one
// range read for the slice's days (ztg.cpp says why they agree); a write
// is one statement per day, with the inputs the day-by-day order gives it.
// Only the order within the person changes, and no statement of one day
// reads what a statement of another day writes: the existence checks and
// the row reads see their own day's row only, the assignment read of a
// slice follows all its day records' inserts, and the carry-over look-up
// reads a table that only the carry-over inserts write, after it. Keep it
// so. The per-window points stay where the one-slice order has them: the
// window's dates before the first slice; Ka2Flag and ZtgPnmFlag switch at
// the first read or write that meets the missing table or column and hold
// for every later slice; a calendar read that ends early ends the window
// (its line follows the days' lines). The failure lines are collected per
// day and written in day order, as the day-by-day order wrote them, after
// all the person's writes (HeldLines).
void Pnr_Person_Work(const BsvRecord& BsvSatz, const char* BegDat, const char* EndDat,
                     const char* CapDat) {
  PersonWork& w = g_work;
  char TagLst[kDateRoom];
  char ZtgLst[kDateRoom];
  char WinBeg[kDateRoom];

  // A failure that breaks the session returns at once, unlogged: the caller
  // sees it in Sql_Rt_Broken.
  if (!Last_Dates_Read(BsvSatz, EndDat, &w, TagLst, ZtgLst)) return;

  // The window starts at the earlier of the two; ties take the day records.
  Str_Copy(WinBeg, sizeof WinBeg, std::strcmp(TagLst, ZtgLst) > 0 ? ZtgLst : TagLst);

  // Every run revisits at least the whole end year; a start date only widens.
  Pnr_Date_Cap(WinBeg, CapDat);
  Pnr_Date_Cap(ZtgLst, CapDat);
  if (std::strcmp(BegDat, "0") != 0) {
    Pnr_Date_Cap(WinBeg, BegDat);
    Pnr_Date_Cap(ZtgLst, BegDat);
  }

  int read_rc = kSqlNoRow;
  long written = 0;
  g_held.Begin(BsvSatz.BsvPnr);
  w.days.clear();
  if (std::strcmp(WinBeg, EndDat) < 0) {
    char SliceBeg[kDateRoom];
    char SliceEnd[kDateRoom];
    Str_Copy(SliceBeg, sizeof SliceBeg, WinBeg);
    for (bool first = true, last = false; !last; first = false) {
      Slice_End(SliceBeg, EndDat, g_slice_days, SliceEnd);
      if (!Days_Read(BsvSatz, SliceBeg, SliceEnd, ZtgLst, &w, &read_rc)) return;
      // The calendar read ended early: no later day is read, as in one read.
      last = read_rc != kSqlNoRow || std::strcmp(SliceEnd, EndDat) == 0;
      if (!Days_Insert_And_Assign(BsvSatz, SliceBeg, SliceEnd, first, &w)) return;
      if (!Person_Writes(BsvSatz, last, &w)) return;
      for (const PnrDay& d : w.days) {
        if (Ztg_Day_Written(d.ztg)) ++written;
      }
      if (last) break;
      g_held.Hold(w.days);
      Str_Copy(SliceBeg, sizeof SliceBeg, SliceEnd);
    }
  } else if (!Person_Writes(BsvSatz, true, &w)) {
    return;
  }

  g_held.Release();
  for (const PnrDay& d : w.days) Day_Log(d);
  Tag_Days_Read_Log(BsvSatz, read_rc);
  Urv_Log(w.urv, BsvSatz);

  Pnr_Hook_Call(PnrStep::kBeforeCommit, BsvSatz.BsvPnr);
  Sql_Commit_Defer();
  g_commit.due = true;
  g_commit.person = g_person;
  Str_Copy(g_commit.pnr, sizeof g_commit.pnr, BsvSatz.BsvPnr);
  g_commit.written = written;
}

}  // namespace

void Pnr_Hook_Set(PnrHook hook) { g_hook = hook; }

void Pnr_Day_Reads_Set(bool per_day) { g_per_day = per_day; }

void Pnr_Slice_Days_Set(long days) { g_slice_days = days > 0 ? days : kSliceDays; }

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
  g_commit = PendingCommit{};

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
        Str_Copy(g_broken_pnr, sizeof g_broken_pnr, g_commit.broke ? g_commit.pnr : BsvSatz.BsvPnr);
        return SqlCode;
      }
    }
    Str_Copy(PrvPnr, sizeof PrvPnr, BsvSatz.BsvPnr);
  }
  // The last person's commit: nothing came after it to carry it.
  const int fetch_rc = rc, fetch_code = SqlCode;
  if (!Commit_Finish()) {
    Str_Copy(g_broken_pnr, sizeof g_broken_pnr, g_commit.pnr);
    return SqlCode;
  }
  rc = fetch_rc;
  SqlCode = fetch_code;
  if (Sql_Rt_Broken() != nullptr) return SqlCode;
  if (rc != kSqlNoRow) RunLog_Printf("Error: N\xe4" "chste Person ermitteln. RC:%d\n", rc);
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
      Str_Copy(persons.back().pnr, sizeof persons.back().pnr, BsvSatz.BsvPnr);
    }
    ++persons.back().rows;
    ++total;
  }
  Bsv_Cur_Close();
  if (rc != kSqlNoRow) return rc;
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
      Str_Copy(r.PnrVon, sizeof r.PnrVon, persons[first].pnr);
      Str_Copy(r.PnrBis, sizeof r.PnrBis, persons[i].pnr);
      r.rows = 0;
      r.persons = static_cast<long>(i + 1 - first);
      for (size_t j = first; j <= i; ++j) r.rows += persons[j].rows;
      out->push_back(r);
      first = i + 1;
    }
  }
  return 0;
}

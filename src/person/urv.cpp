#include "person/urv.h"

#include "base/runlog.h"
#include "person/pnr.h"

namespace {

const char kUrvLstJhrGet[] = "select max(UrvJhr) into :b0:b1  from Hrs332Urv where UrvPnr=:b2";
const char kUrvNewJhrIns[] = "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,:b1)";

}  // namespace

size_t Urv_Lst_Add(UrvWork* w, const BsvRecord& BsvSatz, SqlBatch* b) {
  w->last = 0;
  w->ind = 0;
  return b->Add(kUrvLstJhrGet, {SqlInt(&w->last, &w->ind), SqlStr(BsvSatz.BsvPnr, 9)});
}

void Urv_Lst_Take(UrvWork* w, int rc, const BsvRecord& BsvSatz, const char* EndDat) {
  w->lst_rc = rc;
  const long end_year = Pnr_Year_Of(EndDat);
  w->first = rc != 0 ? Pnr_Year_Of(RunDate) : Pnr_Year_Of(BsvSatz.BsvGvo);
  w->count = end_year >= w->first ? end_year - w->first + 1 : 0;
  w->failed.clear();
  Urv_Chunk_Set(w, 0, 0);
}

void Urv_Chunk_Set(UrvWork* w, long from, long n) {
  w->years.resize(static_cast<size_t>(n));
  for (long k = 0; k < n; ++k) w->years[static_cast<size_t>(k)] = static_cast<int32_t>(w->first + from + k);
  w->rcs.assign(w->years.size(), kSqlNotRun);
  w->at.assign(w->years.size(), 0);
}

void Urv_Ins_Add(UrvWork* w, size_t k, const BsvRecord& BsvSatz, SqlBatch* b) {
  w->at[k] = b->Add(kUrvNewJhrIns, {SqlStr(BsvSatz.BsvPnr, 9), SqlInt(&w->years[k])});
}

void Urv_Chunk_Done(UrvWork* w) {
  for (size_t k = 0; k < w->years.size(); ++k) {
    if (w->rcs[k] != 0 && w->rcs[k] != kSqlDupKey) w->failed.push_back(UrvWork::Failure{w->years[k], w->rcs[k]});
  }
}

void Urv_Log(const UrvWork& w, const BsvRecord& BsvSatz) {
  if (w.lst_rc != 0) {
    RunLog_Printf("Error: Letzten Urlaubsvortrag ermitteln. %d" "Person: %s!\n", w.lst_rc, BsvSatz.BsvPnr);
  }
  for (const UrvWork::Failure& f : w.failed) {
    RunLog_Printf("Error: Urlaubsvortrag einpflegen. %d" "Person: %s! Jahr: %ld!\n", f.rc, BsvSatz.BsvPnr,
                  static_cast<long>(f.year));
  }
}

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
  const long start_year = rc != 0 ? Pnr_Year_Of(RunDate) : Pnr_Year_Of(BsvSatz.BsvGvo);
  w->years.clear();
  for (long year = start_year - 1; year < end_year;) {
    ++year;
    w->years.push_back(static_cast<int32_t>(year));
  }
  w->rcs.assign(w->years.size(), kSqlNotRun);
  w->at.assign(w->years.size(), 0);
}

void Urv_Ins_Add(UrvWork* w, size_t k, const BsvRecord& BsvSatz, SqlBatch* b) {
  w->at[k] = b->Add(kUrvNewJhrIns, {SqlStr(BsvSatz.BsvPnr, 9), SqlInt(&w->years[k])});
}

void Urv_Log(const UrvWork& w, const BsvRecord& BsvSatz) {
  if (w.lst_rc != 0) {
    RunLog_Printf("Error: Letzten Urlaubsvortrag ermitteln. %d" "Person: %s!\n", w.lst_rc, BsvSatz.BsvPnr);
  }
  for (size_t k = 0; k < w.years.size(); ++k) {
    if (w.rcs[k] != 0 && w.rcs[k] != kSqlDupKey) {
      RunLog_Printf("Error: Urlaubsvortrag einpflegen. %d" "Person: %s! Jahr: %ld!\n", w.rcs[k],
                    BsvSatz.BsvPnr, static_cast<long>(w.years[k]));
    }
  }
}

#include "person/urv.h"

#include "db/sqlrt.h"
#include "base/runlog.h"

namespace {

const char kUrvLstJhrGet[] = "select max(UrvJhr) into :b0:b1  from Hrs332Urv where UrvPnr=:b2";
const char kUrvNewJhrIns[] = "insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,:b1)";

// The person's highest carry-over year; *Jahr is written only on 0 (0 when
// the person has none).
int Urv_LstJhr_Get(const char* BsvPnr, int32_t* Jahr) {
  int32_t year = 0;
  int16_t ind = 0;
  int rc = Sql_Exec(kUrvLstJhrGet, {SqlInt(&year, &ind), SqlStr(BsvPnr, 9)});
  if (rc == 0) *Jahr = ind == -1 ? 0 : year;
  return rc;
}

int Urv_NewJhr_Ins(const char* BsvPnr, int32_t Jahr) {
  return Sql_Exec(kUrvNewJhrIns, {SqlStr(BsvPnr, 9), SqlInt(&Jahr)});
}

}  // namespace

void Urv_Years_Extend(const BsvRecord& BsvSatz, const char* EndDat) {
  long end_year = Pnr_Year_Of(EndDat);
  long start_year;

  // The highest stored year is looked up but does not move the start: every
  // run makes sure of all the years of the relationship, gaps included.
  int32_t last = 0;
  int rc = Urv_LstJhr_Get(BsvSatz.BsvPnr, &last);
  if (rc != 0) {
    if (Sql_Rt_Broken() != nullptr) return;
    RunLog_Printf("Error: Letzten Urlaubsvortrag ermitteln. %d" "Person: %s!\n", rc, BsvSatz.BsvPnr);
    start_year = Pnr_Year_Of(RunDate);
  } else {
    start_year = Pnr_Year_Of(BsvSatz.BsvGvo);
  }

  for (long year = start_year - 1; year < end_year;) {
    ++year;
    rc = Urv_NewJhr_Ins(BsvSatz.BsvPnr, static_cast<int32_t>(year));
    // A year that exists already is what a rerun finds; it is no failure.
    if (rc != 0 && rc != -1) {
      if (Sql_Rt_Broken() != nullptr) return;
      RunLog_Printf("Error: Urlaubsvortrag einpflegen. %d" "Person: %s! Jahr: %ld!\n", rc,
                    BsvSatz.BsvPnr, year);
    }
  }
}

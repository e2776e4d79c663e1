// Vacation carry-over years.
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "../support/faultsession.h"
#include "person_fixture.h"
#include "base/clock.h"
#include "base/runlog.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

class UrvTest : public PersonTest {};

struct YearsCase {
  const char* name;
  const char* gvo;
  const char* end_year;
  Table years;
};

TEST_P(UrvTest, YearsFromTheFirstValidDayToTheEndYear) {
  const YearsCase cases[] = {
      {"three years", "2004-12-01", "2006", {"2004", "2005", "2006"}},
      {"the end year alone", "2006-01-01", "2006", {"2006"}},
      {"beginning after the end year", "2007-01-01", "2006", {}},
  };
  for (const YearsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("delete from Hrs332Urv; delete from Hrs310Bsv; delete from Hrs300Pnr");
    AddEmployee("00000001", "Years", c.gvo, "1");
    Run("0", c.end_year);
    EXPECT_EQ(Rows("select UrvJhr from Hrs332Urv order by 1"), c.years);
  }
  EXPECT_EQ(Log(), "");
}

TEST_P(UrvTest, ExistingYearsPassInSilence) {
  AddEmployee("00000001", "Rerun", "2004-12-01", "1");
  Exec("insert into Hrs332Urv values ('00000001', 2005)");

  Run("0", "2006");
  Run("0", "2006");
  EXPECT_EQ(Urvs(), (Table{"00000001|2004", "00000001|2005", "00000001|2006"}));
  EXPECT_EQ(Log(), "");
}

TEST_P(UrvTest, FailedLookupStartsFromTheRunYear) {
  NEEDS_FIXED_CLOCK();
  FixClock(testdb::LocalTime(2006, 5, 10));
  AddEmployee("00000001", "Fallback", "2001-03-01", "1");
  faults::Add("max(UrvJhr)", faults::kExec, 1, -3113);

  Run("0", "2007");
  EXPECT_EQ(Urvs(), (Table{"00000001|2006", "00000001|2007"}));
  EXPECT_EQ(Log(), "Error: Letzten Urlaubsvortrag ermitteln. -3113Person: 00000001!\n");
}

TEST_P(UrvTest, FailedInsertIsLoggedAndTheNextYearFollows) {
  AddEmployee("00000001", "Gap", "2004-12-01", "1");
  faults::Add("insert into Hrs332Urv", faults::kExec, 2, -3113);

  Run("0", "2006");
  EXPECT_EQ(Urvs(), (Table{"00000001|2004", "00000001|2006"}));
  EXPECT_EQ(Log(), "Error: Urlaubsvortrag einpflegen. -3113Person: 00000001! Jahr: 2005!\n");
}

INSTANTIATE_TEST_SUITE_P(, UrvTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace
}  // namespace persontest

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "calendar/bak.h"
#include "../support/faultsession.h"
#include "caltest.h"
#include "db/sqlrt.h"

namespace {

// The ISO calendar computed from first principles, day by day from a known
// Monday: "yyyymmdd|year|month|day|week|weekday (Monday = 1)|day of year|week-year".
std::vector<std::string> IsoDays(int from_year, int to_year, int jan1_weekday) {
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  auto weeks = [&](int y, int jan1) { return jan1 == 4 || (jan1 == 3 && leap(y)) ? 53 : 52; };
  const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::vector<std::string> out;
  int wd = jan1_weekday;
  for (int y = from_year; y <= to_year; ++y) {
    int jan1 = wd, ord = 0;
    for (int m = 1; m <= 12; ++m) {
      int n = month_days[m - 1] + (m == 2 && leap(y) ? 1 : 0);
      for (int d = 1; d <= n; ++d, wd = wd % 7 + 1) {
        ++ord;
        int wch = (ord - wd + 10) / 7, yow = y;
        if (wch < 1) {
          int prev_jan1 = ((jan1 - 1 - (leap(y - 1) ? 366 : 365)) % 7 + 7) % 7 + 1;
          wch = weeks(y - 1, prev_jan1);
          yow = y - 1;
        } else if (wch > weeks(y, jan1)) {
          wch = 1;
          yow = y + 1;
        }
        char row[128];
        std::snprintf(row, sizeof row, "%04d%02d%02d|%d|%d|%d|%d|%d|%d|%d", y, m, d, y, m, d, wch, wd, ord, yow);
        out.push_back(row);
      }
    }
  }
  return out;
}

class BakTest : public CalTest {
 protected:
  std::vector<std::string> BakRows(const std::string& after = "1000-01-01") {
    return Rows("select " + db_->Ymd("BakDtm") + ", BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow "
                "from Hrs133Bak where BakDtm > " + D(after.c_str()) + " order by BakDtm");
  }
  void SeedDay(const std::string& day) { Exec("insert into Hrs133Bak (BakDtm) values (" + D(day.c_str()) + ")"); }
};

TEST_P(BakTest, EmptyCalendarCannotStart) {
  // Up to today nothing is needed; beyond it the missing row of today ends the
  // phase before anything is written.
  Bak_Days_Extend("20261208");
  EXPECT_EQ(Log(), "");
  Bak_Days_Extend("20261231");
  EXPECT_EQ(Log(), "Error: Bak_NxtDay_Init RC:1403\n");
  EXPECT_TRUE(BakRows().empty());
}

TEST_P(BakTest, OneDayToTheYearEndIsInsertedStampedAndCommitted) {
  NEEDS_FIXED_CLOCK();
  UseTerritory("GERMANY");
  SeedDay("2006-12-30");
  Bak_Days_Extend("20061231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(BakRows("2006-12-30"), std::vector<std::string>{"20061231|2006|12|31|52|7|365|2006"});
  EXPECT_EQ(Rows("select " + db_->DateTime("BakDat") + " from Hrs133Bak where BakDat is not null"),
            std::vector<std::string>{"2026-12-08 10:00:00"});
}

TEST_P(BakTest, CompleteCalendarGetsNothing) {
  for (const char* seed : {"2026-12-31", "2027-01-05"}) {
    Exec("delete from Hrs133Bak");
    SeedDay(seed);
    Bak_Days_Extend("20261231");
    EXPECT_EQ(BakRows().size(), 1u) << seed;
  }
  EXPECT_EQ(Log(), "");
}

TEST_P(BakTest, LongRangeMatchesTheIsoCalendar) {
  UseTerritory("GERMANY");
  SeedDay("1989-12-31");
  Bak_Days_Extend("20401231");
  EXPECT_EQ(Log(), "");
  std::vector<std::string> got = BakRows("1989-12-31");
  std::vector<std::string> want = IsoDays(1990, 2040, 1);  // 1 January 1990 was a Monday
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      ADD_FAILURE() << "first difference: got " << got[i] << ", want " << want[i];
      break;
    }
  }
  // Known dates, so that the computation above is pinned as well.
  std::map<std::string, std::string> by_day;
  for (const std::string& r : got) by_day[r.substr(0, 8)] = r;
  const char* known[] = {
      "20081229|2008|12|29|1|1|364|2009", "20091231|2009|12|31|53|4|365|2009", "20100103|2010|1|3|53|7|3|2009",
      "20100104|2010|1|4|1|1|4|2010",     "20060101|2006|1|1|52|7|1|2005",     "20080229|2008|2|29|9|5|60|2008",
      "20081231|2008|12|31|1|3|366|2009",
  };
  for (const char* k : known) EXPECT_EQ(by_day[std::string(k, 8)], k);
}

TEST_P(BakTest, WeekdayNumberFollowsTheSessionTerritory) {
  struct Case {
    const char* territory;
    std::vector<std::string> wtg;  // Monday 5 January 2026 .. Sunday 11 January 2026
  } cases[] = {
      {"GERMANY", {"1", "2", "3", "4", "5", "6", "7"}},
      {"AMERICA", {"2", "3", "4", "5", "6", "7", "1"}},
  };
  for (const Case& c : cases) {
    UseTerritory(c.territory);
    Exec("delete from Hrs133Bak");
    SeedDay("2026-01-04");
    Bak_Days_Extend("20260111");
    EXPECT_EQ(Rows("select BakWtg from Hrs133Bak where BakWtg is not null order by BakDtm"), c.wtg) << c.territory;
  }
}

TEST_P(BakTest, FailedLatestDayStartsAtRunDateAndPassesStoredDays) {
  NEEDS_FIXED_CLOCK();
  SeedDay("2026-12-08");
  SeedDay("2026-12-20");
  faults::Add("max(BakDtm)", faults::kExec, 1, -3114);
  Bak_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "Error: Letzten BAK-Tag ermitteln. RC:-3114\nError: Bak_NewDay_Ins RC:-1\n");
  EXPECT_EQ(BakRows().size(), 24u);
  EXPECT_EQ(Rows("select count(*) from Hrs133Bak where BakJhr = 2026"), std::vector<std::string>{"22"});
}

TEST_P(BakTest, LostInsertEndsThePhaseWithoutCommit) {
  SeedDay("2026-12-20");
  faults::Add("insert into HRSYSTEM.Hrs133Bak", faults::kExec, 3, -1555);
  Bak_Days_Extend("20261231");
  EXPECT_EQ(Log(), "Error: Bak_NewDay_Ins RC:-1555\nError: Bak_NxtDay_Init RC:1403\n");
  Sql_Rt_Disconnect();  // rolls back what was not committed
  EXPECT_EQ(BakRows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(, BakTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace

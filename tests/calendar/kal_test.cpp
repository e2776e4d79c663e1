#include <string>
#include <vector>

#include "calendar/bak.h"
#include "calendar/kal.h"
#include "../support/faultsession.h"
#include "caltest.h"
#include "db/sqlrt.h"

namespace {

const std::vector<std::string> kEveryDay = {"ARB", "ARB", "ARB", "ARB", "ARB", "ARB", "ARB"};

// December 2026 in the base calendar; the clock says 8 December.
class KalTest : public CalTest {
 protected:
  void SetUp() override {
    CalTest::SetUp();
    if (Ready()) SeedBak("2026-12-01", "2026-12-31");
  }
  void List(const std::string& kal, int sta = 1, const std::string& table = "Hrs135Muw") {
    Exec("insert into " + table + " values ('" + kal + "', " + std::to_string(sta) + ")");
  }
  // Calendar number and number of days, per calendar number.
  std::vector<std::string> Counts(const std::string& tag = "Kal") {
    return Rows("select " + tag + "Num, count(*) from Hrs133" + tag + " group by 1 order by 1");
  }
  // The numbers of days of the first family's calendars, smallest first.
  std::vector<std::string> DayCounts() {
    return Rows("select count(*) from Hrs133Kal group by KalNum order by 1");
  }
};

TEST_P(KalTest, ExtendsAfterTheLatestDayWithThePatternsDayType) {
  NEEDS_FIXED_CLOCK();
  List("K1");
  Exec("insert into Hrs133Kal values ('K1', " + D("2026-12-24") + ", 'ARB', 'ARB', 'ARB', 100, NULL, 1)");
  SeedWch("K1", {"ARB", "ARB", "ARB", "ARB", "ARB", "FRE", "-"});
  SeedWch("K1", {"-", "-", "-", "-", "-", "-", "SON"}, 4);  // an unusable Sunday
  Kal_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(KalRows(), (std::vector<std::string>{
                           "K1|20261224|ARB|ARB|ARB|100|1", "K1|20261225|ARB|ARB|ARB|100|1",
                           "K1|20261226|FRE|FRE|FRE|100|1", "K1|20261228|ARB|ARB|ARB|100|1",
                           "K1|20261229|ARB|ARB|ARB|100|1", "K1|20261230|ARB|ARB|ARB|100|1",
                           "K1|20261231|ARB|ARB|ARB|100|1"}));
  EXPECT_EQ(Rows("select distinct " + db_->DateTime("KalDat") + " from Hrs133Kal where KalDat is not null"),
            std::vector<std::string>{"2026-12-08 10:00:00"});
}

TEST_P(KalTest, NewCalendarRunsFromAfterTodayToTheBaseCalendarsLastDay) {
  NEEDS_FIXED_CLOCK();
  List("K2");
  SeedWch("K2", kEveryDay);
  Kal_Days_Extend("20271231");
  EXPECT_EQ(Log(), "");
  std::vector<std::string> rows = KalRows();
  ASSERT_EQ(rows.size(), 23u);
  EXPECT_EQ(rows.front(), "K2|20261209|ARB|ARB|ARB|100|1");
  EXPECT_EQ(rows.back(), "K2|20261231|ARB|ARB|ARB|100|1");
}

TEST_P(KalTest, CalendarsWithNothingToDoOpenNoDayCursor) {
  for (const char* kal : {"K1", "K2", "K4"}) List(kal);
  List("K3", 4);  // unusable list row
  for (const char* kal : {"K1", "K2", "K3"}) SeedWch(kal, kEveryDay);
  SeedWch("K4", kEveryDay, 4);  // unusable pattern rows
  Exec("insert into Hrs133Kal (KalNum, KalDtm, KalSta) values ('K1', " + D("2026-12-31") + ", 1)");
  Exec("insert into Hrs133Kal (KalNum, KalDtm, KalSta) values ('K2', " + D("2027-01-10") + ", 1)");
  faults::Add("WchTag=BakWtg", faults::kOpen, 1, -3113, -1);  // any day cursor would report
  Kal_Days_Extend("20261231");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Counts(), (std::vector<std::string>{"K1|1", "K2|1"}));
}

TEST_P(KalTest, DuplicateListOrPatternRowsRepeatTheDayAndTheRepeatIsRefused) {
  List("K1");
  List("K1");
  SeedWch("K1", {"ARB", "-", "-", "-", "-", "-", "-"});
  List("K2");
  SeedWch("K2", {"-", "ARB", "-", "-", "-", "-", "-"});
  SeedWch("K2", {"-", "ARB", "-", "-", "-", "-", "-"});
  Kal_Days_Extend("20261231");
  std::string refused;
  for (int i = 0; i < 6; ++i) refused += "Error:Kal-Tag einf\xfcgen. RC:-1\n";
  EXPECT_EQ(Log(), refused);
  EXPECT_EQ(Counts(), (std::vector<std::string>{"K1|3", "K2|3"}));
}

TEST_P(KalTest, PatternWithoutDayTypeGivesDaysWithoutOne) {
  List("K1");
  SeedWch("K1", {"ARB", "NULL", "-", "-", "-", "-", "-"});
  Kal_Days_Extend("20261222");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(KalRows(), (std::vector<std::string>{
                           "K1|20261214|ARB|ARB|ARB|100|1", "K1|20261215|NULL|NULL|NULL|100|1",
                           "K1|20261221|ARB|ARB|ARB|100|1", "K1|20261222|NULL|NULL|NULL|100|1"}));
}

TEST_P(KalTest, SecondFamilyUsesItsOwnListAndDays) {
  List("K1");
  SeedWch("K1", {"ARB", "-", "-", "-", "-", "-", "-"});
  List("K5", 1, "Hrs135Mu2");
  SeedWch("K5", {"-", "-", "-", "-", "-", "FRE", "-"});
  Kal_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Counts(), std::vector<std::string>{"K1|3"});
  EXPECT_EQ(KalRows("Ka2"), (std::vector<std::string>{"K5|20261212|FRE|FRE|FRE|100|1", "K5|20261219|FRE|FRE|FRE|100|1",
                                                     "K5|20261226|FRE|FRE|FRE|100|1"}));
}

TEST_P(KalTest, ClientSchemaWithoutTheSecondFamily) {
  db_->CreateSchema("HRCLIENT");
  db_->Exec("HRCLIENT", "drop table Hrs133Ka2; drop table Hrs135Mu2");
  List("K1");
  SeedWch("K1", {"ARB", "-", "-", "-", "-", "-", "-"}, 1, "HRCLIENT");
  ASSERT_EQ(Reconnect("HRCLIENT"), 0);
  Kal_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  // The fetch of the cursor that could not open reports the same code.
  EXPECT_EQ(Log(), "Error: Ka2Num Cursor Open. RC:-942\nError: N\xe4" "chste Ka2Num ermitteln. RC:-942\n");
  EXPECT_EQ(Counts(), std::vector<std::string>{"K1|3"});
}

TEST_P(KalTest, FailedLatestDayLeavesTheLaterCalendarsAlone) {
  NEEDS_FIXED_CLOCK();
  for (const char* kal : {"K1", "K2", "K3"}) {
    List(kal);
    SeedWch(kal, kEveryDay);
  }
  List("K5", 1, "Hrs135Mu2");
  SeedWch("K5", kEveryDay);
  faults::Add("max(KalDtm)", faults::kExec, 2, -3113);
  Kal_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "Error: Letzten Kal-Tag ermitteln. RC:-3113\nError: N\xe4" "chste KalNum ermitteln. RC:-3113\n");
  EXPECT_EQ(DayCounts(), std::vector<std::string>{"23"});  // whichever calendar came first
  EXPECT_EQ(Counts("Ka2"), std::vector<std::string>{"K5|23"});
}

TEST_P(KalTest, FailuresInTheDayLoopAreLoggedAndTheLoopGoesOn) {
  NEEDS_FIXED_CLOCK();
  List("K1");
  List("K2");
  SeedWch("K1", kEveryDay);
  SeedWch("K2", kEveryDay);
  faults::Add("insert into HRSYSTEM.Hrs133Kal", faults::kExec, 2, -1);
  // 23 days and the end for the first calendar, then the second one's 6th day.
  faults::Add("WchTag=BakWtg", faults::kFetch, 30, -3113);
  Kal_Days_Extend("20261231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "Error:Kal-Tag einf\xfcgen. RC:-1\nError: N\xe4" "chste KalSatz ermitteln. RC:-3113\n");
  EXPECT_EQ(DayCounts(), (std::vector<std::string>{"5", "22"}));
}

TEST_P(KalTest, FirstFamilysCommitKeepsTheBaseDaysOfAnEarlyReturn) {
  NEEDS_FIXED_CLOCK();
  faults::Add("insert into HRSYSTEM.Hrs133Bak", faults::kExec, 2, -1555);
  Bak_Days_Extend("20271231");
  Kal_Days_Extend("20271231");
  Sql_Rt_Disconnect();
  EXPECT_EQ(Log(), "Error: Bak_NewDay_Ins RC:-1555\nError: Bak_NxtDay_Init RC:1403\n");
  EXPECT_EQ(Rows("select max(" + db_->Ymd("BakDtm") + ") from Hrs133Bak"), std::vector<std::string>{"20270101"});
}

INSTANTIATE_TEST_SUITE_P(, KalTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace

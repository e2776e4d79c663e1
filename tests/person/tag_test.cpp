// Day records from the person's work calendar.
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "../support/faultsession.h"
#include "person/pnr_hook.h"
#include "person_fixture.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

class TagTest : public PersonTest {};

std::string TagRow(const char* pnr, const char* day) {
  std::string d = day;
  return std::string(pnr) + "|" + d + "|" + d + "|" + d + " 00:00:00|" + d + "|" + d + " 00:00:00";
}

TEST_P(TagTest, DayRecordHoldsTheDayAndMidnight) {
  AddDays("Hrs133Ka2", "7", "2006-03-01", "2006-03-01", "AT");
  AddEmployee("00000001", "Early", "2006-01-01", "7");

  Run("20060228", "2006");
  EXPECT_EQ(Tags(), (Table{TagRow("00000001", "2006-03-01")}));
  EXPECT_EQ(Rows("select count(*) from Hrs327Tag where TagDat is not null"), Table{"1"});
}

TEST_P(TagTest, WindowIsOpenAtItsStartAndClosedAtItsEnd) {
  NEEDS_FIXED_CLOCK();
  // No records: the window starts at the current date 2026-12-08.
  AddDays("Hrs133Ka2", "1", "2026-12-07", "2026-12-10", "AT");
  AddDays("Hrs133Ka2", "1", "2027-12-30", "2028-01-02", "AT");
  AddEmployee("00000001", "Edges", "2026-01-01", "1");

  Run("0", "2027");
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag order by 1"),
            (Table{"2026-12-09", "2026-12-10", "2027-12-30", "2027-12-31"}));
}

TEST_P(TagTest, OnlyLiveDaysOfThePersonsCalendar) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-12", "AT");
  Exec("update Hrs133Ka2 set Ka2Sta = 4 where Ka2Dtm = " + D("2026-12-10"));
  Exec("update Hrs133Ka2 set Ka2Sta = 3 where Ka2Dtm = " + D("2026-12-11"));
  AddDays("Hrs133Ka2", "2", "2026-12-09", "2026-12-12", "AT");
  AddEmployee("00000001", "Calendar One", "2026-01-01", "1");
  AddEmployee("00000002", "No Days", "2026-01-01", "9");
  AddAssigned("00000001");

  Run("0", "2026");
  EXPECT_EQ(Rows("select TagPnr, date(TagTag) from Hrs327Tag order by 1, 2"),
            (Table{"00000001|2026-12-09", "00000001|2026-12-11", "00000001|2026-12-12"}));
  EXPECT_EQ(Log(), "");
}

TEST_P(TagTest, ExistingDayRecordStaysAndStillGetsItsTimeGroup) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-10", "AT");
  AddEmployee("00000001", "Existing", "2026-01-01", "1");
  AddAgr("G1", 5);
  AddWpl("G1", 1, "0800", nullptr);
  AddWpl("G1", 2, "0800", nullptr);
  AddZuo("00000001", "2026-01-01", nullptr, "2026-12-09", 1, "G1", "ABT", "KST", "KR", "KTR", "V");
  // A stored record, told from the run's by its odd values.
  Exec("insert into Hrs327Tag values ('00000001', " + D("2026-12-09") + ", " + D("1901-01-01") + ", " +
       D("1902-01-01") + ", " + D("1903-01-01") + ", " + D("1904-01-01") + ", " + D("1905-01-01") + ")");

  Run("0", "2026");
  EXPECT_EQ(Rows("select date(TagTag), date(TagVon), date(TagUhr), date(TagDat) from Hrs327Tag "
                 "where TagDat = " + D("1905-01-01")),
            (Table{"2026-12-09|1901-01-01|1902-01-01|1905-01-01"}));
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag where TagDat <> " + D("1905-01-01")), (Table{"2026-12-10"}));
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAgr, ZtgTag from Hrs329Ztg order by 1"),
            (Table{"2026-12-09|G1|1", "2026-12-10|G1|2"}));
  EXPECT_EQ(Log(), "");
}

TEST_P(TagTest, InsertFailuresAreLoggedExceptDuplicates) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-11", "AT");
  AddEmployee("00000001", "Failing", "2026-01-01", "1");
  AddAgr("G1", 7);
  AddWpl("G1", 1, "0800", nullptr);
  AddWpl("G1", 2, "0800", nullptr);
  AddWpl("G1", 3, "0800", nullptr);
  AddZuo("00000001", "2026-01-01", nullptr, "2026-12-09", 1, "G1", "ABT", "KST", "KR", "KTR", "V");
  faults::Add("insert into Hrs327Tag", faults::kExec, 1, -1);     // inserted meanwhile
  faults::Add("insert into Hrs327Tag", faults::kExec, 2, -3113);

  Run("0", "2026");
  // No line for the duplicate. Both days without a record still go to their
  // time-group step, which finds no day record to join and so no assignment.
  EXPECT_EQ(Log(),
            "Error: Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261209!\n"
            "Error: Azt + Vra ermitteln. 1403! Person: 00000001! Tag: 20261209! ZtgTag: 0! ZtgAgr: !\n"
            "Error: Tagsatz einf\xfc" "gen -3113! Person: 00000001! Tag: 20261210\n"
            "Error: Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261210!\n"
            "Error: Azt + Vra ermitteln. 1403! Person: 00000001! Tag: 20261210! ZtgTag: 0! ZtgAgr: !\n");
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag"), (Table{"2026-12-11"}));
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAgr, ZtgTag from Hrs329Ztg order by 1"),
            (Table{"2026-12-09|NULL|0", "2026-12-10|NULL|0", "2026-12-11|G1|3"}));
}

TEST_P(TagTest, FailedExistenceCheckSkipsTheInsertAndIsLogged) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-10", "AT");
  AddEmployee("00000001", "Check", "2026-01-01", "1");
  Pnr_Day_Reads_Set(true);  // the fault strikes the first day's own check
  faults::Add("select TagPnr", faults::kExec, 1, -3113);

  Run("0", "2026");
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag"), (Table{"2026-12-10"}));
  std::string log = Log();
  EXPECT_EQ(log.substr(0, log.find('\n') + 1),
            "Error: Tagsatz ermitteln -3113! Person: 00000001! Tag: 20261209\n");
}

TEST_P(TagTest, FailedDayFetchEndsThePersonsDaysOnly) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-11", "AT");
  AddEmployee("00000001", "Broken", "2026-01-01", "1");
  AddEmployee("00000002", "Fine", "2026-01-01", "1");
  faults::Add("from Hrs133Ka2", faults::kFetch, 2, -3113);

  Run("0", "2026");
  std::string log = Log();
  EXPECT_NE(log.find("Error: N\xe4" "chsten Tag ermitteln. RC:-3113Person: 00000001\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Rows("select TagPnr, count(*) from Hrs327Tag group by 1 order by 1"), (Table{"00000001|1", "00000002|3"}));
  EXPECT_EQ(Urvs(), (Table{"00000001|2026", "00000002|2026"}));
}

class TagClientTest : public PersonTest {
 protected:
  // A client schema whose second calendar family is missing.
  void SetUp() override {
    PersonTest::SetUp();
    if (!Ready()) return;
    db_->CreateSchema("HRCLIENT");
    db_->DropTable("HRCLIENT", "Hrs133Ka2");
    ASSERT_EQ(Reconnect("HRCLIENT"), 0);
    schema_ = "HRCLIENT";
  }
};

TEST_P(TagClientTest, MissingSecondFamilySwitchesOnceToTheFirst) {
  AddDays("Hrs133Kal", "1", "2026-12-09", "2026-12-10", "KT", 1, "HRSYSTEM");
  // HRSYSTEM's own second family is not the client's and is never read.
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-20", "XX", 1, "HRSYSTEM");
  AddEmployee("00000001", "First", "2026-01-01", "1");
  AddEmployee("00000002", "Second", "2026-01-01", "1");
  // Had the second person tried Hrs133Ka2 again, the fault would show.
  static bool after_first;
  after_first = false;
  Pnr_Hook_Set([](PnrStep step, int person, const char*) {
    if (step == PnrStep::kAfterCommit && person == 1 && !after_first) {
      after_first = true;
      faults::Add("from Hrs133Ka2", faults::kOpen, 1, -3113, -1);
    }
  });

  Run("0", "2026");
  EXPECT_FALSE(Ka2Flag);
  EXPECT_EQ(Tags(), (Table{TagRow("00000001", "2026-12-09"), TagRow("00000001", "2026-12-10"),
                          TagRow("00000002", "2026-12-09"), TagRow("00000002", "2026-12-10")}));
  EXPECT_EQ(RowsCur("select distinct ZtgTtp from Hrs329Ztg"), Table{"KT"});
  std::string log = Log();
  EXPECT_EQ(log.find("Tag ermitteln"), std::string::npos) << log;
}

TEST_P(TagTest, OtherOpenFailureKeepsTheSecondFamily) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-10", "AT");
  AddDays("Hrs133Kal", "1", "2026-12-09", "2026-12-10", "KT");
  AddEmployee("00000001", "First", "2026-01-01", "1");
  AddEmployee("00000002", "Second", "2026-01-01", "1");
  faults::Add("from Hrs133Ka2", faults::kOpen, 1, -3113);

  Run("0", "2026");
  EXPECT_TRUE(Ka2Flag);
  std::string log = Log();
  EXPECT_EQ(log.rfind("Error: N\xe4" "chsten Tag ermitteln. RC:", 0), 0u) << log;
  EXPECT_NE(log.find("Person: 00000001\n"), std::string::npos) << log;
  EXPECT_EQ(Rows("select TagPnr, count(*) from Hrs327Tag group by 1 order by 1"), (Table{"00000002|2"}));
  EXPECT_EQ(Rows("select distinct ZtgTtp from Hrs329Ztg"), Table{"AT"});
}

INSTANTIATE_TEST_SUITE_P(, TagTest, testdb::EveryBackend(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, TagClientTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace
}  // namespace persontest

// Daily time-group records: assignment, rotation day, plan, insert or update.
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "../support/faultsession.h"
#include "person_fixture.h"
#include "person/pnr_hook.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

class ZtgTest : public PersonTest {
 protected:
  // Day, group, rotation day and planned time of the person's rows.
  Table Plan(const char* pnr = "00000001") {
    return RowsCur(std::string("select date(ZtgVon), ZtgAgr, ZtgTag, ZtgAzt, ZtgVra from Hrs329Ztg where ZtgPnr = ") +
                   Q(pnr) + " order by ZtgVon");
  }
};

TEST_P(ZtgTest, DayEqualToLastTimeGroupDateIsLeftAlone) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-12", "AT");
  AddEmployee("00000001", "Last", "2026-01-01", "1", "AKNEW");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values "
       "('00000001', " + D("2026-12-10") + ", 'AKOLD', 2)");

  Run("0", "2027");
  // The window starts at the current date, the time groups after 12-10.
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag order by 1"),
            (Table{"2026-12-09", "2026-12-10", "2026-12-11", "2026-12-12"}));
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAkr, ZtgSta from Hrs329Ztg order by 1"),
            (Table{"2026-12-10|AKOLD|2", "2026-12-11|AKNEW|1", "2026-12-12|AKNEW|1"}));
}

TEST_P(ZtgTest, RotationDayFollowsTheGroupsCycle) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-23", "AT");
  AddAgr("G7", 7);
  for (int d = 1; d <= 7; ++d) {
    std::string azt = "08h0" + std::to_string(d);
    AddWpl("G7", d, azt.c_str(), nullptr);
  }
  // Starts on its first day; starts on day 3; started a week and a day ago.
  AddEmployee("00000001", "From One", "2026-01-01", "1");
  AddZuo("00000001", "2026-01-01", nullptr, "2026-12-09", 1, "G7", "A", "K", "R", "T", nullptr);
  AddEmployee("00000002", "From Three", "2026-01-01", "1");
  AddZuo("00000002", "2026-01-01", nullptr, "2026-12-09", 3, "G7", "A", "K", "R", "T", nullptr);
  AddEmployee("00000003", "Earlier", "2026-01-01", "1");
  AddZuo("00000003", "2026-01-01", nullptr, "2026-12-01", 1, "G7", "A", "K", "R", "T", nullptr);

  Run("0", "2026");
  EXPECT_EQ(Log(), "");
  struct Expect {
    const char* pnr;
    std::vector<int> days;  // rotation day of 12-09 .. 12-23
  };
  const Expect expect[] = {
      {"00000001", {1, 2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 1}},
      {"00000002", {3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 1, 2, 3}},
      {"00000003", {2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7, 1, 2}},
  };
  for (const Expect& e : expect) {
    SCOPED_TRACE(e.pnr);
    Table want;
    for (size_t i = 0; i < e.days.size(); ++i) {
      std::string tag = std::to_string(e.days[i]);
      char day[16];
      std::snprintf(day, sizeof day, "2026-12-%02zu", 9 + i);
      want.push_back(std::string(day) + "|G7|" + tag + "|08h0" + tag + "|NULL");
    }
    EXPECT_EQ(Plan(e.pnr), want);
  }
}

TEST_P(ZtgTest, ExistingRowTakesThePlanUnlessThePlanIsEmpty) {
  // Table in the end year are rebuilt on every run (the cap).
  AddDays("Hrs133Ka2", "1", "2027-01-04", "2027-01-05", "FT");
  AddEmployee("00000001", "Rewritten", "2026-01-01", "1", "AK", "AB");
  AddAgr("G2", 2);
  AddWpl("G2", 1, "0700", "PV");
  AddWpl("G2", 2, "", nullptr);
  AddZuo("00000001", "2026-01-01", nullptr, "2027-01-04", 1, "G2", "ABT", "KST", "KR", "KTR", "ZV");
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2027-01-04") + "), "
       "('00000001', " + D("2027-01-05") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgAgr, ZtgTag, ZtgVra, ZtgAzt, ZtgSta) values "
       "('00000001', " + D("2027-01-04") + ", 'OLD', 'OLDG', 9, 'OLDV', '0800', 2), "
       "('00000001', " + D("2027-01-05") + ", 'OLD', 'OLDG', 9, 'OLDV', '0830', 2)");

  Run("0", "2027");
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Ztgs(), (Table{"00000001|2027-01-04|AK|ABT|KST|KTR|KR|G2|1|AB|PV|0700|FT|1|Rewritten",
                          "00000001|2027-01-05|AK|ABT|KST|KTR|KR|G2|2|AB|ZV|0830|FT|1|Rewritten"}));
}

TEST_P(ZtgTest, NoAssignmentIsLoggedAndTheRowStillWritten) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-10", "AT");
  AddEmployee("00000001", "Unassigned", "2026-01-01", "1", "AK", "AB");
  AddAgr("G1", 7);
  AddWpl("G1", 2, "0800", nullptr);
  // Valid from the second day only.
  AddZuo("00000001", "2026-12-10", nullptr, "2026-12-09", 1, "G1", "ABT", "KST", "KR", "KTR", nullptr);

  Run("0", "2026");
  EXPECT_EQ(Log(),
            "Error: Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261209!\n"
            "Error: Azt + Vra ermitteln. 1403! Person: 00000001! Tag: 20261209! ZtgTag: 0! ZtgAgr: !\n");
  EXPECT_EQ(Ztgs(), (Table{"00000001|2026-12-09|AK|NULL|NULL|NULL|NULL|NULL|0|AB|NULL|NULL|AT|1|Unassigned",
                          "00000001|2026-12-10|AK|ABT|KST|KTR|KR|G1|2|AB|NULL|0800|AT|1|Unassigned"}));
}

TEST_P(ZtgTest, OverlappingAssignmentsAreLoggedAsTooManyRows) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  AddEmployee("00000001", "Twice", "2026-01-01", "1");
  AddAgr("G1", 7);
  AddZuo("00000001", "2026-01-01", nullptr, "2026-01-01", 1, "G1", "A1", "K", "R", "T", nullptr);
  AddZuo("00000001", "2026-06-01", "2026-12-31", "2026-06-01", 1, "G1", "A2", "K", "R", "T", nullptr);

  Run("0", "2026");
  EXPECT_EQ(Log(),
            "Error: Zuordnung ermitteln. -2112! Person: 00000001! Tag: 20261209!\n"
            "Error: Azt + Vra ermitteln. 1403! Person: 00000001! Tag: 20261209! ZtgTag: 0! ZtgAgr: !\n");
  EXPECT_EQ(Plan(), (Table{"2026-12-09|NULL|0|NULL|NULL"}));
}

TEST_P(ZtgTest, MissingPlanIsLoggedWithGroupAndRotationDay) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  AddEmployee("00000001", "No Plan", "2026-01-01", "1");
  AddAgr("G1", 7);
  AddZuo("00000001", "2026-01-01", nullptr, "2026-12-07", 1, "G1", "A", "K", "R", "T", "ZV");

  Run("0", "2026");
  EXPECT_EQ(Log(),
            "Error: Azt + Vra ermitteln. 1403! Person: 00000001! Tag: 20261209! ZtgTag: 3! ZtgAgr: G1!\n");
  EXPECT_EQ(Plan(), (Table{"2026-12-09|G1|3|NULL|ZV"}));
}

TEST_P(ZtgTest, EmptyCodesAreWrittenAsNull) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "");
  AddEmployee("00000001", "", "2026-01-01", "1", "", "");

  Run("0", "2026");
  EXPECT_EQ(Rows("select ZtgAkr, ZtgBsd, ZtgTtp, ZtgPnm from Hrs329Ztg"), (Table{"NULL|NULL|NULL|NULL"}));
}

TEST_P(ZtgTest, InvalidColumnRetriesOnceWithoutTheNameAndKeepsToIt) {
  AddDays("Hrs133Ka2", "1", "2027-01-04", "2027-01-06", "AT");
  AddEmployee("00000001", "Named", "2026-01-01", "1");
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2027-01-06") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgPnm, ZtgSta) values "
       "('00000001', " + D("2027-01-06") + ", 'Stored', 2)");
  faults::Add("ZtgSta,ZtgPnm)", faults::kExec, 1, -904);

  Run("0", "2027");
  EXPECT_FALSE(ZtgPnmFlag);
  // Only the Zuordnung/plan lines of the unassigned days, no write failure.
  EXPECT_EQ(Log().find("Ztgsatz"), std::string::npos);
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgPnm, ZtgSta from Hrs329Ztg order by 1"),
            (Table{"2027-01-04|NULL|1", "2027-01-05|NULL|1", "2027-01-06|Stored|1"}));
}

TEST_P(ZtgTest, InvalidColumnOnUpdateAlsoSwitchesTheInsert) {
  AddDays("Hrs133Ka2", "1", "2027-01-04", "2027-01-05", "AT");
  AddEmployee("00000001", "Named", "2026-01-01", "1");
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2027-01-04") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgPnm, ZtgSta) values "
       "('00000001', " + D("2027-01-04") + ", 'Stored', 2)");
  faults::Add("ZtgPnm=?", faults::kExec, 1, -904);

  Run("0", "2027");
  EXPECT_FALSE(ZtgPnmFlag);
  EXPECT_EQ(Log().find("Ztgsatz"), std::string::npos);
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgPnm, ZtgSta from Hrs329Ztg order by 1"),
            (Table{"2027-01-04|Stored|1", "2027-01-05|NULL|1"}));
}

TEST_P(ZtgTest, MissingNameColumnIsNoError) {
  Exec("alter table Hrs329Ztg drop column ZtgPnm");
  ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
  AddDays("Hrs133Ka2", "1", "2027-01-04", "2027-01-05", "AT");
  AddEmployee("00000001", "Nameless", "2026-01-01", "1");
  AddAgr("G1", 7);
  AddWpl("G1", 1, "0800", nullptr);
  AddWpl("G1", 2, "0900", nullptr);
  AddZuo("00000001", "2026-01-01", nullptr, "2027-01-04", 1, "G1", "A", "K", "R", "T", nullptr);
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2027-01-05") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAzt, ZtgSta) values "
       "('00000001', " + D("2027-01-05") + ", '0100', 2)");

  Run("0", "2027");
  EXPECT_FALSE(ZtgPnmFlag);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAgr, ZtgTag, ZtgAzt, ZtgSta from Hrs329Ztg order by 1"),
            (Table{"2027-01-04|G1|1|0800|1", "2027-01-05|G1|2|0900|1"}));
}

TEST_P(ZtgTest, WriteAndReadFailuresAreLogged) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2027-01-04", "2027-01-06", "AT");
  AddEmployee("00000001", "Failing", "2026-01-01", "1");
  AddAgr("G1", 7);
  for (int d = 1; d <= 3; ++d) AddWpl("G1", d, "0800", nullptr);
  AddZuo("00000001", "2026-01-01", nullptr, "2027-01-04", 1, "G1", "A", "K", "R", "T", nullptr);
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2027-01-05") + "), "
       "('00000001', " + D("2027-01-06") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values "
       "('00000001', " + D("2027-01-05") + ", 'OLD', 2), ('00000001', " + D("2027-01-06") + ", 'OLD', 2)");
  faults::Add("insert into Hrs329Ztg", faults::kExec, 1, -3113);
  faults::Add("update Hrs329Ztg", faults::kExec, 1, -3114);
  Pnr_Day_Reads_Set(true);  // the read fault strikes the third day's own read
  faults::Add("from Hrs329Ztg where (ZtgPnr", faults::kExec, 3, -3115);

  Run("0", "2027");
  EXPECT_EQ(Log(),
            "Error: Ztgsatz einf\xfc" "gen -3113! Person: 00000001! Tag: 20270104!\n"
            "Error: Ztgsatz updaten -3114! Person: 00000001! Tag: 20270105!\n"
            "Error: Ztgsatz ermitteln -3115! Person: 00000001! Tag: 20270106!\n");
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAkr, ZtgSta from Hrs329Ztg order by 1"),
            (Table{"2027-01-05|OLD|2", "2027-01-06|OLD|2"}));
}

INSTANTIATE_TEST_SUITE_P(, ZtgTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace
}  // namespace persontest

// The employment scan and the person's date window.
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "../support/faultsession.h"
#include "person/pnr_hook.h"
#include "person_fixture.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

class PnrTest : public PersonTest {};

TEST_P(PnrTest, RangeWithoutCurrentRelationshipDoesNothing) {
  AddDays("Hrs133Ka2", "1", "2026-12-01", "2027-01-10", "AT");
  AddEmployee("00000001", "Outside", "2020-01-01", "1");  // outside the range
  AddPerson("00000002", "Ended");
  AddBsv("00000002", "2020-01-01", "2026-12-07", "1", "AK", "AB");  // ended yesterday
  AddPerson("00000003", "Deleted relationship");
  AddBsv("00000003", "2020-01-01", nullptr, "1", "AK", "AB", 4);
  AddPerson("00000004", "Deleted person", 4);
  AddBsv("00000004", "2020-01-01", nullptr, "1", "AK", "AB");

  EXPECT_EQ(Run("0", "2027", "00000002", "00000009"), 0);
  EXPECT_TRUE(Tags().empty());
  EXPECT_TRUE(Ztgs().empty());
  EXPECT_TRUE(Urvs().empty());
  EXPECT_EQ(Log(), "");
}

TEST_P(PnrTest, RelationshipEndingTodayOrOpenIsCurrent) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  AddPerson("00000001", "Yesterday");
  AddBsv("00000001", "2026-01-01", "2026-12-07", "1", "AK", "AB");
  AddPerson("00000002", "Today");
  AddBsv("00000002", "2026-01-01", "2026-12-08", "1", "AK", "AB");
  AddPerson("00000003", "Open");
  AddBsv("00000003", "2026-01-01", nullptr, "1", "AK", "AB");

  Run("0", "2026");
  EXPECT_EQ(Tags(), (Table{"00000002|2026-12-09|2026-12-09|2026-12-09 00:00:00|2026-12-09|2026-12-09 00:00:00",
                          "00000003|2026-12-09|2026-12-09|2026-12-09 00:00:00|2026-12-09|2026-12-09 00:00:00"}));
  EXPECT_EQ(Urvs(), (Table{"00000002|2026", "00000003|2026"}));
}

TEST_P(PnrTest, TwoCurrentRelationshipsTakeTheNewerOnly) {
  AddDays("Hrs133Ka2", "OLD", "2026-12-09", "2026-12-10", "AT");
  AddDays("Hrs133Ka2", "NEW", "2026-12-10", "2026-12-11", "FT");
  AddPerson("00000001", "Two Table");
  AddBsv("00000001", "2022-03-01", nullptr, "OLD", "AKOLD", "ABOLD");
  AddBsv("00000001", "2025-06-01", nullptr, "NEW", "AKNEW", "ABNEW");

  Run("0", "2026");
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag"), (Table{"2026-12-10", "2026-12-11"}));
  EXPECT_EQ(Rows("select date(ZtgVon), ZtgAkr, ZtgBsd, ZtgTtp from Hrs329Ztg"),
            (Table{"2026-12-10|AKNEW|ABNEW|FT", "2026-12-11|AKNEW|ABNEW|FT"}));
  EXPECT_EQ(Urvs(), (Table{"00000001|2025", "00000001|2026"}));
}

// The window: with the calendar holding every day, the first day record the
// run creates is the day after the window start, and the first time-group row
// it builds is the day after the capped last time-group date. Existing rows
// carry no sysdate, so they are told from the run's own.
struct WindowCase {
  const char* name;
  const char* tag_last;  // the person's one existing day record, or null
  const char* ztg_last;  // the person's one existing time-group row, or null
  const char* beg;
  const char* end_year;
  const char* first_tag;  // first day record the run inserts
  const char* first_ztg;  // first time-group row the run writes
};

const WindowCase kWindowCases[] = {
    {"no records, from the current date", nullptr, nullptr, "0", "2027", "2026-12-09", "2026-12-09"},
    {"no records, capped at the year before", nullptr, nullptr, "0", "2026", "2026-01-01", "2026-01-01"},
    {"records in the end year are capped", "2027-03-01", "2027-03-01", "0", "2027", "2027-01-01",
     "2027-01-01"},
    {"earlier start date widens both", "2026-12-10", "2026-12-10", "20261203", "2027", "2026-12-04",
     "2026-12-04"},
    {"later start date changes nothing", "2026-12-10", "2026-12-10", "20261220", "2027", "2026-12-11",
     "2026-12-11"},
    {"time groups behind day records", "2026-12-10", "2026-12-05", "0", "2027", "2026-12-06",
     "2026-12-06"},
    {"day records behind time groups", "2026-12-05", "2026-12-10", "0", "2027", "2026-12-06",
     "2026-12-11"},
    {"start date earlier than the cap", nullptr, nullptr, "20251225", "2026", "2025-12-26",
     "2025-12-26"},
};

TEST_P(PnrTest, WindowStartAndLastTimeGroupDate) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2025-12-01", "2027-12-31", "AT");
  for (const WindowCase& c : kWindowCases) {
    SCOPED_TRACE(c.name);
    Exec("delete from Hrs327Tag; delete from Hrs329Ztg; delete from Hrs332Urv; "
         "delete from Hrs310Bsv; delete from Hrs300Pnr");
    AddEmployee("00000001", "Window", "2026-01-01", "1");
    if (c.tag_last != nullptr) {
      Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D(c.tag_last) + ")");
    }
    if (c.ztg_last != nullptr) {
      Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values ('00000001', " +
           D(c.ztg_last) + ", 'OLD', 2)");
    }
    Run(c.beg, c.end_year);
    EXPECT_EQ(Rows("select min(date(TagTag)) from Hrs327Tag where TagDat is not null"), Table{c.first_tag});
    EXPECT_EQ(Rows("select min(date(ZtgVon)) from Hrs329Ztg where ZtgDat is not null"), Table{c.first_ztg});
    std::string end = std::string(c.end_year) + "-12-31";
    EXPECT_EQ(Rows("select (select max(date(TagTag)) from Hrs327Tag), "
                   "(select max(date(ZtgVon)) from Hrs329Ztg)"),
              Table{end + "|" + end});
    // An existing day record is never rewritten.
    if (c.tag_last != nullptr) {
      EXPECT_EQ(Rows("select TagDat from Hrs327Tag where TagTag = " + D(c.tag_last)),
                Table{"NULL"});
    }
  }
}

// Person numbers compare and sort byte by byte, as on the embedded database,
// whatever collation the database was made with (the test server's is
// German, where "a" sorts before "B" and "Zeta" after "z"): a range selects
// the same persons on every backend, and in the same order.
TEST_P(PnrTest, RangesAndOrderAreByBytes) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  const char* const pnrs[] = {"zz", "z", "a", "_x", "Zeta", "B", "A", "99990", "9999", "5", "00000042", "0000",
                              "\xc2\xb2" /* superscript two */, "\xc3\xa4" /* a umlaut */};
  for (const char* p : pnrs) {
    AddEmployee(p, "Range", "2026-01-01", "1");
    AddAssigned(p);
  }
  static Table order;
  Pnr_Hook_Set([](PnrStep step, int, const char* pnr) {
    if (step == PnrStep::kAfterCommit) order.push_back(pnr);
  });
  const struct {
    const char* von;
    const char* bis;
    Table persons;
  } cases[] = {
      {"0000", "9999", {"0000", "00000042", "5", "9999"}},
      {"A", "z", {"A", "B", "Zeta", "_x", "a", "z"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.von) + " to " + c.bis);
    order.clear();
    Exec("delete from Hrs327Tag; delete from Hrs329Ztg; delete from Hrs332Urv");
    Run("0", "2026", c.von, c.bis);
    EXPECT_EQ(order, c.persons);
    EXPECT_EQ(Rows("select UrvPnr from Hrs332Urv order by 1"), c.persons);
  }
  EXPECT_EQ(Log(), "");
}

TEST_P(PnrTest, LookupFailuresFallBackToTheRunDate) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2026-12-01", "2026-12-10", "AT");
  AddEmployee("00000001", "Fallback", "2026-01-01", "1");
  AddAssigned("00000001");
  Exec("insert into Hrs327Tag (TagPnr, TagTag) values ('00000001', " + D("2026-12-03") + ")");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgSta) values ('00000001', " + D("2026-12-03") + ", 2)");
  faults::Add("max(TagTag)", faults::kExec, 1, -3113);
  faults::Add("max(ZtgVon)", faults::kExec, 1, -3114);

  Run("0", "2027");
  EXPECT_EQ(Log(),
            "Error: Letzten Tagsatz ermitteln. -3113Person: 00000001!\n"
            "Error: Letzten Ztgsatz ermitteln. -3114Person: 00000001!\n");
  // Both dates fall back to 2026-12-08: the days after it only.
  EXPECT_EQ(Rows("select date(TagTag) from Hrs327Tag where TagDat is not null"), (Table{"2026-12-09", "2026-12-10"}));
}

TEST_P(PnrTest, FailedFetchEndsTheScanAfterCommittedPersons) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  AddEmployee("00000001", "First", "2026-01-01", "1");
  AddEmployee("00000002", "Second", "2026-01-01", "1");
  AddEmployee("00000003", "Third", "2026-01-01", "1");
  AddAssigned("00000001");
  faults::Add("from Hrs310Bsv", faults::kFetch, 2, -3113);

  EXPECT_EQ(Run("0", "2026"), 0);
  EXPECT_EQ(Log(), "Error: N\xe4" "chste Person ermitteln. RC:-3113\n");
  EXPECT_EQ(Urvs(), (Table{"00000001|2026"}));
  EXPECT_EQ(Rows("select TagPnr from Hrs327Tag"), (Table{"00000001"}));
}

TEST_P(PnrTest, FailedCommitIsLogged) {
  AddEmployee("00000001", "Unlucky", "2026-01-01", "1");
  AddEmployee("00000002", "Lucky", "2026-01-01", "1");
  faults::Add("", faults::kCommit, 1, -3113);

  Run("0", "2026");
  EXPECT_EQ(Log(), "Error: Commit -3113! Person: 00000001!\n");
}

TEST_P(PnrTest, NullCodesDoNotPassToTheNextPerson) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-09", "AT");
  AddPerson("00000001", "Full");
  AddBsv("00000001", "2026-01-01", nullptr, "1", "AK1", "AB1");
  AddPerson("00000002", nullptr);
  AddBsv("00000002", "2026-01-01", nullptr, "1", nullptr, nullptr);

  Run("0", "2026");
  EXPECT_EQ(Rows("select ZtgPnr, ZtgAkr, ZtgBsd, ZtgPnm from Hrs329Ztg order by 1"),
            (Table{"00000001|AK1|AB1|Full", "00000002|NULL|NULL|NULL"}));
}

INSTANTIATE_TEST_SUITE_P(, PnrTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace
}  // namespace persontest

// A person's window cut into slices: whatever the slice length, the tables,
// the log and the day hook's calls are those of the window worked as one
// slice, failures of every kind and rows already there included.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "db/sqlrt.h"
#include "../support/faultsession.h"
#include "person/pnr_hook.h"
#include "person_fixture.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

// The day hook's calls of a run, as "person:day count" per person.
Table g_hooks;

void Count_Hook(PnrStep step, int person, const char*) {
  const std::string who = std::to_string(person) + ":";
  if (g_hooks.empty() || g_hooks.back().compare(0, who.size(), who) != 0) g_hooks.push_back(who + "0");
  if (step == PnrStep::kDayDone) {
    std::string& last = g_hooks.back();
    last = who + std::to_string(std::stol(last.substr(who.size())) + 1);
  }
}

// Longer than any window: the window is one slice.
constexpr long kWhole = 10000000;

struct Outcome {
  Table tags, ztgs, urvs, hooks;
  std::string log;
};

class SliceTest : public PersonTest {
 protected:
  // Runs the phase for the end year 2027 with slices of `days` (0: the
  // job's own length) on the tables as the test seeded them: the rows that
  // `rows_` inserts stand, the job's rows of an earlier run are gone, the
  // faults that `arm` sets are armed anew.
  template <class Arm>
  Outcome RunSliced(long days, Arm arm, const char* beg = "0") {
    ExecCur("delete from Hrs327Tag; delete from Hrs329Ztg; delete from Hrs332Urv");
    if (!rows_.empty()) ExecCur(rows_);
    faults::Clear();
    arm();
    Pnr_Run_Init();
    Pnr_Slice_Days_Set(days);
    g_hooks.clear();
    Pnr_Hook_Set(Count_Hook);
    const size_t before = Log().size();
    Run(beg, "2027");
    faults::Clear();
    return Outcome{Tags(), Ztgs(), Urvs(), g_hooks, Log().substr(before)};
  }

  // The one-slice run, then one per slice length, each against it.
  template <class Arm>
  Outcome ExpectAsOneSlice(const std::vector<long>& lengths, Arm arm, const char* beg = "0") {
    const Outcome one = RunSliced(kWhole, arm, beg);
    const bool ka2 = Ka2Flag, pnm = ZtgPnmFlag;
    for (long n : lengths) {
      SCOPED_TRACE("slices of " + std::to_string(n) + " days");
      const Outcome o = RunSliced(n, arm, beg);
      EXPECT_EQ(o.tags, one.tags);
      EXPECT_EQ(o.ztgs, one.ztgs);
      EXPECT_EQ(o.urvs, one.urvs);
      EXPECT_EQ(o.log, one.log);
      EXPECT_EQ(o.hooks, one.hooks);
      EXPECT_EQ(Ka2Flag, ka2);
      EXPECT_EQ(ZtgPnmFlag, pnm);
    }
    return one;
  }

  // Three persons on calendar 1 (every day from 2026-12-09 to 2027-01-12,
  // and the last five of 2027) with group G7, whose plan lacks rotation
  // day 4:
  //   00000001 from the current date 2026-12-08: no assignment from 12-21
  //            to 12-23, two at once on 2027-01-05 and 01-06;
  //   00000002 with day records up to 2026-12-10 and time-group rows up to
  //            12-20, so that its window starts before its last time-group
  //            day;
  //   00000003 with day records and time-group rows in the end year (both
  //            dates capped at 2026-12-31), employed since 2015, one
  //            carry-over year stored.
  void Seed() {
    AddDays("Hrs133Ka2", "1", "2026-12-09", "2027-01-12", "AT");
    AddDays("Hrs133Ka2", "1", "2027-12-27", "2027-12-31", "FT");
    AddAgr("G7", 7);
    for (int d = 1; d <= 7; ++d) {
      if (d != 4) AddWpl("G7", d, ("0" + std::to_string(d) + "00").c_str(), d == 2 ? "PV" : nullptr);
    }
    AddEmployee("00000001", "Gaps", "2024-03-01", "1");
    AddZuo("00000001", "2024-03-01", "2026-12-20", "2024-03-01", 1, "G7", "A1", "K", "R", "T", nullptr);
    AddZuo("00000001", "2026-12-24", nullptr, "2026-12-24", 3, "G7", "A2", "K", "R", "T", "ZV");
    AddZuo("00000001", "2027-01-05", "2027-01-06", "2027-01-05", 1, "G7", "A3", "K", "R", "T", nullptr);
    AddEmployee("00000002", "Rows ahead", "2026-06-01", "1");
    AddZuo("00000002", "2026-01-01", nullptr, "2026-12-01", 1, "G7", "B", "K", "R", "T", nullptr);
    AddEmployee("00000003", "Capped", "2015-01-01", "1");
    AddZuo("00000003", "2015-01-01", nullptr, "2026-12-30", 2, "G7", "C", "K", "R", "T", nullptr);
    rows_ = "insert into Hrs327Tag (TagPnr, TagTag) values ('00000002', " + D("2026-12-09") + "), ('00000002', " +
            D("2026-12-10") + "), ('00000003', " + D("2027-01-02") + "), ('00000003', " + D("2027-01-03") +
            "), ('00000003', " + D("2027-01-04") + "); "
            "insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values ('00000002', " + D("2026-12-12") +
            ", 'OLD', 2), ('00000002', " + D("2026-12-18") + ", 'OLD', 2), ('00000002', " + D("2026-12-20") +
            ", 'OLD', 2), ('00000003', " + D("2027-01-03") + ", 'OLD', 2), ('00000003', " + D("2027-01-04") +
            ", 'OLD', 2); "
            "insert into Hrs332Urv values ('00000003', 2020)";
  }

  std::string rows_;  // the rows that stand before every run
};

// The job's own length (one slice here), borders everywhere (1..7), on
// 00000002's last time-group day (10 days after its window's start), on the
// year end of 00000001's window (23), and before its last day, which is
// then a slice alone (387 of 388).
const std::vector<long> kLengths = {0, 1, 2, 3, 4, 5, 6, 7, 10, 23, 387};

TEST_P(SliceTest, SlicedWindowEqualsOneSlice) {
  NEEDS_FIXED_CLOCK();
  Seed();
  const Outcome one = ExpectAsOneSlice(kLengths, [] {
    faults::Add("insert into Hrs327Tag", faults::kExec, 5, -3113);  // 00000001's 2026-12-13
    faults::Add("insert into Hrs329Ztg", faults::kExec, 30, -3114, 2);
    faults::Add("ZtgSta,ZtgPnm)", faults::kExec, 20, -904);        // the name column goes missing
    faults::Add("update Hrs329Ztg", faults::kExec, 2, -3115);
    faults::Add("insert into Hrs332Urv", faults::kExec, 4, -3116);  // 00000001's 2027
    faults::Add("insert into Hrs332Urv", faults::kExec, 9, -3117);  // 00000003's 2017
  });
  // The reference shows every kind of line, in several slices of the short
  // lengths, and rows written before and after the switch of ZtgPnmFlag.
  for (const char* line : {"Tagsatz einf\xfcgen -3113! Person: 00000001! Tag: 20261213\n",
                           "Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261221!",
                           "Zuordnung ermitteln. -2112! Person: 00000001! Tag: 20270106!",
                           "Azt + Vra ermitteln. 1403! Person: 00000002! Tag: 20261225! ZtgTag: 4! ZtgAgr: G7!",
                           "Ztgsatz einf\xfcgen -3114!", "Ztgsatz updaten -3115! Person: 00000003! Tag: 20270104!",
                           "Urlaubsvortrag einpflegen. -3116Person: 00000001! Jahr: 2027!",
                           "Urlaubsvortrag einpflegen. -3117Person: 00000003! Jahr: 2017!"}) {
    EXPECT_NE(one.log.find(line), std::string::npos) << line << "\n" << one.log;
  }
  EXPECT_FALSE(ZtgPnmFlag);
  EXPECT_EQ(one.hooks, (Table{"1:40", "2:38", "3:17"}));
  EXPECT_NE(std::find(one.ztgs.begin(), one.ztgs.end(),
                      "00000002|2026-12-20|OLD|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|NULL|2|NULL"),
            one.ztgs.end());
  EXPECT_EQ(one.urvs.size(), 4u - 1 + 2 + 13 - 1);
}

// A start date decades back: the window holds 20 slices of the job's own
// length, the days of 1950 (all without assignment) lie in the first, the
// others in the last; the days between have no calendar day.
TEST_P(SliceTest, StartDateDecadesBackEqualsOneSlice) {
  Seed();
  AddDays("Hrs133Ka2", "1", "1950-02-20", "1950-03-10", "AT");
  const Outcome one = ExpectAsOneSlice({0, 29, 365}, [] {}, "19500301");
  EXPECT_EQ(Rows("select count(*) from Hrs327Tag where TagTag < " + D("2000-01-01")), Table{"27"});
  EXPECT_EQ(one.log.rfind("Error: Zuordnung ermitteln. 1403! Person: 00000001! Tag: 19500302!\n", 0), 0u);
}

// A calendar read that fails ends the window where it fails, in the slice
// it fails in: the days before it are worked, its line follows their lines,
// the carry-over years follow. The eighth day's fetch is the eighth fetch
// of one read, and one more for each slice before its own.
TEST_P(SliceTest, CalendarReadFailingEndsTheWindowInItsSlice) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-30", "AT");
  AddEmployee("00000001", "Unassigned", "2025-01-01", "1");
  const auto run = [this](long n) {
    return RunSliced(n, [n] { faults::Add("from Hrs133Ka2", faults::kFetch, 8 + (n == kWhole ? 0 : 7 / n), -3113); });
  };
  const Outcome one = run(kWhole);
  EXPECT_EQ(one.tags.size(), 7u);
  EXPECT_EQ(one.urvs, (Table{"00000001|2025", "00000001|2026", "00000001|2027"}));
  const std::string end = "Error: N\xe4" "chsten Tag ermitteln. RC:-3113Person: 00000001\n";
  ASSERT_GE(one.log.size(), end.size());
  EXPECT_EQ(one.log.substr(one.log.size() - end.size()), end);
  EXPECT_EQ(one.log.rfind("Error: Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261209!\n", 0), 0u);
  EXPECT_NE(one.log.find("Tag: 20261215! ZtgTag: 0! ZtgAgr: !\n" + end), std::string::npos) << one.log;
  for (long n = 1; n <= 7; ++n) {
    SCOPED_TRACE("slices of " + std::to_string(n) + " days");
    const Outcome o = run(n);
    EXPECT_EQ(o.tags, one.tags);
    EXPECT_EQ(o.ztgs, one.ztgs);
    EXPECT_EQ(o.urvs, one.urvs);
    EXPECT_EQ(o.log, one.log);
  }
}

// A range read that fails for every day it covers: when the cause stays
// (every read fails), every slice's days carry it, as the one read's did.
// The plans are read once, with the first slice: one failure of that read
// stands for the whole window.
TEST_P(SliceTest, RangeReadFailuresCoverTheSameDays) {
  Seed();
  const struct {
    const char* name;
    const char* text;
    int times;
    const char* line;
  } cases[] = {
      {"existence checks", "from Hrs327Tag where ((TagPnr", -1, "Tagsatz ermitteln -3113"},
      {"time-group rows", "from Hrs329Ztg where ((ZtgPnr", -1, "Ztgsatz ermitteln -3113"},
      {"assignments", "order by ZuoAgr ,ZuoGvo) Zuo", -1, "Zuordnung ermitteln. -3113"},
      {"plans", "from Hrs161Wpl where WplAgr in", 1, "Azt + Vra ermitteln. -3113"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome one = ExpectAsOneSlice({1, 3, 7}, [&c] { faults::Add(c.text, faults::kOpen, 1, -3113, c.times); });
    EXPECT_NE(one.log.find(std::string(c.line) + "! Person: 00000001! Tag: 20271231"), std::string::npos)
        << one.log;
  }
}

// A failure that does not stay strikes the read it meets: with slices, the
// days of that slice's read.
TEST_P(SliceTest, ReadFailingOnceFailsItsSlicesDays) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-20", "AT");
  AddEmployee("00000001", "Second Slice", "2026-01-01", "1");
  AddAssigned("00000001");
  const Outcome o = RunSliced(3, [] { faults::Add("from Hrs329Ztg where ((ZtgPnr", faults::kOpen, 2, -3113); });
  EXPECT_EQ(o.log,
            "Error: Ztgsatz ermitteln -3113! Person: 00000001! Tag: 20261212!\n"
            "Error: Ztgsatz ermitteln -3113! Person: 00000001! Tag: 20261213!\n"
            "Error: Ztgsatz ermitteln -3113! Person: 00000001! Tag: 20261214!\n");
  EXPECT_EQ(o.ztgs.size(), 12u - 3);
  EXPECT_EQ(o.tags.size(), 12u);
}

// A window of four years (1,461 days) is one slice, so that a nightly
// run's window (two years at the most) costs a person the round trips of
// one; a day more makes two.
TEST_P(SliceTest, FourYearsAreOneSlice) {
  AddEmployee("00000001", "Long", "2020-01-01", "1");
  // The second slice's calendar read, where there is one, fails.
  for (const auto& [beg, slices] : {std::pair{"20231231", 1}, std::pair{"20231230", 2}}) {
    SCOPED_TRACE(beg);
    const Outcome o = RunSliced(0, [] { faults::Add("from Hrs133Ka2", faults::kOpen, 2, -3113); }, beg);
    EXPECT_EQ(o.log.find("Error: N\xe4" "chsten Tag ermitteln."), slices == 1 ? std::string::npos : 0u) << o.log;
  }
}

class SliceClientTest : public SliceTest {
 protected:
  // A client schema without the second calendar family.
  void SetUp() override {
    SliceTest::SetUp();
    if (!Ready()) return;
    db_->CreateSchema("HRCLIENT");
    db_->DropTable("HRCLIENT", "Hrs133Ka2");
    ASSERT_EQ(Reconnect("HRCLIENT"), 0);
    schema_ = "HRCLIENT";
  }
};

// The first calendar open meets the missing table and switches to the first
// family for every later slice and person.
TEST_P(SliceClientTest, MissingSecondFamilySwitchesInTheFirstSlice) {
  NEEDS_FIXED_CLOCK();
  AddDays("Hrs133Kal", "1", "2026-12-09", "2027-01-12", "KT", 1, "HRSYSTEM");
  AddDays("Hrs133Kal", "1", "2027-12-27", "2027-12-31", "KT", 1, "HRSYSTEM");
  AddEmployee("00000001", "First", "2026-01-01", "1");
  AddEmployee("00000002", "Second", "2026-01-01", "1");
  AddAssigned("00000001");
  const Outcome one = ExpectAsOneSlice({1, 4, 7}, [] {});
  EXPECT_FALSE(Ka2Flag);
  EXPECT_EQ(one.tags.size(), 2u * 40);
  EXPECT_EQ(one.log.find("Tag ermitteln"), std::string::npos) << one.log;
  EXPECT_NE(one.log.find("Zuordnung ermitteln. 1403! Person: 00000002! Tag: 20271231!"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(, SliceTest, testdb::EveryBackend(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, SliceClientTest, testdb::EveryBackend(), testdb::BackendName);

class SliceBreakTest : public SliceTest {};

// The session breaks in a later slice (the server ends the job's
// connection at the insert of 2026-12-20's day record): the person's work
// is rolled back and, as with one slice, none of its day lines is written,
// those of its earlier slices neither.
TEST_P(SliceBreakTest, BrokenSessionWritesNoLineOfEarlierSlices) {
  AddDays("Hrs133Ka2", "1", "2026-12-09", "2026-12-31", "AT");
  AddEmployee("00000001", "Committed", "2026-01-01", "1");
  AddEmployee("00000002", "Cut short", "2026-01-01", "1");
  Exec("create function slice_cut() returns trigger language plpgsql as $$ begin "
       "if new.TagPnr = '00000002' and new.TagTag = timestamp '2026-12-20' then "
       "perform pg_terminate_backend(pg_backend_pid()); end if; return new; end $$; "
       "create trigger slice_cut before insert on Hrs327Tag for each row execute function slice_cut()");
  for (long n : {0L, 3L}) {
    SCOPED_TRACE("slices of " + std::to_string(n) + " days");
    Exec("delete from Hrs327Tag; delete from Hrs329Ztg; delete from Hrs332Urv");
    ASSERT_EQ(Reconnect("HRSYSTEM"), 0);
    Pnr_Slice_Days_Set(n);
    const size_t before = Log().size();
    Run("0", "2026");
    EXPECT_NE(Sql_Rt_Broken(), nullptr);
    EXPECT_STREQ(Pnr_Broken_Pnr(), "00000002");
    const std::string log = Log().substr(before);
    EXPECT_EQ(log.find("00000002"), std::string::npos) << log;
    EXPECT_NE(log.find("Zuordnung ermitteln. 1403! Person: 00000001! Tag: 20261231!"), std::string::npos) << log;
    EXPECT_EQ(Rows("select distinct TagPnr from Hrs327Tag"), Table{"00000001"});
  }
}

INSTANTIATE_TEST_SUITE_P(, SliceBreakTest, testdb::OnlyServer(), testdb::BackendName);

}  // namespace
}  // namespace persontest

// A person's look-ups as range reads and its statements sent in batches,
// against the same run with every look-up one statement per day and one
// statement per round trip: the same tables and the same DAYSET.LOG, with
// failures of every kind provoked and rows already there.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "person/pnr_hook.h"
#include "faultsession.h"
#include "forkrun.h"
#include "testdb.h"

namespace {

using testdb::Backend;
using testdb::Database;

class StagedTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::string why = testdb::Unavailable(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
  }

  enum Case { kFaults, kNoKa2, kNoPlans };

  // A demo installation where days lack their plan, some persons have two
  // assignments at once, one has a group whose name is longer than ZtgAgr
  // holds, and Hrs329Ztg has no ZtgPnm (and, on a server, too short a
  // ZtgAbt); or where the client's Hrs133Ka2 is missing; or where the plan
  // table is, so that every plan look-up fails.
  std::unique_ptr<Database> Make(const std::string& name, Case c) {
    auto db = Database::Make(GetParam(), scratch_.file(name), false);
    std::string err;
    EXPECT_EQ(testdb::DemoMake(*db, scratch_.file(name), "--persons 8 --seed 3", &err), 0) << err;
    if (c == kNoKa2) {
      db->DropTable("HRSYSTEM", "Hrs133Ka2");
      return db;
    }
    if (c == kNoPlans) {
      db->DropTable("HRSYSTEM", "Hrs161Wpl");
      return db;
    }
    db->Exec("HRSYSTEM", "delete from Hrs161Wpl where WplTag = 2");
    // The day's own plan look-up asks for the group cut to 13 characters.
    db->Exec("HRSYSTEM", "update Hrs311Zuo set ZuoAgr = 'GROUP-LONG-NAME' where ZuoPnr = '00000005'");
    db->Exec("HRSYSTEM", "insert into Hrs160Agr (AgrNum, AgrTge) values ('GROUP-LONG-NAME', 7)");
    for (int tag = 1; tag <= 7; ++tag) {
      db->Exec("HRSYSTEM", "insert into Hrs161Wpl (WplAgr, WplTag, WplAzt, WplVra) values ('GROUP-LONG-NA', " +
                               std::to_string(tag) + ", '0130', 'CUT')");
    }
    db->Exec("HRSYSTEM",
             "insert into Hrs311Zuo select ZuoPnr, ZuoGvo, ZuoGbi, ZuoSdt, ZuoStg, ZuoAgr, 'X', ZuoKst, ZuoKrt, "
             "ZuoKtr, ZuoVra from Hrs311Zuo where ZuoPnr <= '00000003'");
    db->Exec("HRSYSTEM", "alter table Hrs329Ztg drop column ZtgPnm");
    // On a server, writes that fail in the middle of their batch: a
    // department longer than its column.
    if (testdb::OnServer(GetParam())) {
      db->Exec("HRSYSTEM", "alter table Hrs329Ztg alter column ZtgAbt type varchar(4)");
    }
    return db;
  }

  // The job in a child process, staged (range reads, batches) or day by
  // day (one statement per look-up and day, one per round trip), each
  // person's window in slices of `slice` days (0: the job's own length); the
  // log it leaves.
  std::string Run(const std::string& name, const std::string& year, bool staged, long slice = 0) {
    const forkrun::Outcome o =
        forkrun::Run_Job(scratch_.file(name), {"0", year, "dayset.ini", "0", "0"},
                         [staged, slice](SqlOptions*) {
                           Pnr_Slice_Days_Set(slice);
                           if (staged) return;
                           faults::Batches_Set(false);
                           Pnr_Day_Reads_Set(true);
                         });
    EXPECT_EQ(o.status, 0) << o.err;
    return o.log;
  }

  // The tables the job writes, sysdate columns aside (the dump of every
  // table would ask for the column and the table removed here).
  static std::vector<std::string> Tables(Database& db) {
    std::vector<std::string> all;
    const auto add = [&](const std::string& sql) {
      const auto rows = db.Rows("HRSYSTEM", sql);
      all.push_back(sql + ": " + std::to_string(rows.size()));
      all.insert(all.end(), rows.begin(), rows.end());
    };
    add("select " + db.Ymd("BakDtm") + ", BakWch, BakWtg, BakJtg from Hrs133Bak order by 1");
    add("select KalNum, " + db.Ymd("KalDtm") + ", KalTtp from Hrs133Kal order by 1, 2");
    add("select TagPnr, " + db.Ymd("TagTag") + ", " + db.DateTime("TagVon") + ", " + db.DateTime("TagBis") +
        " from Hrs327Tag order by 1, 2");
    add("select ZtgPnr, " + db.Ymd("ZtgVon") +
        ", ZtgAkr, ZtgAbt, ZtgKst, ZtgKtr, ZtgKrt, ZtgAgr, ZtgTag, ZtgBsd, ZtgVra, ZtgAzt, ZtgTtp, ZtgSta "
        "from Hrs329Ztg order by 1, 2");
    add("select UrvPnr, UrvJhr from Hrs332Urv order by 1, 2");
    return all;
  }

  testdb::TempDir scratch_;
};

TEST_P(StagedTest, StagedRunEqualsDayByDay) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900 + 1);
  const std::string later = std::to_string(local.tm_year + 1900 + 2);
  for (Case c : {kFaults, kNoKa2, kNoPlans}) {
    const std::string name = std::to_string(c);
    SCOPED_TRACE(c == kNoKa2 ? "no Hrs133Ka2" : c == kNoPlans ? "no Hrs161Wpl" : "plans, assignments, ZtgPnm");
    auto single = Make("single" + name, c);
    auto staged = Make("staged" + name, c);
    // A first run, a rerun that finds every row, a run for one more year.
    // Before each run after the first the stored rows are changed, so that
    // a rewrite shows which of their values it keeps: the planned time
    // where no plan gives one, no cost centre.
    bool first = true;
    for (const std::string& end : {year, year, later}) {
      SCOPED_TRACE("end year " + end);
      if (!first) {
        for (Database* db : {single.get(), staged.get()}) {
          db->Exec("HRSYSTEM", "update Hrs329Ztg set ZtgAzt = 'KEPT', ZtgKst = 'GONE'");
        }
      }
      const std::string ref = Run("single" + name, end, false);
      const std::string log = Run("staged" + name, end, true);
      EXPECT_EQ(log, ref);
      const std::vector<const char*> lines =
          c == kNoKa2     ? std::vector<const char*>{"Ka2-Tag ermitteln"}
          : c == kNoPlans ? std::vector<const char*>{"Azt + Vra ermitteln. -942"}
                          : std::vector<const char*>{"Zuordnung ermitteln. -2112", "Azt + Vra ermitteln. 1403",
                                                     testdb::OnServer(GetParam()) ? "Ztgsatz einf\xfcgen -20022" : ""};
      for (const char* line : lines) EXPECT_NE(ref.find(line), std::string::npos) << line;
      EXPECT_EQ(Tables(*staged), Tables(*single));
      if (!first && c != kNoKa2) {
        EXPECT_NE(single->Rows("HRSYSTEM", "select count(*) from Hrs329Ztg where ZtgAzt = 'KEPT'"),
                  (std::vector<std::string>{"0"}));
      }
      first = false;
    }
    // The long group's days have the plan of the group cut to fit (on a
    // server their rows fail on the short ZtgAbt; the log tells there).
    if (c == kFaults && GetParam() == Backend::kSqlite) {
      EXPECT_NE(single->Rows("HRSYSTEM", "select count(*) from Hrs329Ztg where ZtgVra = 'CUT'"),
                (std::vector<std::string>{"0"}));
    }
  }
}

// The whole job with every person's window cut into slices of six days,
// against the same job with each window one slice (the job's own length
// holds a demo's windows whole): the same tables and log, with the demo's
// failures (tests/person/slice_test.cpp has the missing calendar table).
TEST_P(StagedTest, SlicedRunEqualsOneSlice) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900 + 1);
  const std::string later = std::to_string(local.tm_year + 1900 + 2);
  auto whole = Make("whole", kFaults);
  auto sliced = Make("sliced", kFaults);
  for (const std::string& end : {year, year, later}) {
    SCOPED_TRACE("end year " + end);
    const std::string ref = Run("whole", end, true);
    EXPECT_NE(ref.find("Zuordnung ermitteln. -2112"), std::string::npos);
    EXPECT_EQ(Run("sliced", end, true, 6), ref);
    EXPECT_EQ(Tables(*sliced), Tables(*whole));
  }
}

INSTANTIATE_TEST_SUITE_P(, StagedTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace

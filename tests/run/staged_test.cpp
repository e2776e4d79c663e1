// A person's statements sent in batches against the same run with one
// statement per round trip: the same tables and the same DAYSET.LOG, with
// failures of every kind provoked and rows already there.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "db/sqlrt.h"
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

  // A demo installation where days lack their plan, some persons have two
  // assignments at once and Hrs329Ztg has no ZtgPnm (and, on a server, too
  // short a ZtgAbt); or, with `no_ka2`, where the client's Hrs133Ka2 is
  // missing.
  std::unique_ptr<Database> Make(const std::string& name, bool no_ka2) {
    auto db = Database::Make(GetParam(), scratch_.file(name), false);
    std::string err;
    EXPECT_EQ(testdb::DemoMake(*db, scratch_.file(name), "--persons 8 --seed 3", &err), 0) << err;
    if (no_ka2) {
      db->DropTable("HRSYSTEM", "Hrs133Ka2");
      return db;
    }
    db->Exec("HRSYSTEM", "delete from Hrs161Wpl where WplTag = 2");
    db->Exec("HRSYSTEM",
             "insert into Hrs311Zuo select ZuoPnr, ZuoGvo, ZuoGbi, ZuoSdt, ZuoStg, ZuoAgr, 'X', ZuoKst, ZuoKrt, "
             "ZuoKtr, ZuoVra from Hrs311Zuo where ZuoPnr <= '00000003'");
    db->Exec("HRSYSTEM", "alter table Hrs329Ztg drop column ZtgPnm");
    // On a server, writes that fail in the middle of their batch: a
    // department longer than its column.
    if (GetParam() == Backend::kPostgres) {
      db->Exec("HRSYSTEM", "alter table Hrs329Ztg alter column ZtgAbt type varchar(4)");
    }
    return db;
  }

  // The job in a child process, batches on or off; the log it leaves.
  std::string Run(const std::string& name, const std::string& year, bool batches) {
    const forkrun::Outcome o =
        forkrun::Run_Job(scratch_.file(name), {"0", year, "dayset.ini", "0", "0"},
                         [batches](SqlOptions*) {
                           if (!batches) faults::Batches_Set(false);
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

TEST_P(StagedTest, BatchedRunEqualsOneStatementPerRoundTrip) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900 + 1);
  const std::string later = std::to_string(local.tm_year + 1900 + 2);
  for (bool no_ka2 : {false, true}) {
    SCOPED_TRACE(no_ka2 ? "no Hrs133Ka2" : "plans, assignments, ZtgPnm");
    auto single = Make(no_ka2 ? "single-ka2" : "single", no_ka2);
    auto batched = Make(no_ka2 ? "batched-ka2" : "batched", no_ka2);
    // A first run, a rerun that finds every row, a run for one more year.
    for (const std::string& end : {year, year, later}) {
      SCOPED_TRACE("end year " + end);
      const std::string ref = Run(no_ka2 ? "single-ka2" : "single", end, false);
      const std::string log = Run(no_ka2 ? "batched-ka2" : "batched", end, true);
      EXPECT_EQ(log, ref);
      const std::vector<const char*> lines =
          no_ka2 ? std::vector<const char*>{"Ka2-Tag ermitteln"}
                 : std::vector<const char*>{"Zuordnung ermitteln. -2112", "Azt + Vra ermitteln. 1403",
                                            GetParam() == Backend::kPostgres ? "Ztgsatz einf\xfcgen -20022" : ""};
      for (const char* line : lines) EXPECT_NE(ref.find(line), std::string::npos) << line;
      EXPECT_EQ(Tables(*batched), Tables(*single));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, StagedTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace

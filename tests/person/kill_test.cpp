// A run killed part-way leaves the committed persons whole and the others
// untouched, and a rerun ends with the tables of an uninterrupted run.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/sqlrt.h"
#include "person/pnr_hook.h"
#include "person_fixture.h"
#include "base/runlog.h"

namespace persontest {
namespace {

using Table = std::vector<std::string>;

// Where the child process is killed.
struct KillPoint {
  const char* name;
  PnrStep step;
  int person;  // 1-based
  int day;     // for kDayDone: the person's nth day
  Table done;   // persons whose work is durable after the kill
};

KillPoint g_kill;
int g_days;

void Kill_Hook(PnrStep step, int person, const char*) {
  if (person != g_kill.person || step != g_kill.step) return;
  if (step == PnrStep::kDayDone && ++g_days < g_kill.day) return;
  kill(getpid(), SIGKILL);
}

class KillTest : public PersonTest {
 protected:
  // Five persons with calendars, assignments and plans, and some history:
  // one with two relationships, one with records reaching into the end year.
  void Seed(const std::string& schema) {
    schema_ = schema;
    AddDays("Hrs133Ka2", "1", "2026-12-01", "2027-01-31", "AT");
    AddDays("Hrs133Ka2", "2", "2026-12-01", "2027-01-31", "FT");
    AddAgr("G5", 5);
    for (int d = 1; d <= 5; ++d) AddWpl("G5", d, ("0" + std::to_string(d) + "00").c_str(), "WV");
    const char* pnrs[] = {"00000001", "00000002", "00000003", "00000004", "00000005"};
    for (const char* p : pnrs) {
      AddEmployee(p, (std::string("Person ") + p).c_str(), "2025-04-01", p[7] % 2 == 0 ? "2" : "1");
      AddZuo(p, "2025-04-01", nullptr, "2026-11-30", 2, "G5", "ABT", "KST", "KR", "KTR", "ZV");
    }
    AddBsv("00000003", "2021-01-01", nullptr, "2", "OLD", "OLD");
    ExecCur("insert into Hrs327Tag (TagPnr, TagTag) values ('00000004', " + D("2027-01-10") + ")");
    ExecCur("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values ('00000004', " + D("2027-01-10") +
            ", 'STALE', 2)");
    ExecCur("insert into Hrs332Urv values ('00000002', 2026)");
    schema_ = "HRSYSTEM";
  }

  Table All(const std::string& schema) {
    Table all;
    for (const auto& rows : {Tags(schema), Ztgs(schema), Urvs(schema)}) {
      all.insert(all.end(), rows.begin(), rows.end());
    }
    return all;
  }

  Table Persons(const std::string& schema) {
    return db_->Rows(schema,
                     "select distinct TagPnr from Hrs327Tag where TagDat is not null "
                     "union select UrvPnr from Hrs332Urv where UrvPnr <> '00000002' "
                     "order by 1");
  }

  // Runs the phase in a child process that dies at `point`.
  void RunKilled(const std::string& schema, const KillPoint& point) {
    Sql_Rt_Disconnect();
    std::fflush(RunLog);
    g_kill = point;
    g_days = 0;
    pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
      if (Reconnect(schema) != 0) _exit(2);
      Pnr_Run_Init();
      Pnr_Hook_Set(Kill_Hook);
      Run("0", "2027");
      _exit(3);  // not killed: the kill point was never reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  }
};

TEST_P(KillTest, RerunAfterKillEqualsUninterruptedRun) {
  db_->CreateSchema("HRREF");
  Seed("HRREF");
  ASSERT_EQ(Reconnect("HRREF"), 0);
  Run("0", "2027");
  Table reference = All("HRREF");
  ASSERT_FALSE(reference.empty());

  const KillPoint points[] = {
      {"in the middle of a person's days", PnrStep::kDayDone, 3, 20, {"00000001", "00000002"}},
      {"before a person's commit", PnrStep::kBeforeCommit, 3, 0, {"00000001", "00000002"}},
      {"right after a person's commit", PnrStep::kAfterCommit, 3, 0,
       {"00000001", "00000002", "00000003"}},
      {"at the first person's first day", PnrStep::kDayDone, 1, 1, {}},
  };
  int n = 0;
  for (const KillPoint& p : points) {
    SCOPED_TRACE(p.name);
    std::string schema = "HRKILL" + std::to_string(++n);
    db_->CreateSchema(schema);
    Seed(schema);

    RunKilled(schema, p);
    EXPECT_EQ(Persons(schema), p.done);
    // A committed person is whole.
    for (const std::string& pnr : p.done) {
      std::string where = " where TagPnr = '" + pnr + "'";
      EXPECT_EQ(db_->Rows(schema, "select count(*) from Hrs327Tag" + where),
                db_->Rows("HRREF", "select count(*) from Hrs327Tag" + where));
    }

    ASSERT_EQ(Reconnect(schema), 0);
    Pnr_Run_Init();
    Run("0", "2027");
    EXPECT_EQ(All(schema), reference);
  }
  EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(, KillTest, testdb::EveryBackend(), testdb::BackendName);

}  // namespace
}  // namespace persontest

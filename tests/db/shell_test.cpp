// The database files the job writes are plain SQLite databases: the sqlite3
// shell opens them, dates are Julian day numbers and date() shows them.
#include <gtest/gtest.h>

#include <string>

#include "../support/testdb.h"
#include "db/session.h"
#include "db/sqlrt.h"

namespace {

class ShellTest : public testdb::DbTest {};

TEST_P(ShellTest, ShellShowsTheDates) {
  NEEDS_FIXED_CLOCK();
  if (testdb::RunCommand("command -v sqlite3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 shell";
  const char ins[] =
      "insert into HRSYSTEM.Hrs133Bak (BakDtm,BakJhr,BakMon,BakTag,BakWch,BakWtg,BakJtg,BakYow,BakDat) values "
      "(TO_DATE(:b0,'yyyymmdd'),:b1,:b2,:b3,:b4,:b5,:b6,:b7,sysdate)";
  int32_t v = 0;
  for (const char* d : {"20261231", "20270101"}) {
    ASSERT_EQ(Sql_Exec(ins, {SqlStr(d, 11), SqlInt(&v), SqlInt(&v), SqlInt(&v), SqlInt(&v), SqlInt(&v), SqlInt(&v),
                             SqlInt(&v)}),
              0);
  }
  ASSERT_EQ(Sql_Commit(), 1);
  std::string out;
  ASSERT_EQ(testdb::RunCommand("sqlite3 '" + db_->File("HRSYSTEM") +
                                   "' 'select date(BakDtm), datetime(BakDat), typeof(BakDtm) from Hrs133Bak "
                                   "order by BakDtm'",
                               &out),
            0);
  EXPECT_EQ(out, "2026-12-31|2026-12-08 10:00:00|real\n2027-01-01|2026-12-08 10:00:00|real\n");
}

INSTANTIATE_TEST_SUITE_P(, ShellTest, testdb::OnlySqlite(), testdb::BackendName);

}  // namespace

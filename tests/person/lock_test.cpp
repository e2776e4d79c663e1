// Rows of a person that another session holds locked (a booking screen left
// open) on the database server: every locked row fails with its own line,
// but the person waits out the lock wait once, not once per row.
#include <libpq-fe.h>

#include <chrono>
#include <string>
#include <vector>

#include "db/sqlrt.h"
#include "person_fixture.h"

namespace persontest {
namespace {

class LockTest : public PersonTest {};

// A second session of its own, holding row locks until it ends.
class RowLocker {
 public:
  RowLocker(const std::string& conninfo, const std::string& sql) : conn_(PQconnectdb(conninfo.c_str())) {
    PGresult* r = PQexec(conn_, ("begin; " + sql).c_str());
    ok_ = PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok_) ADD_FAILURE() << PQerrorMessage(conn_);
    PQclear(r);
  }
  ~RowLocker() { PQfinish(conn_); }
  bool ok() const { return ok_; }

 private:
  PGconn* conn_;
  bool ok_ = false;
};

TEST_P(LockTest, APersonWaitsOutARowLockOnceAndTheNextPersonWaitsAgain) {
  SqlOptions options = Sql_Options_Default();
  options.lock_wait_ms = 700;
  ASSERT_EQ(Reconnect("HRSYSTEM", options), 0);
  // Rows of the end year exist and are rewritten (the window's cap).
  AddDays("Hrs133Ka2", "1", "2027-01-01", "2027-01-20", "AT");
  std::string rows;
  for (const char* pnr : {"00000001", "00000002"}) {
    AddEmployee(pnr, "Locked", "2026-01-01", "1");
    AddAssigned(pnr);
    for (const std::string& day : testdb::Days("2027-01-01", "2027-01-20")) {
      rows += std::string(rows.empty() ? "" : ", ") + "(" + Q(pnr) + ", " + D(day.c_str()) + ", 'OLD', 2)";
    }
  }
  Exec("insert into Hrs327Tag (TagPnr, TagTag) select ZtgPnr, ZtgVon from (values " + rows +
       ") as v(ZtgPnr, ZtgVon, ZtgAkr, ZtgSta)");
  Exec("insert into Hrs329Ztg (ZtgPnr, ZtgVon, ZtgAkr, ZtgSta) values " + rows);
  const std::vector<std::string> locked1 = {"2027-01-02", "2027-01-03", "2027-01-05", "2027-01-08",
                                            "2027-01-09", "2027-01-13", "2027-01-17", "2027-01-20"};
  std::string in;
  for (const std::string& d : locked1) in += std::string(in.empty() ? "" : ", ") + D(d.c_str());
  RowLocker screen(db_->Admin(), "set search_path = hrsystem; select 1 from Hrs329Ztg where (ZtgPnr = '00000001' "
                                 "and ZtgVon in (" + in + ")) or (ZtgPnr = '00000002' and ZtgVon = " +
                                     D("2027-01-10") + ") for update");
  ASSERT_TRUE(screen.ok());

  const auto t0 = std::chrono::steady_clock::now();
  Run("0", "2027");
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::string want;
  for (const std::string& d : locked1) {
    want += "Error: Ztgsatz updaten -54! Person: 00000001! Tag: " + d.substr(0, 4) + d.substr(5, 2) + d.substr(8, 2) +
            "!\n";
  }
  want += "Error: Ztgsatz updaten -54! Person: 00000002! Tag: 20270110!\n";
  EXPECT_EQ(Log(), want);
  // Each person waited once (0.7 s); a wait per locked row would take 6 s
  // and more.
  EXPECT_GE(secs, 1.3);
  EXPECT_LT(secs, 4.0);
  EXPECT_EQ(Rows("select count(*) from Hrs329Ztg where ZtgSta = 1"), std::vector<std::string>{"31"});
  EXPECT_EQ(Rows("select count(*) from Hrs329Ztg where ZtgSta = 2 and ZtgAkr = 'OLD'"),
            std::vector<std::string>{"9"});
}

INSTANTIATE_TEST_SUITE_P(, LockTest, testdb::OnlyServer(), testdb::BackendName);

}  // namespace
}  // namespace persontest

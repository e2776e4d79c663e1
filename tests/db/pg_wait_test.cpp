// The database server's waits are bounded: a server that accepts the
// connection and never answers, a relay that stops forwarding in the
// middle of the work, a stop signal while the job waits for an answer, and
// a refusal for want of connection slots.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "base/stop.h"
#include "db/pg_error.h"
#include "db/session.h"
#include "db/sqlrt.h"
#include "../support/relay.h"
#include "../support/testdb.h"

namespace {

using testdb::Listen;
using testdb::Relay;
using Clock = std::chrono::steady_clock;
using testdb::DbTest;

double Seconds_Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Sends SIGTERM to the process after `ms`, with the job's handler in place;
// the handler and the flag are as before once it is destroyed.
class LateStop {
 public:
  explicit LateStop(int ms) {
    Stop_Install();
    thread_ = std::thread([ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      kill(getpid(), SIGTERM);
    });
  }
  ~LateStop() {
    thread_.join();
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    Stop_Reset();
  }

 private:
  std::thread thread_;
};

SqlOptions Waits(int connect_s, int reply_s) {
  SqlOptions o = Sql_Options_Default();
  o.connect_timeout_s = connect_s;
  o.reply_timeout_s = reply_s;
  return o;
}

// A listener that takes the connection and never says a word: the connect
// gives up after its timeout with its own code, and a stop signal ends the
// wait before that. Needs no server.
TEST(PgWaitTest, MuteServerIsGivenUpOrLeftOnAStop) {
  int port = 0;
  const int fd = Listen(&port);
  ASSERT_GE(fd, 0);
  const std::string net = "postgresql://127.0.0.1:" + std::to_string(port) + "/hr";
  auto t0 = Clock::now();
  EXPECT_EQ(Sql_Connect("dayset", "secret", net.c_str(), "HRSYSTEM", Waits(1, 180)), kSqlConnectTimeout);
  EXPECT_GE(Seconds_Since(t0), 0.9);
  EXPECT_LT(Seconds_Since(t0), 5.0);
  EXPECT_NE(Sql_Connect_Reason(kSqlConnectTimeout), nullptr);
  {
    LateStop stop(300);
    t0 = Clock::now();
    EXPECT_EQ(Sql_Connect("dayset", "secret", net.c_str(), "HRSYSTEM", Waits(60, 180)), kSqlCancelled);
    EXPECT_LT(Seconds_Since(t0), 3.0);
  }
  close(fd);
}

// libpq's message of a refused connect, made with the SQLSTATE verbosity,
// names the true cause; a refusal without a SQLSTATE is "no server".
TEST(PgWaitTest, ConnectRefusalsNameTheirCause) {
  const struct {
    const char* message;
    bool password;
    int code;
  } cases[] = {
      {"connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  53300\n", true, kSqlTooManySessions},
      {"connection to server at \"db\" (10.0.0.1), port 5432 failed: FATAL:  3D000\n", true, kSqlNoDatabase},
      {"connection to server on socket \"/tmp/.s.PGSQL.5432\" failed: FATAL:  57P03\n", false, kSqlStartingUp},
      {"connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  28P01\n", true, kSqlLoginRefused},
      {"connection to server at \"127.0.0.1\", port 5432 failed: FEHLER:  28000\n", false, kSqlLoginRefused},
      {"connection to server at \"127.0.0.1\", port 5432 failed: fe_sendauth: no password supplied\n", true,
       kSqlLoginRefused},
      {"connection to server at \"127.0.0.1\", port 1 failed: Connection refused\n\tIs the server running on "
       "that host and accepting TCP/IP connections?\n", false, kSqlNoListener},
      {"", false, kSqlNoListener},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sqlrt::Pg_Connect_Error(c.message, c.password), c.code) << c.message;
  }
}

class PgWaitServerTest : public DbTest {
 protected:
  // The job's session to the test's database through `relay`.
  int Connect_Via(const Relay& relay, const SqlOptions& options) {
    if (GetParam() == testdb::Backend::kOdbc) {
      // A data source of its own for the relay, in an odbc.ini of the test's
      // (named by the port: unixODBC keeps what it read of an odbc.ini).
      const std::string ini = dir_.file("odbc.ini");
      const std::string dsn = "via_relay_" + std::to_string(relay.port());
      testdb::WriteFile(ini, "[" + dsn + "]\nDriver = " + Odbc_Driver() + "\nServername = 127.0.0.1\nPort = " +
                                 std::to_string(relay.port()) + "\nDatabase = " + db_->Name() + "\n");
      const char* saved = std::getenv("ODBCINI");
      const std::string before = saved != nullptr ? saved : "";
      setenv("ODBCINI", ini.c_str(), 1);
      const int rc =
          Sql_Connect(db_->Login().c_str(), db_->Password().c_str(), ("odbc:" + dsn).c_str(), "HRSYSTEM", options);
      setenv("ODBCINI", before.c_str(), 1);
      return rc;
    }
    std::string net = db_->Net();
    const std::string port = ":" + server_port();
    const size_t at = net.find(port);
    if (at == std::string::npos) return -1;
    net.replace(at, port.size(), ":" + std::to_string(relay.port()));
    return Sql_Connect(db_->Login().c_str(), db_->Password().c_str(), net.c_str(), "HRSYSTEM", options);
  }
  // The driver of the cluster's data sources.
  static std::string Odbc_Driver() {
    testdb::PgServer s;
    std::string why;
    testdb::PgServer::FromEnv(&s, &why);
    const std::string ini = testdb::ReadFile(s.odbcini);
    const size_t at = ini.find("Driver = ");
    return at == std::string::npos ? "" : ini.substr(at + 9, ini.find('\n', at) - at - 9);
  }
  static std::string server_port() {
    testdb::PgServer s;
    std::string why;
    return testdb::PgServer::FromEnv(&s, &why) ? s.port : "";
  }
  static int Pnr_Ins(const char* num) {
    static const char kPnrIns[] = "insert into Hrs300Pnr (PnrNum,PnrNam,PnrSta) values (:b0,:b1,:b2)";
    int32_t sta = 1;
    return Sql_Exec(kPnrIns, {SqlStr(num, 9), SqlStr("N", 2), SqlInt(&sta)});
  }
};

// The network freezes in the middle of the work: the request that gets no
// answer breaks the session after the reply timeout, its condition named;
// later calls fail at once, and nothing of the open unit is committed.
TEST_P(PgWaitServerTest, FrozenRelayBreaksTheSessionAfterTheReplyTimeout) {
  Relay relay(std::stoi(server_port()));
  ASSERT_EQ(Connect_Via(relay, Waits(5, 2)), 0);
  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  ASSERT_EQ(Sql_Rt_Commit(), 0);
  ASSERT_EQ(Pnr_Ins("00000002"), 0);
  relay.Freeze();
  const auto t0 = Clock::now();
  EXPECT_EQ(Sql_Rt_Commit(), sqlrt::kPgNoAnswer);
  EXPECT_GE(Seconds_Since(t0), 1.9);
  EXPECT_LT(Seconds_Since(t0), 6.0);
  ASSERT_NE(Sql_Rt_Broken(), nullptr);
  EXPECT_STREQ(Sql_Rt_Broken(), "Datenbankserver antwortet nicht (Zeitlimit ueberschritten)");
  const auto t1 = Clock::now();
  EXPECT_EQ(Pnr_Ins("00000003"), sqlrt::kPgNoAnswer);
  EXPECT_LT(Seconds_Since(t1), 0.5);
  Sql_Rt_Disconnect();
  EXPECT_EQ(Rows("select PnrNum from Hrs300Pnr order by 1"), (std::vector<std::string>{"00000001"}));
}

// A stop signal while the job waits for an answer that does not come ends
// the wait at once, not after the reply timeout.
TEST_P(PgWaitServerTest, StopSignalEndsAWaitForAnAnswer) {
  Relay relay(std::stoi(server_port()));
  ASSERT_EQ(Connect_Via(relay, Waits(5, 120)), 0);
  ASSERT_EQ(Pnr_Ins("00000001"), 0);
  relay.Freeze();
  const auto t0 = Clock::now();
  {
    LateStop stop(300);
    EXPECT_EQ(Sql_Rt_Commit(), kSqlCancelled);
  }
  EXPECT_LT(Seconds_Since(t0), 3.0);
  EXPECT_NE(Sql_Rt_Broken(), nullptr);
  Sql_Rt_Disconnect();
}

// A server whose connection slots are taken refuses with its own code, not
// as a server that is not there.
TEST_P(PgWaitServerTest, FullServerIsNotAMissingOne) {
  const std::string role = "dayset_slots_" + std::to_string(getpid());
  Exec("create role " + role + " login password 'slots' connection limit 0");
  Exec("grant connect on database \"" + db_->Name() + "\" to " + role);
  std::string net = db_->Net();
  EXPECT_EQ(Sql_Connect(role.c_str(), "slots", net.c_str(), "HRSYSTEM"), kSqlTooManySessions);
  EXPECT_NE(Sql_Connect_Reason(kSqlTooManySessions), nullptr);
  Exec("revoke connect on database \"" + db_->Name() + "\" from " + role);
  Exec("drop role " + role);
}

INSTANTIATE_TEST_SUITE_P(, PgWaitServerTest, testdb::OnlyServer(), testdb::BackendName);

}  // namespace

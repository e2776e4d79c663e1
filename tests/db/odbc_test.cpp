// The ODBC backend's own: its net service names, its connect codes, and the
// PostgreSQL texts it sends with ODBC's markers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/testdb.h"
#include "db/odbc_session.h"
#include "db/session.h"
#include "db/sqlrt.h"

namespace {

// A DSN name cannot end or extend the connection string it goes into: the
// job's UID and PWD follow it there.
TEST(OdbcNet, NamesThatWouldExtendTheConnectionStringAreRefused) {
  EXPECT_STREQ(Sql_Net_Backend("odbc:hr"), "odbc");
  EXPECT_STREQ(Sql_Net_Backend("ODBC:hr"), "odbc");
  EXPECT_EQ(Sql_Net_Check("odbc:hr_prod"), nullptr);
  EXPECT_EQ(Sql_Net_Check("odbc:HR Prod.1"), nullptr);
  for (const char* net : {"odbc:", "odbc:hr;PWD=x", "odbc:hr;", "odbc:UID=sa", "odbc:{hr}", "odbc:hr}", "odbc:h\tr",
                          "odbc:hr\x1b", "odbc:hr\x7f"}) {
    EXPECT_NE(Sql_Net_Check(net), nullptr) << net;
  }
}

// $n outside literals and quoted names become markers, in order of
// appearance, each naming its parameter; one that stands twice is cast to
// the type given for it, everywhere it stands.
TEST(OdbcMarkers, InOrderOutsideLiteralsAndRepeatsTyped) {
  std::vector<int> order;
  const std::string sql = "select '$1', \"$2\", $2 from t where a = $1 and b = $10";
  EXPECT_EQ(sqlrt::Odbc_Markers(sql, &order), "select '$1', \"$2\", ? from t where a = ? and b = ?");
  EXPECT_EQ(order, (std::vector<int>{1, 0, 9}));
  EXPECT_FALSE(sqlrt::Odbc_Repeats(order));
  const std::string twice = "select case when $2 = 0 then $1 else mod($1, $2) end";
  std::string out = sqlrt::Odbc_Markers(twice, &order);
  ASSERT_TRUE(sqlrt::Odbc_Repeats(order));
  const std::vector<std::string> types = {"integer", "numeric"};
  out = sqlrt::Odbc_Markers(twice, &order, &types);
  EXPECT_EQ(out,
            "select case when CAST(? AS numeric) = 0 then CAST(? AS integer) else mod(CAST(? AS integer), "
            "CAST(? AS numeric)) end");
  EXPECT_EQ(order, (std::vector<int>{1, 0, 0, 1}));
}

class OdbcConnectTest : public testdb::DbTest {};

// Connect failures through psqlODBC, which reports all of them as 08001:
// the codes the libpq backend gives for the same causes.
TEST_P(OdbcConnectTest, FailuresGiveTheCodesOfTheirCauses) {
  if (!Ready()) return;
  Sql_Rt_Disconnect();
  testdb::PgServer server;
  std::string why;
  ASSERT_TRUE(testdb::PgServer::FromEnv(&server, &why)) << why;
  const std::string cluster = testdb::ReadFile(server.odbcini);
  const size_t at = cluster.find("Driver = ");
  ASSERT_NE(at, std::string::npos);
  const std::string driver = cluster.substr(at, cluster.find('\n', at) - at);
  // Data sources of the test's own (unixODBC keeps what it read of an
  // odbc.ini: new names, so that these are read).
  const std::string tag = std::to_string(getpid());
  const std::string ini = dir_.file("odbc.ini");
  testdb::WriteFile(ini, "[nodb_" + tag + "]\n" + driver + "\nServername = 127.0.0.1\nPort = " + server.port +
                             "\nDatabase = nosuchdb\n\n[noserver_" + tag + "]\n" + driver +
                             "\nServername = 127.0.0.1\nPort = 1\nDatabase = " + db_->Name() + "\n");
  const std::string saved = std::getenv("ODBCINI") != nullptr ? std::getenv("ODBCINI") : "";
  const std::string net = db_->Net();
  const struct {
    const char* what;
    std::string login, pass, net;
    int code;
  } cases[] = {
      {"wrong password", db_->Login(), "wrong", net, kSqlLoginRefused},
      {"unknown role", "nosuchrole", db_->Password(), net, kSqlLoginRefused},
      {"unknown data source", db_->Login(), db_->Password(), "odbc:nosuch_" + tag, kSqlUnknownService},
      {"unknown database", db_->Login(), db_->Password(), "odbc:nodb_" + tag, kSqlNoDatabase},
      {"no server", db_->Login(), db_->Password(), "odbc:noserver_" + tag, kSqlNoListener},
  };
  for (const auto& c : cases) {
    setenv("ODBCINI", c.net != net ? ini.c_str() : saved.c_str(), 1);
    EXPECT_EQ(Sql_Connect(c.login.c_str(), c.pass.c_str(), c.net.c_str(), "HRSYSTEM"), c.code) << c.what;
  }
  setenv("ODBCINI", saved.c_str(), 1);
  EXPECT_EQ(Reconnect("HRSYSTEM"), 0);
}

INSTANTIATE_TEST_SUITE_P(, OdbcConnectTest, ::testing::Values(testdb::Backend::kOdbc), testdb::BackendName);

}  // namespace

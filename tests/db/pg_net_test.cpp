// The PostgreSQL backend's net service name for a libpq connection text:
// what libpq reads back from it is the text's own settings without the
// credentials, in a name the runtime takes.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstring>
#include <map>
#include <string>

#include "db/pg_net.h"
#include "db/sqlrt.h"

namespace {

// The settings libpq reads from a connection text, keyword to value.
std::map<std::string, std::string> Settings(const std::string& conninfo) {
  std::map<std::string, std::string> out;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), nullptr);
  if (options == nullptr) return {{"", "does not parse"}};
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val != nullptr && *o->val != '\0') out[o->keyword] = o->val;
  }
  PQconninfoFree(options);
  return out;
}

TEST(PgNetOfConninfo, ReachesWhatTheConninfoReachesWithoutCredentials) {
  const struct {
    const char* conninfo;
    const char* user;
  } cases[] = {
      {"host=/tmp/dayset-pg.x port=5432 user=postgres dbname=dt1", "postgres"},
      {"postgresql://admin@db.example:6543/hr?sslmode=require&application_name=demo%20one", "admin"},
      {"host=h1,h2 port=5432,5433 dbname='a b&c=d?e@f#g%h/i:j' target_session_attrs=read-write", ""},
      {"service=hr options='-c lock_timeout=5s'", ""},
      {"host=h user=u password=secret passfile=/p/pgpass sslpassword=key dbname=hr", "u"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string user = "stale";
    const std::string net = Pg_Net_Of_Conninfo(c.conninfo, &user);
    EXPECT_EQ(user, c.user) << c.conninfo;
    ASSERT_NE(Sql_Net_Backend(net.c_str()), nullptr) << net;
    EXPECT_STREQ(Sql_Net_Backend(net.c_str()), "postgresql") << net;
    EXPECT_EQ(Sql_Net_Check(net.c_str()), nullptr) << net;
    std::map<std::string, std::string> want = Settings(c.conninfo);
    for (const char* credential : {"user", "password", "passfile", "sslpassword"}) want.erase(credential);
    EXPECT_EQ(Settings(Pg_Net_Conninfo(net.c_str())), want) << c.conninfo << " as " << net;
  }
}

TEST(PgNetOfConninfo, EmptyForATextLibpqRefuses) {
  for (const char* conninfo : {"host='open", "nosuchkeyword=1", "dbname"}) {
    std::string user;
    EXPECT_EQ(Pg_Net_Of_Conninfo(conninfo, &user), "") << conninfo;
  }
}

}  // namespace

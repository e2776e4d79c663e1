// README.md's "Setting up a database", run as written: the code blocks
// marked <!-- setup:BACKEND --> are run by sh, their example names replaced
// by the test's (directory, database, roles, server address, start year),
// against a fresh directory or a fresh database on the test server; then a
// person is put in and the last block, the job, is run. The path must give
// day records without a failure line. The inserts shown for the database's
// shell (<!-- setup:BACKEND:sql -->) must give the row dayset-demo
// --calendar-only gives.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../support/testdb.h"

namespace {

using testdb::ReadFile;

// The indented code blocks that follow each line "<!-- setup:NAME -->" in
// README.md, in order, their indentation removed.
std::vector<std::string> Blocks(const std::string& name) {
  std::istringstream in(ReadFile(testdb::SourcePath("README.md")));
  const std::string marker = "<!-- setup:" + name + " -->";
  std::vector<std::string> blocks;
  bool in_block = false;
  for (std::string line; std::getline(in, line);) {
    if (line == marker) {
      blocks.emplace_back();
      in_block = true;
    } else if (in_block && line.rfind("    ", 0) == 0) {
      blocks.back() += line.substr(4) + "\n";
    } else if (in_block && !line.empty()) {
      in_block = false;
    }
  }
  return blocks;
}

// The README's example names and the test's, as whole words.
using Names = std::vector<std::pair<std::string, std::string>>;

std::string Replace(std::string text, const Names& names) {
  for (const auto& [from, to] : names) text = std::regex_replace(text, std::regex(from), to);
  return text;
}

std::string Random_Hex() {
  std::random_device rd;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08x%08x", rd(), rd());
  return buf;
}

// The year the example's start day (1 January 2027) stands for: the README's
// own, or the next year once that has passed, so that the job's window
// still holds it.
int Start_Year() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::max(2027, local.tm_year + 1900 + 1);
}

class ReadmeSetupTest : public ::testing::Test {
 protected:
  // Runs `script` with sh -e in `cwd`, the environment file first (its
  // values never on a command line), standard input from `input`; returns
  // the exit status, the output into *out.
  int Shell(const std::string& script, const std::string& cwd, const std::string& input, std::string* out) {
    testdb::WriteFile(scratch_.file("script.sh"), script);
    testdb::WriteFile(scratch_.file("input"), input);
    const std::string cmd = "cd '" + cwd + "' && set -a && . '" + scratch_.file("env") +
                            "' && set +a && env -u NLS_TERRITORY -u NLS_LANG PATH='" + testdb::BinaryPath("") +
                            "':\"$PATH\" sh -e '" + scratch_.file("script.sh") + "' <'" + scratch_.file("input") +
                            "' 2>&1";
    return testdb::RunCommand(cmd, out);
  }
  void Env(const std::string& text) {
    testdb::WriteFile(scratch_.file("env"), text);
    chmod(scratch_.file("env").c_str(), 0600);
  }

  // The setup blocks of `backend` up to the job, run in scratch_; the
  // directory they end in.
  std::string Setup(const std::string& backend, const Names& names) {
    std::vector<std::string> blocks = Blocks(backend);
    EXPECT_GE(blocks.size(), 2u) << "README.md: no setup:" << backend << " blocks";
    if (blocks.size() < 2) return "";
    job_ = Replace(blocks.back(), names);
    blocks.pop_back();
    std::string script;
    for (const std::string& b : blocks) script += Replace(b, names);
    std::string out;
    EXPECT_EQ(Shell(script + "pwd >'" + scratch_.file("cwd") + "'\n", scratch_.path(), input_, &out), 0)
        << script << "\n" << out;
    std::string cwd = ReadFile(scratch_.file("cwd"));
    while (!cwd.empty() && cwd.back() == '\n') cwd.pop_back();
    return cwd;
  }
  // The last block, in `cwd`; DAYSET.LOG there.
  std::string Job(const std::string& cwd) {
    std::string out;
    EXPECT_EQ(Shell(job_, cwd, "", &out), 0) << job_ << "\n" << out;
    return ReadFile(cwd + "/DAYSET.LOG");
  }

  // A person employed on an all-week work calendar of the second family,
  // whose days start with the base calendar, with a one-day working-time
  // group. `d` makes a date literal of the backend from yyyy-mm-dd.
  template <typename DateOf>
  static std::string Person_Sql(DateOf d) {
    const int y = Start_Year();
    const std::string base = d(std::to_string(y - 1) + "-12-31"), since = d("2020-01-01");
    std::string sql =
        "insert into Hrs135Mu2 (Mu2Kal, Mu2Sta) values ('201', 1);"
        "insert into Hrs133Ka2 (Ka2Num, Ka2Dtm, Ka2Ttp, Ka2Ptp, Ka2Btp, Ka2Gwt, Ka2Sta) values "
        "('201', " + base + ", 'AT', 'AT', 'AT', 100, 1);"
        "insert into Hrs160Agr (AgrNum, AgrTge) values ('GLZ', 1);"
        "insert into Hrs161Wpl (WplAgr, WplTag, WplAzt, WplVra) values ('GLZ', 1, '0800', 'GLEITZEIT');"
        "insert into Hrs300Pnr (PnrNum, PnrNam, PnrSta) values ('00000001', 'Anna Bauer', 1);"
        "insert into Hrs310Bsv (BsvPnr, BsvGvo, BsvKal, BsvSta) values ('00000001', " + since + ", '201', 1);"
        "insert into Hrs311Zuo (ZuoPnr, ZuoGvo, ZuoSdt, ZuoStg, ZuoAgr, ZuoAbt) values "
        "('00000001', " + since + ", " + since + ", 1, 'GLZ', 'EDV');";
    for (int wtg = 1; wtg <= 7; ++wtg) {
      sql += "insert into Hrs137Wch (WchKal, WchTag, WchTtp, WchSta) values ('201', " + std::to_string(wtg) +
             ", 'AT', 1);";
    }
    return sql;
  }

  // What the run must have made: the base calendar from the day before the
  // start to the end of the year, a day record and a time-group row for each
  // day of the year, and no failure line. `ymd` makes a date expression of
  // the backend its yyyymmdd text.
  template <typename Rows, typename Ymd>
  static void Expect_Filled(Rows rows, Ymd ymd, const std::string& log) {
    const std::string y = std::to_string(Start_Year());
    EXPECT_EQ(rows("select count(*) from Hrs133Bak"), std::to_string(testdb::Days(std::to_string(Start_Year() - 1) +
                                                                                      "-12-31", y + "-12-31")
                                                                          .size()));
    EXPECT_EQ(rows("select count(*) from Hrs327Tag where TagPnr = '00000001' and " + ymd("TagTag") + " >= '" + y +
                   "0101'"),
              std::to_string(testdb::Days(y + "-01-01", y + "-12-31").size()));
    EXPECT_EQ(rows("select count(*) from Hrs329Ztg where ZtgAgr = 'GLZ' and ZtgAzt = '0800'"),
              rows("select count(*) from Hrs327Tag"));
    EXPECT_NE(log.find("Aktuelles Schema: HRSYSTEM"), std::string::npos) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
  }

  testdb::TempDir scratch_;
  std::string input_;  // standard input of the setup: what dayset-conf asks for
  std::string job_;
};

// ---------------------------------------------------------------------------
// PostgreSQL: the server of tools/pg-cluster.sh, an owner role of the test's
// own that reaches it over TCP with a password, as an administrator would.

class Pg {
 public:
  explicit Pg(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) ADD_FAILURE() << PQerrorMessage(conn_);
  }
  ~Pg() { PQfinish(conn_); }
  void Exec(const std::string& sql) {
    PGresult* r = PQexec(conn_, sql.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) ADD_FAILURE() << PQerrorMessage(conn_) << "\n" << sql;
    PQclear(r);
  }
  std::string One(const std::string& sql) {
    PGresult* r = PQexec(conn_, sql.c_str());
    std::string v;
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1) {
      for (int j = 0; j < PQnfields(r); ++j) v += std::string(j > 0 ? "|" : "") + PQgetvalue(r, 0, j);
    } else {
      ADD_FAILURE() << PQerrorMessage(conn_) << "\n" << sql;
    }
    PQclear(r);
    return v;
  }

 private:
  PGconn* conn_;
};

std::string Pg_Date(const std::string& ymd) { return "timestamp '" + ymd + "'"; }

TEST_F(ReadmeSetupTest, PostgresPathGivesPersonDays) {
  testdb::PgServer server;
  std::string why;
  if (!testdb::PgServer::FromEnv(&server, &why)) GTEST_SKIP() << why;
  const std::string id = "rs" + std::to_string(getpid()), owner = id + "_owner", role = id + "_job";
  const std::string owner_pw = Random_Hex(), role_pw = Random_Hex();
  {
    Pg su(server.admin);
    su.Exec("create role " + owner + " login createdb createrole password '" + owner_pw + "'");
  }
  struct Cleanup {
    std::string admin, id, owner, role;
    ~Cleanup() {
      Pg su(admin);
      su.Exec("drop database if exists " + id + " with (force)");
      su.Exec("drop role if exists " + role);
      su.Exec("drop role if exists " + owner);
    }
  } cleanup{server.admin, id, owner, role};

  Env("PGHOST=" + server.host + "\nPGPORT=" + server.port + "\nPGUSER=" + owner + "\nPGPASSWORD=" + owner_pw + "\n");
  input_ = role_pw;  // dayset-conf set dayset.ini PASS
  const std::string y = std::to_string(Start_Year());
  const Names names = {{"/usr/share/dayset/", testdb::SourcePath("db/")},
                       {"db\\.example\\.org:5432", server.host + ":" + server.port},
                       {"\\bhr\\b", id},
                       {"\\bdayset_job\\b", role},
                       {"choose-one", role_pw},
                       {"\\b20270101\\b", y + "0101"},
                       {"\\b2027\\b", y}};
  const std::string cwd = Setup("postgresql", names);
  ASSERT_FALSE(HasFailure());

  Pg db(server.admin + " dbname=" + id);
  db.Exec("set search_path = hrsystem; " + Person_Sql(Pg_Date));
  const std::string log = Job(cwd);
  Expect_Filled([&](const std::string& sql) { return db.One("set search_path = hrsystem; " + sql); },
                [](const std::string& e) { return "to_char(" + e + ", 'YYYYMMDD')"; }, log);
  // The job's role may do no more than the job needs.
  EXPECT_EQ(db.One("select has_schema_privilege('" + role + "', 'hrsystem', 'CREATE'), has_table_privilege('" + role +
                   "', 'hrsystem.hrs327tag', 'DELETE')"),
            "f|f");

  // A time-group table of an earlier DDL, full pages: the README's commands
  // give it the room again, as its owner, and keep its rows.
  const std::string ztg_rows = db.One("select count(*) from hrsystem.hrs329ztg");
  db.Exec("alter table hrsystem.hrs329ztg reset (fillfactor)");
  const std::vector<std::string> room = Blocks("postgresql:fillfactor");
  ASSERT_EQ(room.size(), 1u);
  std::string out;
  EXPECT_EQ(Shell(Replace(room[0], names), cwd, "", &out), 0) << room[0] << "\n" << out;
  EXPECT_EQ(db.One("select array_to_string(reloptions, ',') from pg_class where oid = 'hrsystem.hrs329ztg'::regclass"),
            "fillfactor=50");
  EXPECT_EQ(db.One("select count(*) from hrsystem.hrs329ztg"), ztg_rows);
}

TEST_F(ReadmeSetupTest, SqlitePathGivesPersonDays) {
  Env("");
  input_ = "unused";
  const std::string y = std::to_string(Start_Year());
  const std::string dir = scratch_.file("var/lib/dayset");
  const Names names = {{"/usr/share/dayset/", testdb::SourcePath("db/")},
                       {"/var/lib/dayset", dir},
                       {"\\b20270101\\b", y + "0101"},
                       {"\\b2027\\b", y}};
  const std::string cwd = Setup("sqlite", names);
  ASSERT_FALSE(HasFailure());
  const std::string file = dir + "/HRSYSTEM.db";
  testdb::ExecSql(file, Person_Sql([](const std::string& ymd) { return "julianday('" + ymd + "')"; }));
  const std::string log = Job(cwd);
  Expect_Filled(
      [&](const std::string& sql) {
        const std::vector<std::string> rows = testdb::QueryRows(file, sql);
        return rows.size() == 1 ? rows[0] : "";
      },
      [](const std::string& e) { return "strftime('%Y%m%d', " + e + ")"; }, log);
}

// The insert shown for the database's shell gives the row that
// dayset-demo --calendar-only --start 20270101 gives, on each backend.
class ReadmeSqlTest : public ReadmeSetupTest, public ::testing::WithParamInterface<testdb::Backend> {};

TEST_P(ReadmeSqlTest, InsertForTheShellEqualsTheCommandsRow) {
  const std::string why = testdb::Unavailable(GetParam());
  if (!why.empty()) GTEST_SKIP() << why;
  const bool pg = GetParam() == testdb::Backend::kPostgres;
  const std::string dir = scratch_.file("db");
  std::filesystem::create_directory(dir);
  std::unique_ptr<testdb::Database> db = testdb::Database::Make(GetParam(), dir);
  ASSERT_FALSE(HasFailure());
  const std::vector<std::string> blocks = Blocks(pg ? "postgresql:sql" : "sqlite:sql");
  ASSERT_EQ(blocks.size(), 1u);

  // The superuser on the socket of DAYSET_TEST_PG, as libpq's environment.
  std::string env;
  if (pg) {
    std::smatch m;
    testdb::PgServer server;
    testdb::PgServer::FromEnv(&server, &env);
    for (const char* key : {"host", "port", "user"}) {
      if (std::regex_search(server.admin, m, std::regex(std::string("\\b") + key + "=(\\S+)"))) {
        env += std::string("PG") + (key[0] == 'h' ? "HOST" : key[0] == 'p' ? "PORT" : "USER") + "=" + m[1].str() + "\n";
      }
    }
  }
  Env(env);
  const Names names = {{"/var/lib/dayset", dir}, {"\\bhr\\b", db->Name()}};
  std::string out;
  ASSERT_EQ(Shell(Replace(blocks[0], names), scratch_.path(), "", &out), 0) << blocks[0] << "\n" << out;
  const std::string row = "select " + db->DateTime("BakDtm") +
                          ", BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow from Hrs133Bak";
  const std::vector<std::string> shell = db->Rows("HRSYSTEM", row);
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0], "2026-12-31 00:00:00|2026|12|31|53|5|365|2026");

  db->Exec("HRSYSTEM", "delete from Hrs133Bak");
  const std::string target = pg ? "--net '" + db->Net() + "' --pg-admin '" + db->Admin() + "'" : "--net 'sqlite:" + dir + "'";
  ASSERT_EQ(Shell("dayset-demo --calendar-only --start 20270101 " + target + "\n", scratch_.path(), "", &out), 0)
      << out;
  EXPECT_EQ(db->Rows("HRSYSTEM", row), shell);
}

INSTANTIATE_TEST_SUITE_P(, ReadmeSqlTest, testdb::SqliteAndPostgres(), testdb::BackendName);

}  // namespace

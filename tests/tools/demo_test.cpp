// dayset-demo as an operator runs it: the real executable, then the files it
// made, read back with sqlite and with the job's configuration reader; and
// the job run on a demo installation of each backend.
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini.h"
#include "../support/testdb.h"

namespace {

using testdb::QueryRows;
using testdb::ReadFile;

// The weekday numbering comes from the environment; these runs want AMERICA.
const char kPlainEnv[] = "env -u NLS_TERRITORY -u NLS_LANG";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class DemoTest : public ::testing::Test {
 protected:
  DemoTest() : db_(testdb::Database::Sqlite(Dir(), false)) {}

  Outcome Demo(const std::string& args, const std::string& env = kPlainEnv) {
    Outcome o;
    std::string cmd = env + " '" + testdb::BinaryPath("dayset-demo") + "' " + args + " 2>'" +
                      scratch_.file("stderr.txt") + "'";
    o.status = testdb::RunCommand(cmd, &o.out);
    o.err = ReadFile(scratch_.file("stderr.txt"));
    return o;
  }
  std::string Dir() const { return scratch_.file("demo"); }
  std::string Db() const { return Dir() + "/HRSYSTEM.db"; }
  std::string One(const std::string& sql) {
    std::vector<std::string> rows = db_->Rows("HRSYSTEM", sql);
    return rows.size() == 1 ? rows[0] : "(" + std::to_string(rows.size()) + " rows)";
  }
  long Count(const std::string& sql) { return std::stol(One("select count(*) from " + sql)); }

  testdb::TempDir scratch_;
  std::unique_ptr<testdb::Database> db_;  // where the demo goes
};

// The demo installation on each backend: on PostgreSQL in a new empty
// database, for the job's role, dayset.ini then given the role's password.
class DemoRunTest : public DemoTest, public ::testing::WithParamInterface<testdb::Backend> {
 protected:
  void SetUp() override {
    const std::string why = testdb::Unavailable(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
    if (testdb::OnServer(GetParam())) {
      std::string unused;
      ASSERT_TRUE(testdb::PgServer::FromEnv(&server_, &unused));
      db_ = GetParam() == testdb::Backend::kOdbc ? testdb::Database::Odbc(server_, false)
                                                 : testdb::Database::Postgres(server_, false);
      ASSERT_FALSE(HasFailure());
    }
  }
  // dayset-demo's arguments for the database, before DIR.
  std::string Target() const { return testdb::DemoTarget(*db_); }
  // Makes the demo; true when it succeeded (dayset.ini has the password).
  bool Make(const std::string& args) {
    std::string err;
    EXPECT_EQ(testdb::DemoMake(*db_, Dir(), args, &err), 0) << err;
    return !HasFailure();
  }
  // The job in DIR for `year`; its DAYSET.LOG.
  std::string Job(const std::string& year) {
    std::string out;
    int status = testdb::RunCommand(std::string(kPlainEnv) + " sh -c 'cd \"" + Dir() + "\" && \"" +
                                        testdb::BinaryPath("dayset") + "\" 0 " + year + " dayset.ini 0 0' 2>&1",
                                    &out);
    EXPECT_EQ(status, 0) << out;
    return ReadFile(Dir() + "/DAYSET.LOG");
  }

  testdb::PgServer server_;
};

// What the demo does on the server alone.
class DemoPgTest : public DemoRunTest {};

const char* const kTables[] = {"Hrs133Bak", "Hrs133Kal", "Hrs135Muw", "Hrs133Ka2", "Hrs135Mu2", "Hrs137Wch",
                               "Hrs300Pnr", "Hrs310Bsv", "Hrs327Tag", "Hrs329Ztg", "Hrs311Zuo", "Hrs160Agr",
                               "Hrs161Wpl", "Hrs332Urv"};

TEST_P(DemoRunTest, MakesTheDatabaseWithTheDesignedCounts) {
  Outcome o = Demo("--start 20260101 " + Target() + "'" + Dir() + "'");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(o.out, m, std::regex("dayset-demo: .*: 300 persons, (\\d+) employments, (\\d+) "
                                                    "assignments, 6 work calendars, 4 working-time groups; .*"
                                                    "run: cd .* && dayset 0 2026 dayset.ini 0 0\n")))
      << o.out;
  struct Case {
    const char* table;
    long rows;
  } const cases[] = {
      {"Hrs133Bak", 1},  {"Hrs135Muw", 3},  {"Hrs135Mu2", 3},  {"Hrs137Wch", 40}, {"Hrs133Kal", 3},
      {"Hrs133Ka2", 3},  {"Hrs160Agr", 4},  {"Hrs161Wpl", 29}, {"Hrs300Pnr", 300}, {"Hrs327Tag", 0},
      {"Hrs329Ztg", 0},  {"Hrs332Urv", 0},  {"Hrs310Bsv", std::stol(m[1])}, {"Hrs311Zuo", std::stol(m[2])},
  };
  for (const Case& c : cases) EXPECT_EQ(Count(c.table), c.rows) << c.table;
  struct stat st {};
  ASSERT_EQ(stat((Dir() + "/dayset.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(DemoTest, PersonsEmploymentsAndAssignmentsAsDesigned) {
  ASSERT_EQ(Demo("--seed 5 --start 20260101 '" + Dir() + "'").status, 0);
  const std::string today = "julianday(date('now','localtime'))";
  EXPECT_EQ(One("select min(PnrNum), max(PnrNum), min(length(PnrNum)), max(PnrSta) from Hrs300Pnr"),
            "00000001|00000300|8|1");
  EXPECT_EQ(Count("Hrs310Bsv where BsvKal not in (select Mu2Kal from Hrs135Mu2)"), 0);
  long two_rows = Count("(select BsvPnr from Hrs310Bsv group by BsvPnr having count(*) = 2)");
  long ended = Count("(select BsvPnr from Hrs310Bsv group by BsvPnr having max(BsvGbi is not null and BsvGbi < " +
                     today + ") = 1 and count(*) = 1)");
  long current = Count("(select distinct BsvPnr from Hrs310Bsv where BsvGbi is null or BsvGbi >= " + today + ")");
  EXPECT_GT(two_rows, 10);
  EXPECT_GT(ended, 10);
  EXPECT_GE(current, 240);
  EXPECT_EQ(current + ended, 300);
  EXPECT_GT(Count("Hrs310Bsv where BsvAkr is null"), 0);
  EXPECT_GT(Count("Hrs310Bsv where BsvAbr is null"), 0);

  EXPECT_EQ(Count("Hrs311Zuo left join Hrs160Agr on AgrNum = ZuoAgr where AgrTge is null or ZuoStg < 1 or "
                  "ZuoStg > AgrTge or ZuoSdt > ZuoGvo or ZuoGbi < ZuoGvo"),
            0);
  // Every person employed now has an open assignment, so that every day the
  // job creates for them finds one.
  EXPECT_EQ(Count("(select distinct BsvPnr from Hrs310Bsv where BsvGbi is null or BsvGbi >= " + today +
                  ") where BsvPnr not in (select ZuoPnr from Hrs311Zuo where ZuoGbi is null)"),
            0);
  // Overlapping assignments: a few persons, not most.
  long overlapping = Count(
      "(select distinct a.ZuoPnr from Hrs311Zuo a join Hrs311Zuo b on a.ZuoPnr = b.ZuoPnr and a.rowid < b.rowid "
      "and a.ZuoGvo <= coalesce(b.ZuoGbi, 1e9) and b.ZuoGvo <= coalesce(a.ZuoGbi, 1e9))");
  EXPECT_GT(overlapping, 0);
  EXPECT_LT(overlapping, 15);
  // Each group has one plan row per rotation day.
  EXPECT_EQ(QueryRows(Db(), "select AgrNum, AgrTge, count(WplTag), min(WplTag), max(WplTag) from Hrs160Agr "
                            "join Hrs161Wpl on WplAgr = AgrNum group by AgrNum order by AgrTge, AgrNum"),
            (std::vector<std::string>{"GLZ|1|1|1|1", "BUERO|7|7|1|7", "TEILZEIT|7|7|1|7", "SCHICHT|14|14|1|14"}));
}

// The job's buffers: a longer text would be cut when the job reads it.
TEST_F(DemoTest, TextsFitTheJobsFieldsDatesAreMidnightsEmptyIsNull) {
  ASSERT_EQ(Demo("--persons 500 --seed 9 '" + Dir() + "'").status, 0);
  struct Text {
    const char* table;
    const char* column;
    int room;
  } const texts[] = {
      {"Hrs300Pnr", "PnrNum", 8}, {"Hrs300Pnr", "PnrNam", 50}, {"Hrs310Bsv", "BsvKal", 3},
      {"Hrs310Bsv", "BsvAkr", 5}, {"Hrs310Bsv", "BsvAbr", 5},  {"Hrs311Zuo", "ZuoAgr", 13},
      {"Hrs311Zuo", "ZuoAbt", 15}, {"Hrs311Zuo", "ZuoKst", 30}, {"Hrs311Zuo", "ZuoKrt", 4},
      {"Hrs311Zuo", "ZuoKtr", 6}, {"Hrs311Zuo", "ZuoVra", 13}, {"Hrs160Agr", "AgrNum", 13},
      {"Hrs161Wpl", "WplAzt", 5}, {"Hrs161Wpl", "WplVra", 13}, {"Hrs137Wch", "WchKal", 3},
      {"Hrs137Wch", "WchTtp", 3}, {"Hrs135Muw", "MuwKal", 3}, {"Hrs135Mu2", "Mu2Kal", 3},
      {"Hrs133Kal", "KalTtp", 3}, {"Hrs133Ka2", "Ka2Ttp", 3},
  };
  for (const Text& t : texts) {
    std::string from = std::string(t.table) + " where ";
    EXPECT_EQ(Count(from + "length(" + t.column + ") > " + std::to_string(t.room)), 0) << t.column;
    EXPECT_EQ(Count(from + t.column + " = '' or typeof(" + t.column + ") not in ('text', 'null')"), 0) << t.column;
  }
  struct Date {
    const char* table;
    const char* column;
  } const dates[] = {{"Hrs133Bak", "BakDtm"}, {"Hrs133Kal", "KalDtm"}, {"Hrs133Ka2", "Ka2Dtm"},
                     {"Hrs310Bsv", "BsvGvo"}, {"Hrs310Bsv", "BsvGbi"}, {"Hrs311Zuo", "ZuoGvo"},
                     {"Hrs311Zuo", "ZuoGbi"}, {"Hrs311Zuo", "ZuoSdt"}};
  for (const Date& d : dates) {
    std::string c = d.column;
    EXPECT_EQ(Count(std::string(d.table) + " where " + c + " is not null and (typeof(" + c + ") != 'real' or " +
                    c + " != julianday(date(" + c + ")))"),
              0)
        << c;
  }
}

TEST_F(DemoTest, BaseDayAttributesAndCalendarAnchors) {
  struct Case {
    const char* start;
    const char* bak;      // BakDtm|Jhr|Mon|Tag|Wch|Wtg|Jtg|Yow, Sunday 1
    const char* anchor;   // latest day of 203 (no Sundays) and its type
  } const cases[] = {
      {"20081230", "2008-12-29|2008|12|29|1|2|364|2009", "2008-12-29|AT"},
      {"20100101", "2009-12-31|2009|12|31|53|5|365|2009", "2009-12-31|AT"},
      {"20100104", "2010-01-03|2010|1|3|53|1|3|2009", "2010-01-02|SA"},
      {"20100105", "2010-01-04|2010|1|4|1|2|4|2010", "2010-01-04|AT"},
      {"20060102", "2006-01-01|2006|1|1|52|1|1|2005", "2005-12-31|SA"},
      {"20080301", "2008-02-29|2008|2|29|9|6|60|2008", "2008-02-29|AT"},
      {"20090101", "2008-12-31|2008|12|31|1|4|366|2009", "2008-12-31|AT"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(Dir());
    ASSERT_EQ(Demo(std::string("--persons 0 --start ") + c.start + " '" + Dir() + "'").status, 0) << c.start;
    EXPECT_EQ(One("select date(BakDtm), BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow from Hrs133Bak"),
              c.bak)
        << c.start;
    EXPECT_EQ(One("select date(Ka2Dtm), Ka2Ttp from Hrs133Ka2 where Ka2Num = '203'"), c.anchor) << c.start;
    EXPECT_EQ(One("select date(KalDtm) from Hrs133Kal where KalNum = '101'"), One("select date(BakDtm) from Hrs133Bak"));
  }
}

TEST_F(DemoTest, WeekdayNumbersFollowTheTerritory) {
  struct Case {
    const char* env;
    const char* office;     // WchTtp of 201 for WchTag 1..7
    const char* no_sunday;  // WchTag values of 203
    int base_wtg;           // 2010-01-03 is a Sunday
  } const cases[] = {
      {kPlainEnv, "SO AT AT AT AT AT SA", "234567", 1},
      {"env -u NLS_LANG NLS_TERRITORY=GERMANY", "AT AT AT AT AT SA SO", "123456", 7},
      {"env -u NLS_TERRITORY NLS_LANG=GERMAN_GERMANY.WE8MSWIN1252", "AT AT AT AT AT SA SO", "123456", 7},
      {"env NLS_TERRITORY=AMERICA NLS_LANG=GERMAN_GERMANY.WE8MSWIN1252", "SO AT AT AT AT AT SA", "234567", 1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(Dir());
    ASSERT_EQ(Demo("--persons 0 --start 20100104 '" + Dir() + "'", c.env).status, 0) << c.env;
    EXPECT_EQ(One("select group_concat(WchTtp, ' ') from (select WchTtp from Hrs137Wch where WchKal = '201' "
                  "order by WchTag)"),
              c.office)
        << c.env;
    EXPECT_EQ(One("select group_concat(WchTag, '') from (select WchTag from Hrs137Wch where WchKal = '203' "
                  "order by WchTag)"),
              c.no_sunday)
        << c.env;
    EXPECT_EQ(One("select BakWtg from Hrs133Bak"), std::to_string(c.base_wtg)) << c.env;
  }
}

TEST_F(DemoTest, SameSeedGivesTheSameContents) {
  auto dump = [&](const std::string& args) {
    std::filesystem::remove_all(Dir());
    EXPECT_EQ(Demo(args + " '" + Dir() + "'").status, 0) << args;
    std::vector<std::string> all;
    for (const char* t : kTables) {
      for (const std::string& row : QueryRows(Db(), std::string("select * from ") + t + " order by rowid")) {
        all.push_back(std::string(t) + ":" + row);
      }
    }
    return all;
  };
  std::vector<std::string> first = dump("--persons 80 --seed 42");
  EXPECT_EQ(dump("--persons 80 --seed 42"), first);
  EXPECT_NE(dump("--persons 80 --seed 43"), first);
  // Without --start the job extends from 1 January of this year.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(One("select BakJhr + 1, BakMon, BakTag from Hrs133Bak"), std::to_string(local.tm_year + 1900) + "|12|31");
}

TEST_F(DemoTest, ConfigurationIsReadBackByTheJobsReader) {
  const std::string net(51, 'n');
  struct Case {
    std::string args;
    std::string net;
  } const cases[] = {{"", "sqlite:."}, {"--net " + net, net}, {"--net 'sqlite:/var/lib/dayset'", "sqlite:/var/lib/dayset"}};
  for (const Case& c : cases) {
    std::filesystem::remove_all(Dir());
    ASSERT_EQ(Demo("--persons 0 " + c.args + " '" + Dir() + "'").status, 0) << c.args;
    std::string ini = Dir() + "/dayset.ini";
    struct Value {
      const char* name;
      std::string plain;
    } const values[] = {{"LOGIN", "dayset"}, {"PASS", "demo"}, {"NET8", c.net}, {"SCHEMA", "HRSYSTEMX"}};
    for (const Value& v : values) {
      Ini_Value_Get("", v.name, 0, ini.c_str());
      EXPECT_EQ(std::string(IniSatz.IniNam), v.name) << c.args;
      EXPECT_EQ(std::string(IniSatz.IniWrt), v.plain) << v.name;
      // Taken by its name alone: a section and a number of its own.
      EXPECT_NE(IniSatz.IniNum, 0) << v.name;
      EXPECT_NE(std::string(IniSatz.IniSek), "") << v.name;
    }
  }
}

TEST_F(DemoTest, RefusesBadArgumentsWithUsage) {
  const std::string d = " '" + Dir() + "'";
  const std::string cases[] = {
      "",
      "--persons",
      "--persons x" + d,
      "--persons -1" + d,
      "--persons 100000000" + d,
      "--seed 18446744073709551616" + d,
      "--start 20260230" + d,
      "--start 2026011" + d,
      "--start 18991231" + d,
      "--net ''" + d,
      "--net " + std::string(52, 'n') + d,
      "--net \"$(printf 'a\\tb')\"" + d,
      "--verbose" + d,
      d + " '" + Dir() + "2'",
  };
  for (const std::string& args : cases) {
    Outcome o = Demo(args);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_NE(o.err.find("usage: dayset-demo"), std::string::npos) << args;
    EXPECT_FALSE(std::filesystem::exists(Dir())) << args;
  }
  Outcome help = Demo("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: dayset-demo", 0), 0u);
}

TEST_F(DemoTest, RefusesADirectoryInUseButTakesAnEmptyOne) {
  std::filesystem::create_directory(Dir());
  testdb::WriteFile(Dir() + "/keep.txt", "mine");
  Outcome o = Demo("'" + Dir() + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("not empty"), std::string::npos) << o.err;
  EXPECT_EQ(ReadFile(Dir() + "/keep.txt"), "mine");
  EXPECT_FALSE(std::filesystem::exists(Db()));

  EXPECT_EQ(Demo("'" + Dir() + "/keep.txt'").status, 1);
  EXPECT_EQ(Demo("'" + Dir() + "/keep.txt/sub'").status, 1);
  EXPECT_EQ(ReadFile(Dir() + "/keep.txt"), "mine");

  std::filesystem::remove(Dir() + "/keep.txt");
  EXPECT_EQ(Demo("--persons 1 '" + Dir() + "'").status, 0);
  EXPECT_EQ(Count("Hrs300Pnr"), 1);
}

// --calendar-only on a schema file made by the DDL: the first base-calendar
// day with the demo's attributes, nothing else; a second call, a DIR of
// the demo's form, or demo options are refused, and a demo refused on such a
// directory names the command.
TEST_F(DemoTest, CalendarOnlyWritesTheFirstBaseDayAlone) {
  std::filesystem::create_directory(Dir());
  testdb::CreateSchemaFile(Dir());
  const std::string net = " --net 'sqlite:" + Dir() + "'";
  Outcome o = Demo("--calendar-only --start 20100104" + net);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("base calendar begins with 20100103"), std::string::npos) << o.out;
  EXPECT_EQ(One("select date(BakDtm), BakJhr, BakMon, BakTag, BakWch, BakWtg, BakJtg, BakYow from Hrs133Bak"),
            "2010-01-03|2010|1|3|53|1|3|2009");
  for (const char* t : kTables) EXPECT_EQ(Count(t), std::string(t) == "Hrs133Bak" ? 1 : 0) << t;
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/dayset.ini"));

  const std::vector<std::string> before = QueryRows(Db(), "select * from Hrs133Bak");
  const struct {
    std::string args;
    int status;
    const char* says;
  } refusals[] = {
      {"--calendar-only --start 20100104" + net, 1, "holds a day already"},
      {"--calendar-only --start 20100201" + net, 1, "holds a day already"},
      {"--calendar-only" + net, 2, "wants --start"},
      {"--calendar-only --start 20100104 --persons 3" + net, 2, "no --persons"},
      {"--calendar-only --start 20100104 '" + Dir() + "'", 2, "no DIR"},
      {"--calendar-only --start 20100104 --net 'sqlite:" + Dir() + "/none'", 1, "cannot connect"},
      {"'" + Dir() + "'", 1, "--calendar-only --start YYYYMMDD --net sqlite:"},
  };
  for (const auto& r : refusals) {
    o = Demo(r.args);
    EXPECT_EQ(o.status, r.status) << r.args;
    EXPECT_NE(o.err.find(r.says), std::string::npos) << r.args << "\n" << o.err;
  }
  EXPECT_EQ(QueryRows(Db(), "select * from Hrs133Bak"), before);
  EXPECT_EQ(Count("Hrs300Pnr"), 0);
}

// The README's first command: the job on a fresh demo extends the calendars
// and creates every employed person's days; a rerun adds nothing.
TEST_P(DemoRunTest, TheJobRunsOnTheDemoAndARerunAddsNothing) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string year = std::to_string(local.tm_year + 1900);
  const std::string base_day = std::to_string(local.tm_year + 1899) + "-12-31";
  const std::string base = db_->Date(base_day);
  char today_text[16];
  std::strftime(today_text, sizeof today_text, "%Y-%m-%d", &local);
  const std::string today = db_->Date(today_text);
  ASSERT_TRUE(Make("--persons 60 --seed 2"));
  std::string log = Job(year);

  EXPECT_EQ(One("select date(min(BakDtm)), date(max(BakDtm)), count(*) from Hrs133Bak"),
            base_day + "|" + year + "-12-31|" + std::to_string(testdb::Days(base_day, year + "-12-31").size()));
  // Calendar number, last day, and whether it has Sundays.
  std::map<std::string, std::pair<std::string, bool>> calendars;
  for (const std::string& row : db_->Rows("HRSYSTEM", "select KalNum, date(KalDtm) from Hrs133Kal union all "
                                                      "select Ka2Num, date(Ka2Dtm) from Hrs133Ka2")) {
    const std::string num = row.substr(0, row.find('|')), day = row.substr(row.find('|') + 1);
    auto& c = calendars[num];
    c.first = std::max(c.first, day);
    c.second = c.second || testdb::IsoWeekday(day) == 7;
  }
  std::vector<std::string> got;
  for (const auto& [num, c] : calendars) got.push_back(num + "|" + c.first + "|" + (c.second ? "1" : "0"));
  EXPECT_EQ(got, (std::vector<std::string>{"101|" + year + "-12-31|1", "102|" + year + "-12-31|1",
                                           "103|" + year + "-12-31|0", "201|" + year + "-12-31|1",
                                           "202|" + year + "-12-31|1", "203|" + year + "-12-31|0"}))
      << "calendar|last day|has Sundays";
  for (const char* num : {"101", "201"}) {
    EXPECT_EQ(Count(std::string("Hrs133Ka2 where Ka2Num = '") + num + "'") +
                  Count(std::string("Hrs133Kal where KalNum = '") + num + "'"),
              Count("Hrs133Bak"))
        << num;
  }

  // Each person's newest current employment: a day record and a time-group
  // record for every day of the person's calendar in the year, and one
  // carry-over row for each year since the employment began.
  const std::string current = "(BsvGbi is null or BsvGbi >= " + today + ")";
  const std::string employed = "(select BsvPnr, BsvKal, BsvGvo from Hrs310Bsv b where " + current +
                               " and BsvGvo = (select max(BsvGvo) from Hrs310Bsv c where c.BsvPnr = b.BsvPnr and " +
                               current + ")) e";
  long persons = Count(employed);
  EXPECT_GT(persons, 45);
  EXPECT_EQ(Count("(select distinct TagPnr from Hrs327Tag) t"), persons);
  EXPECT_EQ(Count(employed + " where (select count(*) from Hrs327Tag where TagPnr = BsvPnr) != (select count(*) "
                             "from Hrs133Ka2 where Ka2Num = BsvKal and Ka2Dtm > " + base + ")"),
            0);
  EXPECT_EQ(Count("Hrs329Ztg"), Count("Hrs327Tag"));
  EXPECT_EQ(One("select sum(" + year + " - " + db_->Year("BsvGvo") + " + 1) from " + employed),
            One("select count(*) from Hrs332Urv"));

  // Only the overlapping assignments leave days without a group; each such
  // day is logged twice (no single assignment, so no plan either).
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(log.substr(at, end - at));
  }
  ASSERT_GE(lines.size(), 2u) << log;
  EXPECT_EQ(lines[1], "Aktuelles Schema: HRSYSTEM ");
  long overlaps = 0;
  for (size_t i = 2; i < lines.size(); ++i) {
    if (lines[i].rfind("Error: Zuordnung ermitteln. -2112! ", 0) == 0) {
      ++overlaps;
    } else {
      EXPECT_EQ(lines[i].rfind("Error: Azt + Vra ermitteln. 1403! ", 0), 0u) << lines[i];
    }
  }
  EXPECT_GT(overlaps, 0);
  EXPECT_EQ(Count("Hrs329Ztg where ZtgAgr is null"), overlaps);
  EXPECT_EQ(Count("Hrs329Ztg where ZtgAzt is null"), overlaps);

  const std::vector<std::string> before = testdb::Dump(*db_, "HRSYSTEM", false);
  // The rerun revisits the end year and meets the same overlaps again, but
  // nothing else: no duplicate-key noise, no new failure.
  std::string again = Job(year);
  for (size_t at = 0, end; (end = again.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = again.substr(at, end - at);
    if (line.rfind("Datum: ", 0) == 0) continue;
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
  EXPECT_EQ(testdb::Dump(*db_, "HRSYSTEM", false), before);
}

// The PostgreSQL demo holds what the embedded one holds, row for row.
TEST_P(DemoPgTest, SameContentsOnBothBackends) {
  ASSERT_TRUE(Make("--persons 40 --seed 7 --start 20260301"));
  const std::string lite_dir = scratch_.file("lite");
  ASSERT_EQ(Demo("--persons 40 --seed 7 --start 20260301 '" + lite_dir + "'").status, 0);
  std::unique_ptr<testdb::Database> lite = testdb::Database::Sqlite(lite_dir, false);
  std::vector<std::string> want = testdb::Dump(*lite, "HRSYSTEM", true);
  EXPECT_GT(want.size(), 200u);
  EXPECT_EQ(testdb::Dump(*db_, "HRSYSTEM", true), want);
}

// Refusals on the server leave the database and DIR as they were.
TEST_P(DemoPgTest, RefusalsLeaveTheDatabaseAsItWas) {
  const std::string net = db_->Net(), admin = "--pg-admin '" + db_->Admin() + "' ";
  const std::string dir = " '" + Dir() + "'";
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"--net '" + net + "' --login nosuchrole " + admin, 1},  // the grant fails: nothing stays
      {"--net 'postgresql://u@" + net.substr(std::strlen("postgresql://")) + "' " + admin, 2},
      {"--net '" + net + "' --pg-admin '" + server_.admin + " password=guess'", 2},
      {"--net sqlite:. " + admin, 2},
      {"--net 'postgresql://127.0.0.1:1/" + db_->Name() + "'", 1},  // no server
  };
  for (const auto& c : cases) {
    Outcome o = Demo(c.args + dir);
    EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.err;
    EXPECT_FALSE(std::filesystem::exists(Dir())) << c.args;
    EXPECT_EQ(db_->Rows("HRSYSTEM", "select count(*) from pg_namespace where nspname = 'hrsystem'"),
              std::vector<std::string>{"0"})
        << c.args;
    EXPECT_EQ(o.err.find("guess"), std::string::npos) << o.err;
  }
  // A database that holds the schema already is not touched.
  ASSERT_TRUE(Make("--persons 3"));
  std::filesystem::remove_all(Dir());
  const std::vector<std::string> before = testdb::Dump(*db_, "HRSYSTEM", true);
  Outcome o = Demo("--persons 5 " + Target() + dir);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("schema hrsystem already"), std::string::npos) << o.err;
  EXPECT_EQ(testdb::Dump(*db_, "HRSYSTEM", true), before);
}

// What a run prints of rows per table: "TABLE ROWS" lines.
std::map<std::string, long> TableCounts(const std::string& text, const std::string& indent) {
  std::map<std::string, long> counts;
  std::istringstream in(text);
  std::string line;
  std::regex row(indent + "((?:HRSYSTEM\\.)?Hrs[0-9]{3}[A-Za-z0-9]{3}) +([0-9]+)");
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, row)) counts[m[1]] = std::stol(m[2]);
  }
  return counts;
}

// A dry run changes nothing in the database, writes the log a real run
// writes, and reports what the following real run adds; -v shows the same
// rows with the persons and the log lines.
TEST_P(DemoRunTest, DryRunChangesNothingAndForetellsTheRealRun) {
  if (!Make("--persons 40 --start 20260101")) return;
  const bool embedded = GetParam() == testdb::Backend::kSqlite;
  struct Run {
    int status;
    std::string out, err, log;
  };
  auto run = [&](const std::string& opts) {
    Run r;
    r.status = testdb::RunCommand(std::string(kPlainEnv) + " sh -c 'cd \"" + Dir() + "\" && \"" +
                                      testdb::BinaryPath("dayset") + "\" " + opts + " 0 2027 dayset.ini 0 0' 2>'" +
                                      scratch_.file("stderr.txt") + "'",
                                  &r.out);
    r.err = ReadFile(scratch_.file("stderr.txt"));
    r.log = ReadFile(Dir() + "/DAYSET.LOG");
    return r;
  };
  const std::vector<std::string> tables = testdb::Dump(*db_, "HRSYSTEM", true);
  const std::string bytes = embedded ? ReadFile(Db()) : "";

  Run dry = run("-n");
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(dry.err, "");
  EXPECT_EQ(testdb::Dump(*db_, "HRSYSTEM", true), tables);
  if (embedded) {
    EXPECT_EQ(ReadFile(Db()), bytes);  // not a byte of the file changed
  }
  EXPECT_EQ(dry.out.rfind("dayset: dry run, nothing was changed", 0), 0u) << dry.out;
  std::map<std::string, long> foretold = TableCounts(dry.out, "");
  ASSERT_EQ(foretold.size(), 6u) << dry.out;
  for (const auto& [table, rows] : foretold) EXPECT_GT(rows, 0) << table;

  auto rows_of = [&](const std::string& table) { return Count(table.substr(table.find('.') + 1)); };
  std::map<std::string, long> had;
  for (const auto& [table, rows] : foretold) had[table] = rows_of(table);
  Run real = run("-v");
  EXPECT_EQ(real.status, 0) << real.err;
  EXPECT_EQ(real.out, "");
  EXPECT_EQ(real.log, dry.log);
  for (const auto& [table, rows] : foretold) EXPECT_EQ(rows_of(table) - had[table], rows) << table;

  EXPECT_EQ(real.err.rfind("dayset: summary\n  rows added:\n", 0), 0u) << real.err;
  EXPECT_EQ(TableCounts(real.err, "    "), foretold) << real.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(real.err, m, std::regex("\n  persons done: ([0-9]+)\n"))) << real.err;
  EXPECT_EQ(std::stol(m[1]), Count("(select distinct TagPnr from Hrs327Tag) p"));
  EXPECT_NE(real.err.find("\n  log lines: " + std::to_string(std::count(real.log.begin(), real.log.end(), '\n')) +
                          "\n            1  Datum\n            1  Aktuelles Schema\n"),
            std::string::npos)
      << real.err;
  EXPECT_TRUE(std::regex_search(real.err, std::regex("\n  elapsed: [0-9]+:[0-5][0-9]:[0-5][0-9]\n$"))) << real.err;

  // Run again: nothing more to add, and the dry run says so.
  dry = run("-n -v");
  EXPECT_EQ(dry.status, 0);
  for (const auto& [table, rows] : TableCounts(dry.out, "")) EXPECT_EQ(rows, 0) << table;
  EXPECT_EQ(dry.err.rfind("dayset: summary (dry run: everything rolled back)\n", 0), 0u) << dry.err;
}

INSTANTIATE_TEST_SUITE_P(, DemoRunTest, testdb::EveryBackend(), testdb::BackendName);
INSTANTIATE_TEST_SUITE_P(, DemoPgTest, testdb::OnlyPostgres(), testdb::BackendName);

}  // namespace

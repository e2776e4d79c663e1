// The Oracle dialect of the ODBC backend, without a server: the texts it
// sends, the settings of its session and what Oracle's error numbers mean
// to the job.
#include "db/odbc_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "db/backend.h"
#include "db/oradate.h"
#include "db/sqlparse.h"

namespace {

using sqlrt::OraError;

// The job's statements go out as Oracle SQL with a '?' per input
// appearance, in the order the host variables are given.
TEST(OdbcOracle, TextIsTheParsedStatement) {
  struct Case {
    const char* text;
    const char* sent;
  };
  const Case cases[] = {
      // A select-into whose one input appears three times (src/person/ztg.cpp).
      {"select (MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra "
       "into :b0:b1,:b2:b3,:b4:b5,:b6:b7,:b8:b9,:b10:b11,:b12:b13  from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr "
       "where (((((ZuoPnr=:b14 and ZuoPnr=TagPnr) and ZuoGvo<=TO_DATE(:b15,'yyyymmdd')) and "
       "(ZuoGbi>=TO_DATE(:b15,'yyyymmdd') or ZuoGbi is null )) and TagTag=TO_DATE(:b15,'yyyymmdd')) and "
       "AgrNum=ZuoAgr)",
       "select (MOD((((TAGTAG-ZUOSDT)+ZUOSTG)-1),AgrTge)+1) ,ZuoAgr ,ZuoAbt ,ZuoKst ,ZuoKrt ,ZuoKtr ,ZuoVra "
       " from Hrs327Tag ,Hrs311Zuo ,Hrs160Agr "
       "where (((((ZuoPnr=? and ZuoPnr=TagPnr) and ZuoGvo<=TO_DATE(?,'yyyymmdd')) and "
       "(ZuoGbi>=TO_DATE(?,'yyyymmdd') or ZuoGbi is null )) and TagTag=TO_DATE(?,'yyyymmdd')) and "
       "AgrNum=ZuoAgr)"},
      // An insert with sysdate, the server's own (src/person/tag.cpp).
      {"insert into Hrs327Tag (TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
       "(:b0,TO_Date(:b1,'yyyymmdd'),TO_DATE(:b2,'yyyymmdd'),TO_DATE(:b3,'yyyymmddHH24MISS'),TO_DATE(:b4,"
       "'yyyymmdd'),TO_DATE(:b5,'yyyymmddHH24MISS'),sysdate)",
       "insert into Hrs327Tag (TagPnr,TagTag,TagVon,TagUhr,TagBis,TagEnd,TagDat) values "
       "(?,TO_Date(?,'yyyymmdd'),TO_DATE(?,'yyyymmdd'),TO_DATE(?,'yyyymmddHH24MISS'),TO_DATE(?,"
       "'yyyymmdd'),TO_DATE(?,'yyyymmddHH24MISS'),sysdate)"},
      // A select-into that relies on the default date format (src/person/pnr.cpp).
      {"select TO_CHAR(NVL(max(TagTag),TO_DATE(sysdate)),'yyyymmdd') into :b0:b1  from Hrs327Tag where "
       "TagPnr=:b2",
       "select TO_CHAR(NVL(max(TagTag),TO_DATE(sysdate)),'yyyymmdd')  from Hrs327Tag where TagPnr=?"},
      // A cursor across the system schema (src/calendar/kal.cpp).
      {"select TO_CHAR(BakDtm,'yyyymmdd') ,WchTtp ,BakDtm  from HRSYSTEM.Hrs133Bak ,HRSYSTEM.Hrs135Muw ,Hrs137Wch "
       "where ((((((WchKal=:b0 and WchKal=MuwKal) and WchTag=BakWtg) and BakDtm>TO_DATE(:b1,'yyyymmdd')) and "
       "BakDtm<=TO_DATE(:b2,'yyyymmdd')) and MuwSta<4) and WchSta<4) order by BakDtm",
       "select TO_CHAR(BakDtm,'yyyymmdd') ,WchTtp ,BakDtm  from HRSYSTEM.Hrs133Bak ,HRSYSTEM.Hrs135Muw ,Hrs137Wch "
       "where ((((((WchKal=? and WchKal=MuwKal) and WchTag=BakWtg) and BakDtm>TO_DATE(?,'yyyymmdd')) and "
       "BakDtm<=TO_DATE(?,'yyyymmdd')) and MuwSta<4) and WchSta<4) order by BakDtm"},
  };
  for (const Case& c : cases) {
    SqlParsed p;
    ASSERT_EQ(Sql_Parse(c.text, &p), 0) << c.text;
    const std::string sent = sqlrt::Ora_Text(p);
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '?'), p.inputs) << c.text;
  }
}

std::string Territory_Statement(const std::vector<std::string>& statements) {
  for (const std::string& s : statements) {
    if (s.find("NLS_TERRITORY") != std::string::npos) return s;
  }
  return "";
}

TEST(OdbcOracle, SessionSettings) {
  SqlOptions o;
  o.territory = "GERMANY";
  const std::vector<std::string> st = sqlrt::Ora_Session_Statements(o);
  // The territory comes first: setting it resets the date format and the
  // decimal point, which must be the job's whatever the territory.
  ASSERT_FALSE(st.empty());
  EXPECT_EQ(st[0], "ALTER SESSION SET NLS_TERRITORY = 'GERMANY'");
  for (const char* want : {"ALTER SESSION SET NLS_DATE_FORMAT = 'DD-MON-RR'",
                           "ALTER SESSION SET NLS_DATE_LANGUAGE = 'AMERICAN'",
                           "ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.,'", "ALTER SESSION SET NLS_SORT = 'BINARY'",
                           "ALTER SESSION SET NLS_COMP = 'BINARY'"}) {
    EXPECT_NE(std::find(st.begin() + 1, st.end(), want), st.end()) << want;
  }

  o.territory = "HONG KONG";
  EXPECT_EQ(Territory_Statement(sqlrt::Ora_Session_Statements(o)), "ALTER SESSION SET NLS_TERRITORY = 'HONG KONG'");
  o.territory = "";
  EXPECT_EQ(Territory_Statement(sqlrt::Ora_Session_Statements(o)), "ALTER SESSION SET NLS_TERRITORY = 'AMERICA'");

  // A territory from the environment that is no name never reaches a
  // statement; the session numbers the weekdays as the other backends do
  // for it (Monday first for anything but the Sunday territories).
  for (const char* hostile : {"GERMANY' NLS_DATE_FORMAT = 'YYYY", "AMERICA'--", "GER\nMANY", "germany",
                              " AMERICA", "AMERICA ", "-", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"}) {
    o.territory = hostile;
    EXPECT_FALSE(sqlrt::Ora_Territory_Valid(hostile)) << hostile;
    const std::string s = Territory_Statement(sqlrt::Ora_Session_Statements(o));
    EXPECT_EQ(s, Ora_Territory_Sunday_First(hostile) ? "ALTER SESSION SET NLS_TERRITORY = 'AMERICA'"
                                                     : "ALTER SESSION SET NLS_TERRITORY = 'GERMANY'")
        << hostile;
  }
}

TEST(OdbcOracle, SchemaSwitch) {
  EXPECT_EQ(sqlrt::Ora_Schema_Switch("HRCLIENT"), "ALTER SESSION SET CURRENT_SCHEMA = HRCLIENT");
  EXPECT_EQ(sqlrt::Ora_Schema_Switch("HR_2$#"), "ALTER SESSION SET CURRENT_SCHEMA = HR_2$#");
  for (const char* bad : {"", "hrclient", "1HR", "HR CLIENT", "HR;DROP", "HR\"X", "_HR", "HR-X"}) {
    EXPECT_EQ(sqlrt::Ora_Schema_Switch(bad), "") << bad;
  }
  EXPECT_EQ(sqlrt::Ora_Schema_Switch(std::string(129, 'H')), "");
}

struct ErrorCase {
  long native;
  const char* state;
  int code;
  bool broken;
};

void Expect_Errors(const std::vector<ErrorCase>& cases) {
  for (const ErrorCase& c : cases) {
    const OraError e = sqlrt::Ora_Error_Of(c.native, c.state);
    EXPECT_EQ(e.code, c.code) << c.native << " " << (c.state ? c.state : "null");
    EXPECT_EQ(e.broken != nullptr, c.broken) << c.native << " " << (c.state ? c.state : "null");
  }
}

// What the phases test and log: Oracle's numbers as the job's codes, and no
// failure of a statement alone breaks the session.
TEST(OdbcOracle, StatementFailuresKeepTheSession) {
  Expect_Errors({
      {1, "23000", kSqlDupKey, false},
      {942, "42S02", kSqlNoTable, false},
      {904, "42S22", kSqlNoColumn, false},
      {1400, "23000", kSqlNotNull, false},
      {1407, "HY000", kSqlNotNull, false},
      {54, "HY000", kSqlLocked, false},
      {30006, "HY000", kSqlLocked, false},
      {60, "40001", kSqlDeadlock, false},
      {1403, "02000", kSqlNoRow, false},
      {1722, "22018", kSqlBadNumber, false},
      {1839, "HY000", kOraBadDay, false},
      {1858, "HY000", kOraDateMismatch, false},
      {2091, "40000", kSqlTxnRolledBack, false},
      {1435, "HY000", kSqlNoSchema, false},
      {12154, "HY000", kSqlUnknownService, false},
      {1017, "28000", kSqlLoginRefused, false},
      {20, "HY000", kSqlTooManySessions, false},
      // Any other ORA number is the job's code as it stands.
      {12899, "HY000", -12899, false},
      {65535, nullptr, -65535, false},
  });
}

TEST(OdbcOracle, ConditionsThatBreakTheSession) {
  Expect_Errors({
      {3113, "08S01", -3113, true},
      {3114, "08003", -3114, true},
      {3135, "HY000", -3135, true},
      {28, "HY000", -28, true},
      {16000, "HY000", -16000, true},
      {1653, "HY000", -1653, true},
      {1654, "HY000", -1654, true},
      {4031, "HY000", -4031, true},
      {1089, "HY000", -1089, true},
      {12609, "HY000", -12609, true},
      // ORA-01013: the stop cancelled the call, or the driver's timeout did.
      {1013, "HY008", kSqlCancelled, true},
      {1013, "HYT00", -12609, true},
  });
  EXPECT_STREQ(sqlrt::Ora_Error_Of(1013, "HY008").broken, sqlrt::kSqlStoppedWhat);
  // The texts are the log's: short, plain ASCII.
  for (long n : {3113L, 16000L, 1653L, 1536L, 257L, 4030L, 1114L, 1578L, 1089L, 1034L, 12541L, 12609L}) {
    const char* text = sqlrt::Ora_Error_Of(n, "HY000").broken;
    ASSERT_NE(text, nullptr) << n;
    EXPECT_LT(std::string(text).size(), 64u) << n;
    for (const char* p = text; *p != '\0'; ++p) EXPECT_TRUE(*p >= ' ' && *p <= '~') << n << ": " << text;
  }
}

// Without an ORA number the driver manager's SQLSTATE decides; nothing at
// all is a call nobody could report on.
TEST(OdbcOracle, FailuresWithoutAnOraNumber) {
  Expect_Errors({
      {0, "IM002", kSqlUnknownService, false},
      {0, "IM003", kSqlUnknownService, false},
      {0, "08001", kSqlNoListener, true},
      {0, "08S01", -3113, true},
      {0, "28000", kSqlLoginRefused, false},
      {0, "HYT00", -12609, true},
      {0, "HY000", -20099, false},
      {0, "07002", -20007, false},
      {0, nullptr, -3113, true},
      {0, "", -3113, true},
      {0, "08S0", -3113, true},
      {-5, "IM002", kSqlUnknownService, false},
      {100000, "HY000", -20099, false},
  });
  // A connect's timeout is the connect's own code.
  EXPECT_EQ(sqlrt::Ora_Connect_Error_Of(0, "HYT00").code, kSqlConnectTimeout);
  EXPECT_EQ(sqlrt::Ora_Connect_Error_Of(12170, "HY000").code, kSqlConnectTimeout);
  EXPECT_EQ(sqlrt::Ora_Connect_Error_Of(1017, "28000").code, kSqlLoginRefused);
}

// What a DDL file declares, names in lower case: per table its columns in
// order (name, kind of type, NOT NULL), its key, and the indexes.
struct Ddl {
  std::map<std::string, std::vector<std::string>> tables;
  std::map<std::string, std::string> keys;
  std::vector<std::string> indexes;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Squeeze(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The kind of a column type in any of the three dialects.
std::string Kind(const std::string& def) {
  if (def.find("timestamp") != std::string::npos || def.find(" date") != std::string::npos) return "date";
  if (def.find("int") != std::string::npos || def.find("number") != std::string::npos) return "number";
  if (def.find("text") != std::string::npos || def.find("varchar") != std::string::npos) return "text";
  return "?" + def;
}

Ddl Read_Ddl(const char* file) {
  std::ifstream in(std::string(DAYSET_SOURCE_DIR) + "/" + file);
  EXPECT_TRUE(in.good()) << file;
  std::string text, line;
  while (std::getline(in, line)) text += line.substr(0, line.find("--")) + "\n";
  Ddl d;
  std::stringstream statements(Lower(text));
  std::string st;
  while (std::getline(statements, st, ';')) {
    st = Squeeze(st);
    if (st.rfind("create index ", 0) == 0) {
      // "create index NAME on TABLE (COLS)"
      d.indexes.push_back(st.substr(st.find(" on ") + 4));
      continue;
    }
    if (st.rfind("create table ", 0) != 0) continue;
    const size_t open = st.find('(');
    const std::string table = Squeeze(st.substr(13, open - 13));
    // The column list ends at its own ')': storage options may follow it.
    size_t close = open;
    for (int level = 0; close < st.size(); ++close) {
      level += st[close] == '(' ? 1 : st[close] == ')' ? -1 : 0;
      if (level == 0) break;
    }
    const std::string body = st.substr(open + 1, close - open - 1);
    std::vector<std::string> items;
    int depth = 0;
    std::string item;
    for (const char c : body) {
      if (c == ',' && depth == 0) {
        items.push_back(Squeeze(item));
        item.clear();
        continue;
      }
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      item += c;
    }
    items.push_back(Squeeze(item));
    for (const std::string& it : items) {
      if (it.rfind("primary key", 0) == 0) {
        d.keys[table] = Squeeze(it.substr(11));
        continue;
      }
      const std::string name = it.substr(0, it.find(' '));
      const std::string def = it.substr(name.size());
      if (def.find("primary key") != std::string::npos) d.keys[table] = "(" + name + ")";
      d.tables[table].push_back(name + " " + Kind(def) +
                                (def.find("not null") != std::string::npos ? " not null" : ""));
    }
  }
  std::sort(d.indexes.begin(), d.indexes.end());
  return d;
}

// The Oracle DDL cannot be run here: what it declares must be what the
// other two declare, types aside.
TEST(OracleSchema, SameTablesAsTheOtherBackends) {
  const Ddl sqlite = Read_Ddl("db/schema.sql");
  ASSERT_EQ(sqlite.tables.size(), 14u);
  EXPECT_EQ(sqlite.tables.at("hrs327tag").size(), 7u);
  EXPECT_EQ(sqlite.tables.at("hrs327tag")[0], "tagpnr text not null");
  EXPECT_EQ(sqlite.tables.at("hrs327tag")[1], "tagtag date not null");
  EXPECT_EQ(sqlite.keys.at("hrs327tag"), "(tagpnr, tagtag)");
  for (const char* other : {"db/schema-postgresql.sql", "db/schema-oracle.sql"}) {
    const Ddl d = Read_Ddl(other);
    EXPECT_EQ(d.tables, sqlite.tables) << other;
    EXPECT_EQ(d.keys, sqlite.keys) << other;
    EXPECT_EQ(d.indexes, sqlite.indexes) << other;
  }
}

}  // namespace

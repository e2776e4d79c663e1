// Parsing of the statement texts: placeholders, indicators, into lists and
// string literals.
#include "db/sqlparse.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
  const char* text;
  const char* sql;
  int outputs;
  int inputs;
};

TEST(SqlParse, Placeholders) {
  const ParseCase cases[] = {
      {"select a into :b0:b1  from T where x=:b2", "select a  from T where x=?", 1, 1},
      // An into list's names may come back in the where clause as inputs.
      {"select TagPnr ,TO_CHAR(TagTag,'yyyymmdd') into :b0:b1,:b2:b3  from Hrs327Tag where (TagPnr=:b0 and "
       "TagTag=TO_DATE(:b2,'yyyymmdd'))",
       "select TagPnr ,TO_CHAR(TagTag,'yyyymmdd')  from Hrs327Tag where (TagPnr=? and TagTag=TO_DATE(?,'yyyymmdd'))",
       2, 2},
      // A repeated placeholder counts once per appearance.
      {"select x into :b0 from T where a=:b15 and b=:b15 or c=:b15", "select x  from T where a=? and b=? or c=?", 1, 3},
      // Indicators of inputs vanish with their variable.
      {"insert into T (a,b,c) values (:b0,:b1:b2,sysdate)", "insert into T (a,b,c) values (?,?,sysdate)", 0, 2},
      {"update T  set a=:b0:b1,b=:b2 where c=:b3", "update T  set a=?,b=? where c=?", 0, 3},
      // Literals are left alone, with what looks like a placeholder or into.
      {"select ':b0 into :b1' into :b2 from T where a='it''s :b3'", "select ':b0 into :b1'  from T where a='it''s :b3'",
       1, 0},
      // A cursor's select has no into list.
      {"select distinct MuwKal  from HRSYSTEM.Hrs135Muw ,Hrs137Wch where MuwSta<4",
       "select distinct MuwKal  from HRSYSTEM.Hrs135Muw ,Hrs137Wch where MuwSta<4", 0, 0},
      // "into" of an insert is no into list.
      {"insert into Hrs332Urv (UrvPnr,UrvJhr) values (:b0,:b1)", "insert into Hrs332Urv (UrvPnr,UrvJhr) values (?,?)",
       0, 2},
      {"", "", 0, 0},
  };
  for (const ParseCase& c : cases) {
    SqlParsed p;
    ASSERT_EQ(Sql_Parse(c.text, &p), 0) << c.text;
    EXPECT_EQ(p.sql, c.sql) << c.text;
    EXPECT_EQ(p.outputs, c.outputs) << c.text;
    EXPECT_EQ(p.inputs, c.inputs) << c.text;
  }
}

TEST(SqlParse, Kinds) {
  SqlParsed p;
  ASSERT_EQ(Sql_Parse("SELECT 1 from dual", &p), 0);
  EXPECT_TRUE(p.select);
  EXPECT_FALSE(p.write);
  for (const char* w : {"insert into T values (1)", "Update T set a=1", "delete from T"}) {
    ASSERT_EQ(Sql_Parse(w, &p), 0) << w;
    EXPECT_TRUE(p.write) << w;
    EXPECT_FALSE(p.select) << w;
  }
}

TEST(SqlParse, Malformed) {
  const struct {
    const char* text;
    int code;
  } cases[] = {
      {"select a from T where b='open", kSqlParseOpenQuote},
      {"select a into b from T", kSqlBindMismatch},
      {"select a into :b0, from T", kSqlBindMismatch},
      {"select a from T where b=: b0", kSqlParseBadHostVar},
      {"select a from T where b=:1", kSqlParseBadHostVar},
  };
  for (const auto& c : cases) {
    SqlParsed p;
    EXPECT_EQ(Sql_Parse(c.text, &p), c.code) << c.text;
  }
}

}  // namespace

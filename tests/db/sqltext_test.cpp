// The suites' own SQL as the tests' connection sends it to an Oracle site:
// a rewrite that went wrong here would fail a site's conformance run for
// the tests' sake, not the job's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqltext.h"

namespace {

using Texts = std::vector<std::string>;

TEST(OracleTextTest, StatementsAreSplitAndRewrittenOutsideQuotesAndComments) {
  // Semicolons and words in literals, quoted names and comments are text.
  EXPECT_EQ(testdb::SplitStatements("-- first; a comment\ncreate table X (a int);\n /* b; */ insert into X "
                                    "values ('a;b', 'it''s;');  ;"),
            (Texts{"create table X (a int)", "insert into X values ('a;b', 'it''s;')"}));

  // Several rows of one VALUES: one insert per row, the head kept.
  EXPECT_EQ(testdb::OracleStatements("insert into T (A, B) values ('x),(y', 1), ('z', f(2, 3)),('w', 4)"),
            (Texts{"insert into T (A, B) values ('x),(y', 1)", "insert into T (A, B) values ('z', f(2, 3))",
                   "insert into T (A, B) values ('w', 4)"}));

  // A select without FROM gets DUAL, before its WHERE or at its end; the
  // selects with a FROM of their own stay as they are.
  EXPECT_EQ(testdb::OracleStatements("insert into A select 'G0', 1 where not exists (select 1 from A where N = 'G0')"),
            (Texts{"insert into A select 'G0', 1 FROM DUAL  where not exists (select 1 from A where N = 'G0')"}));
  EXPECT_EQ(testdb::OracleStatements("select (select max(date(T)) from X), (select 2 from Y)"),
            (Texts{"select (select max(TO_CHAR(T, 'YYYY-MM-DD')) from X), (select 2 from Y) FROM DUAL "}));

  // date( as a word only, never in a literal or as part of another name.
  EXPECT_EQ(testdb::OracleStatements("select to_date('date(x)', 'yyyy'), Date (A), update_date(B) from X"),
            (Texts{"select to_date('date(x)', 'yyyy'), TO_CHAR(A, 'YYYY-MM-DD'), update_date(B) from X"}));
}

TEST(OracleTextTest, WhatOracleRefusesEvenRewrittenIsNamed) {
  EXPECT_EQ(testdb::OracleProblem("insert into X values ('a', '', 1)"), "an empty text literal (NULL on Oracle)");
  EXPECT_EQ(testdb::OracleProblem("insert into X values ('it''s', 'x')"), "");
  EXPECT_EQ(testdb::OracleProblem("insert into X select a from (values (1), (2)) as v(a)"), "a VALUES list as a table");
  EXPECT_EQ(testdb::OracleProblem("select a::text from X"), "a PostgreSQL cast (::)");
  EXPECT_EQ(testdb::OracleProblem("select 'limit' from X where B = 'true'"), "");
}

}  // namespace

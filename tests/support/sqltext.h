// Test support: the tests' own SQL as an Oracle database takes it. The
// suites write their set-up and their read-backs once for every backend;
// what Oracle lacks of it is either rewritten here (date(x), several
// statements in one text) or found here, so that a test that needs more is
// told apart before it runs at a site (DAYSET_TEST_AS_ORACLE).
#pragma once

#include <string>
#include <vector>

namespace testdb {

// The statements of a text, split at the semicolons outside quotes and
// comments, each without its semicolon; blank ones left out.
std::vector<std::string> SplitStatements(const std::string& sql);

// The statements of a text in Oracle's SQL: date(x), the date of x as
// yyyy-mm-dd on the other backends, becomes TO_CHAR(x, 'YYYY-MM-DD'); a
// select without FROM selects FROM DUAL; an insert of several VALUES rows
// becomes one insert per row.
std::vector<std::string> OracleStatements(const std::string& sql);

// What of the tests' own SQL Oracle would refuse even so (a VALUES list as
// a table, LIMIT, a PostgreSQL cast, an empty text, which Oracle stores as
// NULL, ...), or "" when nothing known is.
std::string OracleProblem(const std::string& sql);

// Fails the test when it plays Oracle (PlayingOracle) and Oracle would
// refuse its SQL even rewritten (OracleStatements, OracleProblem).
void CheckOracle(const std::string& sql);

// Whether the tests play an Oracle database on every backend
// (DAYSET_TEST_AS_ORACLE=1): its SQL checked by OracleProblem, sysdate
// taken as the server's clock.
bool PlayingOracle();

}  // namespace testdb

// Test support: a site's database that the suites reach through ODBC alone
// (tools/odbc-conformance.sh), their own connection included: the same data
// source as the job's, as a user of its own that may make and drop the
// job's tables. The dialect of that connection is the driver's
// (SQL_DBMS_NAME): PostgreSQL's or Oracle's.
#pragma once

#include <memory>
#include <string>

#include "testdb.h"

namespace testdb {

// The site's data source and the two users, from the environment:
//   DAYSET_TEST_ODBC_SITE_DSN                               the data source
//   DAYSET_TEST_ODBC_OWN_LOGIN, DAYSET_TEST_ODBC_OWN_PASSWORD   the tests' own
//   DAYSET_TEST_PG_LOGIN, DAYSET_TEST_PG_PASSWORD           the job's
//   DAYSET_TEST_ORACLE_FIXED_DATE=1   Oracle: the tests may set FIXED_DATE
struct OdbcSite {
  std::string dsn, own_login, own_password, job_login, job_password;
  bool fixed_date = false;

  // False when DAYSET_TEST_ODBC_OWN_LOGIN is not set: the tests' own
  // connection is then libpq's (DAYSET_TEST_PG).
  static bool FromEnv(OdbcSite* out);
};

// The job's schemas (HRSYSTEM, HRCLIENT, HRREF) made anew in the site's
// database, HRSYSTEM at once when `with_hrsystem`, all of them dropped at
// destruction.
std::unique_ptr<Database> OdbcSiteDatabase(const OdbcSite& site, bool with_hrsystem);

}  // namespace testdb

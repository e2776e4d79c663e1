// dayset-demo's administrator connection to PostgreSQL, through libpq: what
// the job's runtime does not do. It makes schema hrsystem from the DDL and
// grants the job's role what the job needs, and drops the schema again when
// the rows cannot be written. Called by tools/demo/write.cpp.
#pragma once

#include <string>

struct pg_conn;  // libpq's PGconn

class DemoPgAdmin {
 public:
  // Connects with a libpq connection text; throws DemoFailure.
  explicit DemoPgAdmin(const std::string& conninfo);
  ~DemoPgAdmin();
  DemoPgAdmin(const DemoPgAdmin&) = delete;
  DemoPgAdmin& operator=(const DemoPgAdmin&) = delete;

  // Schema hrsystem from `ddl` with USAGE on it and SELECT, INSERT and
  // UPDATE on its tables for role `login`, committed. Throws DemoFailure,
  // the database then as it was (also when it holds a schema hrsystem
  // already).
  void Schema_Make(const char* ddl, const std::string& login);
  // Drops schema hrsystem with everything in it; false (with libpq's
  // message in *why) when that fails.
  bool Schema_Drop(std::string* why);

 private:
  // Runs SQL without values; `what` names it in the failure.
  void Exec(const char* sql, const char* what);
  bool Exists(const char* sql);
  std::string Identifier(const std::string& name);
  // libpq's last message, on one line.
  std::string Message() const;

  pg_conn* conn_ = nullptr;
};

#include "demo/pg_admin.h"

#include <libpq-fe.h>

#include "demo/write.h"

DemoPgAdmin::DemoPgAdmin(const std::string& conninfo) {
  // The session's settings are made explicit, as the job's own session
  // makes them, so that the server's defaults do not matter. libpq's
  // messages name the server and the database, never a password.
  const char* keys[] = {"dbname", "client_encoding", "options", "fallback_application_name", nullptr};
  const char* values[] = {conninfo.c_str(), "UTF8", "-c DateStyle=ISO,YMD -c TimeZone=UTC -c client_min_messages=warning",
                          "dayset-demo", nullptr};
  conn_ = PQconnectdbParams(keys, values, 1);
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = Message();
    PQfinish(conn_);
    conn_ = nullptr;
    throw DemoFailure{"cannot connect to the database: " + why};
  }
}

DemoPgAdmin::~DemoPgAdmin() { PQfinish(conn_); }

void DemoPgAdmin::Schema_Make(const char* ddl, const std::string& login) {
  // One transaction: the destructor's disconnect rolls back what a failure
  // leaves.
  Exec("begin", "begin");
  if (Exists("select 1 from pg_namespace where nspname = 'hrsystem'")) {
    // Made by the DDL as the README sets a database up: that wants its first
    // base-calendar day, not a demo.
    throw DemoFailure{
        "the database holds a schema hrsystem already; give one without it (a schema made with "
        "db/schema-postgresql.sql gets its first base-calendar day from: dayset-demo --calendar-only --start "
        "YYYYMMDD --net NAME)"};
  }
  Exec("create schema hrsystem; set local search_path = hrsystem", "schema");
  Exec(ddl, "DDL");
  const std::string role = Identifier(login);
  Exec(("grant usage on schema hrsystem to " + role + "; grant select, insert, update on all tables in "
        "schema hrsystem to " + role).c_str(),
       "grants of the job's role");
  Exec("commit", "commit");
}

bool DemoPgAdmin::Schema_Drop(std::string* why) {
  PGresult* r = PQexec(conn_, "drop schema hrsystem cascade");
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  if (!ok) *why = Message();
  return ok;
}

void DemoPgAdmin::Exec(const char* sql, const char* what) {
  PGresult* r = PQexec(conn_, sql);
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  PQclear(r);
  if (!ok) throw DemoFailure{std::string("cannot write the database (") + what + "): " + Message()};
}

bool DemoPgAdmin::Exists(const char* sql) {
  PGresult* r = PQexec(conn_, sql);
  if (PQresultStatus(r) != PGRES_TUPLES_OK) {
    PQclear(r);
    throw DemoFailure{"cannot read the database: " + Message()};
  }
  const bool found = PQntuples(r) > 0;
  PQclear(r);
  return found;
}

std::string DemoPgAdmin::Identifier(const std::string& name) {
  char* q = PQescapeIdentifier(conn_, name.c_str(), name.size());
  if (q == nullptr) throw DemoFailure{"cannot quote " + name + ": " + Message()};
  std::string out = q;
  PQfreemem(q);
  return out;
}

std::string DemoPgAdmin::Message() const {
  std::string m = PQerrorMessage(conn_);
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  for (char& c : m) {
    if (c == '\n') c = ' ';
  }
  return m;
}

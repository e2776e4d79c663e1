// dayset-demo's database: the schema made from the DDL, then the generated
// rows written through the job's runtime (db/sqlrt.h), so that they pass
// the same backend code as the job's own rows. Called by
// tools/dayset_demo.cpp.
#pragma once

#include <string>

#include "demo/generate.h"
#include "demo/options.h"

// A failure that ends the command; the message names the file and the cause,
// never a configuration value.
struct DemoFailure {
  std::string message;
};

// The embedded database's file in DIR.
constexpr const char* kDemoDbName = "HRSYSTEM.db";

// DIR/HRSYSTEM.db made from db/schema.sql, with the rows of `plan`. Throws
// DemoFailure; the files it leaves then are the caller's to remove.
DemoCounts Demo_Sqlite_Write(const std::string& dir, const DemoPlan& plan);

// Schema hrsystem in the database of s.net, made from
// db/schema-postgresql.sql by the administrator (s.pg_admin, else s.net as
// libpq's environment gives the user), the grants of the job's role s.login,
// and the rows of `plan`, written as the administrator. Throws DemoFailure;
// the database is then as it was (the schema dropped again).
DemoCounts Demo_Pg_Write(const DemoSettings& s, const DemoPlan& plan);

// --calendar-only: the base calendar's first day, the day before
// plan.start, into the database of s.net (an embedded sqlite:DIR, or a
// PostgreSQL database reached as s.pg_admin or libpq's environment gives
// the user), whose tables the DDL made and whose base calendar is empty.
// Writes that one row and nothing else; returns it. Throws DemoFailure,
// naming what the database lacks; nothing is written then.
BakSatz Demo_Base_Day_Write(const DemoSettings& s, const DemoPlan& plan);

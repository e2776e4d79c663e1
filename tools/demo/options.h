// dayset-demo's command line: what one demo installation is made of, read
// from the arguments, and the usage text. Called by tools/dayset_demo.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

constexpr long kDemoMaxPersons = 99999999;  // person numbers have 8 digits
constexpr size_t kDemoNetRoom = 51;         // the job's room for the net service name

struct DemoSettings {
  long persons = 300;
  uint64_t seed = 1;
  std::optional<double> start;  // --start as a Julian day number (db/oradate.h)
  std::string net = "sqlite:.";
  std::string login = "dayset";
  std::string pg_admin;  // libpq conninfo for making the schema; empty: from net
  std::string dir;
  // --calendar-only: the base calendar's first day (the day before --start)
  // into the database of `net`, whose tables exist and whose base calendar
  // is empty; nothing else is written, DIR is not given.
  bool calendar_only = false;
};

// Whether `net` names the PostgreSQL backend (the demo is then made there).
bool Demo_Net_Is_Server(const std::string& net);

// The usage text.
void Demo_Usage(FILE* out);

// Fills *s from the arguments. Returns false on a usage error, after a
// message and the usage on standard error; sets *help for --help.
bool Demo_Args_Parse(int argc, char** argv, DemoSettings* s, bool* help);

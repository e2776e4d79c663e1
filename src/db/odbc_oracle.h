// The ODBC backend's Oracle dialect (odbc_session.cpp calls it when the
// driver names the database "Oracle"): the native error numbers, the
// session's settings, the schema switch and the statement text.
#pragma once

#include <string>
#include <vector>

#include "db/sqlparse.h"
#include "db/sqlrt.h"

namespace sqlrt {

struct OraError {
  int code;
  const char* broken;  // Session::Broken text, or nullptr
};

// native: the ORA number (positive), as the driver reports it.
OraError Ora_Error_Of(long native, const char* sqlstate);
// Run once at connect, in order.
std::vector<std::string> Ora_Session_Statements(const SqlOptions& options);
// ALTER SESSION SET CURRENT_SCHEMA = NAME
std::string Ora_Schema_Switch(const std::string& name);
// The text sent: parsed.sql unchanged.
std::string Ora_Text(const SqlParsed& parsed);

}  // namespace sqlrt

// Placeholder of the Oracle dialect (odbc_oracle.h), enough to link: the
// texts pass unchanged and every native error counts as its negative ORA
// number.
#include "db/odbc_oracle.h"

namespace sqlrt {

OraError Ora_Error_Of(long native, const char* /*sqlstate*/) {
  if (native == 1403) return OraError{kSqlNoRow, nullptr};
  return OraError{native > 0 ? static_cast<int>(-native) : -20099, nullptr};
}

std::vector<std::string> Ora_Session_Statements(const SqlOptions& /*options*/) { return {}; }

std::string Ora_Schema_Switch(const std::string& name) { return "ALTER SESSION SET CURRENT_SCHEMA = " + name; }

std::string Ora_Text(const SqlParsed& parsed) { return parsed.sql; }

}  // namespace sqlrt

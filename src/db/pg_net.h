// The PostgreSQL backend's net service names, for the companion programs
// that connect to the same server with libpq themselves (dayset-demo makes
// the schema as an administrator).
#pragma once

#include <string>

// libpq's connection text for a net service name of this backend (one that
// Sql_Net_Backend names "postgresql"): a URI as it stands, pg:NAME as the
// service NAME. Empty for any other name.
std::string Pg_Net_Conninfo(const char* net);

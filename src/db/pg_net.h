// The PostgreSQL backend's net service names, for the companion programs
// that connect to the same server with libpq themselves (dayset-demo makes
// the schema as an administrator).
#pragma once

#include <string>

// libpq's connection text for a net service name of this backend (one that
// Sql_Net_Backend names "postgresql"): a URI as it stands, pg:NAME as the
// service NAME. Empty for any other name.
std::string Pg_Net_Conninfo(const char* net);

// The reverse, for a companion program that was given an administrator's
// libpq connection text and writes its rows through the runtime as that
// role (dayset-demo's --pg-admin): a net service name of this backend that
// reaches the server and database `conninfo` reaches, with its settings.
// The credentials stay out of it: *user gets the user the text names (empty:
// libpq's environment gives it, as it gives the password); a password,
// password file or key passphrase is left out. Empty when conninfo does not
// parse.
std::string Pg_Net_Of_Conninfo(const char* conninfo, std::string* user);

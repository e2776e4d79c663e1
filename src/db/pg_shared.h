// What the two backends that talk to PostgreSQL share, the libpq one
// (pg_session.cpp) and the ODBC one on psqlODBC (odbc_session.cpp): the
// session settings the translation relies on, the catalog query that feeds
// it, the schema switch and the types of the built-in OIDs. Both reach the
// same server the same way through them, so that they give the same rows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "db/pg_translate.h"
#include "db/sqlrt.h"

namespace sqlrt {

// The settings every session makes at connect, in order, as name and
// value: nothing of the server's defaults is relied on, and before the
// schema switch no unqualified table name resolves.
std::vector<std::pair<std::string, std::string>> Pg_Session_Settings(const SqlOptions& options);

// The column names and type OIDs of the current schema ($1, folded) and of
// the system schema ($2, folded), for PgCatalog.
extern const char kPgCatalogSql[];

// Sets search_path to $1 (a quoted name) only when schema $2 exists: one
// row then, none when it does not (PostgreSQL would accept a missing
// schema and resolve nothing in it).
extern const char kPgSchemaSwitchSql[];

// Lock waits: none for the rest of the transaction (1 ms; 0 would mean
// none at all), sent once a statement of it met the lock wait.
extern const char kPgNoWaitSql[];

// Binds input `index` of `tr` from `var` as text into values[index]
// (null[index] 1 for NULL; an empty text is NULL, as Oracle stores it),
// dates per their format: 0, or a negative code.
int Pg_Input_Bind(const PgTranslation& tr, int index, const SqlVar& var, std::vector<std::string>* values,
                  std::vector<char>* null);
// The clock's parameters of `tr` (those after its inputs): the job's local
// time in whole seconds, or its day.
void Pg_Clock_Values(const PgTranslation& tr, std::vector<std::string>* values, std::vector<char>* null);

// Writes a date that the server sent for a column of date_out under its
// template `tpl` into `out`: the text TO_CHAR would have given (a fraction
// of a second is left out, as TO_CHAR's SS does). 0, or kOraBadYear for a
// date outside the years 1 to 9999, or the code of the variable's write.
int Pg_Date_Out(const OraCivil& c, const std::string& tpl, const SqlVar& out);

// How the translation treats a column of type `oid`.
PgType Pg_Type_Of_Oid(unsigned oid);

// The name of a built-in type as a run's array names its elements, or ""
// for a type whose runs go item by item.
const char* Pg_Type_Name(unsigned oid);

}  // namespace sqlrt

// The job's database session: connect, make the schema current, commit.
//
// The driver calls Str_Upper on the schema and Sql_Connect once; the phases
// call Sql_Commit where they end a unit of work.
#pragma once

#include <cstdint>
#include <string>

#include "db/sqlrt.h"

// Connects as login/password@net and makes `schema` (already upper-cased)
// the current schema. Returns 0 when both stand; otherwise the non-zero
// status of the step that failed. Refuses, with a non-zero status and no
// statement issued, a connect text over 100 characters and a schema that is
// longer than 67 characters or not a plain identifier (a letter, then
// letters, digits, _, $ or #), and a net service name that Sql_Net_Check
// refuses.
// `options` go to the backend as it opens the session.
int32_t Sql_Connect(const char* login, const char* password, const char* net, const char* schema,
                    const SqlOptions& options = Sql_Options_Default());

// Sql_Connect's own refusals: the connect text over 100 characters or the
// schema over 67 (Oracle's "result of concatenation too long"), and a schema
// that is empty or not a plain identifier ("missing or invalid option").
constexpr int32_t kSqlTextTooLong = -1489;

// Sql_Connect's refusal of such a net service name.
constexpr int32_t kSqlNetRefused = -12162;

// What a status of Sql_Connect means, in plain words for an operator (the
// log's language, ASCII, no value of the connection in it), or null for a
// code that has no fixed meaning at the connect (the backend's native
// codes, listed with each backend).
const char* Sql_Connect_Reason(int32_t rc);

// Sql_Connect_Reason's words, and for a connect to the embedded database
// what is missing there, named: the directory of "sqlite:DIR" (-12154) or
// the schema file DIR/NAME.db (-1435), as the net service name gives them,
// control characters shown as \x1b. `net` and `schema` are those given to
// Sql_Connect; a net service name that Sql_Net_Check refuses is never
// named. Empty for a code without a fixed meaning.
std::string Sql_Connect_Cause(int32_t rc, const char* net, const char* schema);

// Commits; returns 1 on success and 0 on failure (the reverse of every other
// database operation). Nothing is logged.
int32_t Sql_Commit();
// The same commit, its answer read with the next batch of statements
// (Sql_Rt_Commit_Defer): Sql_Commit_Defer asks for it, Sql_Commit_Result
// gives what Sql_Commit would have returned.
void Sql_Commit_Defer();
int32_t Sql_Commit_Result();

// Upper-cases a..z in place (bytes 128..255 stay); returns text.
char* Str_Upper(char* text);

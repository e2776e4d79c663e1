// Translation of the neutral statement text (sqlparse.h) into PostgreSQL's
// dialect, for the PostgreSQL backend (pg_session.cpp), which prepares the
// result. Text in, text out: what the translation needs to know of the
// server's catalog and of the job's settings, the caller hands it as plain
// values, so that it runs (and is tested) without a server.
//
// The statements' Oracle functions become PostgreSQL expressions. DATE
// columns are timestamp(0) holding local wall time. sysdate is the job's own
// clock (base/clock.h), sent as a parameter, exactly as the embedded backend
// reads it; TO_DATE of a host variable or a literal is parsed here by
// db/oradate.h, so both backends accept and refuse the same date texts with
// the same codes. Date arithmetic (date + n, date - date) is rewritten by
// the columns' types, which the session reads once per schema from the
// catalog. String literals and quoted identifiers pass untouched; DUAL
// becomes Oracle's one-row table. TO_CHAR's 'D' counts from Sunday or from
// Monday, as the territory wants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/oradate.h"
#include "db/sqlparse.h"

namespace sqlrt {

// What the translation knows of an expression's type.
enum class PgType { kUnknown, kDate, kNum, kText };

// The types of the columns a statement may name, by column name in lower
// case (a name with two types in the schemas read is kUnknown). A name
// missing here is of unknown type: its date arithmetic is left to the
// server, which refuses it.
using PgCatalog = std::unordered_map<std::string, PgType>;

// How a parameter's value is made: from its host variable as it stands or
// read under an Oracle date format, or from the job's clock.
struct PgParam {
  enum Kind { kPlain, kDateFmt, kSysdate, kToday } kind = kPlain;
  std::string fmt;  // kDateFmt: the Oracle format
};

struct PgTranslation {
  std::string sql;  // PostgreSQL text, $1... for the parameters
  // An insert that does nothing when its key exists (ON CONFLICT DO
  // NOTHING) and reports that as the unique violation it would have been:
  // the same outcome, without the error that would cost the transaction a
  // round trip to recover from.
  bool ignore = false;
  std::vector<PgParam> params;  // the inputs in order, then the clock's
  int inputs = 0;
  int error = 0;  // a code the statement fails with (a date or format the job cannot read)
  // Whether consecutive executions of the write can go to the server as one
  // statement over arrays (Pg_Run_Sql): an insert of one VALUES row, or an
  // update with a WHERE, without a subquery; where its parts are in sql.
  enum RunKind { kRunNone, kRunInsert, kRunUpdate } run = kRunNone;
  size_t run_cut = 0;  // insert: the word VALUES; update: the word WHERE
  size_t run_row = 0, run_row_end = 0;  // insert: inside the row's parentheses
  // By output column: the format of a TO_CHAR of a date column that the
  // select list names as the column itself, so that the server sends the
  // date and the client writes its digits (pg_shared.h's Pg_Date_Out);
  // empty for the other columns. Only Oracle formats of digits and
  // separators, and only where the column's text is nowhere compared,
  // ordered or grouped by. Written as a template: Y the year's four digits,
  // M the month's two, D the day's, H the hour's (0 to 23), I the minute's,
  // S the second's; the separators ("-/.:, ") as they stand.
  std::vector<std::string> date_out;
};

// Translates a parsed statement. sunday_first: TO_CHAR(d, 'D') counts from
// Sunday (Ora_Territory_Sunday_First), else from Monday. On a non-zero
// error the text is not to be prepared.
PgTranslation Pg_Translate(const SqlParsed& parsed, const PgCatalog& catalog, bool sunday_first);

// The text that runs n executions of a write (tr.run not kRunNone) as one
// statement: parameter $k is an array of element type types[k-1] (a type
// name of the server, the type the single statement infers for $k), each
// execution one element of every array, all of the same length n; the rows
// come from unnest in that order. Its one row holds the number of rows
// written: n when every execution wrote exactly one, 0 when none wrote any
// (an insert whose every key exists, an update whose every row is
// missing), which is what each of them does alone then too. Anything else
// fails the statement (division by zero): an insert whose key exists
// while others go in (also a key twice within the run), an update that
// finds no row while others do, two rows, or a row that another execution
// of the run updates too. Empty when types does not give one name per
// parameter.
//
// A parameter whose value is the same for every execution can go as that
// one value: bit k of `scalars` (Pg_Run_Scalar) makes parameter k + 1 a
// single value of its type, which every row takes, where the others are
// arrays. The first parameter is always an array (it gives the run its
// length), and so is every parameter from the 65th on.
std::string Pg_Run_Sql(const PgTranslation& tr, const std::vector<std::string>& types, uint64_t scalars = 0);
bool Pg_Run_Scalar(uint64_t scalars, size_t param);  // parameter `param` (from 0) goes as one value
// An update's run whose WHERE is only equalities of columns with
// parameters, joined by AND, also bounds its rows by them: the common
// values as such, the arrays of numbers and dates by the range of their
// elements, so that the server reads the rows in one range of its key.
// That takes every other parameter of the clause (a text) to be common:
// the scalars that it needs, or 0 where there are no bounds.
uint64_t Pg_Run_Keys(const PgTranslation& tr, const std::vector<std::string>& types);
// For an insert that reports an existing key (ignore): the same run
// without the conflict clause and the count, which the server runs at the
// cost of a plain insert. It writes a row for every execution or fails,
// an existing key with the unique violation; the counting form of
// Pg_Run_Sql then tells a run of existing keys from a mixed one. Empty for
// any other write, and where Pg_Run_Sql is.
std::string Pg_Run_Sql_Plain(const PgTranslation& tr, const std::vector<std::string>& types,
                             uint64_t scalars = 0);

// The name as PostgreSQL folds an unquoted identifier (ASCII lower case).
std::string Pg_Fold_Name(const std::string& name);

// "YYYY-MM-DD HH:MM:SS" of a civil date, NUL-terminated, as the server reads
// a timestamp under DateStyle ISO.
void Pg_Timestamp_Text(const OraCivil& c, char (&out)[32]);

// A date text under an Oracle format as a timestamp text for the server:
// 0, or the code of db/oradate.h that refuses it (*out unchanged).
int Pg_Date_Param(const char* text, size_t len, const char* fmt, size_t fmtlen, std::string* out);

}  // namespace sqlrt

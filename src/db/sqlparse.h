// Parsing of the job's embedded-SQL statement texts (see sqlrt.h) into the
// neutral form every backend prepares: each input host variable becomes
// '?', the into list of a select-into is taken out and counted. String
// literals are copied untouched. Also the small scanner the backends use to
// translate that form into their dialect.
#pragma once

#include <cstddef>
#include <string>

#include "db/sqlrt.h"

struct SqlParsed {
  std::string sql;   // neutral text, '?' per input placeholder
  int outputs = 0;   // host variables of the into list
  int inputs = 0;    // input placeholders, counted by appearance
  bool select = false;  // the statement begins with select
  bool write = false;   // insert, update or delete
};

// Status codes of parsing (Oracle's numbers).
constexpr int kSqlParseOpenQuote = -1756;   // quoted string not properly terminated
constexpr int kSqlParseBadHostVar = -1745;  // invalid host variable name

// Parses `text`; returns 0 or one of the codes above.
int Sql_Parse(const char* text, SqlParsed* out);

// ALTER SESSION SET CURRENT_SCHEMA=name (case-insensitive, blanks allowed
// around the words and '='): 0 and the name upper-cased in *name; 1 when
// the text is another statement; kSqlBadOption when it begins with
// ALTER but is not that form or the name is not a plain identifier (a
// letter, then letters, digits, _, $ or #).
int Sql_Parse_Schema_Switch(const char* text, std::string* name);

// Scanner over a statement text: words (identifiers and keywords), string
// literals and quoted identifiers as whole tokens, every other character a
// token of its own.
struct SqlToken {
  enum Kind { kEnd, kWord, kLiteral, kQuoted, kSpace, kOther };
  Kind kind;
  size_t begin, end;  // [begin, end) in the text
};
// The token at `pos`; a literal without its closing quote runs to the end.
SqlToken Sql_Token_At(const std::string& text, size_t pos);
// Case-insensitive comparison of a word token with a lower-case keyword.
bool Sql_Word_Is(const std::string& text, const SqlToken& t, const char* keyword);
// True for a select whose list items nothing but the fetch sees: no
// DISTINCT or UNIQUE, no set operation, no GROUP BY or HAVING, and no ORDER
// BY by column number. A backend may then make an item's text at the fetch
// instead of in the row (a select list's TO_CHAR of a date).
bool Sql_List_Only_Fetched(const std::string& text);

#include "sqltext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "db/sqlparse.h"

namespace testdb {

namespace {

bool Ident_Char(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' || c == '#'; }

// The text with every quoted literal's content, every quoted identifier's
// and every comment blanked (the quotes stay), in lower case: what the
// searches below look at, at the same offsets as the original. Literals
// and quoted names as the job's own scanner reads them.
std::string Code_Only(const std::string& sql) {
  std::string out = sql;
  for (std::size_t i = 0; i < sql.size();) {
    const SqlToken t = Sql_Token_At(sql, i);
    std::size_t end = t.end;
    if (t.kind == SqlToken::kLiteral || t.kind == SqlToken::kQuoted) {
      for (std::size_t j = t.begin + 1; j + 1 < t.end; ++j) out[j] = ' ';
    } else if (sql.compare(i, 2, "--") == 0) {
      end = std::min(sql.find('\n', i), sql.size());
      for (std::size_t j = i; j < end; ++j) out[j] = ' ';
    } else if (sql.compare(i, 2, "/*") == 0) {
      const std::size_t close = sql.find("*/", i + 2);
      end = close == std::string::npos ? sql.size() : close + 2;
      for (std::size_t j = i; j < end; ++j) out[j] = ' ';
    } else {
      for (std::size_t j = i; j < end; ++j) out[j] = static_cast<char>(std::tolower(static_cast<unsigned char>(sql[j])));
    }
    i = end;
  }
  return out;
}

// Whether the word `word` (lower case) starts at `at` in code.
bool Word_At(const std::string& code, std::size_t at, const char* word) {
  return (at == 0 || !Ident_Char(code[at - 1])) && Sql_Word_Is(code, Sql_Token_At(code, at), word);
}

// Offset of the word `word` at or after `from` in code, or npos.
std::size_t Find_Word(const std::string& code, const char* word, std::size_t from = 0) {
  for (std::size_t at = code.find(word, from); at != std::string::npos; at = code.find(word, at + 1)) {
    if (Word_At(code, at, word)) return at;
  }
  return std::string::npos;
}

std::size_t Skip_Blanks(const std::string& code, std::size_t at) {
  while (at < code.size() && std::isspace(static_cast<unsigned char>(code[at])) != 0) ++at;
  return at;
}

// The offset of the ')' that closes the '(' at `open`, or npos.
std::size_t Closing(const std::string& code, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < code.size(); ++i) {
    if (code[i] == '(') ++depth;
    if (code[i] == ')' && --depth == 0) return i;
  }
  return std::string::npos;
}

// Whether the select at `at` has a FROM of its own: one at the same depth
// of parentheses before its scope ends.
bool Has_From(const std::string& code, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at + 6; i < code.size(); ++i) {
    if (code[i] == '(') ++depth;
    if (code[i] == ')' && --depth < 0) return false;
    if (code[i] == ';' && depth == 0) return false;
    if (depth == 0 && Word_At(code, i, "from")) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> SplitStatements(const std::string& sql) {
  const std::string code = Code_Only(sql);
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= code.size(); ++i) {
    if (i < code.size() && code[i] != ';') continue;
    // Without the blanks and comments before it (all blanks in `code`).
    const std::size_t from = Skip_Blanks(code, start);
    if (from < i) out.push_back(sql.substr(from, i - from));
    start = i + 1;
  }
  return out;
}

namespace {

// date(x) as TO_CHAR(x, 'YYYY-MM-DD').
std::string Oracle_Dates(std::string sql) {
  for (std::size_t from = 0;;) {
    const std::string code = Code_Only(sql);
    const std::size_t at = Find_Word(code, "date", from);
    if (at == std::string::npos) return sql;
    const std::size_t open = Skip_Blanks(code, at + 4);
    const std::size_t close = open < code.size() && code[open] == '(' ? Closing(code, open) : std::string::npos;
    if (close == std::string::npos) {
      from = at + 4;
      continue;
    }
    sql = sql.substr(0, at) + "TO_CHAR(" + sql.substr(open + 1, close - open - 1) + ", 'YYYY-MM-DD')" +
          sql.substr(close + 1);
    from = at;
  }
}

// Every select without a FROM of its own selects FROM DUAL: before its
// WHERE, else where its scope ends.
std::string Oracle_Dual(std::string sql) {
  for (std::size_t from = 0;;) {
    const std::string code = Code_Only(sql);
    const std::size_t at = Find_Word(code, "select", from);
    if (at == std::string::npos) return sql;
    from = at + 6;
    if (Has_From(code, at)) continue;
    int depth = 0;
    std::size_t end = code.size();
    for (std::size_t i = at + 6; i < code.size(); ++i) {
      if (code[i] == '(') ++depth;
      if (code[i] == ')' && --depth < 0) {
        end = i;
        break;
      }
      if (depth == 0 && Word_At(code, i, "where")) {
        end = i;
        break;
      }
    }
    while (end > at && std::isspace(static_cast<unsigned char>(code[end - 1])) != 0) --end;
    sql.insert(end, " FROM DUAL ");
  }
}

// An insert of several VALUES rows as one insert per row; any other
// statement as it is.
std::vector<std::string> Oracle_Rows(const std::string& stmt) {
  const std::string code = Code_Only(stmt);
  const std::size_t ins = Skip_Blanks(code, 0);
  const std::size_t values = Find_Word(code, "values");
  if (!Word_At(code, ins, "insert") || values == std::string::npos) return {stmt};
  std::vector<std::string> rows;
  for (std::size_t open = Skip_Blanks(code, values + 6); open < code.size() && code[open] == '(';) {
    const std::size_t close = Closing(code, open);
    if (close == std::string::npos) return {stmt};
    rows.push_back(stmt.substr(0, values) + "values " + stmt.substr(open, close - open + 1));
    const std::size_t next = Skip_Blanks(code, close + 1);
    if (next >= code.size()) return rows;
    if (code[next] != ',') return {stmt};
    open = Skip_Blanks(code, next + 1);
  }
  return {stmt};
}

}  // namespace

std::vector<std::string> OracleStatements(const std::string& sql) {
  std::vector<std::string> out;
  for (const std::string& stmt : SplitStatements(sql)) {
    for (const std::string& row : Oracle_Rows(stmt)) out.push_back(Oracle_Dual(Oracle_Dates(row)));
  }
  return out;
}

std::string OracleProblem(const std::string& sql) {
  const std::string code = Code_Only(sql);
  for (std::size_t at = Find_Word(code, "values"); at != std::string::npos; at = Find_Word(code, "values", at + 1)) {
    std::size_t before = at;
    while (before > 0 && std::isspace(static_cast<unsigned char>(code[before - 1])) != 0) --before;
    if (before > 0 && code[before - 1] == '(') return "a VALUES list as a table";
  }
  if (code.find("::") != std::string::npos) return "a PostgreSQL cast (::)";
  for (const char* word : {"limit", "returning", "true", "false", "ilike"}) {
    if (Find_Word(code, word) != std::string::npos) return std::string("the word ") + word;
  }
  if (Find_Word(code, "conflict") != std::string::npos) return "ON CONFLICT";
  // An empty text is NULL on Oracle.
  for (std::size_t at = sql.find("''"); at != std::string::npos; at = sql.find("''", at + 2)) {
    if (code[at] == '\'' && code[at + 1] == '\'') return "an empty text literal (NULL on Oracle)";
  }
  return "";
}

void CheckOracle(const std::string& sql) {
  if (!PlayingOracle()) return;
  for (const std::string& stmt : OracleStatements(sql)) {
    const std::string problem = OracleProblem(stmt);
    if (!problem.empty()) ADD_FAILURE() << "Oracle would refuse the test's own SQL: " << problem << "\n" << stmt;
  }
}

bool PlayingOracle() {
  const char* v = std::getenv("DAYSET_TEST_AS_ORACLE");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

}  // namespace testdb

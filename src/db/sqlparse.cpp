#include "db/sqlparse.h"

#include <cstring>

namespace {

bool IsWordStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsWordChar(char c) {
  return IsWordStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '#';
}
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Length of a host variable reference ":name" at text[pos], 0 if none.
size_t HostVarLen(const char* text, size_t pos) {
  if (text[pos] != ':' || !IsWordStart(text[pos + 1])) return 0;
  size_t n = 2;
  while (IsWordChar(text[pos + n])) ++n;
  return n;
}

}  // namespace

SqlToken Sql_Token_At(const std::string& text, size_t pos) {
  const size_t len = text.size();
  if (pos >= len) return {SqlToken::kEnd, len, len};
  const char c = text[pos];
  size_t end = pos + 1;
  if (IsWordStart(c)) {
    while (end < len && IsWordChar(text[end])) ++end;
    return {SqlToken::kWord, pos, end};
  }
  if (c == '\'' || c == '"') {
    // '' inside a literal is a quote; the token ends after the closing one.
    while (end < len) {
      if (text[end] == c) {
        if (end + 1 < len && text[end + 1] == c) {
          end += 2;
          continue;
        }
        ++end;
        return {c == '\'' ? SqlToken::kLiteral : SqlToken::kQuoted, pos, end};
      }
      ++end;
    }
    return {c == '\'' ? SqlToken::kLiteral : SqlToken::kQuoted, pos, len};
  }
  if (IsSpace(c)) {
    while (end < len && IsSpace(text[end])) ++end;
    return {SqlToken::kSpace, pos, end};
  }
  return {SqlToken::kOther, pos, end};
}

bool Sql_Word_Is(const std::string& text, const SqlToken& t, const char* keyword) {
  if (t.kind != SqlToken::kWord) return false;
  const size_t n = std::strlen(keyword);
  if (t.end - t.begin != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = text[t.begin + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != keyword[i]) return false;
  }
  return true;
}

bool Sql_List_Only_Fetched(const std::string& text) {
  static const char* const kRefused[] = {"distinct", "unique", "union", "intersect", "except", "minus", "group",
                                         "having"};
  bool first = true, ordered = false;
  for (size_t pos = 0;;) {
    const SqlToken k = Sql_Token_At(text, pos);
    if (k.kind == SqlToken::kEnd) return !first;
    pos = k.end;
    if (k.kind == SqlToken::kSpace) continue;
    if (first && !Sql_Word_Is(text, k, "select")) return false;
    first = false;
    for (const char* w : kRefused) {
      if (Sql_Word_Is(text, k, w)) return false;
    }
    if (Sql_Word_Is(text, k, "order")) ordered = true;
    if (ordered && k.kind == SqlToken::kOther && text[k.begin] >= '0' && text[k.begin] <= '9') return false;
  }
}

int Sql_Parse(const char* text, SqlParsed* out) {
  *out = SqlParsed{};
  std::string& sql = out->sql;
  sql.reserve(std::strlen(text));
  bool first_word = true;
  size_t pos = 0;
  while (text[pos] != '\0') {
    const char c = text[pos];
    if (c == '\'' || c == '"') {
      const size_t start = pos++;
      bool closed = false;
      while (text[pos] != '\0') {
        if (text[pos] == c) {
          if (text[pos + 1] == c) {
            pos += 2;
            continue;
          }
          ++pos;
          closed = true;
          break;
        }
        ++pos;
      }
      if (!closed) return kSqlParseOpenQuote;
      sql.append(text + start, pos - start);
      continue;
    }
    if (c == ':') {
      const size_t n = HostVarLen(text, pos);
      if (n == 0) return kSqlParseBadHostVar;
      pos += n;
      pos += HostVarLen(text, pos);  // its indicator, if any
      sql += '?';
      ++out->inputs;
      continue;
    }
    if (IsWordStart(c)) {
      size_t end = pos + 1;
      while (IsWordChar(text[end])) ++end;
      const std::string word(text + pos, end - pos);
      SqlToken t{SqlToken::kWord, 0, word.size()};
      if (first_word) {
        out->select = Sql_Word_Is(word, t, "select");
        out->write = Sql_Word_Is(word, t, "insert") || Sql_Word_Is(word, t, "update") ||
                     Sql_Word_Is(word, t, "delete");
        first_word = false;
      }
      if (out->select && out->outputs == 0 && Sql_Word_Is(word, t, "into")) {
        // The into list: host variables (each with its indicator) separated
        // by commas, up to the next word. It leaves no trace in the text.
        size_t p = end;
        for (;;) {
          while (IsSpace(text[p])) ++p;
          size_t n = HostVarLen(text, p);
          if (n == 0) return kSqlBindMismatch;
          p += n;
          p += HostVarLen(text, p);
          ++out->outputs;
          while (IsSpace(text[p])) ++p;
          if (text[p] != ',') break;
          ++p;
        }
        pos = p;
        sql += ' ';
        continue;
      }
      sql.append(text + pos, end - pos);
      pos = end;
      continue;
    }
    sql += c;
    ++pos;
  }
  return 0;
}

int Sql_Parse_Schema_Switch(const char* text, std::string* name) {
  static const char* const kWords[] = {"alter", "session", "set", "current_schema"};
  const std::string s(text);
  const auto next = [&s](size_t pos) {
    SqlToken t = Sql_Token_At(s, pos);
    return t.kind == SqlToken::kSpace ? Sql_Token_At(s, t.end) : t;
  };
  SqlToken t = next(0);
  if (!Sql_Word_Is(s, t, "alter")) return 1;
  for (const char* w : kWords) {
    if (!Sql_Word_Is(s, t, w)) return kSqlBadOption;
    t = next(t.end);
  }
  if (!(t.kind == SqlToken::kOther && s[t.begin] == '=')) return kSqlBadOption;
  t = next(t.end);
  if (t.kind != SqlToken::kWord || !(IsWordStart(s[t.begin]) && s[t.begin] != '_')) return kSqlBadOption;
  const SqlToken word = t;
  if (next(t.end).kind != SqlToken::kEnd) return kSqlBadOption;
  name->assign(s, word.begin, word.end - word.begin);
  for (char& c : *name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return 0;
}

#include "db/session.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "db/sqlrt.h"

namespace {

// The statement text buffer: the connect text, then the schema switch.
constexpr int kStmtTextSize = 101;
char StmtText[kStmtTextSize];

constexpr char kSwitchPrefix[] = "ALTER SESSION SET CURRENT_SCHEMA=";
constexpr size_t kSchemaMax = kStmtTextSize - 1 - (sizeof kSwitchPrefix - 1);  // 67

bool Schema_Is_Plain(const char* s) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!letter(s[0])) return false;
  for (const char* p = s + 1; *p != '\0'; ++p) {
    if (!letter(*p) && !(*p >= '0' && *p <= '9') && *p != '_' && *p != '$' && *p != '#') return false;
  }
  return true;
}

bool Starts_With(const char* s, const char* prefix) { return std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when the query part of a URI has a key that decodes to `key`.
bool Query_Has_Key(const char* query, const char* key) {
  const char* p = query;
  while (*p != '\0') {
    std::string name;
    while (*p != '\0' && *p != '=' && *p != '&') {
      if (*p == '%' && Hex(p[1]) >= 0 && Hex(p[2]) >= 0) {
        name += static_cast<char>(Hex(p[1]) * 16 + Hex(p[2]));
        p += 3;
      } else {
        name += *p++;
      }
    }
    if (name == key) return true;
    while (*p != '\0' && *p != '&') ++p;
    if (*p == '&') ++p;
  }
  return false;
}

}  // namespace

const char* Sql_Net_Check(const char* net) {
  static const char kAllowed[] = "ohne Benutzer und Passwort, die aus LOGIN und PASS kommen";
  if (!Starts_With(net, "postgresql:") && !Starts_With(net, "postgres:") && !Starts_With(net, "pg:")) {
    return nullptr;
  }
  // user@host or user:password@host; also an '@' would end the login and
  // password in the connect text.
  if (std::strchr(net, '@') != nullptr) return kAllowed;
  const char* query = std::strchr(net, '?');
  if (query != nullptr && Query_Has_Key(query + 1, "password")) return kAllowed;
  return nullptr;
}

int32_t Sql_Connect(const char* login, const char* password, const char* net, const char* schema) {
  // Texts that do not fit are refused, never cut; a schema that is not a
  // plain identifier never reaches a statement text.
  const size_t schema_len = std::strlen(schema);
  if (schema_len > kSchemaMax) return SqlCode = kSqlTextTooLong;
  if (!Schema_Is_Plain(schema)) return SqlCode = kSqlSchemaInvalid;
  if (Sql_Net_Check(net) != nullptr) return SqlCode = kSqlNetRefused;
  const size_t len = std::strlen(login) + 1 + std::strlen(password) + 1 + std::strlen(net);
  if (len >= sizeof StmtText) return SqlCode = kSqlTextTooLong;

  std::snprintf(StmtText, sizeof StmtText, "%s/%s@%s", login, password, net);
  Sql_Rt_Connect(StmtText);
  std::memset(StmtText, 0, sizeof StmtText);  // the password does not stay behind
  if (SqlCode != 0) return SqlCode;

  std::snprintf(StmtText, sizeof StmtText, "%s%s", kSwitchPrefix, schema);
  Sql_Dyn_Prepare(StmtText);
  Sql_Dyn_Execute();
  return SqlCode;
}

int32_t Sql_Commit() {
  Sql_Rt_Commit();
  return SqlCode == 0 ? 1 : 0;
}

char* Str_Upper(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return text;
}

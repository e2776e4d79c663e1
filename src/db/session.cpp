#include "db/session.h"

#include <cstdio>
#include <cstring>

#include "db/backend.h"
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

}  // namespace

int32_t Sql_Connect(const char* login, const char* password, const char* net, const char* schema,
                    const SqlOptions& options) {
  // Texts that do not fit are refused, never cut; a schema that is not a
  // plain identifier never reaches a statement text.
  const size_t schema_len = std::strlen(schema);
  if (schema_len > kSchemaMax) return SqlCode = kSqlTextTooLong;
  if (!Schema_Is_Plain(schema)) return SqlCode = kSqlBadOption;
  if (Sql_Net_Check(net) != nullptr) return SqlCode = kSqlNetRefused;
  const size_t len = std::strlen(login) + 1 + std::strlen(password) + 1 + std::strlen(net);
  if (len >= sizeof StmtText) return SqlCode = kSqlTextTooLong;

  std::snprintf(StmtText, sizeof StmtText, "%s/%s@%s", login, password, net);
  Sql_Rt_Connect(StmtText, options);
  std::memset(StmtText, 0, sizeof StmtText);  // the password does not stay behind
  if (SqlCode != 0) return SqlCode;

  std::snprintf(StmtText, sizeof StmtText, "%s%s", kSwitchPrefix, schema);
  Sql_Dyn_Prepare(StmtText);
  Sql_Dyn_Execute();
  return SqlCode;
}

const char* Sql_Connect_Reason(int32_t rc) {
  switch (rc) {
    case kSqlUnknownService:
      return "Netzdienstname unbekannt: kein Backend fuer dieses Schema (sqlite:, postgresql:, pg:) oder das "
             "Verzeichnis der eingebetteten Datenbank fehlt";
    case kSqlLoginRefused:
      return "Anmeldung abgelehnt: LOGIN oder PASS falsch, oder der Server verlangt ein Passwort, das fehlt";
    case kSqlNoListener:
      return "kein Datenbankserver unter dieser Adresse (Rechner, Port oder Dienst im Netzdienstnamen pruefen)";
    case kSqlNoSchema:
      return "das Schema (SCHEMA ohne sein letztes Zeichen) gibt es in dieser Datenbank nicht";
    case kSqlBadOption:
      return "SCHEMA ist leer oder kein einfacher Name (Buchstabe, dann Buchstaben, Ziffern, _ $ #)";
    case kSqlTextTooLong:
      return "LOGIN, PASS und NET8 zusammen zu lang (hoechstens 98 Zeichen) oder das Schema laenger als 67";
    case kSqlNetRefused:
      return "der Netzdienstname enthaelt Benutzer oder Passwort";
    case kSqlConnectTimeout:
      return "der Datenbankserver antwortet nicht (Zeitlimit der Anmeldung, --connect-timeout)";
    case kSqlTooManySessions:
      return "alle Verbindungen des Datenbankservers (oder des Benutzers) sind belegt; weniger Teile (-j) oder "
             "spaeter erneut";
    case kSqlNoDatabase:
      return "die Datenbank im Netzdienstnamen gibt es auf dem Server nicht";
    case kSqlStartingUp:
      return "der Datenbankserver startet gerade oder faehrt herunter; spaeter erneut";
    case kSqlCancelled:
      return "durch ein Signal abgebrochen";
    default:
      return nullptr;
  }
}

std::string Sql_Connect_Cause(int32_t rc, const char* net, const char* schema) {
  const char* reason = Sql_Connect_Reason(rc);
  std::string cause = reason != nullptr ? reason : "";
  if (Sql_Net_Check(net) != nullptr) return cause;
  const sqlrt::BackendEntry* backend = sqlrt::Sql_Backend_Find(net);
  const std::string missing =
      backend != nullptr && backend->connect_missing != nullptr ? backend->connect_missing(rc, net, schema) : "";
  if (missing.empty()) return cause;
  // The general words name every cause of the code; the one met replaces
  // them where it is the whole story.
  if (rc == kSqlUnknownService) return "Netzdienstname unbekannt: " + missing;
  return cause.empty() ? missing : cause + ": " + missing;
}

int32_t Sql_Commit() {
  Sql_Rt_Commit();
  return SqlCode == 0 ? 1 : 0;
}

void Sql_Commit_Defer() { Sql_Rt_Commit_Defer(); }

int32_t Sql_Commit_Result() {
  Sql_Rt_Commit_Result();
  return SqlCode == 0 ? 1 : 0;
}

char* Str_Upper(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return text;
}

#include "db/pg_error.h"

#include <cstring>

#include "db/backend.h"
#include "db/oradate.h"
#include "db/sqlrt.h"

namespace sqlrt {

namespace {

// The conditions after which the session can do nothing more, in the log's
// language (ASCII).
constexpr char kLost[] = "Verbindung zum Datenbankserver verloren";
constexpr char kReadOnlyServer[] = "Datenbankserver nur lesbar";
constexpr char kServerDiskFull[] = "Datentraeger des Datenbankservers voll";
constexpr char kServerNoMemory[] = "Datenbankserver ohne Speicher";
constexpr char kServerIo[] = "E/A-Fehler auf dem Datenbankserver";
constexpr char kServerShutdown[] = "Datenbankserver wird heruntergefahren";
constexpr char kNoAnswer[] = "Datenbankserver antwortet nicht (Zeitlimit ueberschritten)";

// A row names one SQLSTATE, or with two characters a whole class; the
// SQLSTATEs come first.
struct Row {
  const char* state;
  PgError error;
};

constexpr Row kRows[] = {
    {"23505", {kSqlDupKey, nullptr}},
    {"23502", {kSqlNotNull, nullptr}},
    {"23514", {kSqlCheck, nullptr}},
    {"42P01", {kSqlNoTable, nullptr}},
    {"3F000", {kSqlNoTable, nullptr}},
    {"42703", {kSqlNoColumn, nullptr}},
    {"42883", {kSqlNoColumn, nullptr}},
    {"55P03", {kSqlLocked, nullptr}},
    {"40P01", {kSqlDeadlock, nullptr}},
    {"42601", {kSqlBadStatement, nullptr}},
    {"22P02", {kSqlBadNumber, nullptr}},
    {"22003", {kSqlIntOverflow, nullptr}},
    {"22007", {kOraDateMismatch, nullptr}},
    {"22008", {kOraDateMismatch, nullptr}},
    {"25006", {kPgReadOnly, kReadOnlyServer}},
    {"53100", {kPgDiskFull, kServerDiskFull}},
    {"53200", {kPgNoMemory, kServerNoMemory}},
    {"58030", {kPgIoError, kServerIo}},
    {"57P01", {kPgShutdown, kServerShutdown}},
    {"57P02", {kPgShutdown, kServerShutdown}},
    {"57P03", {kPgShutdown, kServerShutdown}},
    {"08", {kPgConnectionLost, kLost}},
};

bool Digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

PgError Pg_Error_Lost() { return PgError{kPgConnectionLost, kLost}; }

PgError Pg_Error_No_Answer() { return PgError{kPgNoAnswer, kNoAnswer}; }

PgError Pg_Error_Stopped() { return PgError{kSqlCancelled, kSqlStoppedWhat}; }

int Pg_Connect_Error(const char* message, bool password_involved) {
  // The SQLSTATE follows the (translated) severity and two blanks, alone
  // on its line.
  char state[6] = "";
  for (const char* p = std::strstr(message, ":  "); p != nullptr; p = std::strstr(p + 1, ":  ")) {
    const char* s = p + 3;
    size_t n = 0;
    while (n < 5 && ((s[n] >= '0' && s[n] <= '9') || (s[n] >= 'A' && s[n] <= 'Z'))) ++n;
    if (n == 5 && (s[5] == '\n' || s[5] == '\0')) {
      std::memcpy(state, s, 5);
      break;
    }
  }
  if (std::strcmp(state, "53300") == 0) return kSqlTooManySessions;
  if (std::strcmp(state, "3D000") == 0) return kSqlNoDatabase;
  if (std::strcmp(state, "57P03") == 0) return kSqlStartingUp;
  if (std::strncmp(state, "28", 2) == 0 || password_involved) return kSqlLoginRefused;
  return kSqlNoListener;
}

PgError Pg_Error_Of(const char* state) {
  if (state == nullptr || std::strlen(state) != 5) return Pg_Error_Lost();
  for (const Row& r : kRows) {
    if (std::strncmp(r.state, state, std::strlen(r.state)) == 0) return r.error;
  }
  if (Digit(state[0]) && Digit(state[1])) return PgError{-20000 - ((state[0] - '0') * 10 + (state[1] - '0')), nullptr};
  return PgError{-20099, nullptr};
}

}  // namespace sqlrt

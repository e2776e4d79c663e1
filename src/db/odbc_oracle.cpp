#include "db/odbc_oracle.h"

#include <cstring>

#include "db/backend.h"
#include "db/oradate.h"

namespace sqlrt {

namespace {

// The conditions after which the session can do nothing more, in the log's
// language (ASCII).
constexpr char kLost[] = "Verbindung zum Datenbankserver verloren";
constexpr char kUnreachable[] = "Datenbankserver nicht erreichbar";
constexpr char kReadOnlyServer[] = "Datenbankserver nur lesbar";
constexpr char kNoRoom[] = "Tablespace des Datenbankservers voll";
constexpr char kQuota[] = "Speicherkontingent auf dem Datenbankserver erschoepft";
constexpr char kArchiver[] = "Archivierung des Datenbankservers blockiert";
constexpr char kServerNoMemory[] = "Datenbankserver ohne Speicher";
constexpr char kServerIo[] = "E/A-Fehler auf dem Datenbankserver";
constexpr char kServerDamaged[] = "Datenblock auf dem Datenbankserver beschaedigt";
constexpr char kServerShutdown[] = "Datenbankserver wird heruntergefahren";
constexpr char kNotAvailable[] = "Datenbankserver nicht verfuegbar";
constexpr char kNoAnswer[] = "Datenbankserver antwortet nicht (Zeitlimit ueberschritten)";

// An ORA number whose code or session state is not simply -N and usable.
struct Row {
  long native;
  OraError error;
};

constexpr Row kRows[] = {
    // No row: the job's 1403 (100 is its ANSI twin).
    {1403, {kSqlNoRow, nullptr}},
    {100, {kSqlNoRow, nullptr}},
    // The conditions the other backends report under the job's code.
    {1407, {kSqlNotNull, nullptr}},        // cannot update to NULL
    {1438, {kSqlIntOverflow, nullptr}},    // value larger than the column's precision
    {1422, {kSqlTooManyRows, nullptr}},    // exact fetch returns more than one row
    {30006, {kSqlLocked, nullptr}},        // resource busy, WAIT timeout expired
    {2049, {kSqlLocked, nullptr}},         // distributed lock wait timed out
    {1839, {kOraBadDay, nullptr}},         // date not valid for the month
    {1830, {kOraDateMismatch, nullptr}},   // format ends before the input
    {1840, {kOraDateMismatch, nullptr}},   // input not long enough for the format
    {1858, {kOraDateMismatch, nullptr}},   // non-numeric character where a digit was expected
    {1862, {kOraDateMismatch, nullptr}},   // numeric value does not match the format item
    {20, {kSqlTooManySessions, nullptr}},  // maximum number of processes exceeded
    {12516, {kSqlTooManySessions, nullptr}},  // listener: no handler with the protocol stack
    {12519, {kSqlTooManySessions, nullptr}},  // listener: no appropriate service handler
    {12520, {kSqlTooManySessions, nullptr}},  // listener: no handler for the server type
    {12505, {kSqlNoDatabase, nullptr}},       // listener does not know the SID
    {12535, {kSqlConnectTimeout, nullptr}},   // operation timed out

    // Lost connection: the session is gone.
    {3113, {kOraConnectionLost, kLost}},
    {3114, {kOraNotConnected, kLost}},
    {3135, {-3135, kLost}},              // connection lost contact
    {1012, {kSqlNotConnected, kLost}},   // not logged on
    {28, {-28, kLost}},                  // session killed
    {1092, {-1092, kLost}},              // instance terminated, disconnection forced
    {2396, {-2396, kLost}},              // maximum idle time exceeded
    {12152, {-12152, kLost}},            // unable to send break message
    {12537, {-12537, kLost}},            // connection closed
    {12547, {-12547, kLost}},            // lost contact
    {12570, {-12570, kLost}},            // packet reader failure
    {12571, {-12571, kLost}},            // packet writer failure
    {12541, {kSqlNoListener, kUnreachable}},  // no listener
    {12543, {kSqlNoListener, kUnreachable}},  // destination host unreachable
    {12545, {kSqlNoListener, kUnreachable}},  // target host or object does not exist
    {12560, {kSqlNoListener, kUnreachable}},  // protocol adapter error
    // Read-only, no room, no memory, I/O, damage.
    {16000, {kOraReadOnly, kReadOnlyServer}},
    {1652, {-1652, kNoRoom}},            // temp segment
    {1653, {kOraNoRoom, kNoRoom}},       // table
    {1654, {-1654, kNoRoom}},            // index
    {1688, {-1688, kNoRoom}},            // table partition
    {1691, {-1691, kNoRoom}},            // lob segment
    {30036, {-30036, kNoRoom}},          // undo segment
    {1536, {-1536, kQuota}},             // space quota exceeded
    {257, {-257, kArchiver}},            // archiver error
    {4030, {kOraNoMemory, kServerNoMemory}},
    {4031, {-4031, kServerNoMemory}},    // shared memory
    {1110, {-1110, kServerIo}},          // data file
    {1114, {-1114, kServerIo}},          // I/O error writing a block
    {1115, {-1115, kServerIo}},          // I/O error reading a block
    {27072, {-27072, kServerIo}},        // file I/O error
    {1578, {-1578, kServerDamaged}},     // data block corrupted
    // Shutdown, no answer.
    {1089, {kOraShutdown, kServerShutdown}},
    {1033, {kSqlStartingUp, kServerShutdown}},  // initialization or shutdown in progress
    {1034, {-1034, kNotAvailable}},             // ORACLE not available
    {12609, {kOraNoAnswer, kNoAnswer}},
};

// Failures without an ORA number, by SQLSTATE; a row of two characters
// names a whole class, and the SQLSTATEs come first.
struct StateRow {
  const char* state;
  OraError error;
};

constexpr StateRow kStates[] = {
    {"08001", {kSqlNoListener, kUnreachable}},
    {"08004", {kSqlNoListener, kUnreachable}},
    {"08003", {kOraNotConnected, kLost}},
    {"08007", {kOraConnectionLost, kLost}},
    {"08S01", {kOraConnectionLost, kLost}},
    {"28000", {kSqlLoginRefused, nullptr}},
    {"HYT00", {kOraNoAnswer, kNoAnswer}},
    {"HYT01", {kOraNoAnswer, kNoAnswer}},
    {"HY001", {kOraNoMemory, kServerNoMemory}},
    {"HY008", {kSqlCancelled, kSqlStoppedWhat}},
    {"22003", {kSqlIntOverflow, nullptr}},
    {"22007", {kOraDateMismatch, nullptr}},
    {"22008", {kOraDateMismatch, nullptr}},
    {"22018", {kSqlBadNumber, nullptr}},
    {"42S02", {kSqlNoTable, nullptr}},
    {"42S22", {kSqlNoColumn, nullptr}},
    {"40001", {kSqlDeadlock, nullptr}},
    {"23", {kSqlDupKey, nullptr}},
    {"IM", {kSqlUnknownService, nullptr}},
    {"08", {kOraConnectionLost, kLost}},
};

constexpr long kOraMax = 99999;

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Upper(char c) { return c >= 'A' && c <= 'Z'; }

bool Is_State(const char* s) {
  if (s == nullptr) return false;
  for (int i = 0; i < 5; ++i) {
    if (!Digit(s[i]) && !Upper(s[i])) return false;
  }
  return s[5] == '\0';
}

bool Is_Timeout_State(const char* s) { return Is_State(s) && std::strncmp(s, "HYT0", 4) == 0; }

OraError State_Error(const char* state) {
  if (!Is_State(state)) return OraError{kOraConnectionLost, kLost};
  for (const StateRow& r : kStates) {
    if (std::strncmp(r.state, state, std::strlen(r.state)) == 0) return r.error;
  }
  if (Digit(state[0]) && Digit(state[1])) return OraError{-20000 - ((state[0] - '0') * 10 + (state[1] - '0')), nullptr};
  return OraError{-20099, nullptr};
}

// The territory of the session: options' own when it may be sent, else the
// one that numbers the weekdays as the other backends do for that name.
std::string Session_Territory(const std::string& territory) {
  if (Ora_Territory_Valid(territory)) return territory;
  return Ora_Territory_Sunday_First(territory.c_str()) ? "AMERICA" : "GERMANY";
}

}  // namespace

OraError Ora_Error_Of(long native, const char* sqlstate) {
  if (native <= 0 || native > kOraMax) return State_Error(sqlstate);
  // ORA-01013 ends both a call cancelled after a stop signal and the
  // driver's query timeout; only the SQLSTATE tells them apart.
  if (native == 1013) {
    if (Is_Timeout_State(sqlstate)) return OraError{kOraNoAnswer, kNoAnswer};
    return OraError{kSqlCancelled, kSqlStoppedWhat};
  }
  for (const Row& r : kRows) {
    if (r.native == native) return r.error;
  }
  return OraError{static_cast<int>(-native), nullptr};
}

OraError Ora_Connect_Error_Of(long native, const char* sqlstate) {
  if (native == 12170 || native == 12535) return OraError{kSqlConnectTimeout, nullptr};
  if ((native <= 0 || native > kOraMax || native == 1013) && Is_Timeout_State(sqlstate)) {
    return OraError{kSqlConnectTimeout, nullptr};
  }
  return Ora_Error_Of(native, sqlstate);
}

bool Ora_Territory_Valid(const std::string& territory) {
  const size_t n = territory.size();
  if (n == 0 || n > 40) return false;
  if (!Upper(territory.front()) || !Upper(territory.back())) return false;
  for (const char c : territory) {
    if (!Upper(c) && c != ' ' && c != '-') return false;
  }
  return true;
}

std::vector<std::string> Ora_Session_Statements(const SqlOptions& options) {
  // The territory first: it resets the date format and the numeric
  // characters, which the statements after it set again.
  return {
      "ALTER SESSION SET NLS_TERRITORY = '" + Session_Territory(options.territory) + "'",
      "ALTER SESSION SET NLS_DATE_FORMAT = 'DD-MON-RR'",
      "ALTER SESSION SET NLS_DATE_LANGUAGE = 'AMERICAN'",
      "ALTER SESSION SET NLS_NUMERIC_CHARACTERS = '.,'",
      "ALTER SESSION SET NLS_CALENDAR = 'GREGORIAN'",
      "ALTER SESSION SET NLS_SORT = 'BINARY'",
      "ALTER SESSION SET NLS_COMP = 'BINARY'",
  };
}

std::string Ora_Schema_Switch(const std::string& name) {
  if (name.empty() || name.size() > 128 || !Upper(name[0])) return "";
  for (const char c : name) {
    if (!Upper(c) && !Digit(c) && c != '_' && c != '$' && c != '#') return "";
  }
  return "ALTER SESSION SET CURRENT_SCHEMA = " + name;
}

std::string Ora_Text(const SqlParsed& parsed) { return parsed.sql; }

}  // namespace sqlrt

// The Oracle dialect of the ODBC backend: what the backend sends to and
// makes of an Oracle server reached through Oracle's ODBC driver (the
// driver's SQL_DBMS_NAME is "Oracle"). Plain functions of plain values, so
// that they run (and are tested) without a server, a driver or Oracle's
// headers.
//
// The job's statement texts are Oracle SQL, and its status codes are
// Oracle's numbers: a text goes to the server as the runtime parsed it
// ('?' per input, which the driver binds in order), and an ORA number is the
// job's code for it, negated (ORA-00942 is -942). What the dialect adds:
//   - the few numbers that mean what the other backends report under
//     another code (the job's own one for the condition: -1400 also for a
//     NULL written by an update, -1455 for a number too large for its
//     column, -1861 for a date text that does not match its format,
//     -1847 for a day the month lacks, -2112 for a select-into of several
//     rows, -54 for every lock not granted in time, -18 for a server with
//     no session or process left, -12514 for an unknown service or SID,
//     -12541 for a host that cannot be reached, -12170 for a connect timed
//     out, 1403 for no data);
//   - which failures leave the session unable to go on (Session::Broken,
//     backend.h) and their texts:
//        lost connection  3113 3114 3135 1012 28 1092 2396 12152 12537
//                         12547 12570 12571
//        unreachable      12541 12543 12545 12560 (all -12541)
//        read-only        16000
//        no room          1652 1653 1654 1688 1691 30036 (tablespace),
//                         1536 (quota), 257 (archiver stuck)
//        no memory        4030 4031
//        I/O, damage      1110 1114 1115 27072, 1578 (damaged block)
//        shutdown         1089 1033, 1034 (not available)
//        no answer        12609, and 1013 with SQLSTATE HYT00/HYT01 (the
//                         driver's query timeout)
//        stopped          1013 otherwise (a call cancelled after a stop
//                         signal: kSqlStoppedWhat)
//     Every other failure concerns its statement alone; a lock not granted
//     (54, 30006, 2049) and a deadlock (60) among them, as on PostgreSQL.
//   - any other ORA number N (1 to 99999) is -N and leaves the session
//     usable: the code Oracle gave, shown as the job was written to show it.
//   - a failure without an ORA number (native 0: the driver manager's or
//     the driver's own) maps by SQLSTATE: IM002 and the other IM states
//     (no such data source, the driver cannot be loaded) -12154, 08001 and
//     08004 -12541, 08S01, 08003 and 08007 the lost connection, 28000
//     -1017, HYT00 and HYT01 no answer (-12609), HY001 no memory, HY008 the
//     stop, class 23 -1, 22003 -1455, 22007/22008 -1861, 22018 -1722, 42S02
//     -942, 42S22 -904, 40001 -60; others -20000 - NN for a numeric class
//     NN, else -20099. A failure with neither an ORA number nor a SQLSTATE
//     is a call the driver could not tell anything of: the lost connection.
//   - a native number that is no ORA number (negative, over 99999) maps as
//     native 0 does.
#pragma once

#include <string>
#include <vector>

#include "db/sqlparse.h"
#include "db/sqlrt.h"

namespace sqlrt {

// The Oracle dialect's own status codes (the ORA numbers).
constexpr int kOraConnectionLost = -3113;  // end-of-file on communication channel
constexpr int kOraNotConnected = -3114;    // not connected to ORACLE
constexpr int kOraReadOnly = -16000;       // database open for read-only access
constexpr int kOraNoRoom = -1653;          // unable to extend table
constexpr int kOraNoMemory = -4030;        // out of process memory
constexpr int kOraShutdown = -1089;        // immediate shutdown in progress
constexpr int kOraNoAnswer = -12609;       // TNS: receive timeout occurred

// A failure as the runtime sees it.
struct OraError {
  int code;            // the job's status: negative, or 1403
  const char* broken;  // the condition for Session::Broken, or null while the session can go on
};

// The failure that Oracle's ODBC driver reports with native error `native`
// (the ORA number, positive) and `sqlstate` (five characters, or null).
// The SQLSTATE decides only where native is no ORA number, and for ORA-01013,
// which the driver gives both for a cancelled call and for its query
// timeout (HYT00).
OraError Ora_Error_Of(long native, const char* sqlstate);

// The failure of a connect: as Ora_Error_Of, except that a timeout (HYT00,
// HYT01, ORA-12170, ORA-12535) is the connect's own, -12170.
OraError Ora_Connect_Error_Of(long native, const char* sqlstate);

// The statements the session runs once at connect, in order, before any of
// the job's: the territory (options.territory when it is a territory name,
// see Ora_Territory_Valid), then what the job's texts rely on whatever the
// client's environment or the server's defaults say: the default date
// format DD-MON-RR in English (a DATE read into a text, TO_DATE of a date or
// of a text without a format), '.' as the decimal point, the Gregorian
// calendar, binary comparison and sorting of texts.
std::vector<std::string> Ora_Session_Statements(const SqlOptions& options);

// Whether `territory` may go into a statement as a territory name: 1 to 40
// characters, upper-case ASCII letters, blanks and '-', beginning and
// ending with a letter, as Ora_Territory_From_Env gives a name. Anything
// else is never sent: the session then gets AMERICA or GERMANY, whichever
// numbers the weekdays as Ora_Territory_Sunday_First does for that text, so
// that TO_CHAR(d, 'D') gives what the other backends give.
bool Ora_Territory_Valid(const std::string& territory);

// The statement that makes schema `name` current:
// "ALTER SESSION SET CURRENT_SCHEMA = NAME". `name` must be an upper-case
// plain identifier of at most 128 characters (an A-Z letter, then A-Z,
// 0-9, _, $, #), as Sql_Parse_Schema_Switch gives it; "" for anything else.
std::string Ora_Schema_Switch(const std::string& name);

// The text sent for a parsed statement: its neutral text unchanged, the
// '?' markers in the order of the inputs.
std::string Ora_Text(const SqlParsed& parsed);

}  // namespace sqlrt

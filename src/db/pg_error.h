// The PostgreSQL backend's native errors: what each SQLSTATE a statement
// can meet means to the runtime (a status code of sqlrt.h or one of the
// backend's own below), and whether the session can go on after it.
// Called by the session (pg_session.cpp) wherever the server answers; the
// phases see only the status codes.
//
// Native errors map by SQLSTATE, never by message text:
//      -1  23505 unique violation         -1400  23502 NULL into NOT NULL
//    -942  42P01 undefined table, 3F000   -904   42703 undefined column,
//          undefined schema                      42883 undefined function
//     -54  55P03 lock not granted in time  -60   40P01 deadlock
//    -900  42601 syntax error             -2290  23514 check violation
//   -1722  22P02 not a number             -1455  22003 number out of range
//   -1861  22007, 22008 invalid date      -1435  schema to switch to missing
//   -3113  connection lost (the session is then broken)
//  -16000  25006 read-only transaction (a standby)
//   -1653  53100 disk full      -4030 53200 out of memory   -1114 58030 I/O
//   -1089  57P01..57P03 server shutting down
//   -1017  connect: authentication failed   -12541 connect: no server
//     -18  connect: 53300 no connection slot left   -12514 connect: 3D000
//          no such database   -1033 connect: 57P03 starting up
//  -12170  connect: no answer in time  -12609 no answer to a request in
//          time (the session is then broken)
//  -20000 - NN  any other failure of SQLSTATE class NN (numeric classes), or
//  -20099 for the others
//
// The session is broken (Session::Broken) after a lost connection (class
// 08, or an answer that is missing or carries no SQLSTATE), a read-only
// server, a full disk, no memory, an I/O error and a shutdown; every other
// failure concerns its statement alone.
#pragma once

namespace sqlrt {

// The backend's own status codes (Oracle's numbers for the same conditions).
constexpr int kPgConnectionLost = -3113;  // end-of-file on the connection
constexpr int kPgReadOnly = -16000;       // database open for read-only access
constexpr int kPgDiskFull = -1653;        // unable to extend
constexpr int kPgNoMemory = -4030;        // out of process memory
constexpr int kPgIoError = -1114;         // I/O error writing a block
constexpr int kPgShutdown = -1089;        // immediate shutdown in progress
constexpr int kPgNoAnswer = -12609;       // receive timeout: a request got no answer in time

// A failure as the runtime sees it.
struct PgError {
  int code;            // the status code (negative)
  const char* broken;  // the condition for Session::Broken, or null while the session can go on
};

// The failure of SQLSTATE `state` (five characters). Null, or a text that
// is no SQLSTATE, stands for an answer the server never gave: the lost
// connection.
PgError Pg_Error_Of(const char* state);

// The lost connection, where no SQLSTATE comes with it (a message that could
// not be sent, a missing answer).
PgError Pg_Error_Lost();

// A request that got no answer within the reply timeout: the session is
// broken, since nothing tells what the server did with it.
PgError Pg_Error_No_Answer();

// A wait cut short by a stop signal (base/stop.h): the session is given up
// as the runtime gives it up for a stop (-1013).
PgError Pg_Error_Stopped();

// The status of a connect that failed, from libpq's message of it (made with
// the PQERRORS_SQLSTATE verbosity, so that the server's refusal carries its
// SQLSTATE as "SEVERITY:  XXXXX") and whether a password was asked for or
// used. A refusal the server gave names its cause (no slot left, no such
// database, starting up, authentication); one without a SQLSTATE (refused,
// unreachable, closed) is -12541.
int Pg_Connect_Error(const char* message, bool password_involved);

}  // namespace sqlrt

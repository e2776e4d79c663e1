// The Oracle functions the job's statements use, as SQL functions of the
// embedded backend's connection: sysdate, TO_DATE, TO_CHAR, TO_NUMBER, NVL
// and MOD, and DAYSET_DATE, the check of TO_CHAR(date, fmt) without the
// text (the statement formats the number it gives at the fetch). The
// session (sqlite_backend.cpp) registers them once at connect
// and reads back, after a failed step, the Oracle code of a function that
// refused its arguments (a date or number that does not convert).
//
// DATE values are Julian day numbers in local time (db/oradate.h); sysdate
// is the job's clock (base/clock.h). NULL, and an empty text, give NULL.
#pragma once

struct sqlite3;

namespace sqlrt {

// What the functions share with the session.
struct SqliteFuncContext {
  bool sunday_first = true;  // TO_CHAR(d, 'D') counts from Sunday, else from Monday
  int error = 0;             // Oracle code of the last failed function call; the session clears it
  // sysdate of the last call and the clock's second it is for: most calls
  // fall in the same second as the one before.
  long long sysdate_at = -1;
  double sysdate_jd = 0;
};

// Registers the functions on `db` with `context` as their user data, which
// must outlive the connection. Returns SQLITE_OK, or the result code of
// the registration that failed.
int Sqlite_Functions_Register(sqlite3* db, SqliteFuncContext* context);

}  // namespace sqlrt

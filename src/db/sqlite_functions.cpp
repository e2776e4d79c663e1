#include "db/sqlite_functions.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "db/hostvar.h"
#include "db/oradate.h"
#include "db/sqlrt.h"

namespace sqlrt {

namespace {

// Fails the call; the session reports `code` for the statement.
void Func_Fail(sqlite3_context* ctx, int code, const char* what) {
  static_cast<SqliteFuncContext*>(sqlite3_user_data(ctx))->error = code;
  sqlite3_result_error(ctx, what, -1);
}

// A value as a Julian day number: numbers are taken as dates.
bool Value_Jd(sqlite3_value* v, double* jd) {
  const int t = sqlite3_value_numeric_type(v);
  if (t != SQLITE_INTEGER && t != SQLITE_FLOAT) return false;
  *jd = sqlite3_value_double(v);
  return true;
}

void Fn_Sysdate(sqlite3_context* ctx, int, sqlite3_value**) {
  SqliteFuncContext* fc = static_cast<SqliteFuncContext*>(sqlite3_user_data(ctx));
  const std::time_t now = Clock_Now();
  if (static_cast<long long>(now) != fc->sysdate_at) {
    std::tm t{};
    localtime_r(&now, &t);
    const OraCivil c{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    fc->sysdate_jd = Ora_Jd_From_Civil(c);
    fc->sysdate_at = static_cast<long long>(now);
  }
  sqlite3_result_double(ctx, fc->sysdate_jd);
}

// TO_DATE(text, fmt); TO_DATE(date) is the date's day; TO_DATE(text) reads
// the default form DD-MON-RR. NULL gives NULL.
void Fn_To_Date(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  const int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL || (argc == 2 && sqlite3_value_type(argv[1]) == SQLITE_NULL)) {
    sqlite3_result_null(ctx);
    return;
  }
  if (type == SQLITE_FLOAT || (argc == 1 && type == SQLITE_INTEGER)) {
    const double jd = sqlite3_value_double(v);
    if (!Ora_Jd_Valid(jd)) {
      Func_Fail(ctx, kOraBadYear, "TO_DATE: not a date of the years 1 to 9999");
      return;
    }
    sqlite3_result_double(ctx, Ora_Jd_Trunc(jd));
    return;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
  const size_t len = static_cast<size_t>(sqlite3_value_bytes(v));
  if (len == 0) {
    sqlite3_result_null(ctx);
    return;
  }
  const char* fmt = "DD-MON-RR";
  size_t fmtlen = 9;
  if (argc == 2) {
    fmt = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    fmtlen = static_cast<size_t>(sqlite3_value_bytes(argv[1]));
  }
  double jd;
  const int rc = Ora_Date_Parse(text, len, fmt, fmtlen, &jd);
  if (rc != 0) {
    Func_Fail(ctx, rc, "TO_DATE: invalid date");
    return;
  }
  sqlite3_result_double(ctx, jd);
}

// A number as Oracle prints it: integers without a fraction.
void Result_Number_Text(sqlite3_context* ctx, sqlite3_value* v) {
  char buf[40];
  size_t n;
  if (sqlite3_value_type(v) == SQLITE_INTEGER) {
    n = static_cast<size_t>(std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(sqlite3_value_int64(v))));
  } else {
    n = Sql_Number_Text(sqlite3_value_double(v), buf, sizeof buf);
  }
  sqlite3_result_text(ctx, buf, static_cast<int>(n), SQLITE_TRANSIENT);
}

// TO_CHAR(date, fmt); TO_CHAR(x) gives the number or text as text.
void Fn_To_Char(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  const int type = sqlite3_value_type(v);
  if (type == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if (argc == 1) {
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
      Result_Number_Text(ctx, v);
    } else {
      sqlite3_result_value(ctx, v);
    }
    return;
  }
  double jd;
  if (!Value_Jd(v, &jd)) {
    Func_Fail(ctx, kOraDateMismatch, "TO_CHAR: not a date");
    return;
  }
  const char* fmt = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  const size_t fmtlen = static_cast<size_t>(sqlite3_value_bytes(argv[1]));
  char out[64];
  const SqliteFuncContext* fc = static_cast<SqliteFuncContext*>(sqlite3_user_data(ctx));
  const int n = Ora_Date_Format(jd, fmt != nullptr ? fmt : "", fmtlen, fc->sunday_first, out, sizeof out);
  if (n < 0) {
    Func_Fail(ctx, n, "TO_CHAR: date format not recognized");
    return;
  }
  sqlite3_result_text(ctx, out, n < static_cast<int>(sizeof out) ? n : static_cast<int>(sizeof out) - 1,
                      SQLITE_TRANSIENT);
}

// DAYSET_DATE(date): what TO_CHAR(date, fmt) refuses, it refuses alike;
// anything else it gives back as a Julian day number, for the statement to
// format (a select list's TO_CHAR under the job's own formats, see
// sqlite_backend.cpp). NULL gives NULL.
void Fn_Dayset_Date(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  if (sqlite3_value_type(v) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  double jd;
  if (!Value_Jd(v, &jd)) {
    Func_Fail(ctx, kOraDateMismatch, "TO_CHAR: not a date");
    return;
  }
  if (!Ora_Jd_Valid(jd)) {
    Func_Fail(ctx, kOraBadYear, "TO_CHAR: not a date of the years 1 to 9999");
    return;
  }
  sqlite3_result_double(ctx, jd);
}

void Fn_To_Number(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      sqlite3_result_value(ctx, v);
      return;
    default: {
      const size_t n = static_cast<size_t>(sqlite3_value_bytes(v));
      if (n == 0) {
        sqlite3_result_null(ctx);
        return;
      }
      bool is_int;
      long long iv;
      double dv;
      if (!Sql_Number_Parse(reinterpret_cast<const char*>(sqlite3_value_text(v)), n, &is_int, &iv, &dv)) {
        Func_Fail(ctx, kSqlBadNumber, "TO_NUMBER: invalid number");
      } else if (is_int) {
        sqlite3_result_int64(ctx, iv);
      } else {
        sqlite3_result_double(ctx, dv);
      }
    }
  }
}

// NVL(a, b): b where a is NULL (an empty text is NULL).
void Fn_Nvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* a = argv[0];
  const int t = sqlite3_value_type(a);
  const bool null = t == SQLITE_NULL || (t == SQLITE_TEXT && sqlite3_value_bytes(a) == 0);
  sqlite3_result_value(ctx, null ? argv[1] : a);
}

// MOD(m, n): Oracle's, with the sign of m, and MOD(m, 0) = m.
void Fn_Mod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int tm = sqlite3_value_numeric_type(argv[0]);
  const int tn = sqlite3_value_numeric_type(argv[1]);
  if (tm == SQLITE_NULL || tn == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if ((tm != SQLITE_INTEGER && tm != SQLITE_FLOAT) || (tn != SQLITE_INTEGER && tn != SQLITE_FLOAT)) {
    Func_Fail(ctx, kSqlBadNumber, "MOD: invalid number");
    return;
  }
  if (tm == SQLITE_INTEGER && tn == SQLITE_INTEGER) {
    const long long m = sqlite3_value_int64(argv[0]);
    const long long n = sqlite3_value_int64(argv[1]);
    sqlite3_result_int64(ctx, n == 0 ? m : (n == -1 ? 0 : m % n));
    return;
  }
  const double m = sqlite3_value_double(argv[0]);
  const double n = sqlite3_value_double(argv[1]);
  sqlite3_result_double(ctx, n == 0 ? m : std::fmod(m, n));
}

}  // namespace

int Sqlite_Functions_Register(sqlite3* db, SqliteFuncContext* context) {
  struct Fn {
    const char* name;
    int args;
    bool deterministic;
    void (*call)(sqlite3_context*, int, sqlite3_value**);
  };
  static const Fn kFns[] = {
      {"sysdate", 0, false, Fn_Sysdate},    {"to_date", 1, true, Fn_To_Date}, {"to_date", 2, true, Fn_To_Date},
      {"to_char", 1, true, Fn_To_Char},     {"to_char", 2, true, Fn_To_Char}, {"to_number", 1, true, Fn_To_Number},
      {"nvl", 2, true, Fn_Nvl},             {"mod", 2, true, Fn_Mod},         {"dayset_date", 1, true, Fn_Dayset_Date},
  };
  for (const Fn& f : kFns) {
    const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    const int rc = sqlite3_create_function(db, f.name, f.args, flags, context, f.call, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace sqlrt

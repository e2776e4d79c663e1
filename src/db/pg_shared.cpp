#include "db/pg_shared.h"

#include <charconv>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "db/hostvar.h"
#include "db/oradate.h"
#include "db/pg_session.h"

namespace sqlrt {

namespace {

// The built-in types the job meets: how the translator treats a column of
// the type, and how a run's array names its elements.
struct PgBuiltin {
  Oid oid;
  PgType type;
  const char* name;
};
constexpr PgBuiltin kBuiltins[] = {
    {kOidBool, PgType::kUnknown, "bool"},     {kOidInt2, PgType::kNum, "int2"},
    {kOidInt4, PgType::kNum, "int4"},         {kOidInt8, PgType::kNum, "int8"},
    {kOidFloat4, PgType::kNum, "float4"},     {kOidFloat8, PgType::kNum, "float8"},
    {kOidNumeric, PgType::kNum, "numeric"},   {kOidText, PgType::kText, "text"},
    {kOidVarchar, PgType::kText, "varchar"},  {kOidBpchar, PgType::kText, "bpchar"},
    {kOidDate, PgType::kDate, "date"},        {kOidTimestamp, PgType::kDate, "timestamp"},
    {kOidTimestampTz, PgType::kDate, "timestamptz"},
};

const PgBuiltin* Pg_Builtin(unsigned oid) {
  for (const PgBuiltin& b : kBuiltins) {
    if (b.oid == oid) return &b;
  }
  return nullptr;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> Pg_Session_Settings(const SqlOptions& options) {
  return {{"search_path", "pg_catalog"},
          {"DateStyle", "ISO,YMD"},
          {"TimeZone", "UTC"},
          {"IntervalStyle", "postgres"},
          {"standard_conforming_strings", "on"},
          {"enable_seqscan", "off"},
          {"lock_timeout", std::to_string(options.lock_wait_ms)}};
}

const char kPgCatalogSql[] =
    "select lower(a.attname), a.atttypid from pg_catalog.pg_attribute a join pg_catalog.pg_class c on "
    "c.oid = a.attrelid join pg_catalog.pg_namespace n on n.oid = c.relnamespace where n.nspname in "
    "($2, $1) and c.relkind in ('r', 'p', 'v', 'm', 'f') and a.attnum > 0 and not a.attisdropped";

const char kPgSchemaSwitchSql[] =
    "select pg_catalog.set_config('search_path', $1, false) from pg_catalog.pg_namespace where nspname = $2";

const char kPgNoWaitSql[] = "SET LOCAL lock_timeout = 1";

PgType Pg_Type_Of_Oid(unsigned oid) {
  const PgBuiltin* b = Pg_Builtin(oid);
  return b != nullptr ? b->type : PgType::kUnknown;
}

const char* Pg_Type_Name(unsigned oid) {
  const PgBuiltin* b = Pg_Builtin(oid);
  return b != nullptr ? b->name : "";
}

int Pg_Input_Bind(const PgTranslation& tr, int index, const SqlVar& var, std::vector<std::string>* values,
                  std::vector<char>* null) {
  if (index < 0 || index >= tr.inputs) return kSqlBindMismatch;
  const size_t i = static_cast<size_t>(index);
  if (var.data == nullptr || (var.kind == SqlVar::kString && var.size <= 0)) return kSqlBadVariable;
  const bool is_null = var.ind != nullptr && *var.ind < 0;
  char num[16];
  const char* text;
  size_t len;
  if (var.kind == SqlVar::kString) {
    text = static_cast<const char*>(var.data);
    len = is_null ? 0 : strnlen(text, static_cast<size_t>(var.size));
  } else {
    len = is_null ? 0
                  : static_cast<size_t>(std::to_chars(num, num + sizeof num, *static_cast<const int32_t*>(var.data)).ptr -
                                        num);
    text = num;
  }
  // Oracle stores an empty text as NULL.
  (*null)[i] = len == 0;
  if (len == 0) return 0;
  const PgParam& source = tr.params[i];
  if (source.kind == PgParam::kDateFmt) {
    const int rc = Pg_Date_Param(text, len, source.fmt.data(), source.fmt.size(), &(*values)[i]);
    if (rc != 0) (*null)[i] = 1;
    return rc;
  }
  (*values)[i].assign(text, len);
  return 0;
}

int Pg_Date_Out(const OraCivil& c, const std::string& tpl, const SqlVar& out) {
  if (c.year < 1 || c.year > 9999) return kOraBadYear;
  char text[32];
  size_t n = 0;
  const auto put = [&](int v, int digits) {
    for (int k = digits - 1; k >= 0; --k, v /= 10) text[n + static_cast<size_t>(k)] = static_cast<char>('0' + v % 10);
    n += static_cast<size_t>(digits);
  };
  for (const char x : tpl) {
    if (n + 4 > sizeof text) return kOraFormatUnknown;  // the translation makes none this long
    switch (x) {
      case 'Y':
        put(c.year, 4);
        break;
      case 'M':
        put(c.month, 2);
        break;
      case 'D':
        put(c.day, 2);
        break;
      case 'H':
        put(c.hour, 2);
        break;
      case 'I':
        put(c.minute, 2);
        break;
      case 'S':
        put(c.second, 2);
        break;
      default:
        text[n++] = x;
    }
  }
  return Hostvar_Put_Text(out, text, n);
}

void Pg_Clock_Values(const PgTranslation& tr, std::vector<std::string>* values, std::vector<char>* null) {
  for (size_t i = static_cast<size_t>(tr.inputs); i < tr.params.size(); ++i) {
    const std::time_t now = Clock_Now();
    std::tm t{};
    localtime_r(&now, &t);
    OraCivil c{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    if (tr.params[i].kind == PgParam::kToday) c.hour = c.minute = c.second = 0;
    char buf[32];
    Pg_Timestamp_Text(c, buf);
    (*values)[i].assign(buf);
    (*null)[i] = 0;
  }
}

}  // namespace sqlrt

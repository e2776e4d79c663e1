#include "db/pg_shared.h"

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

}  // namespace sqlrt

// The PostgreSQL dialect translation on any statement text the parser
// accepts, with the job's date columns known to the catalog or not, in
// both weekday numberings.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "db/oradate.h"
#include "db/pg_translate.h"
#include "db/sqlparse.h"

namespace {

using sqlrt::PgParam;
using sqlrt::PgTranslation;

const sqlrt::PgCatalog kCatalog = {{"bakdtm", sqlrt::PgType::kDate},
                                   {"tagtag", sqlrt::PgType::kDate},
                                   {"urvjhr", sqlrt::PgType::kNum},
                                   {"bsvpnr", sqlrt::PgType::kText}};
const sqlrt::PgCatalog kEmpty;

bool Ends_With(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

void Check(const SqlParsed& parsed, const std::string& text, const PgTranslation& t) {
  // A refusal is a date's or a format's, or a '?' without a host variable.
  if (t.error != 0) {
    if (t.error != kSqlBindMismatch && (t.error > kOraFormatUnknown || t.error < kOraDateMismatch)) std::abort();
    return;
  }
  // One parameter per host variable, made from it; then the clock's.
  if (t.inputs != parsed.inputs || t.params.size() < static_cast<size_t>(t.inputs)) std::abort();
  for (size_t i = 0; i < t.params.size(); ++i) {
    const bool clock = t.params[i].kind == PgParam::kSysdate || t.params[i].kind == PgParam::kToday;
    if (clock != (i >= static_cast<size_t>(t.inputs))) std::abort();
    if (t.params[i].kind != PgParam::kDateFmt && !t.params[i].fmt.empty()) std::abort();
  }
  // A date column's template fits the room the client writes it into, and
  // only a query's list has one.
  for (const std::string& tpl : t.date_out) {
    if (parsed.write || tpl.size() > 24 || tpl.find_first_not_of("YMDHIS-/.:, ") != std::string::npos) std::abort();
  }
  // Only a write can ignore an existing key, and says so in its text; a
  // statement that says so itself keeps its words (and is not ignoring).
  const bool says = Ends_With(t.sql, " ON CONFLICT DO NOTHING");
  if (t.ignore && !(parsed.write && says)) std::abort();
  if (!t.ignore && parsed.write && says && sqlrt::Pg_Fold_Name(text).find("conflict") == std::string::npos) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  SqlParsed parsed;
  if (Sql_Parse(text.c_str(), &parsed) != 0) return 0;
  const PgTranslation a = sqlrt::Pg_Translate(parsed, kCatalog, false);
  const PgTranslation b = sqlrt::Pg_Translate(parsed, kEmpty, true);
  Check(parsed, text, a);
  Check(parsed, text, b);
  // What the catalog and the territory change is the text, never whether
  // the statement is refused or how its parameters are made.
  if (a.error != b.error || a.params.size() != b.params.size() || a.ignore != b.ignore) std::abort();
  return 0;
}

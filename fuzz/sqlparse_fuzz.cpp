// The statement-text parser and its scanner on any text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "db/sqlparse.h"

namespace {

// The tokens cover the text from start to end, each non-empty and in order.
void Check_Tokens(const std::string& text) {
  size_t pos = 0;
  for (;;) {
    const SqlToken t = Sql_Token_At(text, pos);
    if (t.kind == SqlToken::kEnd) break;
    if (t.begin != pos || t.end <= t.begin || t.end > text.size()) std::abort();
    if (t.kind == SqlToken::kWord) Sql_Word_Is(text, t, "select");
    pos = t.end;
  }
  if (pos != text.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  Check_Tokens(text);
  SqlParsed parsed;
  if (Sql_Parse(text.c_str(), &parsed) == 0) {
    if (parsed.inputs < 0 || parsed.outputs < 0) std::abort();
    Check_Tokens(parsed.sql);
  }
  return 0;
}

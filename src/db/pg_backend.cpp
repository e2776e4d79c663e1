// The PostgreSQL backend: "postgresql://HOST[:PORT]/DBNAME[?PARAM=VALUE&...]"
// (also "postgres://") and "pg:SERVICE" for an entry of libpq's service file.
//
// Login and password travel to libpq as parameters of their own, never in a
// connection text; a net service name with a user or password in it is
// refused before anything is sent (Pg_Net_Check below).
//
// Schemas: schema NAME of the job is the PostgreSQL schema of the same name
// in lower case. PostgreSQL folds the statements' unquoted names the same
// way, so "HRSYSTEM.Hrs133Bak" addresses hrsystem.hrs133bak as it stands.
// The switch sets search_path to the current schema alone: an unqualified
// name that is missing there fails with -942, it never falls back to public
// or hrsystem. A schema that does not exist is refused (-1435).
//
// Settings: every session sets what the translation relies on at connect
// (DateStyle ISO, TimeZone UTC, client encoding UTF-8, lock_timeout), so the
// server's defaults do not matter. Texts compare byte by byte because the
// DDL gives every text column the collation "C".
//
// Translation: the statements' Oracle functions become PostgreSQL
// expressions (Translator below). DATE columns are timestamp(0) holding
// local wall time. sysdate is the job's own clock (base/clock.h), sent as a
// parameter, exactly as the embedded backend reads it; TO_DATE of a host
// variable is parsed here by db/oradate.h, so both backends accept and
// refuse the same date texts with the same codes. Date arithmetic (date + n,
// date - date) is rewritten by the columns' types, read once per schema
// from the catalog.
//
// Transactions: Oracle's. A transaction begins with the first insert,
// update or delete after connect or commit; reads outside it run on their
// own. Inside a transaction every statement runs between SAVEPOINT and
// RELEASE, sent with it in one pipeline (one round trip); only a failure
// costs a second one, ROLLBACK TO SAVEPOINT, so that a failed statement
// undoes its own effect alone and the transaction goes on. A commit without
// a write before it sends nothing.
//
// Cursors and select-into keep their whole result at execution: they read
// as of their open and survive commits.
//
// Native errors map by SQLSTATE:
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
//  -20000 - NN  any other failure of SQLSTATE class NN (numeric classes), or
//  -20099 for the others
#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/clock.h"
#include "db/backend.h"
#include "db/hostvar.h"
#include "db/oradate.h"
#include "db/pg_net.h"
#include "db/sqlparse.h"

namespace sqlrt {

namespace {

constexpr int kConnectionLost = -3113;
constexpr int kReadOnly = -16000;
constexpr int kDiskFull = -1653;
constexpr int kNoMemory = -4030;
constexpr int kIoError = -1114;
constexpr int kShutdown = -1089;
constexpr int kLoginRefused = -1017;
constexpr int kNoServer = -12541;

// Type OIDs of the built-in types (fixed in every PostgreSQL release).
constexpr Oid kOidBool = 16;
constexpr Oid kOidInt8 = 20;
constexpr Oid kOidInt2 = 21;
constexpr Oid kOidInt4 = 23;
constexpr Oid kOidText = 25;
constexpr Oid kOidFloat4 = 700;
constexpr Oid kOidFloat8 = 701;
constexpr Oid kOidBpchar = 1042;
constexpr Oid kOidVarchar = 1043;
constexpr Oid kOidDate = 1082;
constexpr Oid kOidTimestamp = 1114;
constexpr Oid kOidTimestampTz = 1184;
constexpr Oid kOidNumeric = 1700;

// What the translation knows of an expression.
enum class Ty { kUnknown, kDate, kNum, kText };

Ty Ty_Of_Oid(Oid oid) {
  switch (oid) {
    case kOidDate:
    case kOidTimestamp:
    case kOidTimestampTz:
      return Ty::kDate;
    case kOidInt2:
    case kOidInt4:
    case kOidInt8:
    case kOidFloat4:
    case kOidFloat8:
    case kOidNumeric:
      return Ty::kNum;
    case kOidText:
    case kOidVarchar:
    case kOidBpchar:
      return Ty::kText;
    default:
      return Ty::kUnknown;
  }
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

int Map_Sqlstate(const char* state) {
  if (state == nullptr || std::strlen(state) != 5) return kConnectionLost;
  struct Code {
    const char* state;
    int code;
  };
  static const Code kCodes[] = {
      {"23505", -1},         {"23502", kSqlNotNull},   {"23514", kSqlCheck},      {"42P01", kSqlNoTable},
      {"3F000", kSqlNoTable},   {"42703", kSqlNoColumn},  {"42883", kSqlNoColumn},   {"55P03", kSqlLocked},
      {"40P01", kSqlDeadlock},  {"42601", kSqlBadStatement}, {"22P02", kSqlBadNumber}, {"22003", kSqlIntOverflow},
      {"22007", kOraDateMismatch}, {"22008", kOraDateMismatch}, {"25006", kReadOnly}, {"53100", kDiskFull},
      {"53200", kNoMemory},  {"58030", kIoError},   {"57P01", kShutdown},   {"57P02", kShutdown},
      {"57P03", kShutdown},
  };
  for (const Code& c : kCodes) {
    if (std::strcmp(c.state, state) == 0) return c.code;
  }
  if (state[0] == '0' && state[1] == '8') return kConnectionLost;
  if (state[0] >= '0' && state[0] <= '9' && state[1] >= '0' && state[1] <= '9') {
    return -20000 - ((state[0] - '0') * 10 + (state[1] - '0'));
  }
  return -20099;
}

// The conditions after which the session can do nothing more, in the
// log's language (ASCII).
const char* Fatal_Condition(int code) {
  switch (code) {
    case kConnectionLost:
      return "Verbindung zum Datenbankserver verloren";
    case kReadOnly:
      return "Datenbankserver nur lesbar";
    case kDiskFull:
      return "Datentraeger des Datenbankservers voll";
    case kNoMemory:
      return "Datenbankserver ohne Speicher";
    case kIoError:
      return "E/A-Fehler auf dem Datenbankserver";
    case kShutdown:
      return "Datenbankserver wird heruntergefahren";
    default:
      return nullptr;
  }
}

// "YYYY-MM-DD HH:MM:SS" of a civil date, NUL-terminated (on every
// statement with a date: digits written by hand, no format parsing).
void Timestamp_Text(const OraCivil& c, char (&out)[32]) {
  const auto put = [&out](int at, int value, int width) {
    unsigned v = static_cast<unsigned>(value);
    for (int i = width - 1; i >= 0; --i, v /= 10) out[at + i] = static_cast<char>('0' + v % 10);
  };
  std::memcpy(out, "0000-00-00 00:00:00", 20);
  put(0, c.year % 10000, 4);
  put(5, c.month % 100, 2);
  put(8, c.day % 100, 2);
  put(11, c.hour % 100, 2);
  put(14, c.minute % 100, 2);
  put(17, c.second % 100, 2);
}

// Reads "YYYY-MM-DD[ HH:MM:SS]" as DateStyle ISO writes a timestamp; false
// for anything else (a year past 9999, BC).
bool Timestamp_Parse(const char* v, size_t len, OraCivil* c) {
  const auto num = [v](size_t at, size_t width, int* out) {
    int n = 0;
    for (size_t i = 0; i < width; ++i) {
      if (v[at + i] < '0' || v[at + i] > '9') return false;
      n = n * 10 + (v[at + i] - '0');
    }
    *out = n;
    return true;
  };
  *c = OraCivil{0, 1, 1, 0, 0, 0};
  if (len != 10 && len != 19) return false;
  if (!num(0, 4, &c->year) || v[4] != '-' || !num(5, 2, &c->month) || v[7] != '-' || !num(8, 2, &c->day)) {
    return false;
  }
  return len == 10 || (v[10] == ' ' && num(11, 2, &c->hour) && v[13] == ':' && num(14, 2, &c->minute) &&
                       v[16] == ':' && num(17, 2, &c->second));
}

// A date text under an Oracle format as a timestamp text for the server.
int Date_Param(const char* text, size_t len, const char* fmt, size_t fmtlen, std::string* out) {
  double jd;
  const int rc = Ora_Date_Parse(text, len, fmt, fmtlen, &jd);
  if (rc != 0) return rc;
  char buf[32];
  Timestamp_Text(Ora_Jd_To_Civil(jd), buf);
  out->assign(buf);
  return 0;
}

// ---------------------------------------------------------------------------
// Translation of the neutral statement text.

// How a parameter's value is made from its host variable, or from the clock.
struct ParamSpec {
  enum Kind { kPlain, kDateFmt, kSysdate, kToday } kind = kPlain;
  std::string fmt;  // kDateFmt: the Oracle format
};

struct Translation {
  std::string sql;
  // An insert that does nothing when its key exists (ON CONFLICT DO
  // NOTHING) and reports that as the unique violation it would have been:
  // the same outcome, without the error that would cost the transaction a
  // round trip to recover from.
  bool ignore = false;
  std::vector<ParamSpec> params;  // the inputs in order, then the clock's
  int inputs = 0;
  int error = 0;                  // a code the statement fails with
};

using Catalog = std::unordered_map<std::string, Ty>;

// The statement text as a tree: tokens, parameters, calls and parenthesised
// groups, each with its comma-separated parts.
struct Node {
  enum Kind { kTok, kParam, kCall, kGroup } kind = kTok;
  SqlToken::Kind tok = SqlToken::kOther;
  std::string text;                     // the token, or a call's name
  std::vector<std::vector<Node>> args;  // kCall, kGroup
  int input = -1;                       // kParam
};
using Seq = std::vector<Node>;

bool Is_Keyword(const std::string& lower) {
  static const char* const kWords[] = {
      "select", "from",  "where", "and",   "or",   "not",  "in",     "is",     "null", "like",
      "between", "order", "by",   "group", "having", "asc", "desc",  "distinct", "values", "set",
      "into",   "update", "insert", "delete", "as",  "on",   "join",  "case",   "when", "then",
      "else",   "end",   "exists", "union", "all",  "any",  "escape", "inner", "left", "outer"};
  for (const char* w : kWords) {
    if (lower == w) return true;
  }
  return false;
}

class Translator {
 public:
  Translator(const Catalog& catalog, bool sunday_first) : catalog_(catalog), sunday_first_(sunday_first) {}

  Translation Run(const SqlParsed& parsed) {
    in_ = &parsed.sql;
    tr_ = Translation{};
    tr_.inputs = parsed.inputs;
    tr_.params.resize(static_cast<size_t>(parsed.inputs));
    size_t pos = 0;
    int input = 0;
    Seq seq;
    Parse(&pos, &input, false, &seq);
    Ty ty;
    tr_.sql = Emit(seq, &ty);
    return std::move(tr_);
  }

 private:
  // Parses up to the end, or up to ',' or ')' inside parentheses (the
  // terminator is left at *pos). Returns the terminating character or 0.
  char Parse(size_t* pos, int* input, bool nested, Seq* out) {
    const std::string& in = *in_;
    for (;;) {
      const SqlToken t = Sql_Token_At(in, *pos);
      if (t.kind == SqlToken::kEnd) return 0;
      const char c = in[t.begin];
      if (t.kind == SqlToken::kOther && nested && (c == ',' || c == ')')) return c;
      *pos = t.end;
      if (t.kind == SqlToken::kOther && c == '?') {
        Node n;
        n.kind = Node::kParam;
        n.input = (*input)++;
        out->push_back(std::move(n));
        continue;
      }
      if (t.kind == SqlToken::kOther && c == '(') {
        Node n;
        n.kind = Node::kGroup;
        // A word right before the parenthesis (blanks between allowed)
        // that is no keyword names a function.
        size_t back = out->size();
        while (back > 0 && (*out)[back - 1].kind == Node::kTok && (*out)[back - 1].tok == SqlToken::kSpace) --back;
        if (back > 0 && (*out)[back - 1].kind == Node::kTok && (*out)[back - 1].tok == SqlToken::kWord &&
            !Is_Keyword(Lower((*out)[back - 1].text))) {
          n.kind = Node::kCall;
          n.text = (*out)[back - 1].text;
          out->resize(back - 1);
        }
        for (;;) {
          Seq part;
          const char end = Parse(pos, input, true, &part);
          n.args.push_back(std::move(part));
          if (end == 0) break;  // unbalanced: the server will say so
          *pos += 1;
          if (end == ')') break;
        }
        out->push_back(std::move(n));
        continue;
      }
      Node n;
      n.tok = t.kind;
      n.text.assign(in, t.begin, t.end - t.begin);
      out->push_back(std::move(n));
    }
  }

  // One piece of emitted text with what is known of it.
  struct Chunk {
    std::string text;
    Ty ty = Ty::kUnknown;
    bool operand = false;
    bool space = false;
    char op = 0;  // + - * / when the chunk is that operator
    bool number = false;
    bool name = false;  // an identifier, possibly qualified
  };

  std::string Extra(ParamSpec::Kind kind) {
    tr_.params.push_back(ParamSpec{kind, {}});
    return "$" + std::to_string(tr_.params.size()) + "::timestamp";
  }

  static const Node* Single(const Seq& s) {
    const Node* found = nullptr;
    for (const Node& n : s) {
      if (n.kind == Node::kTok && n.tok == SqlToken::kSpace) continue;
      if (found != nullptr) return nullptr;
      found = &n;
    }
    return found;
  }

  static std::string Literal_Value(const std::string& lit) {
    std::string v;
    for (size_t i = 1; i + 1 < lit.size(); ++i) {
      v += lit[i];
      if (lit[i] == '\'' && lit[i + 1] == '\'') ++i;
    }
    return v;
  }

  // An Oracle date format as a PostgreSQL template; false on an element
  // the job does not know.
  bool Pg_Format(const std::string& fmt, std::string* out) const {
    out->clear();
    size_t pos = 0;
    while (pos < fmt.size()) {
      const size_t start = pos;
      switch (Ora_Format_Next(fmt.data(), fmt.size(), &pos)) {
        case OraElem::kSep:
          *out += fmt[start];
          break;
        case OraElem::kYyyy:
          *out += "YYYY";
          break;
        case OraElem::kRr:
          *out += "YY";
          break;
        case OraElem::kMon: {
          // Case follows the format, as PostgreSQL's MON, Mon and mon do.
          const bool up1 = fmt[start] >= 'A' && fmt[start] <= 'Z';
          const bool up2 = fmt[start + 1] >= 'A' && fmt[start + 1] <= 'Z';
          *out += up1 ? (up2 ? "MON" : "Mon") : "mon";
          break;
        }
        case OraElem::kMm:
          *out += "MM";
          break;
        case OraElem::kMi:
          *out += "MI";
          break;
        case OraElem::kDdd:
          *out += "DDD";
          break;
        case OraElem::kDd:
          *out += "DD";
          break;
        case OraElem::kD:
          *out += sunday_first_ ? "D" : "ID";
          break;
        case OraElem::kIw:
          *out += "IW";
          break;
        case OraElem::kHh24:
          *out += "HH24";
          break;
        case OraElem::kSs:
          *out += "SS";
          break;
        case OraElem::kBad:
          return false;
      }
    }
    return true;
  }

  void Fail(int code) {
    if (tr_.error == 0) tr_.error = code;
  }

  std::string Date_Literal(const std::string& text, const std::string& fmt) {
    std::string ts;
    const int rc = Date_Param(text.data(), text.size(), fmt.data(), fmt.size(), &ts);
    if (rc != 0) {
      Fail(rc);
      return "NULL";
    }
    return "timestamp '" + ts + "'";
  }

  std::string Emit_Call(const Node& n, Ty* ty) {
    const std::string name = Lower(n.text);
    std::vector<std::string> a;
    std::vector<Ty> t;
    const auto arg = [&](size_t i) -> const std::string& { return a[i]; };
    const auto emit_args = [&]() {
      for (const Seq& s : n.args) {
        Ty at;
        a.push_back(Emit(s, &at));
        t.push_back(at);
      }
    };
    const size_t argc = n.args.size();
    if (name == "to_date" && (argc == 1 || argc == 2)) {
      *ty = Ty::kDate;
      const Node* first = Single(n.args[0]);
      std::string fmt = "DD-MON-RR";
      if (argc == 2) {
        const Node* f = Single(n.args[1]);
        if (f == nullptr || f->kind != Node::kTok || f->tok != SqlToken::kLiteral) {
          Fail(kOraFormatUnknown);
          return "NULL";
        }
        fmt = Literal_Value(f->text);
      }
      if (first != nullptr && first->kind == Node::kParam) {
        tr_.params[static_cast<size_t>(first->input)] = ParamSpec{ParamSpec::kDateFmt, fmt};
        return "$" + std::to_string(first->input + 1) + "::timestamp";
      }
      if (first != nullptr && first->kind == Node::kTok && first->tok == SqlToken::kLiteral) {
        const std::string value = Literal_Value(first->text);
        return value.empty() ? "NULL::timestamp" : Date_Literal(value, fmt);
      }
      if (argc == 1 && first != nullptr && first->kind == Node::kTok && Lower(first->text) == "sysdate") {
        return Extra(ParamSpec::kToday);
      }
      emit_args();
      if (argc == 1 && t[0] == Ty::kDate) return "date_trunc('day', " + arg(0) + ")";
      std::string pg;
      if (!Pg_Format(fmt, &pg)) Fail(kOraFormatUnknown);
      return "to_timestamp(NULLIF((" + arg(0) + ")::text, ''), '" + pg + "')::timestamp(0)";
    }
    if (name == "to_char" && (argc == 1 || argc == 2)) {
      *ty = Ty::kText;
      emit_args();
      if (argc == 1) return t[0] == Ty::kDate ? "to_char(" + arg(0) + ", 'DD-MON-YY')" : "(" + arg(0) + ")::text";
      const Node* f = Single(n.args[1]);
      std::string pg;
      if (f == nullptr || f->kind != Node::kTok || f->tok != SqlToken::kLiteral ||
          !Pg_Format(Literal_Value(f->text), &pg)) {
        Fail(kOraFormatUnknown);
        return "NULL";
      }
      return "to_char(" + arg(0) + ", '" + pg + "')";
    }
    if (name == "to_number" && argc == 1) {
      *ty = Ty::kNum;
      emit_args();
      return "NULLIF((" + arg(0) + ")::text, '')::numeric";
    }
    if (name == "nvl" && argc == 2) {
      emit_args();
      *ty = t[0] != Ty::kUnknown ? t[0] : t[1];
      return "COALESCE(" + arg(0) + ", " + arg(1) + ")";
    }
    if (name == "mod" && argc == 2) {
      // Oracle's MOD(m, 0) is m; PostgreSQL would divide by zero.
      *ty = Ty::kNum;
      emit_args();
      return "(CASE WHEN (" + arg(1) + ") = 0 THEN (" + arg(0) + ") ELSE MOD(" + arg(0) + ", " + arg(1) + ") END)";
    }
    emit_args();
    *ty = Ty::kUnknown;
    if ((name == "max" || name == "min") && argc == 1) *ty = t[0];
    if (name == "count" || name == "sum" || name == "avg") *ty = Ty::kNum;
    std::string out = n.text + "(";
    for (size_t i = 0; i < a.size(); ++i) {
      if (i > 0) out += ",";
      out += a[i];
    }
    return out + ")";
  }

  // Emits a sequence; *ty is its type when it is one operand.
  std::string Emit(const Seq& seq, Ty* ty) {
    std::vector<Chunk> ch;
    ch.reserve(seq.size());
    bool after_from = false;
    bool qualify = false;  // the last chunk is a name followed by '.'
    for (const Node& n : seq) {
      Chunk c;
      switch (n.kind) {
        case Node::kParam:
          c.text = "$" + std::to_string(n.input + 1);
          c.operand = true;
          break;
        case Node::kCall:
          c.text = Emit_Call(n, &c.ty);
          c.operand = true;
          break;
        case Node::kGroup: {
          c.text = "(";
          for (size_t i = 0; i < n.args.size(); ++i) {
            Ty pt;
            if (i > 0) c.text += ",";
            c.text += Emit(n.args[i], &pt);
            if (n.args.size() == 1) c.ty = pt;
          }
          c.text += ")";
          c.operand = true;
          break;
        }
        case Node::kTok:
          c.text = n.text;
          if (n.tok == SqlToken::kSpace) {
            c.space = true;
          } else if (n.tok == SqlToken::kWord) {
            const std::string w = Lower(n.text);
            if (qualify && !ch.empty()) {
              ch.back().text += n.text;
              const auto it = catalog_.find(w);
              ch.back().ty = it != catalog_.end() ? it->second : Ty::kUnknown;
              qualify = false;
              continue;
            }
            if (w == "sysdate") {
              c.text = Extra(ParamSpec::kSysdate);
              c.ty = Ty::kDate;
              c.operand = true;
            } else if (w == "dual" && after_from) {
              c.text = "(select 'X' as DUMMY) as DUAL";  // Oracle's one-row table
            } else if (!Is_Keyword(w)) {
              const auto it = catalog_.find(w);
              if (it != catalog_.end()) c.ty = it->second;
              c.operand = true;
              c.name = true;
            }
            after_from = w == "from";
          } else if (n.tok == SqlToken::kLiteral) {
            c.ty = Ty::kText;
            c.operand = true;
          } else if (n.tok == SqlToken::kQuoted) {
            c.operand = true;
            c.name = true;
          } else {
            const char x = n.text[0];
            if (x >= '0' && x <= '9') {
              if (!ch.empty() && ch.back().number) {
                ch.back().text += x;
                continue;
              }
              c.number = true;
              c.operand = true;
              c.ty = Ty::kNum;
            } else if (x == '.' && !ch.empty() && (ch.back().number || ch.back().name)) {
              ch.back().text += x;
              qualify = ch.back().name;
              continue;
            } else if (x == '+' || x == '-' || x == '*' || x == '/') {
              c.op = x;
            }
          }
          if (!c.space) qualify = false;
          break;
      }
      if (n.kind != Node::kTok || n.tok != SqlToken::kWord) after_from = after_from && c.space;
      ch.push_back(std::move(c));
    }
    Fold(&ch, "*/");
    Fold(&ch, "+-");
    std::string out;
    int operands = 0;
    Ty last = Ty::kUnknown;
    for (const Chunk& c : ch) {
      out += c.text;
      if (!c.space) {
        ++operands;
        last = c.operand ? c.ty : Ty::kUnknown;
      }
    }
    *ty = operands == 1 ? last : Ty::kUnknown;
    return out;
  }

  // Joins "operand op operand" for the operators in `ops`, left to right;
  // + and - with a date operand become PostgreSQL's date arithmetic.
  static void Fold(std::vector<Chunk>* chunks, const char* ops) {
    std::vector<Chunk>& ch = *chunks;
    const auto prev = [&](size_t i) -> long {
      for (long j = static_cast<long>(i) - 1; j >= 0; --j) {
        if (!ch[static_cast<size_t>(j)].space) return j;
      }
      return -1;
    };
    const auto next = [&](size_t i) -> size_t {
      for (size_t j = i + 1; j < ch.size(); ++j) {
        if (!ch[j].space) return j;
      }
      return ch.size();
    };
    for (size_t i = 0; i < ch.size(); ++i) {
      if (ch[i].op == 0 || std::strchr(ops, ch[i].op) == nullptr) continue;
      const long l = prev(i);
      const size_t r = next(i);
      if (l < 0 || r >= ch.size() || !ch[static_cast<size_t>(l)].operand || !ch[r].operand) continue;
      Chunk& L = ch[static_cast<size_t>(l)];
      const Chunk& R = ch[r];
      const char op = ch[i].op;
      Chunk m;
      m.operand = true;
      m.ty = Ty::kNum;
      const bool ld = L.ty == Ty::kDate, rd = R.ty == Ty::kDate;
      if ((op == '+' || op == '-') && (ld || rd)) {
        if (op == '-' && ld && rd) {
          m.text = "(EXTRACT(EPOCH FROM (" + L.text + " - " + R.text + ")) / 86400)";
        } else if (ld) {
          m.text = "(" + L.text + " " + op + " (" + R.text + ") * interval '1 day')";
          m.ty = Ty::kDate;
        } else if (op == '+') {
          m.text = "(" + R.text + " + (" + L.text + ") * interval '1 day')";
          m.ty = Ty::kDate;
        } else {
          m.text = "(" + L.text + " - " + R.text + ")";  // number - date: the server refuses it
          m.ty = Ty::kUnknown;
        }
      } else {
        for (size_t j = static_cast<size_t>(l); j <= r; ++j) m.text += ch[j].text;
      }
      L = std::move(m);
      ch.erase(ch.begin() + static_cast<long>(l) + 1, ch.begin() + static_cast<long>(r) + 1);
      i = static_cast<size_t>(l);
    }
  }

  const Catalog& catalog_;
  bool sunday_first_;
  const std::string* in_ = nullptr;
  Translation tr_;
};

// ---------------------------------------------------------------------------

class PgStatement;

class PgSession : public Session {
 public:
  ~PgSession() override {
    Batch_Clear();
    if (conn_ != nullptr) PQfinish(conn_);  // the server rolls back what is open
  }
  int Open(const char* login, const char* password, const std::string& dbname, const SqlOptions& options);
  int Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) override;
  int Commit() override;
  int Rollback() override;
  unsigned Name_Generation() const override { return generation_; }
  long Round_Trips() const override { return round_trips_; }
  const char* Broken() const override { return broken_; }

  // Runs a prepared statement with its values inside the transaction frame
  // it needs; the result of a query is kept in *result.
  int Execute(const std::string& name, bool write, int n, const char* const* values, const int* lengths,
              PGresult** result);
  int Switch_Schema(const std::string& name) override;

  bool Batches() const override { return true; }
  void Batch_Begin() override;
  int Batch_Run(int stop_code) override;
  // Adds an execution of a prepared statement to the batch; its values are
  // copied. Returns the item's index.
  int Batch_Queue(const std::string* name, bool write, int n, const char* const* values, const int* lengths);
  // The item's code, and its result (now the caller's) on 0.
  int Batch_Take(int item, PGresult** result);

 private:
  // One message of a pipeline and what came back for it.
  struct Slot {
    ExecStatusType status = PGRES_FATAL_ERROR;
    std::string sqlstate;
    PGresult* keep = nullptr;  // the query's result, when asked for
    bool want = false;
  };
  int Sync(Slot* slots, int count);
  int Fail_Broken(int code);
  int Load_Catalog();
  int Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out, std::string* sqlstate);
  int Frame(const char* name);  // one fixed statement in a pipeline of its own
  bool Send_Frame(const char* stmt, int* count);  // queues a fixed statement
  void Undo();  // rolls back to the statement's savepoint after a failure

  // A batch: its items in order, their parameters one after the other.
  struct BatchItem {
    const std::string* name;
    bool write;
    size_t first;  // in param_off_, param_len_
    int count;
    int slot = -1;  // of its execution in the pipeline last sent
    int rc = kSqlNotRun;
    PGresult* result = nullptr;
  };
  void Batch_Clear();
  std::vector<BatchItem> batch_;
  std::string param_bytes_;
  std::vector<size_t> param_off_;
  std::vector<int> param_len_;  // -1: NULL
  std::vector<const char*> send_values_;
  std::vector<Slot> slots_;
  std::vector<size_t> pending_, again_;  // items still to send

  PGconn* conn_ = nullptr;
  bool in_txn_ = false;
  bool txn_lost_ = false;
  const char* broken_ = nullptr;
  int broken_code_ = 0;
  unsigned generation_ = 1;
  std::string current_;  // the current schema in lower case; empty before the switch
  Catalog catalog_;
  bool catalog_loaded_ = false;
  bool sunday_first_ = true;
  long next_name_ = 0;
  long round_trips_ = 0;
};

class PgStatement : public Statement {
 public:
  PgStatement(PgSession* s, std::string name, bool write, Translation tr, std::vector<Oid> types)
      : s_(s), name_(std::move(name)), write_(write), tr_(std::move(tr)), types_(std::move(types)) {
    const size_t n = tr_.params.size();
    values_.resize(n);
    null_.assign(n, 1);
    ptrs_.assign(n, nullptr);
    lens_.assign(n, 0);
  }
  ~PgStatement() override { PQclear(res_); }
  int Columns() const override { return static_cast<int>(types_.size()); }
  int Bind(int index, const SqlVar& var) override;
  int Step() override;
  int Materialize() override;
  int Column(int index, const SqlVar& out) override;
  void Reset() override {
    PQclear(res_);
    res_ = nullptr;
    started_ = false;
    row_ = -1;
  }
  int Queue() override {
    Values();
    return s_->Batch_Queue(&name_, write_, static_cast<int>(ptrs_.size()), ptrs_.data(), lens_.data());
  }
  int Adopt(int item) override {
    PQclear(res_);
    res_ = nullptr;
    const int rc = s_->Batch_Take(item, &res_);
    started_ = true;
    row_ = -1;
    return rc != 0 ? rc : Ignored();
  }

 private:
  void Values();
  int Run();
  // An insert that met an existing key: the unique violation it stands for.
  int Ignored() const {
    return tr_.ignore && res_ != nullptr && std::strcmp(PQcmdTuples(res_), "0") == 0 ? -1 : 0;
  }

  PgSession* s_;
  std::string name_;
  bool write_;
  Translation tr_;
  std::vector<Oid> types_;
  // Parameter values, kept between executions so that their buffers are
  // reused; null_ marks those sent as NULL.
  std::vector<std::string> values_;
  std::vector<char> null_;
  std::vector<const char*> ptrs_;
  std::vector<int> lens_;
  PGresult* res_ = nullptr;
  bool started_ = false;
  int row_ = -1;
};

int PgStatement::Bind(int index, const SqlVar& var) {
  if (index < 0 || index >= tr_.inputs) return kSqlBindMismatch;
  const size_t i = static_cast<size_t>(index);
  if (var.data == nullptr || (var.kind == SqlVar::kString && var.size <= 0)) return kSqlBadVariable;
  const bool null = var.ind != nullptr && *var.ind < 0;
  char num[16];
  const char* text;
  size_t len;
  if (var.kind == SqlVar::kString) {
    text = static_cast<const char*>(var.data);
    len = null ? 0 : strnlen(text, static_cast<size_t>(var.size));
  } else {
    len = null ? 0 : static_cast<size_t>(std::to_chars(num, num + sizeof num, *static_cast<const int32_t*>(var.data)).ptr - num);
    text = num;
  }
  // Oracle stores an empty text as NULL.
  null_[i] = len == 0;
  if (len == 0) return 0;
  const ParamSpec& source = tr_.params[i];
  if (source.kind == ParamSpec::kDateFmt) {
    const int rc = Date_Param(text, len, source.fmt.data(), source.fmt.size(), &values_[i]);
    if (rc != 0) null_[i] = 1;
    return rc;
  }
  values_[i].assign(text, len);
  return 0;
}

void PgStatement::Values() {
  // The clock's parameters: the job's local time in whole seconds.
  for (size_t i = static_cast<size_t>(tr_.inputs); i < tr_.params.size(); ++i) {
    const std::time_t now = Clock_Now();
    std::tm t{};
    localtime_r(&now, &t);
    OraCivil c{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    if (tr_.params[i].kind == ParamSpec::kToday) c.hour = c.minute = c.second = 0;
    char buf[32];
    Timestamp_Text(c, buf);
    values_[i].assign(buf);
    null_[i] = 0;
  }
  for (size_t i = 0; i < values_.size(); ++i) {
    ptrs_[i] = null_[i] ? nullptr : values_[i].c_str();
    lens_[i] = null_[i] ? 0 : static_cast<int>(values_[i].size());
  }
}

int PgStatement::Run() {
  Values();
  PQclear(res_);
  res_ = nullptr;
  started_ = true;
  const int rc = s_->Execute(name_, write_, static_cast<int>(ptrs_.size()), ptrs_.data(), lens_.data(), &res_);
  return rc != 0 ? rc : Ignored();
}

int PgStatement::Step() {
  if (!started_) {
    const int rc = Run();
    if (rc != 0) return rc;
  }
  if (res_ == nullptr) return 1403;  // a write, or the end
  ++row_;
  return row_ < PQntuples(res_) ? 0 : 1403;
}

int PgStatement::Materialize() {
  const int rc = Run();
  row_ = -1;
  return rc;
}

int PgStatement::Column(int index, const SqlVar& out) {
  if (res_ == nullptr || row_ < 0 || row_ >= PQntuples(res_) || index < 0 || index >= Columns()) {
    return kSqlInvalidCursor;
  }
  if (PQgetisnull(res_, row_, index)) return Hostvar_Put_Null(out);
  const char* v = PQgetvalue(res_, row_, index);
  size_t len = static_cast<size_t>(PQgetlength(res_, row_, index));
  switch (types_[static_cast<size_t>(index)]) {
    case kOidTimestamp:
    case kOidDate: {
      if (out.kind != SqlVar::kString) return kSqlBadType;
      OraCivil c;
      // Only the years 1 to 9999 read as "YYYY-MM-DD HH:MM:SS" (no BC, no fifth digit).
      if (!Timestamp_Parse(v, len, &c)) return kOraBadYear;
      char text[16];
      const int n = Ora_Date_Default(Ora_Jd_From_Civil(c), text);
      if (n < 0) return n;  // a timestamp outside the years 1 to 9999
      return Hostvar_Put_Text(out, text, static_cast<size_t>(n));
    }
    case kOidNumeric:
      // Oracle prints numbers without trailing zeros of the fraction.
      if (std::memchr(v, '.', len) != nullptr) {
        while (len > 0 && v[len - 1] == '0') --len;
        if (len > 0 && v[len - 1] == '.') --len;
      }
      return Hostvar_Put_Text(out, v, len);
    case kOidBool:
      return Hostvar_Put_Int(out, v[0] == 't' ? 1 : 0);
    default:
      return Hostvar_Put_Text(out, v, len);
  }
}

// The fixed statements of the transaction frame, prepared once per session.
constexpr const char* kFrame[][2] = {
    {"dayset_begin", "BEGIN"},
    {"dayset_sp", "SAVEPOINT dayset_stmt"},
    {"dayset_release", "RELEASE SAVEPOINT dayset_stmt"},
    {"dayset_undo", "ROLLBACK TO SAVEPOINT dayset_stmt"},
    {"dayset_commit", "COMMIT"},
    {"dayset_rollback", "ROLLBACK"},
};

int PgSession::Open(const char* login, const char* password, const std::string& dbname,
                    const SqlOptions& options) {
  sunday_first_ = Ora_Territory_Sunday_First(options.territory.c_str());

  // Nothing of the server's defaults is relied on; before the switch no
  // unqualified table name resolves.
  const std::string settings = "-c search_path=pg_catalog -c DateStyle=ISO,YMD -c TimeZone=UTC "
                               "-c IntervalStyle=postgres -c standard_conforming_strings=on "
                               "-c lock_timeout=" + std::to_string(options.lock_wait_ms);
  std::vector<const char*> keys = {"dbname", "user", "client_encoding", "options", "fallback_application_name"};
  std::vector<const char*> values = {dbname.c_str(), login, "UTF8", settings.c_str(), "dayset"};
  if (*password != '\0') {
    keys.push_back("password");
    values.push_back(password);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
  if (conn_ == nullptr) return kNoMemory;
  if (PQstatus(conn_) != CONNECTION_OK) {
    return PQconnectionNeedsPassword(conn_) || PQconnectionUsedPassword(conn_) ? kLoginRefused : kNoServer;
  }
  if (PQenterPipelineMode(conn_) != 1) return kConnectionLost;
  constexpr int kCount = sizeof kFrame / sizeof kFrame[0];
  Slot slots[kCount];
  for (int i = 0; i < kCount; ++i) {
    if (PQsendPrepare(conn_, kFrame[i][0], kFrame[i][1], 0, nullptr) != 1) return Fail_Broken(kConnectionLost);
  }
  return Sync(slots, kCount);
}

int PgSession::Fail_Broken(int code) {
  if (broken_ == nullptr) {
    broken_ = Fatal_Condition(code);
    if (broken_ == nullptr) broken_ = Fatal_Condition(kConnectionLost);
    broken_code_ = code;
  }
  return broken_code_;
}

// Sends the sync and reads one result per slot, then the sync's. Returns 0
// when every slot succeeded, else the code of the first failure (the slots
// after it are aborted by the server).
int PgSession::Sync(Slot* slots, int count) {
  if (broken_ != nullptr) return broken_code_;
  ++round_trips_;
  if (PQpipelineSync(conn_) != 1) return Fail_Broken(kConnectionLost);
  int first = 0;
  for (int i = 0; i < count; ++i) {
    Slot& s = slots[i];
    bool got = false;
    while (PGresult* r = PQgetResult(conn_)) {
      if (!got) {
        got = true;
        s.status = PQresultStatus(r);
        const char* st = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        s.sqlstate = st != nullptr ? st : "";
        if (s.want && (s.status == PGRES_TUPLES_OK || s.status == PGRES_COMMAND_OK)) {
          s.keep = r;
          continue;
        }
      }
      PQclear(r);
    }
    if (!got) return Fail_Broken(kConnectionLost);
    if (first == 0 && s.status != PGRES_COMMAND_OK && s.status != PGRES_TUPLES_OK) {
      first = s.status == PGRES_PIPELINE_ABORTED ? kConnectionLost
              : s.sqlstate.empty()               ? kConnectionLost
                                                 : Map_Sqlstate(s.sqlstate.c_str());
    }
  }
  PGresult* r = PQgetResult(conn_);
  const bool synced = r != nullptr && PQresultStatus(r) == PGRES_PIPELINE_SYNC;
  PQclear(r);
  if (!synced || PQstatus(conn_) != CONNECTION_OK) {
    for (int i = 0; i < count; ++i) {
      PQclear(slots[i].keep);
      slots[i].keep = nullptr;
    }
    return Fail_Broken(kConnectionLost);
  }
  if (first != 0 && Fatal_Condition(first) != nullptr) return Fail_Broken(first);
  return first;
}

int PgSession::Frame(const char* name) {
  if (broken_ != nullptr) return broken_code_;
  if (PQsendQueryPrepared(conn_, name, 0, nullptr, nullptr, nullptr, 0) != 1) return Fail_Broken(kConnectionLost);
  Slot s;
  return Sync(&s, 1);
}

bool PgSession::Send_Frame(const char* stmt, int* count) {
  ++*count;
  return PQsendQueryPrepared(conn_, stmt, 0, nullptr, nullptr, nullptr, 0) == 1;
}

void PgSession::Undo() {
  // The failed statement's own effect goes; the transaction stays.
  Slot undo[2];
  int count = 0;
  if (!Send_Frame("dayset_undo", &count) || !Send_Frame("dayset_release", &count)) {
    Fail_Broken(kConnectionLost);
    return;
  }
  if (Sync(undo, count) != 0 && broken_ == nullptr) {
    // The transaction cannot be saved: it ends here, and the next commit
    // says so.
    Frame("dayset_rollback");
    in_txn_ = false;
    txn_lost_ = true;
  }
}

// A statement alone is a batch of one: the same frame (the transaction's
// start, the savepoint) in the same round trip.
int PgSession::Execute(const std::string& name, bool write, int n, const char* const* values, const int* lengths,
                       PGresult** result) {
  if (broken_ != nullptr) return broken_code_;
  Batch_Begin();
  Batch_Queue(&name, write, n, values, lengths);
  const int rc = Batch_Run(0);
  if (rc != 0) return rc;
  return Batch_Take(0, result);
}

void PgSession::Batch_Clear() {
  for (BatchItem& item : batch_) PQclear(item.result);
  batch_.clear();
  param_bytes_.clear();
  param_off_.clear();
  param_len_.clear();
}

void PgSession::Batch_Begin() { Batch_Clear(); }

int PgSession::Batch_Queue(const std::string* name, bool write, int n, const char* const* values,
                           const int* lengths) {
  BatchItem item;
  item.name = name;
  item.write = write;
  item.first = param_off_.size();
  item.count = n;
  for (int i = 0; i < n; ++i) {
    param_off_.push_back(param_bytes_.size());
    param_len_.push_back(values[i] == nullptr ? -1 : lengths[i]);
    // Values in text form go as C strings.
    if (values[i] != nullptr) param_bytes_.append(values[i], static_cast<size_t>(lengths[i])).push_back('\0');
  }
  batch_.push_back(item);
  return static_cast<int>(batch_.size() - 1);
}

int PgSession::Batch_Take(int item, PGresult** result) {
  BatchItem& b = batch_[static_cast<size_t>(item)];
  *result = b.result;
  b.result = nullptr;
  return b.rc;
}

// The items go out in one pipeline, inside a transaction under one
// savepoint for them all. A failure makes the server skip the rest of the
// pipeline; the savepoint then undoes the whole batch so far, and the items
// go out again: the writes before the failed one (their effect undone; the
// reads before it keep what they read, which the same writes give again),
// then those after it, from then on each under a savepoint of its own, so
// that a second failure undoes only itself. Every item thus has its effect
// once, in order, as if sent alone, and a batch without failures pays two
// messages for its rollback point, not two per statement.
int PgSession::Batch_Run(int stop_code) {
  const size_t n = batch_.size();
  std::vector<size_t>& pending = pending_;
  pending.clear();
  for (size_t i = 0; i < n; ++i) pending.push_back(i);
  bool each = false;  // a savepoint per item
  while (!pending.empty()) {
    if (broken_ != nullptr) break;
    // Inside a transaction, or starting one, the items are guarded; reads
    // outside one need nothing (nothing of theirs to undo).
    bool guard = in_txn_;
    for (size_t k = 0; k < pending.size() && !guard; ++k) guard = batch_[pending[k]].write;
    const bool begin = guard && !in_txn_;
    slots_.clear();
    slots_.resize(4 + 3 * pending.size());
    int count = 0;
    bool sent = !begin || Send_Frame("dayset_begin", &count);
    if (sent && guard && !each) sent = Send_Frame("dayset_sp", &count);
    for (size_t k = 0; k < pending.size() && sent; ++k) {
      BatchItem& b = batch_[pending[k]];
      if (guard && each) sent = Send_Frame("dayset_sp", &count);
      b.slot = count++;
      slots_[static_cast<size_t>(b.slot)].want = true;
      send_values_.resize(static_cast<size_t>(b.count));
      for (int p = 0; p < b.count; ++p) {
        const size_t q = b.first + static_cast<size_t>(p);
        send_values_[static_cast<size_t>(p)] = param_len_[q] < 0 ? nullptr : param_bytes_.data() + param_off_[q];
      }
      sent = sent && PQsendQueryPrepared(conn_, b.name->c_str(), b.count, send_values_.data(),
                                         param_len_.data() + b.first, nullptr, 0) == 1;
      if (sent && guard && each) sent = Send_Frame("dayset_release", &count);
    }
    if (sent && guard && !each) sent = Send_Frame("dayset_release", &count);
    if (!sent) {
      Fail_Broken(kConnectionLost);
      break;
    }
    const int rc = Sync(slots_.data(), count);
    if (begin && slots_[0].status == PGRES_COMMAND_OK) in_txn_ = true;
    // The item that failed: the first whose messages reach the first
    // message that did not succeed. The items before it ran; those after
    // it were skipped by the server.
    size_t failed = pending.size();
    if (rc != 0) {
      int bad = 0;
      while (bad < count && (slots_[static_cast<size_t>(bad)].status == PGRES_COMMAND_OK ||
                             slots_[static_cast<size_t>(bad)].status == PGRES_TUPLES_OK)) {
        ++bad;
      }
      failed = 0;
      while (failed + 1 < pending.size() && batch_[pending[failed]].slot + (guard && each ? 1 : 0) < bad) ++failed;
    }
    for (size_t k = 0; k < pending.size(); ++k) {
      BatchItem& b = batch_[pending[k]];
      Slot& sl = slots_[static_cast<size_t>(b.slot)];
      if (k < failed) {
        PQclear(b.result);
        b.result = sl.keep;
        b.rc = 0;
      } else {
        PQclear(sl.keep);
      }
      sl.keep = nullptr;
    }
    if (rc == 0) return 0;
    if (broken_ != nullptr) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(failed));
      break;
    }
    BatchItem& f = batch_[pending[failed]];
    PQclear(f.result);
    f.result = nullptr;
    f.rc = rc;
    if (guard && in_txn_) Undo();
    // What goes again: the writes that the undo took back (all of the
    // batch's so far, under one savepoint), then what the server skipped.
    again_.clear();
    if (guard && !each) {
      for (size_t k = 0; k < failed; ++k) {
        if (batch_[pending[k]].write) again_.push_back(pending[k]);
      }
    }
    const bool stop = stop_code != 0 && rc == stop_code;  // the rest stays kSqlNotRun
    if (!stop) again_.insert(again_.end(), pending.begin() + static_cast<std::ptrdiff_t>(failed) + 1, pending.end());
    pending.swap(again_);
    each = true;
  }
  for (size_t i : pending) {
    PQclear(batch_[i].result);
    batch_[i].result = nullptr;
    batch_[i].rc = broken_code_;
  }
  return broken_ != nullptr ? broken_code_ : 0;
}

int PgSession::Commit() {
  if (broken_ != nullptr) return broken_code_;
  if (txn_lost_) {
    txn_lost_ = false;
    return kSqlTxnRolledBack;
  }
  if (!in_txn_) return 0;
  in_txn_ = false;
  return Frame("dayset_commit");
}

int PgSession::Rollback() {
  if (broken_ != nullptr) return broken_code_;
  // Work the server had already undone must not pass for rolled back here:
  // a dry run's counts would then fall short unnoticed.
  const bool lost = txn_lost_;
  txn_lost_ = false;
  int rc = 0;
  if (in_txn_) {
    in_txn_ = false;
    rc = Frame("dayset_rollback");
  }
  return rc != 0 ? rc : lost ? kSqlTxnRolledBack : 0;
}

int PgSession::Load_Catalog() {
  catalog_.clear();
  static const char kSql[] =
      "select lower(a.attname), a.atttypid from pg_catalog.pg_attribute a join pg_catalog.pg_class c on "
      "c.oid = a.attrelid join pg_catalog.pg_namespace n on n.oid = c.relnamespace where n.nspname in "
      "('hrsystem', $1) and c.relkind in ('r', 'p', 'v', 'm', 'f') and a.attnum > 0 and not a.attisdropped";
  const char* values[1] = {current_.c_str()};
  if (PQsendQueryParams(conn_, kSql, 1, nullptr, values, nullptr, nullptr, 0) != 1) {
    return Fail_Broken(kConnectionLost);
  }
  Slot s;
  s.want = true;
  const int rc = Sync(&s, 1);
  if (rc != 0) return rc;
  for (int i = 0; i < PQntuples(s.keep); ++i) {
    const Ty ty = Ty_Of_Oid(static_cast<Oid>(std::strtoul(PQgetvalue(s.keep, i, 1), nullptr, 10)));
    const auto [it, added] = catalog_.emplace(PQgetvalue(s.keep, i, 0), ty);
    if (!added && it->second != ty) it->second = Ty::kUnknown;  // the same name with two types
  }
  PQclear(s.keep);
  catalog_loaded_ = true;
  return 0;
}

int PgSession::Prepare(const SqlParsed& parsed, std::unique_ptr<Statement>* out) {
  if (broken_ != nullptr) return broken_code_;
  const bool fresh = !catalog_loaded_;
  if (fresh) {
    const int rc = Load_Catalog();
    if (rc != 0) return rc;
  }
  std::string state;
  int rc = Prepare_Once(parsed, out, &state);
  // A table made after the catalog was read: its date columns were not
  // known to the translation. Read the catalog again and try once more.
  if (rc != 0 && state == "42883" && !fresh) {
    rc = Load_Catalog();
    if (rc == 0) rc = Prepare_Once(parsed, out, &state);
  }
  return rc;
}

int PgSession::Prepare_Once(const SqlParsed& parsed, std::unique_ptr<Statement>* out, std::string* sqlstate) {
  Translation tr = Translator(catalog_, sunday_first_).Run(parsed);
  if (tr.error != 0) return tr.error;
  if (parsed.write && tr.sql.size() > 7 && Lower(tr.sql.substr(0, 7)) == "insert ") {
    tr.sql += " ON CONFLICT DO NOTHING";
    tr.ignore = true;
  }
  const std::string name = "dayset_" + std::to_string(++next_name_);
  // A prepare that fails inside a transaction would end it on the server:
  // it is guarded like a statement.
  const bool guard = in_txn_;
  Slot slots[4];
  int count = 0;
  bool sent = !guard || Send_Frame("dayset_sp", &count);
  sent = sent && PQsendPrepare(conn_, name.c_str(), tr.sql.c_str(), static_cast<int>(tr.params.size()), nullptr) == 1;
  ++count;
  const int describe = count++;
  slots[describe].want = true;
  sent = sent && PQsendDescribePrepared(conn_, name.c_str()) == 1;
  if (sent && guard) sent = Send_Frame("dayset_release", &count);
  if (!sent) return Fail_Broken(kConnectionLost);
  const int rc = Sync(slots, count);
  if (rc != 0) {
    for (const Slot& sl : slots) {
      if (!sl.sqlstate.empty()) {
        *sqlstate = sl.sqlstate;
        break;
      }
    }
    PQclear(slots[describe].keep);
    if (broken_ == nullptr && guard) Undo();
    return rc;
  }
  std::vector<Oid> types;
  for (int c = 0; c < PQnfields(slots[describe].keep); ++c) types.push_back(PQftype(slots[describe].keep, c));
  PQclear(slots[describe].keep);
  *out = std::make_unique<PgStatement>(this, name, parsed.write, std::move(tr), std::move(types));
  return 0;
}

int PgSession::Switch_Schema(const std::string& name) {
  if (broken_ != nullptr) return broken_code_;
  const std::string lower = Lower(name);
  if (lower == current_) return 0;
  // Sets search_path only when the schema exists (PostgreSQL would accept a
  // missing one and resolve nothing in it).
  static const char kSql[] =
      "select pg_catalog.set_config('search_path', $1, false) from pg_catalog.pg_namespace where nspname = $2";
  const std::string path = "\"" + lower + "\"";
  const char* values[2] = {path.c_str(), lower.c_str()};
  if (PQsendQueryParams(conn_, kSql, 2, nullptr, values, nullptr, nullptr, 0) != 1) {
    return Fail_Broken(kConnectionLost);
  }
  Slot s;
  s.want = true;
  const int rc = Sync(&s, 1);
  if (rc != 0) return rc;
  const bool found = PQntuples(s.keep) == 1;
  PQclear(s.keep);
  if (!found) return kSqlNoSchema;
  current_ = lower;
  catalog_loaded_ = false;
  ++generation_;
  return 0;
}

int Pg_Open(const char* login, const char* password, const std::string& dbname, const SqlOptions& options,
            std::unique_ptr<Session>* out) {
  auto s = std::make_unique<PgSession>();
  const int rc = s->Open(login, password, dbname, options);
  if (rc != 0) return rc;
  *out = std::move(s);
  return 0;
}

constexpr const char* kUriSchemes[] = {"postgresql:", "postgres:"};
constexpr char kServiceScheme[] = "pg:";

// The part after the URI scheme, or null when `net` is no URI of ours.
const char* Uri_Rest(const char* net) {
  for (const char* scheme : kUriSchemes) {
    if (Sql_Net_Has_Scheme(net, scheme)) return net + std::strlen(scheme);
  }
  return nullptr;
}

bool Pg_Owns(const char* net) { return Uri_Rest(net) != nullptr || Sql_Net_Has_Scheme(net, kServiceScheme); }

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True when a parameter of the URI's query part names a credential: its key,
// percent-decoded and compared case-insensitively, is one libpq takes a user
// or a secret from.
bool Query_Has_Credential(const char* query) {
  static const char* const kKeys[] = {"user", "password", "passfile", "sslpassword"};
  const char* p = query;
  while (*p != '\0') {
    std::string name;
    while (*p != '\0' && *p != '=' && *p != '&') {
      if (*p == '%' && Hex(p[1]) >= 0 && Hex(p[2]) >= 0) {
        name += static_cast<char>(Hex(p[1]) * 16 + Hex(p[2]));
        p += 3;
      } else {
        name += *p++;
      }
    }
    for (const char* key : kKeys) {
      if (Sql_Net_Has_Scheme(name.c_str(), key) && name.size() == std::strlen(key)) return true;
    }
    while (*p != '\0' && *p != '&') ++p;
    if (*p == '&') ++p;
  }
  return false;
}

const char* Pg_Net_Check(const char* net) {
  static const char kAllowed[] = "ohne Benutzer und Passwort, die aus LOGIN und PASS kommen";
  // user@host or user:password@host; an '@' would also end the login and
  // password in the connect text.
  if (std::strchr(net, '@') != nullptr) return kAllowed;
  const char* query = std::strchr(net, '?');
  if (query != nullptr && Query_Has_Credential(query + 1)) return kAllowed;
  return nullptr;
}

int Pg_Session_Open(const char* login, const char* password, const char* net, const SqlOptions& options,
                    std::unique_ptr<Session>* out) {
  if (const char* rest = Uri_Rest(net)) {
    if (std::strncmp(rest, "//", 2) != 0) return kSqlUnknownService;
    return Pg_Open(login, password, std::string("postgresql:") + rest, options, out);
  }
  const char* service = net + std::strlen(kServiceScheme);
  if (*service == '\0') return kSqlUnknownService;
  for (const char* p = service; *p != '\0'; ++p) {
    const char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.')) {
      return kSqlUnknownService;
    }
  }
  return Pg_Open(login, password, std::string("service=") + service, options, out);
}

}  // namespace

const BackendEntry kPgBackend = {"postgresql", Pg_Owns, Pg_Net_Check, Pg_Session_Open};

}  // namespace sqlrt

std::string Pg_Net_Conninfo(const char* net) {
  using namespace sqlrt;
  if (!Pg_Owns(net)) return std::string();
  if (const char* rest = Uri_Rest(net)) return std::string("postgresql:") + rest;
  std::string quoted = "service='";
  for (const char* p = net + std::strlen(kServiceScheme); *p != '\0'; ++p) {
    if (*p == '\\' || *p == '\'') quoted += '\\';
    quoted += *p;
  }
  return quoted + "'";
}

namespace sqlrt {

}  // namespace sqlrt

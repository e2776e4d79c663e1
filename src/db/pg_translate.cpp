#include "db/pg_translate.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace sqlrt {

namespace {

// The statement text as a tree: tokens, parameters, calls and parenthesised
// groups, each with its comma-separated parts.
struct Node {
  enum Kind { kTok, kParam, kCall, kGroup } kind = kTok;
  SqlToken::Kind tok = SqlToken::kOther;
  std::string text;                     // the token, or a call's name
  std::vector<std::vector<Node>> args;  // kCall, kGroup
  int input = -1;                       // kParam
  bool date_out = false;                // kCall: TO_CHAR sent as its date (PgTranslation::date_out)
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

// One statement's translation: the text is read into a tree of nodes
// (Parse), then written out again (Emit), each operand with what is known
// of its type, so that the Oracle functions and the date arithmetic can be
// rewritten around their arguments.
class Translator {
 public:
  Translator(const PgCatalog& catalog, bool sunday_first) : catalog_(catalog), sunday_first_(sunday_first) {}

  PgTranslation Run(const SqlParsed& parsed) {
    in_ = &parsed.sql;
    tr_ = PgTranslation{};
    tr_.inputs = parsed.inputs;
    tr_.params.resize(static_cast<size_t>(parsed.inputs));
    size_t pos = 0;
    int input = 0;
    Seq seq;
    Parse(&pos, &input, false, &seq);
    if (input != parsed.inputs) {
      // A '?' written in the text itself: a parameter without a host
      // variable, refused as the embedded backend refuses it.
      tr_.error = kSqlBindMismatch;
      return std::move(tr_);
    }
    Mark_Date_Out(&seq);
    PgType ty;
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
            !Is_Keyword(Pg_Fold_Name((*out)[back - 1].text))) {
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

  // The select list's items that are TO_CHAR of a date column under a
  // format of digits (PgTranslation::date_out): the server's to_char costs
  // a good part of a range read, and the client writes the same digits for
  // almost nothing. Only where nothing but the fetch sees the items
  // (Sql_List_Only_Fetched), as the embedded backend does it.
  void Mark_Date_Out(Seq* seq) {
    if (!Sql_List_Only_Fetched(*in_)) return;
    Seq& s = *seq;
    size_t at = 0;
    while (at < s.size() && s[at].kind == Node::kTok && s[at].tok == SqlToken::kSpace) ++at;  // to the select
    std::vector<Node*> item;  // the nodes of the current item, blanks aside
    size_t column = 0;
    const auto take = [&]() {
      if (item.size() == 1) Mark_Item(item[0], column);
      item.clear();
      ++column;
    };
    for (size_t i = at + 1; i < s.size(); ++i) {
      Node& n = s[i];
      if (n.kind == Node::kTok && n.tok == SqlToken::kSpace) continue;
      if (Word_Is(n, "from")) break;
      if (n.kind == Node::kTok && n.tok == SqlToken::kOther && n.text == ",") {
        take();
        continue;
      }
      item.push_back(&n);
    }
    take();
  }

  void Mark_Item(Node* n, size_t column) {
    if (n->kind != Node::kCall || Pg_Fold_Name(n->text) != "to_char" || n->args.size() != 2) return;
    const Node* col = Single(n->args[0]);
    const Node* f = Single(n->args[1]);
    if (col == nullptr || !(col->kind == Node::kTok && col->tok == SqlToken::kWord) || f == nullptr ||
        !(f->kind == Node::kTok && f->tok == SqlToken::kLiteral)) {
      return;
    }
    const auto it = catalog_.find(Pg_Fold_Name(col->text));
    if (it == catalog_.end() || it->second != PgType::kDate) return;
    const std::string fmt = Literal_Value(f->text);
    if (fmt.empty() || fmt.size() > 24) return;
    std::string out;
    for (size_t pos = 0; pos < fmt.size();) {
      const size_t start = pos;
      switch (Ora_Format_Next(fmt.data(), fmt.size(), &pos)) {
        case OraElem::kYyyy:
          out += 'Y';
          break;
        case OraElem::kMm:
          out += 'M';
          break;
        case OraElem::kDd:
          out += 'D';
          break;
        case OraElem::kHh24:
          out += 'H';
          break;
        case OraElem::kMi:
          out += 'I';
          break;
        case OraElem::kSs:
          out += 'S';
          break;
        case OraElem::kSep:
          out += fmt[start];
          break;
        default:
          return;
      }
    }
    n->date_out = true;
    if (tr_.date_out.size() <= column) tr_.date_out.resize(column + 1);
    tr_.date_out[column] = std::move(out);
  }

  static bool Word_Is(const Node& n, const char* lower) {
    return n.kind == Node::kTok && n.tok == SqlToken::kWord && Pg_Fold_Name(n.text) == lower;
  }

  // One piece of emitted text with what is known of it.
  struct Chunk {
    std::string text;
    PgType ty = PgType::kUnknown;
    bool operand = false;
    bool space = false;
    char op = 0;  // + - * / when the chunk is that operator
    bool number = false;
    bool name = false;  // an identifier, possibly qualified
  };

  std::string Extra(PgParam::Kind kind) {
    tr_.params.push_back(PgParam{kind, {}});
    // Appended, not "$" + std::to_string(...): GCC 12 at -O3 warns about
    // that form (-Wrestrict) where nothing overlaps.
    std::string out = "$";
    out += std::to_string(tr_.params.size());
    out += "::timestamp";
    return out;
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
    const int rc = Pg_Date_Param(text.data(), text.size(), fmt.data(), fmt.size(), &ts);
    if (rc != 0) {
      Fail(rc);
      return "NULL";
    }
    return "timestamp '" + ts + "'";
  }

  std::string Emit_Call(const Node& n, PgType* ty) {
    const std::string name = Pg_Fold_Name(n.text);
    std::vector<std::string> a;
    std::vector<PgType> t;
    const auto arg = [&](size_t i) -> const std::string& { return a[i]; };
    const auto emit_args = [&]() {
      for (const Seq& s : n.args) {
        PgType at;
        a.push_back(Emit(s, &at));
        t.push_back(at);
      }
    };
    const size_t argc = n.args.size();
    if (name == "to_date" && (argc == 1 || argc == 2)) {
      *ty = PgType::kDate;
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
        tr_.params[static_cast<size_t>(first->input)] = PgParam{PgParam::kDateFmt, fmt};
        return "$" + std::to_string(first->input + 1) + "::timestamp";
      }
      if (first != nullptr && first->kind == Node::kTok && first->tok == SqlToken::kLiteral) {
        const std::string value = Literal_Value(first->text);
        return value.empty() ? "NULL::timestamp" : Date_Literal(value, fmt);
      }
      if (argc == 1 && first != nullptr && first->kind == Node::kTok && Pg_Fold_Name(first->text) == "sysdate") {
        return Extra(PgParam::kToday);
      }
      emit_args();
      if (argc == 1 && t[0] == PgType::kDate) return "date_trunc('day', " + arg(0) + ")";
      std::string pg;
      if (!Pg_Format(fmt, &pg)) Fail(kOraFormatUnknown);
      return "to_timestamp(NULLIF((" + arg(0) + ")::text, ''), '" + pg + "')::timestamp(0)";
    }
    if (name == "to_char" && (argc == 1 || argc == 2)) {
      *ty = PgType::kText;
      emit_args();
      if (n.date_out) return arg(0);
      if (argc == 1) return t[0] == PgType::kDate ? "to_char(" + arg(0) + ", 'DD-MON-YY')" : "(" + arg(0) + ")::text";
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
      *ty = PgType::kNum;
      emit_args();
      return "NULLIF((" + arg(0) + ")::text, '')::numeric";
    }
    if (name == "nvl" && argc == 2) {
      emit_args();
      *ty = t[0] != PgType::kUnknown ? t[0] : t[1];
      return "COALESCE(" + arg(0) + ", " + arg(1) + ")";
    }
    if (name == "mod" && argc == 2) {
      // Oracle's MOD(m, 0) is m; PostgreSQL would divide by zero.
      *ty = PgType::kNum;
      emit_args();
      return "(CASE WHEN (" + arg(1) + ") = 0 THEN (" + arg(0) + ") ELSE MOD(" + arg(0) + ", " + arg(1) + ") END)";
    }
    emit_args();
    *ty = PgType::kUnknown;
    if ((name == "max" || name == "min") && argc == 1) *ty = t[0];
    if (name == "count" || name == "sum" || name == "avg") *ty = PgType::kNum;
    std::string out = n.text + "(";
    for (size_t i = 0; i < a.size(); ++i) {
      if (i > 0) out += ",";
      out += a[i];
    }
    return out + ")";
  }

  // Emits a sequence; *ty is its type when it is one operand.
  std::string Emit(const Seq& seq, PgType* ty) {
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
            PgType pt;
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
            const std::string w = Pg_Fold_Name(n.text);
            if (qualify && !ch.empty()) {
              ch.back().text += n.text;
              const auto it = catalog_.find(w);
              ch.back().ty = it != catalog_.end() ? it->second : PgType::kUnknown;
              qualify = false;
              continue;
            }
            if (w == "sysdate") {
              c.text = Extra(PgParam::kSysdate);
              c.ty = PgType::kDate;
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
            c.ty = PgType::kText;
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
              c.ty = PgType::kNum;
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
    PgType last = PgType::kUnknown;
    for (const Chunk& c : ch) {
      out += c.text;
      if (!c.space) {
        ++operands;
        last = c.operand ? c.ty : PgType::kUnknown;
      }
    }
    *ty = operands == 1 ? last : PgType::kUnknown;
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
      m.ty = PgType::kNum;
      const bool ld = L.ty == PgType::kDate, rd = R.ty == PgType::kDate;
      if ((op == '+' || op == '-') && (ld || rd)) {
        if (op == '-' && ld && rd) {
          m.text = "(EXTRACT(EPOCH FROM (" + L.text + " - " + R.text + ")) / 86400)";
        } else if (ld) {
          m.text = "(" + L.text + " " + op + " (" + R.text + ") * interval '1 day')";
          m.ty = PgType::kDate;
        } else if (op == '+') {
          m.text = "(" + R.text + " + (" + L.text + ") * interval '1 day')";
          m.ty = PgType::kDate;
        } else {
          m.text = "(" + L.text + " - " + R.text + ")";  // number - date: the server refuses it
          m.ty = PgType::kUnknown;
        }
      } else {
        for (size_t j = static_cast<size_t>(l); j <= r; ++j) m.text += ch[j].text;
      }
      L = std::move(m);
      ch.erase(ch.begin() + static_cast<long>(l) + 1, ch.begin() + static_cast<long>(r) + 1);
      i = static_cast<size_t>(l);
    }
  }

  const PgCatalog& catalog_;
  bool sunday_first_;
  const std::string* in_ = nullptr;
  PgTranslation tr_;
};

// Where a write's parts are for Pg_Run_Sql; tr->run stays kRunNone for
// any other shape. A subquery would see the rows of the whole run at once
// instead of those of the executions before it, so none is allowed.
void Run_Shape(PgTranslation* tr) {
  const std::string& s = tr->sql;
  if (tr->params.empty()) return;
  PgTranslation::RunKind kind = PgTranslation::kRunNone;
  size_t cut = 0, row = 0, row_end = 0;
  int depth = 0;
  bool row_next = false;  // insert: the row's '(' is the next token
  for (size_t pos = 0;;) {
    const SqlToken t = Sql_Token_At(s, pos);
    if (t.kind == SqlToken::kEnd) break;
    pos = t.end;
    if (t.kind == SqlToken::kSpace) continue;
    const bool top = depth == 0;
    if (row_next && !(t.kind == SqlToken::kOther && s[t.begin] == '(')) return;
    if (t.kind == SqlToken::kOther && s[t.begin] == '(') {
      if (row_end != 0) return;
      if (row_next) row = t.end;
      row_next = false;
      ++depth;
      continue;
    }
    if (t.kind == SqlToken::kOther && s[t.begin] == ')') {
      if (--depth == 0 && row != 0 && row_end == 0) row_end = t.begin;
      continue;
    }
    if (kind == PgTranslation::kRunNone) {
      if (Sql_Word_Is(s, t, "insert")) {
        kind = PgTranslation::kRunInsert;
      } else if (Sql_Word_Is(s, t, "update")) {
        kind = PgTranslation::kRunUpdate;
      } else {
        return;
      }
      continue;
    }
    if (Sql_Word_Is(s, t, "select") || Sql_Word_Is(s, t, "returning") || Sql_Word_Is(s, t, "current")) return;
    if (kind == PgTranslation::kRunInsert) {
      if (row_end != 0) {
        // After the row only the conflict clause: a second row is no run.
        if (!Sql_Word_Is(s, t, "on") && !Sql_Word_Is(s, t, "conflict") && !Sql_Word_Is(s, t, "do") &&
            !Sql_Word_Is(s, t, "nothing")) {
          return;
        }
      } else if (top && Sql_Word_Is(s, t, "values")) {
        if (cut != 0) return;
        cut = t.begin;
        row_next = true;
      }
    } else if (top && Sql_Word_Is(s, t, "from")) {
      return;  // an update that joins already
    } else if (top && cut == 0 && Sql_Word_Is(s, t, "where")) {
      cut = t.begin;
    }
  }
  if (depth != 0 || cut == 0) return;
  if (kind == PgTranslation::kRunInsert && row_end == 0) return;
  tr->run = kind;
  tr->run_cut = cut;
  tr->run_row = row;
  tr->run_row_end = row_end;
}

// s[begin, end) with each parameter $k as the column of the run's rows
// that carries it.
void Run_Params(const std::string& s, size_t begin, size_t end, std::string* out) {
  for (size_t pos = begin; pos < end;) {
    const SqlToken t = Sql_Token_At(s, pos);
    pos = t.end;
    if (t.kind == SqlToken::kOther && s[t.begin] == '$' && pos < end && s[pos] >= '0' && s[pos] <= '9') {
      *out += "dayset_u.dayset_p";
      while (pos < end && s[pos] >= '0' && s[pos] <= '9') *out += s[pos++];
      continue;
    }
    out->append(s, t.begin, t.end - t.begin);
  }
}

}  // namespace

namespace {

// The rows of a run: "(SELECT unnest($1::T1[]) AS dayset_p1, ...) AS
// dayset_u", numbered by dayset_k when `ordinality`; "" when a type is
// missing. The arrays are unnested in the select list, where the server
// streams their elements side by side, not in FROM, where it first copies
// each array's elements into a store of their own (a quarter of a day
// record insert's time). A parameter of `scalars` (Pg_Run_Sql) is one
// value, "$k::Tk AS dayset_pk", that the select list gives every row.
std::string Unnest_Rows(const std::vector<std::string>& types, bool ordinality, uint64_t scalars) {
  const size_t n = types.size();
  std::string rows = "(SELECT ";
  for (size_t k = 0; k < n; ++k) {
    if (types[k].empty()) return std::string();
    const std::string i = std::to_string(k + 1);
    if (k > 0) rows += ", ";
    if (Pg_Run_Scalar(scalars, k)) {
      rows += "$" + i + "::" + types[k] + " AS dayset_p" + i;
    } else {
      rows += "unnest($" + i + "::" + types[k] + "[]) AS dayset_p" + i;
    }
  }
  if (ordinality && n > 0) rows += ", generate_series(1, cardinality($1::" + types[0] + "[])) AS dayset_k";
  rows += ") AS dayset_u";
  return rows;
}

// INSERT ... SELECT row FROM `rows`, the rest of the statement after it.
void Run_Insert(const PgTranslation& tr, const std::string& rows, std::string* out) {
  Run_Params(tr.sql, 0, tr.run_cut, out);
  *out += "SELECT ";
  Run_Params(tr.sql, tr.run_row, tr.run_row_end, out);
  *out += " FROM " + rows;
  Run_Params(tr.sql, tr.run_row_end + 1, tr.sql.size(), out);
}

// An equality "column = $k" of a run's update's WHERE, a cast after $k
// allowed.
struct RunKey {
  std::string col;
  size_t param;  // k - 1
  std::string cast;  // "::type", or ""
};

// The equalities of a run's update whose WHERE is nothing but such
// equalities joined by AND, in any parentheses; false for any other
// clause.
bool Run_Keys(const PgTranslation& tr, std::vector<RunKey>* keys) {
  keys->clear();
  if (tr.run != PgTranslation::kRunUpdate) return false;
  const std::string& s = tr.sql;
  size_t pos = tr.run_cut;
  SqlToken t = Sql_Token_At(s, pos);
  if (!Sql_Word_Is(s, t, "where")) return false;
  pos = t.end;
  // The next token that is not a space (nor, where `parens`, a parenthesis).
  int depth = 0;
  const auto next = [&](bool parens) {
    for (;;) {
      t = Sql_Token_At(s, pos);
      pos = t.end;
      if (t.kind == SqlToken::kSpace) continue;
      if (parens && t.kind == SqlToken::kOther && (s[t.begin] == '(' || s[t.begin] == ')')) {
        depth += s[t.begin] == '(' ? 1 : -1;
        if (depth < 0) return false;
        continue;
      }
      return true;
    }
  };
  const auto other = [&](char c) { return t.kind == SqlToken::kOther && s[t.begin] == c; };
  const auto name = [&]() { return t.kind == SqlToken::kWord || t.kind == SqlToken::kQuoted; };
  for (bool first = true;; first = false) {
    if (!next(true)) return false;
    if (t.kind == SqlToken::kEnd) return !first && depth == 0;
    if (!first && (!Sql_Word_Is(s, t, "and") || !next(true))) return false;
    // column, or table.column
    if (!name()) return false;
    RunKey key;
    const size_t col_begin = t.begin;
    size_t col_end = t.end;
    if (!next(false)) return false;
    if (other('.')) {
      if (!next(false) || !name()) return false;
      col_end = t.end;
      if (!next(false)) return false;
    }
    key.col = s.substr(col_begin, col_end - col_begin);
    if (!other('=') || !next(false) || !other('$')) return false;
    size_t k = 0;
    const size_t digits = pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && k <= tr.params.size()) {
      k = k * 10 + static_cast<size_t>(s[pos++] - '0');
    }
    if (pos == digits || k == 0 || k > tr.params.size()) return false;
    key.param = k - 1;
    if (pos + 1 < s.size() && s[pos] == ':' && s[pos + 1] == ':') {
      const size_t cast = pos;
      pos += 2;
      t = Sql_Token_At(s, pos);
      if (t.kind != SqlToken::kWord) return false;
      pos = t.end;
      key.cast = s.substr(cast, pos - cast);
    }
    keys->push_back(std::move(key));
  }
}

// Whether min and max of the type's values are the order its equality
// and comparisons use whatever the collation: numbers and dates.
bool Run_Bound_Type(const std::string& type) {
  static const char* const kOrdered[] = {"int2",    "int4", "int8",      "float4",     "float8",
                                         "numeric", "date", "timestamp", "timestamptz"};
  for (const char* t : kOrdered) {
    if (type == t) return true;
  }
  return false;
}

// For a run's update whose WHERE is equalities only (Run_Keys): bounds on
// the rows to write, appended to the clause. A parameter common to the run
// bounds its column to the value itself, an array of numbers or dates to
// the range of its elements. Implied by the equalities of each row, the
// bounds change no row written; they let the server read the run's rows in
// one range of the key and join them all at once, instead of looking each
// row up from the root of the index, and give it a plan that it keeps from
// run to run. "" for any other clause, and where a parameter is an array
// of texts (its minimum would depend on a collation): a range on a later
// key column alone would not narrow the rows read.
std::string Run_Bounds(const PgTranslation& tr, const std::vector<std::string>& types, uint64_t scalars) {
  std::vector<RunKey> keys;
  if (!Run_Keys(tr, &keys)) return std::string();
  std::string out;
  for (const RunKey& key : keys) {
    const std::string& type = types[key.param];
    const std::string param = "$" + std::to_string(key.param + 1) + "::" + type;
    if (Pg_Run_Scalar(scalars, key.param)) {
      out += " AND " + key.col + " = " + param + key.cast;
    } else if (Run_Bound_Type(type)) {
      for (const char* side : {" >= (SELECT min", " <= (SELECT max"}) {
        out += " AND " + key.col + side + "(dayset_b" + key.cast + ") FROM unnest(" + param + "[]) AS dayset_b)";
      }
    } else {
      return std::string();
    }
  }
  return out;
}

}  // namespace

bool Pg_Run_Scalar(uint64_t scalars, size_t param) { return param > 0 && param < 64 && ((scalars >> param) & 1) != 0; }

uint64_t Pg_Run_Keys(const PgTranslation& tr, const std::vector<std::string>& types) {
  std::vector<RunKey> keys;
  if (types.size() != tr.params.size() || !Run_Keys(tr, &keys)) return 0;
  uint64_t mask = 0;
  for (const RunKey& key : keys) {
    if (Run_Bound_Type(types[key.param])) continue;
    if (key.param == 0 || key.param >= 64) return 0;
    mask |= uint64_t{1} << key.param;
  }
  return mask;
}

std::string Pg_Run_Sql(const PgTranslation& tr, const std::vector<std::string>& types, uint64_t scalars) {
  const size_t n = tr.params.size();
  if (tr.run == PgTranslation::kRunNone || n == 0 || types.size() != n) return std::string();
  const bool update = tr.run == PgTranslation::kRunUpdate;
  const std::string rows = Unnest_Rows(types, update, scalars);
  if (rows.empty()) return std::string();
  const std::string items = "cardinality($1::" + types[0] + "[])";
  const std::string& s = tr.sql;
  // The written rows come back to a count that fails the statement when it
  // is neither one per execution nor none, so that the server skips what
  // follows in the pipeline as after any failure.
  std::string out = "WITH dayset_w AS (";
  if (update) {
    Run_Params(s, 0, tr.run_cut, &out);
    out += " FROM " + rows + " ";
    Run_Params(s, tr.run_cut, s.size(), &out);
    out += Run_Bounds(tr, types, scalars);
    out += " RETURNING dayset_u.dayset_k) SELECT count(*) / ((count(*) = " + items +
           " AND count(DISTINCT dayset_k) = count(*)) OR count(*) = 0)::int FROM dayset_w";
  } else {
    Run_Insert(tr, rows, &out);
    out += " RETURNING 1) SELECT count(*) / (count(*) = " + items + " OR count(*) = 0)::int FROM dayset_w";
  }
  return out;
}

std::string Pg_Run_Sql_Plain(const PgTranslation& tr, const std::vector<std::string>& types, uint64_t scalars) {
  if (tr.run != PgTranslation::kRunInsert || !tr.ignore || tr.params.empty() || types.size() != tr.params.size()) {
    return std::string();
  }
  const std::string rows = Unnest_Rows(types, false, scalars);
  std::string out;
  if (!rows.empty()) Run_Insert(tr, rows, &out);
  // The conflict clause the translation added goes: a plain run fails as a
  // whole where a key exists.
  const std::string conflict = " ON CONFLICT DO NOTHING";
  if (out.size() >= conflict.size() && out.compare(out.size() - conflict.size(), conflict.size(), conflict) == 0) {
    out.resize(out.size() - conflict.size());
  }
  return out;
}

std::string Pg_Fold_Name(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// Runs on every statement with a date: digits written by hand, no format
// parsing.
void Pg_Timestamp_Text(const OraCivil& c, char (&out)[32]) {
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

int Pg_Date_Param(const char* text, size_t len, const char* fmt, size_t fmtlen, std::string* out) {
  double jd;
  const int rc = Ora_Date_Parse(text, len, fmt, fmtlen, &jd);
  if (rc != 0) return rc;
  char buf[32];
  Pg_Timestamp_Text(Ora_Jd_To_Civil(jd), buf);
  out->assign(buf);
  return 0;
}

PgTranslation Pg_Translate(const SqlParsed& parsed, const PgCatalog& catalog, bool sunday_first) {
  PgTranslation tr = Translator(catalog, sunday_first).Run(parsed);
  if (tr.error == 0 && parsed.write && tr.sql.size() > 7 && Pg_Fold_Name(tr.sql.substr(0, 7)) == "insert ") {
    tr.sql += " ON CONFLICT DO NOTHING";
    tr.ignore = true;
  }
  if (tr.error == 0 && parsed.write) Run_Shape(&tr);
  return tr;
}

}  // namespace sqlrt

// Statements of the PostgreSQL backend (pg_session.h).
//
// Cursors and select-into keep their whole result at execution: they read
// as of their open and survive commits.
#include <charconv>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "db/hostvar.h"
#include "db/oradate.h"
#include "db/pg_session.h"
#include "db/pg_shared.h"

namespace sqlrt {

namespace {

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

}  // namespace

void PgStatement::Reset() {
  PQclear(res_);
  res_ = nullptr;
  started_ = false;
  row_ = -1;
}

int PgStatement::Queue() {
  Values();
  return s_->Batch_Queue(&name_, write_, &run_, static_cast<int>(ptrs_.size()), ptrs_.data(), lens_.data());
}

int PgStatement::Adopt(int item) {
  PQclear(res_);
  res_ = nullptr;
  const int rc = s_->Batch_Take(item, &res_);
  started_ = true;
  row_ = -1;
  return rc != 0 ? rc : Ignored();
}

// An insert that met an existing key: the unique violation it stands for.
int PgStatement::Ignored() const {
  return tr_.ignore && res_ != nullptr && std::strcmp(PQcmdTuples(res_), "0") == 0 ? -1 : 0;
}

int PgStatement::Bind(int index, const SqlVar& var) { return Pg_Input_Bind(tr_, index, var, &values_, &null_); }

void PgStatement::Values() {
  Pg_Clock_Values(tr_, &values_, &null_);
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
  const size_t i = static_cast<size_t>(index);
  if (i < tr_.date_out.size() && !tr_.date_out[i].empty()) {
    // TO_CHAR's text, of the date the server sent; a fraction of a second
    // and a UTC offset are no part of it.
    if (len > 19 && (v[19] == '.' || v[19] == '+' || v[19] == '-')) len = 19;
    OraCivil c;
    if (!Timestamp_Parse(v, len, &c)) return kOraBadYear;
    return Pg_Date_Out(c, tr_.date_out[i], out);
  }
  switch (types_[i]) {
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

}  // namespace sqlrt

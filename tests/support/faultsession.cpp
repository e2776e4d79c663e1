#include "faultsession.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/backend.h"
#include "db/sqlparse.h"

namespace faults {

namespace {

struct Fault {
  std::string part;
  Op op;
  int nth;
  int code;
  int times;
  int seen;
};

std::vector<Fault> g_faults;
bool g_batches = true;
bool g_installed = false;

// The code armed for this call, or 0. Every armed fault of the kind whose
// text matches counts the call, whichever strikes.
int Check(Op op, const std::string& text) {
  int code = 0;
  for (Fault& f : g_faults) {
    if (f.op != op || text.find(f.part) == std::string::npos) continue;
    ++f.seen;
    if (code == 0 && f.seen >= f.nth && (f.times < 0 || f.seen < f.nth + f.times)) code = f.code;
  }
  return code;
}

// A statement passed through. It tells the runtime's calls apart by what
// came before them: Step after Materialize is a fetch; the first Step after
// Reset runs the statement, a second one reads on.
class FaultStatement : public sqlrt::Statement {
 public:
  FaultStatement(std::unique_ptr<sqlrt::Statement> real, std::string text)
      : real_(std::move(real)), text_(std::move(text)) {}

  int Columns() const override { return real_->Columns(); }
  int Bind(int index, const SqlVar& var) override { return real_->Bind(index, var); }
  int Step() override {
    if (cursor_) {
      if (const int code = Check(kFetch, text_); code != 0) return code;
    } else if (!ran_) {
      ran_ = true;
      if (const int code = Check(kExec, text_); code != 0) return code;
    }
    return real_->Step();
  }
  int Materialize() override {
    if (const int code = Check(kOpen, text_); code != 0) return code;
    const int rc = real_->Materialize();
    cursor_ = rc == 0;
    return rc;
  }
  int Column(int index, const SqlVar& out) override { return real_->Column(index, out); }
  void Reset() override {
    ran_ = false;
    cursor_ = false;
    real_->Reset();
  }
  int Queue() override { return real_->Queue(); }
  int Adopt(int item) override {
    ran_ = true;  // the batch ran it
    return real_->Adopt(item);
  }

 private:
  std::unique_ptr<sqlrt::Statement> real_;
  const std::string text_;
  bool ran_ = false;     // the current execution has run
  bool cursor_ = false;  // the current execution is a cursor's, open
};

class FaultSession : public sqlrt::Session {
 public:
  explicit FaultSession(std::unique_ptr<sqlrt::Session> real) : real_(std::move(real)) {}

  int Prepare(const SqlParsed& parsed, std::unique_ptr<sqlrt::Statement>* out) override {
    std::unique_ptr<sqlrt::Statement> st;
    const int rc = real_->Prepare(parsed, &st);
    if (rc == 0) *out = std::make_unique<FaultStatement>(std::move(st), parsed.sql);
    return rc;
  }
  int Switch_Schema(const std::string& name) override {
    if (const int code = Check(kDynamic, "ALTER SESSION SET CURRENT_SCHEMA=" + name); code != 0) return code;
    return real_->Switch_Schema(name);
  }
  int Commit() override {
    if (const int code = Check(kCommit, "commit"); code != 0) return code;
    return real_->Commit();
  }
  int Rollback() override { return real_->Rollback(); }
  unsigned Name_Generation() const override { return real_->Name_Generation(); }
  bool Batches() const override { return g_batches && g_faults.empty() && real_->Batches(); }
  void Batch_Begin() override { real_->Batch_Begin(); }
  int Batch_Run(int stop_code) override { return real_->Batch_Run(stop_code); }
  long Round_Trips() const override { return real_->Round_Trips(); }
  long Longest_Wait_Ms() const override { return real_->Longest_Wait_Ms(); }
  const char* Broken() const override { return real_->Broken(); }

 private:
  std::unique_ptr<sqlrt::Session> real_;
};

std::unique_ptr<sqlrt::Session> Wrap(std::unique_ptr<sqlrt::Session> real) {
  return std::make_unique<FaultSession>(std::move(real));
}

}  // namespace

void Install() {
  if (g_installed) return;
  g_installed = true;
  sqlrt::Sql_Rt_Session_Wrap(Wrap);
}

void Uninstall() {
  Clear();
  g_batches = true;
  g_installed = false;
  sqlrt::Sql_Rt_Session_Wrap(nullptr);
}

void Add(const char* text_part, Op op, int nth, int code, int times) {
  Install();
  g_faults.push_back(Fault{text_part != nullptr ? text_part : "", op, nth < 1 ? 1 : nth, code, times, 0});
}

void Clear() { g_faults.clear(); }

void Batches_Set(bool on) {
  Install();
  g_batches = on;
}

}  // namespace faults

// Fixture for the person phase, on every backend: the test database with
// helpers that insert persons, employment rows, work calendar days,
// assignments, groups and plans, run the phase, and read the written tables
// back.
#pragma once

#include <string>
#include <vector>

#include "person/pnr.h"
#include "../support/testdb.h"

namespace persontest {

// SQL literal of a text; nullptr gives NULL.
std::string Q(const char* text);

class PersonTest : public testdb::DbTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Rows go into the current schema (schema_) unless one is given.
  void AddPerson(const char* pnr, const char* nam, int sta = 1);
  void AddBsv(const char* pnr, const char* gvo, const char* gbi, const char* kal, const char* akr,
              const char* abr, int sta = 1);
  // A person with one open-ended relationship.
  void AddEmployee(const char* pnr, const char* nam, const char* gvo, const char* kal,
                   const char* akr = "AK1", const char* abr = "AB1");
  // Calendar days from..to of calendar `kal` in table Hrs133Ka2 (prefix Ka2)
  // or Hrs133Kal (prefix Kal), every day with day type `ttp`.
  void AddDays(const std::string& table, const char* kal, const char* from, const char* to, const char* ttp,
               int sta = 1, const std::string& schema = "");
  void AddZuo(const char* pnr, const char* gvo, const char* gbi, const char* sdt, int stg,
              const char* agr, const char* abt, const char* kst, const char* krt, const char* ktr,
              const char* vra);
  void AddAgr(const char* num, int tge);
  void AddWpl(const char* agr, int tag, const char* azt, const char* vra);
  // An assignment, valid for ever, to the one-day group "G0" with its plan,
  // so that the person's time groups log nothing.
  void AddAssigned(const char* pnr);

  // The phase over the whole person range.
  int Run(const char* beg, const char* end_year, const char* von = "00000000",
          const char* bis = "zzzzzzzz");

  // Table contents without the sysdate columns, in key order.
  std::vector<std::string> Tags(const std::string& schema = "");
  std::vector<std::string> Ztgs(const std::string& schema = "");
  std::vector<std::string> Urvs(const std::string& schema = "");

  // Runs sql in, or reads rows from, the current schema.
  void ExecCur(const std::string& sql) { db_->Exec(schema_, sql); }
  std::vector<std::string> RowsCur(const std::string& sql) { return db_->Rows(schema_, sql); }
  std::string schema_ = "HRSYSTEM";  // set when a test works in another schema
};

}  // namespace persontest

// Fixture for the person phase: the embedded test database with helpers that
// insert persons, employment rows, work calendar days, assignments, groups
// and plans, run the phase, and read the written tables back.
#pragma once

#include <string>
#include <vector>

#include "person/pnr.h"
#include "../support/testdb.h"

namespace persontest {

// SQL literal of a text; nullptr gives NULL.
std::string Q(const char* text);
// julianday('yyyy-mm-dd'), or NULL for nullptr.
std::string D(const char* date);

class PersonTest : public testdb::DbTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Rows go into the current schema's file unless a file is given.
  void AddPerson(const char* pnr, const char* nam, int sta = 1);
  void AddBsv(const char* pnr, const char* gvo, const char* gbi, const char* kal, const char* akr,
              const char* abr, int sta = 1);
  // A person with one open-ended relationship.
  void AddEmployee(const char* pnr, const char* nam, const char* gvo, const char* kal,
                   const char* akr = "AK1", const char* abr = "AB1");
  // Calendar days from..to of calendar `kal` in table Hrs133Ka2 (prefix Ka2)
  // or Hrs133Kal (prefix Kal), every day with day type `ttp`.
  void AddDays(const std::string& table, const char* kal, const char* from, const char* to,
               const char* ttp, int sta = 1, const std::string& file = "");
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
  std::vector<std::string> Tags(const std::string& file = "");
  std::vector<std::string> Ztgs(const std::string& file = "");
  std::vector<std::string> Urvs(const std::string& file = "");

  // The file of the current schema.
  std::string cur() const { return file_.empty() ? db() : file_; }
  std::string file_;  // set when a test works in another schema
};

}  // namespace persontest

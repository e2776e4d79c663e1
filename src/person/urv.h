// Vacation carry-over years: one row of Hrs332Urv per person and year, from
// the year in which the current employment relationship began up to the end
// year of the run.
//
// Two steps per person, each run in a batch of the person-day stages
// (pnr.cpp): the look-up of the highest stored year, then the inserts.
#pragma once

#include <cstdint>
#include <vector>

#include "db/sqlrt.h"
#include "person/bsv.h"

struct UrvWork {
  int32_t last;  // the look-up's output
  int16_t ind;
  int lst_rc;
  std::vector<int32_t> years;  // to insert, in order
  std::vector<int> rcs;        // each insert's code
  std::vector<size_t> at;      // each insert's item in the batch of its stage
};

size_t Urv_Lst_Add(UrvWork* w, const BsvRecord& BsvSatz, SqlBatch* b);
// The highest stored year is looked up but does not move the start: every
// run makes sure of all the years of the relationship, gaps included, from
// the year of BsvGvo (of the run date when the look-up failed) up to and
// including the year of EndDat.
void Urv_Lst_Take(UrvWork* w, int rc, const BsvRecord& BsvSatz, const char* EndDat);
void Urv_Ins_Add(UrvWork* w, size_t k, const BsvRecord& BsvSatz, SqlBatch* b);
// A year that exists already (-1) passes in silence, so that reruns log
// nothing; other failures are logged, each year on its own.
void Urv_Log(const UrvWork& w, const BsvRecord& BsvSatz);

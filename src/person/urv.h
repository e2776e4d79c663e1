// Vacation carry-over years: one row of Hrs332Urv per person and year, from
// the year in which the current employment relationship began up to the end
// year of the run.
//
// Two steps per person, each run in a batch of the person-day stages
// (pnr.cpp): the look-up of the highest stored year, then the inserts, in
// year order and in chunks (Urv_Chunk_Set), so that what a batch holds
// does not grow with the span of years.
#pragma once

#include <cstdint>
#include <vector>

#include "db/sqlrt.h"
#include "person/bsv.h"

struct UrvWork {
  int32_t last;  // the look-up's output
  int16_t ind;
  int lst_rc;
  long first;  // the first year to insert
  long count;  // the years to insert: first, first + 1, ...
  // The chunk in hand: its years, each insert's code and its item in the
  // batch of its stage.
  std::vector<int32_t> years;
  std::vector<int> rcs;
  std::vector<size_t> at;
  // The years whose insert failed (other than -1), with the code, in order.
  struct Failure {
    int32_t year;
    int rc;
  };
  std::vector<Failure> failed;
};

size_t Urv_Lst_Add(UrvWork* w, const BsvRecord& BsvSatz, SqlBatch* b);
// The highest stored year is looked up but does not move the start: every
// run makes sure of all the years of the relationship, gaps included, from
// the year of BsvGvo (of the run date when the look-up failed) up to and
// including the year of EndDat.
void Urv_Lst_Take(UrvWork* w, int rc, const BsvRecord& BsvSatz, const char* EndDat);
// Makes the years from + 0 .. from + n - 1 of the person's (n >= 0) the
// chunk in hand, none of them written yet.
void Urv_Chunk_Set(UrvWork* w, long from, long n);
// Adds the chunk's year k to the batch.
void Urv_Ins_Add(UrvWork* w, size_t k, const BsvRecord& BsvSatz, SqlBatch* b);
// Keeps the chunk's failures for Urv_Log once each of its years has its code.
void Urv_Chunk_Done(UrvWork* w);
// A year that exists already (-1) passes in silence, so that reruns log
// nothing; other failures are logged, each year on its own.
void Urv_Log(const UrvWork& w, const BsvRecord& BsvSatz);

// Day records: for one person, a row of Hrs327Tag for every day of the
// person's work calendar in the window; the person-day stages (pnr.cpp) run
// each step for all the days at once, as ztg.h describes.
//
// The days come from Hrs133Ka2 in
// the current schema while Ka2Flag is set; the first time that table turns
// out to be missing the flag is cleared for the rest of the run and the days
// come from HRSYSTEM.Hrs133Kal, silently.
#pragma once

#include <cstdint>
#include <vector>

#include "db/sqlrt.h"
#include "person/bsv.h"

// The current person and day; TagTtp is not stored in Hrs327Tag, it goes
// into ZtgTtp.
struct TagRecord {
  char TagPnr[9];
  char TagTag[9];  // the day, yyyymmdd
  char TagVon[9];  // always the day
  char TagUhr[7];  // always "000000"
  char TagBis[9];  // always the day
  char TagEnd[7];  // always "000000"
  char TagTtp[4];  // day type in the person's work calendar
};

// A day of the person's window: its record and what its existence check
// and its insert gave. The buffers must stay in place while a batch runs.
struct TagDay {
  TagRecord TagSatz;
  char sel_pnr[9];
  char sel_day[11];
  int16_t sel_ind;
  char von[15];  // the insert's TagUhr and TagEnd, yyyymmddhhmmss
  char bis[15];
  size_t at;     // the day's item in the batch of its stage
  int sel_rc;
  int ins_rc;
};

// The days after WinStart up to and including EndDat of calendar BsvKal, in
// date order: Tag_Days_Open adds the open to the batch (the item's index);
// Tag_Days_Fetch, given that item's code, reads them into *days (the
// person's number in TagPnr) and closes the cursor. Returns 1403 when every
// day was read, or the code of the fetch that failed (the days before it
// are in *days); a failed open shows as a failed first fetch.
size_t Tag_Days_Open(const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat, SqlBatch* b);
int Tag_Days_Fetch(int open_rc, const BsvRecord& BsvSatz, const char* WinStart, const char* EndDat,
                   std::vector<TagRecord>* days);
void Tag_Day_Init(TagDay* d, const TagRecord& TagSatz);

// The existence check of one day: a day without its record (1403) is then
// inserted.
void Tag_Sel_Add(TagDay* d, SqlBatch* b);
void Tag_Sel_Take(TagDay* d, int rc);
// The same check for all the window's days in one read: the person's day
// records after WinStart up to and including EndDat. Each fetch gives the
// next record's TagTag as yyyymmddhhmmss ("" when it could not be read).
size_t Tag_Sel_Range_Open(const char* TagPnr, const char* WinStart, const char* EndDat, SqlBatch* b);
int Tag_Sel_Range_Fetch(char (&stamp)[15]);
void Tag_Sel_Range_Close();

bool Tag_Ins_Due(const TagDay& d);
void Tag_Ins_Add(TagDay* d, SqlBatch* b);
void Tag_Ins_Take(TagDay* d, int rc);
// The day's failure lines, and their number; with `write` false only the
// number. A record inserted meanwhile (-1) passes in silence.
int Tag_Day_Log(const TagDay& d, bool write = true);
// The line for a read of the days that ended early (rc not 1403).
void Tag_Days_Read_Log(const BsvRecord& BsvSatz, int rc);

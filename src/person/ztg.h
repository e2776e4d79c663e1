// Daily time-group records: the row of Hrs329Ztg for one person and day,
// with the working-time group, rotation day, department, cost centre and
// account codes of the assignment (Hrs311Zuo, Hrs160Agr), the planned time
// of the group's plan (Hrs161Wpl) and the day type.
//
// A day's row is built in four steps: the row's read, the assignment, the
// plan, the write. The person-day stages (pnr.cpp) run each step for all
// the days of a slice of the person's window at once (the plans' read once
// for the window): a read as one range read over the days (the
// _Range_ functions), a write as one batch item per day (an _Add function
// puts the day's statement into the batch, the matching _Take reads what it
// gave). Each read also has its form for one day, which the range form
// stands for.
// While ZtgPnmFlag is set the writes name ZtgPnm; the first write that meets
// a table without that column (-904) is repeated without it, and the flag
// stays cleared for the rest of the run.
#pragma once

#include <cstdint>
#include <vector>

#include "db/sqlrt.h"
#include "person/bsv.h"
#include "person/tag.h"

// The time-group record of the current person and day, rebuilt for every day.
struct ZtgRecord {
  char ZtgPnr[9];
  char ZtgVon[9];   // the day, yyyymmdd
  char ZtgAbt[16];  // department
  char ZtgKst[31];  // cost centre
  char ZtgKtr[7];
  char ZtgKrt[5];
  char ZtgAkr[6];
  char ZtgAgr[14];  // working-time group
  char ZtgVra[14];
  char ZtgAzt[6];   // planned working time
  int32_t ZtgTag;   // day of the group's rotation, 1..AgrTge; 0 when unknown
  char ZtgBsd[6];
  char ZtgTtp[4];   // day type
  char ZtgPnm[51];  // person name
};

// One day's time-group work: the record, the buffers the statements read
// into (they must stay in place while a batch runs) and each step's code.
struct ZtgDay {
  ZtgRecord z;
  bool due;     // later than the person's last time-group day: the day is built
  bool is_new;  // no row yet: the write inserts
  char out[11][31];
  int32_t out_tag;
  int16_t ind[11];
  int16_t in_ind[11];  // the written row's indicators (an empty text goes as NULL)
  bool pnm;            // the write names ZtgPnm
  bool agr_cut;        // the assignment's group was cut to fit ZtgAgr
  size_t at;           // the day's item in the batch of its stage
  int sel_rc, zuo_rc, wpl_rc, write_rc;
};

// A row of the plan read: a group's plan for one rotation day, as fetched.
struct WplRow {
  char agr[14];
  int32_t tag;
  char azt[6];
  char vra[14];
  int16_t ind[4];  // of agr, tag, azt, vra
  int rc;          // the fetch's code
};

// Starts the day: due when TagSatz's day is later than LastZtg.
void Ztg_Day_Init(ZtgDay* d, const TagRecord& TagSatz, const char* LastZtg);
// The existing row. After the take the day goes on (Ztg_Day_Going) unless
// the read failed.
void Ztg_Sel_Add(ZtgDay* d, SqlBatch* b);
void Ztg_Sel_Take(ZtgDay* d, int rc, const BsvRecord& BsvSatz, const TagRecord& TagSatz);
bool Ztg_Day_Going(const ZtgDay& d);
// The assignment valid on the day, and the day's place in the rotation.
void Ztg_Zuo_Add(ZtgDay* d, SqlBatch* b);
void Ztg_Zuo_Take(ZtgDay* d, int rc);
// The plan's time for the group and rotation day.
void Ztg_Wpl_Add(ZtgDay* d, SqlBatch* b);
void Ztg_Wpl_Take(ZtgDay* d, int rc);

// The range forms: one read for all the slice's days. A fetch reads the
// next row into `row`'s read buffers, laid out as the day's own statement
// reads them, and the row's day as yyyymmddhhmmss ("" when it could not be
// read); Ztg_Out_Take gives a day what its own statement would have read.
// The existing rows after LastZtg up to and including EndDat:
size_t Ztg_Sel_Range_Open(const char* ZtgPnr, const char* LastZtg, const char* EndDat, SqlBatch* b);
int Ztg_Sel_Range_Fetch(ZtgDay* row, char (&stamp)[15]);
void Ztg_Sel_Range_Close();
// The assignments of the window's days (after the day records' inserts):
size_t Ztg_Zuo_Range_Open(const char* ZtgPnr, const char* WinStart, const char* EndDat, SqlBatch* b);
int Ztg_Zuo_Range_Fetch(ZtgDay* row, char (&stamp)[15]);
void Ztg_Zuo_Range_Close();
void Ztg_Out_Take(ZtgDay* d, const ZtgDay& row);
// The plans of the groups the person is assigned to, matched to a day by
// Ztg_Wpl_Match: the code of the day's own look-up, its outputs as that
// look-up reads them. A day whose group was cut (Ztg_Wpl_Own) has a group
// that no plan read by the range may stand for: only its own look-up knows.
size_t Ztg_Wpl_Range_Open(const char* ZtgPnr, SqlBatch* b);
int Ztg_Wpl_Range_Fetch(WplRow* row);
void Ztg_Wpl_Range_Close();
int Ztg_Wpl_Match(ZtgDay* d, const std::vector<WplRow>& plans);
bool Ztg_Wpl_Own(const ZtgDay& d);
// The insert or update. The take returns false when the write must be
// added again, without ZtgPnm (the flag has just been cleared).
void Ztg_Write_Add(ZtgDay* d, SqlBatch* b);
bool Ztg_Write_Take(ZtgDay* d, int rc);
// Whether the day's row was written.
bool Ztg_Day_Written(const ZtgDay& d);
// The day's failure lines, in the order of its steps, and their number;
// with `write` false only the number.
int Ztg_Day_Log(const ZtgDay& d, bool write = true);

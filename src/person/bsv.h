// The employment row that the person-day modules share, and the small text
// helpers they use.
//
// Pnr_Days_Extend fetches one BsvRecord per person from Hrs310Bsv joined with
// Hrs300Pnr; the day, time-group and carry-over steps read it and never
// change it. All fields are NUL-terminated texts of fixed room.
#pragma once

#include <cstddef>

struct BsvRecord {
  char BsvPnr[9];   // person number, the key of every person table
  char BsvGvo[9];   // first valid day of the relationship, yyyymmdd
  char BsvGbi[9];   // last valid day, yyyymmdd; empty when open-ended
  char BsvKal[4];   // work calendar number
  char BsvAkr[6];   // written into ZtgAkr
  char BsvAbr[6];   // written into ZtgBsd
  char PnrNam[51];  // the person's name, written into ZtgPnm
};

// The year of a yyyymmdd text: the decimal value of its first four
// characters (fewer when the text is shorter), as atol reads them.
long Pnr_Year_Of(const char* date);

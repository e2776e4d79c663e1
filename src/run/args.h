// Checks of the command line and configuration values, made before any
// database work so that nothing longer than its room is ever copied.
//
// The driver calls these. The _Check functions return null when the text is
// acceptable and otherwise a short description of what is allowed.
#pragma once

#include <cstddef>

// "0" (no start date) or eight digits yyyymmdd forming a real date.
const char* Arg_BegDat_Check(const char* text);
// Exactly four digits.
const char* Arg_EndeJahr_Check(const char* text);
// True when the text has at most `room` characters (a field of room + 1 bytes).
bool Arg_Fits(const char* text, size_t room);

// True when yyyymmdd is a date of the Gregorian calendar, years 1 to 9999.
bool Date_Ymd_Valid(const char* text);

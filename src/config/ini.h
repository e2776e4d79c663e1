// Configuration file reader (and writer for the companion command).
//
// The driver calls Ini_Value_Get for LOGIN, PASS, NET8 and SCHEMA and copies
// IniSatz.IniWrt after each call. Files hold two-line records:
//   line 1: anything;SECTION;anything
//   line 2: NUMBER;NAME;HEXVALUE     (the value enciphered, see blowfish.h)
#pragma once

#include <cstdint>

struct IniRecord {
  int32_t IniNum;
  char IniSek[201];
  char IniNam[201];
  char IniWrt[201];
};

// The result of the last Ini_Value_Get; reset by every call.
extern IniRecord IniSatz;

// Looks up the first record whose section, name or number matches, and
// leaves it in IniSatz with IniWrt deciphered. Reset IniSatz when the file
// cannot be opened or nothing matches.
void Ini_Value_Get(const char* section, const char* name, int32_t number, const char* path);

// Adds the record (section, number, name, value enciphered) to the file, or
// replaces the first record of that name. Creates the file when missing
// (mode 0600). Returns 0, or an errno value. Refuses (EINVAL) an empty
// section or name, a number of 0, and texts with ';', CR or LF in section or
// name, or values that would not fit the reader's fields.
int Ini_Record_Put(const char* path, const char* section, int32_t number, const char* name,
                   const char* plain_value);

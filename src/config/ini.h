// Configuration file reader (and writer for the companion command).
//
// The driver calls Ini_Value_Get for LOGIN, PASS, NET8 and SCHEMA and copies
// IniSatz.IniWrt after each call. Files hold two-line records:
//   line 1: anything;SECTION;anything
//   line 2: NUMBER;NAME;HEXVALUE     (the value enciphered, see blowfish.h)
// Lines are taken strictly in pairs, as read in text mode (CR before LF is
// part of the line end, Ctrl-Z ends the file) with fixed limits: a record's
// first line at most 199 characters with its line feed, the second at most
// 399. A longer line is read in pieces, each counting as a line, which
// shifts the pairing of everything after it. A last unpaired line is never
// looked at. dayset-conf writes files in this form; see its usage text.
#pragma once

#include <cstddef>
#include <cstdint>

struct IniRecord {
  int32_t IniNum;
  char IniSek[201];
  char IniNam[201];
  char IniWrt[201];
};

// The result of the last Ini_Value_Get; reset by every call.
extern IniRecord IniSatz;

// Read limits of a record's lines, as buffer sizes: a piece holds at most
// one character less, line feed included.
constexpr int kIniLine1Size = 200;
constexpr int kIniLine2Size = 400;

// The longest plain value the reader hands back whole: IniWrt holds 200 hex
// characters, that is 12 blocks of 8 bytes.
constexpr size_t kIniPlainMax = (sizeof(IniRecord::IniWrt) - 1) / 16 * 8;

// Looks up the first record whose section, name or number matches, and
// leaves it in IniSatz with IniWrt deciphered. Reset IniSatz when the file
// cannot be opened or nothing matches. Comparisons are exact and
// case-sensitive; the driver asks with section "" and number 0, so a record
// with an empty section or number 0 is taken for any name. The file is
// opened anew by every call, as Ini_File_Open opens it: anything but a
// regular file is never read, as if it could not be opened, so that no call
// waits on a FIFO put at the name. Returns whether the file was read (to
// the match or to its end, without a read error).
bool Ini_Value_Get(const char* section, const char* name, int32_t number, const char* path);

// Opens the configuration file `path` for reading without blocking (a FIFO
// is never waited for, a terminal never becomes the controlling one); a
// symbolic link is followed. Only a regular file is opened: for anything
// else, -1 with *type its file type (S_IFIFO, S_IFDIR, S_IFCHR, S_IFBLK,
// S_IFSOCK) and *err 0; when it cannot be opened or looked at, -1 with *err
// the errno (ENOENT: missing) and *type 0. Otherwise the descriptor
// (close-on-exec), *err and *type 0.
int Ini_File_Open(const char* path, int* err, unsigned* type);

// Splits a record's two lines, as read, into rec (which must be reset):
// section between the first two ';' of line1, number before the first ';'
// of line2, name between its first two ';', value (still enciphered) after
// the second up to the line end. Short lines follow the rules of
// Str_Char_Pos and Str_Part_Copy: adjacent ';' give the rest of the line,
// line feed included; fewer than two ';' give an empty section or name; a
// second line without ';' gives number 0 and the whole line as value. Texts
// longer than their field are cut to it.
void Ini_Record_Parse(const char* line1, const char* line2, IniRecord* rec);

// Index of the n-th (n >= 1) occurrence of character in text; of the last
// one when there are fewer than n; -1 when there is none.
int Str_Char_Pos(const char* text, char character, int n);

// Copies length characters of text from index start into target and
// terminates it; length 0 copies the rest of the text. A negative length or
// start leaves target unchanged. Never writes more than target_size bytes
// (the copy is cut to target_size - 1 characters) and never reads past the
// end of text.
void Str_Part_Copy(const char* text, int start, int length, char* target, size_t target_size);

// Adds the record (section, number, name, value enciphered) to the file, or
// replaces the first record of that name. Creates the file when missing
// (mode 0600). Returns 0, or an errno value. Refuses (EINVAL) an empty
// section or name, a number of 0, and texts with ';', CR, LF or Ctrl-Z in
// section or name, or values that would not fit the reader's fields
// (more than kIniPlainMax characters, or lines over the read limits);
// EISDIR or EOPNOTSUPP when path is not a plain file, ELOOP when it is a
// symbolic link (the rename would replace the link, not its target).
// The file is replaced atomically (temporary file and rename) and keeps its
// mode and owner; all other bytes, other records and their line ends
// included, stay as they are. A new record takes the line end the file
// uses and goes in before a last unpaired line and before a Ctrl-Z.
int Ini_Record_Put(const char* path, const char* section, int32_t number, const char* name,
                   const char* plain_value);

// The number for a record of this name: the number of the first record so
// named when it is not 0, otherwise one more than the highest number in the
// file (the lowest unused positive number when that would overflow); 1 for
// a missing or empty file.
int32_t Ini_Number_Free(const char* path, const char* name);

// Writing fetched values into host variables, the same way on every
// backend: texts bounded by the variable's size, numbers as Oracle converts
// them, NULL into the indicator. The backends call these from their Column.
#pragma once

#include <cstddef>

#include "db/sqlrt.h"

// NULL: the indicator becomes -1; -1405 when the variable has none.
int Hostvar_Put_Null(const SqlVar& out);

// A text into a STRING (cut to size - 1 characters, the indicator then
// holding the full length) or into an INTEGER (read as a number, the
// fraction dropped; -1722 when it is none, -1455 when it does not fit).
// An empty text is NULL.
int Hostvar_Put_Text(const SqlVar& out, const char* text, size_t len);

// A number into a STRING (as Oracle prints it: integers without a
// fraction) or an INTEGER (fraction dropped; -1455 when it does not fit).
int Hostvar_Put_Int(const SqlVar& out, long long value);
int Hostvar_Put_Double(const SqlVar& out, double value);

// Text to number with Oracle's strictness: blanks around, nothing else.
// Sets *is_int and *iv for integers, else *dv. False when it is no number.
bool Sql_Number_Parse(const char* text, size_t len, bool* is_int, long long* iv, double* dv);

// The text of a number as Oracle prints it; returns its length (< size).
size_t Sql_Number_Text(double value, char* buf, size_t size);

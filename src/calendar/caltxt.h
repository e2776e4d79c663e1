// Small text helpers shared by the calendar phases.
//
// The phases move dates and day types between the statements' host
// variables and their records; the buffers differ in size (a DateYmd holds 9
// bytes, the statements' date texts 11), so every copy is bounded.
#pragma once

#include <cstddef>

// The size of the date texts the calendar statements read and write
// (yyyymmdd and its NUL, with room to spare).
constexpr int kCalDateTextSize = 11;

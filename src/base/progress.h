// Progress for a person watching a run: one self-updating line on standard
// error (phase, persons done, days written, elapsed time), only when standard
// error is a terminal. Scheduled runs, whose standard error is a file or a
// pipe, get nothing, so their output stays as it was.
//
// The driver calls Progress_Init, Progress_Phase and Progress_Done; the person
// phase reports each finished person. Every call is cheap when inactive.
#pragma once

#include <cstddef>
#include <string>

// Decides once whether progress is shown (standard error is a terminal).
void Progress_Init();
bool Progress_Active();

void Progress_Phase(const char* name);
// One person finished, with the number of time-group days it wrote.
void Progress_Person(long days);

// In a worker of a parallel run: every finished person is also sent, as a
// line "DAYS\n", to the pipe `fd`, from which the run reads them
// (Progress_Relay_Read), so that its line and summary count the workers'
// persons and days as they go. -1: none (the default).
void Progress_Relay_Set(int fd);
// In the run: takes the complete lines in bytes[0..n) as finished persons,
// and the lines of a worker's log tally (RunLog_Tally_Take); returns how
// many bytes were used (an incomplete last line is left for the next read).
size_t Progress_Relay_Read(const char* bytes, size_t n);
// In a worker, at its end: sends `lines` (whole lines) to the run, in
// writes of whole lines that a pipe never splits.
void Progress_Relay_Send(const std::string& lines);
// Ends the line.
void Progress_Done();

// What the run did so far, counted also when no line is shown: persons
// finished and seconds since Progress_Init.
long Progress_Persons();
double Progress_Seconds();

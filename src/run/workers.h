// Worker processes of a parallel run (-j N): the person phase split over N
// processes, each with its own session and its own commits.
//
// The driver runs the calendar phases itself, splits the person range
// (Pnr_Range_Split), starts one worker per part with Workers_Start, waits
// for them with Workers_Wait and then merges their logs with
// Workers_Logs_Merge. A worker is this program started anew (its own
// process image, so no database connection is ever shared across a fork).
// Worker K writes its log lines to DAYSET.LOG.K in the working directory,
// each line flushed as it is written; the merge appends the parts to
// DAYSET.LOG in worker order and removes them, so that DAYSET.LOG reads as
// the log of the same run with one worker. A job killed before the merge
// leaves the parts behind. Workers die with the job (they are killed when
// it ends before them).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct Worker {
  pid_t pid = -1;
  int status = -1;  // exit status, or 128 + the signal that ended it
};

// Starts `argv` (argv[0] is ignored: the running program is started) once
// per entry. Returns false when a process could not be started; those
// started already are killed and waited for.
bool Workers_Start(const std::vector<std::vector<std::string>>& argvs, std::vector<Worker>* out);

// Waits until every worker has ended and fills in their statuses. With
// `progress` a pipe's read end (the workers hold its write end, named to
// them by Workers_Progress_Env), the persons they report meanwhile go to the
// progress line (Progress_Relay_Read); -1 for none.
void Workers_Wait(std::vector<Worker>* workers, int progress = -1);

// The environment variable through which a worker learns its progress pipe.
constexpr char kWorkersProgressEnv[] = "DAYSET_PROGRESS_FD";

// The name of worker k's log part (k from 1).
std::string Workers_Log_Name(int k);

// Appends the log parts 1..n to RunLog, line by line, and removes them;
// a missing part adds nothing.
void Workers_Logs_Merge(int n);

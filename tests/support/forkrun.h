// Test support: the job, or one of the programs, in a child process of the
// test, in the directory of an installation, as the operator starts it
// there. Tests that arm faults inside the job's own process (faultvfs.h,
// faultsession.h), or that kill it, run it so.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "db/sqlrt.h"

namespace forkrun {

// Forks a child that unsets NLS_TERRITORY and NLS_LANG (the session's
// territory is then the default one), makes `dir` its working directory,
// sends its standard output to /dev/null and its standard error to
// dir/stderr.txt, and then calls `child`, which ends the process by exec or
// _exit (a child that returns exits with 127, as one whose setup failed).
// Returns the child's process id, or -1.
pid_t Start(const std::string& dir, const std::function<void()>& child);

// Waits for the child: its exit status, or -1 when it did not exit (killed).
int Wait(pid_t pid);

// What a run of the job left.
struct Outcome {
  int status;       // as Wait returns it
  std::string log;  // dir/DAYSET.LOG
  std::string err;  // its standard error
};

// Runs the job as "dayset ARGS..." through Dayset_Main in a child process
// started by Start, and waits for it. `before` runs in the child first: it
// may arm faults and change the session options handed to the job (those
// of the child's environment, Sql_Options_Default).
Outcome Run_Job(const std::string& dir, const std::vector<std::string>& args,
                const std::function<void(SqlOptions*)>& before = nullptr);

}  // namespace forkrun

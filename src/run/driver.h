// The run driver: the whole control flow of the job.
//
// main() hands its arguments to Dayset_Main and exits with its result:
//   0  the phases ran (also when they logged row errors); --help, --version
//   1  DAYSET.LOG could not be created, the connect or schema switch failed,
//      or the database broke down during a phase (Sql_Rt_Broken): one line
//      in the log and on standard error, and nothing more was done; or a
//      dry run's rollback failed
//   2  wrong argument count, an unknown option, or an argument or
//      configuration value that is invalid or longer than its room
// Options come before the five arguments (run/args.h); the count line of a
// wrong call counts the arguments after them.
#pragma once

#include "db/sqlrt.h"

// `options` are the settings of the run's sessions (its workers read them
// from the environment as main does).
int Dayset_Main(int argc, char** argv, const SqlOptions& options = Sql_Options_Default());

// What the job prints about itself: the usage lines of a wrong call, --help
// and --version. The driver calls these; they write to standard output only.
#pragma once

// The two usage lines printed when the argument count is wrong.
void Usage_Lines_Print();

// The help: usage, what the job does, arguments, options (from the option
// table of run/args.h), exit statuses and where the manual page is.
void Usage_Help_Print();

// Name, version and the backends built in.
void Usage_Version_Print();

// The companion programs' --version: when argv is exactly PROGRAM --version,
// prints "PROGRAM VERSION" and returns true (the caller exits with 0).
bool Usage_Version_Asked(int argc, char** argv, const char* program);

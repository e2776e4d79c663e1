// Test support: faults between the runtime and its backend, where a real
// server refuses a statement or the connection drops under it.
//
// Install() wraps the runtime's session (the one open now and every one
// opened later) in a session that passes every call on to the backend's own,
// batches included. Armed, it fails chosen calls with a chosen code before
// they reach the database, so that the phases' failure paths and their log
// lines can be shown without a broken database. Single-threaded, like the
// job. The DbTest fixture installs it before it connects and uninstalls it
// at the end of each test.
#pragma once

namespace faults {

// The calls a fault can strike, as the runtime makes them of its backend.
enum Op {
  kExec,     // the execution of a statement that is not a cursor's (a
             // select-into's check for a second row is part of it)
  kOpen,     // the open of a cursor: its query runs
  kFetch,    // a fetch from an open cursor; a failed one leaves the cursor
             // where it was
  kCommit,   // a commit; matched against the text "commit"
  kDynamic,  // a schema switch, matched against
             // "ALTER SESSION SET CURRENT_SCHEMA=" + the schema's name
};

// Wraps the runtime's sessions from now on, the one open now too (whose
// cursors then close); does nothing when installed already.
void Install();

// Disarms every fault and turns batches on again; sessions opened from now
// on are not wrapped (the one open now stays wrapped and passes all on).
void Uninstall();

// The nth call (1-based, counted from now) of kind `op` whose statement text
// contains `text_part` fails with `code` without reaching the database;
// `times` consecutive matching calls fail (-1: all from then on). The text
// is the one the backend prepares: the runtime's text with each host
// variable (and its indicator) as '?' and a select-into's into list taken
// out. An empty text_part matches every call of the kind. While any fault is
// armed the session sends no batches, so that each statement of a batch is a
// call of its own (the runtime then runs them one by one, with the same
// outcome). Installs the wrapper if it is not.
void Add(const char* text_part, Op op, int nth, int code, int times = 1);

// Disarms every fault; counting starts afresh with the next Add.
void Clear();

// With `on` false the session sends no batches: every batch runs as single
// statements, one round trip each, as on the embedded database. On at
// Install. Installs the wrapper if it is not.
void Batches_Set(bool on);

}  // namespace faults

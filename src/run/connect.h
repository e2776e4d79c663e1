// From the configuration file to an open session: the one way the job, its
// workers and dayset-view connect.
//
// Cfg_Connect reads LOGIN, PASS, NET8 and SCHEMA through the configuration
// reader, checks them against the job's room and the net service name's
// form, takes the schema as the SCHEMA value without its last character,
// upper-cased, connects and makes the schema current (Sql_Connect). The
// caller reports what went wrong in its own words; nothing here writes to
// the log or the terminal.
#pragma once

#include <cstddef>
#include <string>

#include "db/sqlrt.h"

constexpr size_t kCfgValueRoom = 51;   // login, password, net service name
constexpr size_t kCfgSchemaRoom = 20;  // the schema, without the stored value's last character

struct CfgConnect {
  char login[kCfgValueRoom + 1] = {};
  char net[kCfgValueRoom + 1] = {};
  char schema[kCfgSchemaRoom + 1] = {};  // upper-cased

  // After kCfgRefused: which value (its name in the configuration file), its
  // length, the value as it may be shown (empty and `hidden` when it must
  // not be: the password, or a net service name that may carry one) and
  // what is allowed, in the log's language.
  const char* name = nullptr;
  size_t length = 0;
  std::string shown;
  bool hidden = false;
  std::string allowed;

  // After kCfgConnectFailed: the status of Sql_Connect.
  int rc = 0;

  // The configuration file. After kCfgFileRefused: its file type (S_IFIFO,
  // S_IFDIR, ...: it is no regular file). After kCfgConnectFailed: the
  // errno of a file that could not be read (ENOENT: missing), whose values
  // then went empty to the connect; 0 when it was read.
  unsigned file_type = 0;
  int file_errno = 0;
};

enum CfgConnectResult { kCfgConnected = 0, kCfgRefused, kCfgConnectFailed, kCfgFileRefused };

// A configuration file that is no regular file (a FIFO, a device, a
// directory, a socket) is never read and never connected with:
// kCfgFileRefused. One that is missing or cannot be read gives empty values,
// connected with as before (the connect then fails), and names its errno.
//
// REQUIRES: no session is open that the caller still needs (Sql_Connect
// ends it). The password is wiped from every buffer before this returns.
CfgConnectResult Cfg_Connect(const char* pfad, const SqlOptions& options, CfgConnect* out);

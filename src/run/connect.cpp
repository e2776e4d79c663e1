#include "run/connect.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/ini.h"
#include "db/session.h"

namespace {

CfgConnectResult Refuse(CfgConnect* out, const char* name, const char* value, size_t length, bool hidden,
                        const char* allowed) {
  out->name = name;
  out->length = length;
  out->hidden = hidden;
  out->shown = hidden ? std::string() : std::string(value, length);
  out->allowed = allowed;
  return kCfgRefused;
}

CfgConnectResult Refuse_Length(CfgConnect* out, const char* name, const char* value, size_t length, bool hidden,
                               size_t room) {
  char allowed[40];
  std::snprintf(allowed, sizeof allowed, "hoechstens %zu Zeichen", room);
  return Refuse(out, name, value, length, hidden, allowed);
}

// Where the configuration file stands: false when it is no regular file
// (out->file_type); a file that cannot be read leaves its errno.
bool File_Check(const char* pfad, CfgConnect* out) {
  int err = 0;
  unsigned type = 0;
  const int fd = Ini_File_Open(pfad, &err, &type);
  if (fd >= 0) close(fd);
  out->file_type = type;
  out->file_errno = err;
  return type == 0;
}

// The value `name` into target (kCfgValueRoom + 1 bytes); false and the
// refusal in *out when it is longer. *unread is set when the file could not
// be read for it.
bool Value_Get(const char* pfad, const char* name, char* target, bool secret, CfgConnect* out, bool* unread) {
  if (!Ini_Value_Get("", name, 0, pfad)) *unread = true;
  const size_t length = std::strlen(IniSatz.IniWrt);
  if (length > kCfgValueRoom) {
    // A net service name that carries a password is not shown either.
    const bool hidden = secret || (std::strcmp(name, "NET8") == 0 && Sql_Net_Check(IniSatz.IniWrt) != nullptr);
    Refuse_Length(out, name, IniSatz.IniWrt, length, hidden, kCfgValueRoom);
    std::memset(IniSatz.IniWrt, 0, sizeof IniSatz.IniWrt);
    return false;
  }
  std::memcpy(target, IniSatz.IniWrt, length + 1);
  std::memset(IniSatz.IniWrt, 0, sizeof IniSatz.IniWrt);
  return true;
}

}  // namespace

CfgConnectResult Cfg_Connect(const char* pfad, const SqlOptions& options, CfgConnect* out) {
  if (!File_Check(pfad, out)) return kCfgFileRefused;
  // Each value is read with a fresh open: one that finds the file gone or
  // replaced reads nothing, and the file is looked at again below.
  bool unread = false;
  char password[kCfgValueRoom + 1] = {};
  if (!Value_Get(pfad, "LOGIN", out->login, false, out, &unread)) return kCfgRefused;
  if (!Value_Get(pfad, "PASS", password, true, out, &unread)) return kCfgRefused;
  if (!Value_Get(pfad, "NET8", out->net, false, out, &unread)) {
    std::memset(password, 0, sizeof password);
    return kCfgRefused;
  }
  if (const char* allowed = Sql_Net_Check(out->net)) {
    // Not shown: it may hold the password.
    std::memset(password, 0, sizeof password);
    return Refuse(out, "NET8", out->net, std::strlen(out->net), true, allowed);
  }

  // The schema is stored with one trailing character that is not part of it.
  if (!Ini_Value_Get("", "SCHEMA", 0, pfad)) unread = true;
  size_t length = std::strlen(IniSatz.IniWrt);
  if (length > 0) --length;
  if (length > kCfgSchemaRoom) {
    std::memset(password, 0, sizeof password);
    return Refuse_Length(out, "SCHEMA", IniSatz.IniWrt, length, false, kCfgSchemaRoom);
  }
  std::memcpy(out->schema, IniSatz.IniWrt, length);
  out->schema[length] = '\0';
  Str_Upper(out->schema);
  std::memset(IniSatz.IniWrt, 0, sizeof IniSatz.IniWrt);

  // A file that went away or was replaced while it was read: what stands
  // there now decides, as it would have at the start.
  if (unread && out->file_errno == 0 && !File_Check(pfad, out)) {
    std::memset(password, 0, sizeof password);
    return kCfgFileRefused;
  }
  if (unread && out->file_errno == 0) out->file_errno = EIO;

  out->rc = Sql_Connect(out->login, password, out->net, out->schema, options);
  std::memset(password, 0, sizeof password);
  return out->rc == 0 ? kCfgConnected : kCfgConnectFailed;
}

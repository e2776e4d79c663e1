// Pg_Net_Of_Conninfo (pg_net.h): a libpq connection text as a net service
// name of the PostgreSQL backend.
#include <libpq-fe.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "db/pg_net.h"

std::string Pg_Net_Of_Conninfo(const char* conninfo, std::string* user) {
  user->clear();
  PQconninfoOption* options = PQconninfoParse(conninfo, nullptr);
  if (options == nullptr) return std::string();
  // The URI form with an empty authority and every setting as a query
  // parameter, which libpq takes as the keyword of the same name. Values are
  // percent-encoded where the URI's syntax (and the runtime's connect text,
  // which ends the login at '@') would read a character otherwise.
  std::string net = "postgresql://";
  char separator = '?';
  for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr || *o->val == '\0') continue;
    if (std::strcmp(o->keyword, "user") == 0) {
      *user = o->val;
      continue;
    }
    if (std::strcmp(o->keyword, "password") == 0 || std::strcmp(o->keyword, "passfile") == 0 ||
        std::strcmp(o->keyword, "sslpassword") == 0) {
      continue;
    }
    net += separator;
    separator = '&';
    net += o->keyword;
    net += '=';
    for (const char* p = o->val; *p != '\0'; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          std::strchr("-._~/:,", c) != nullptr) {
        net += static_cast<char>(c);
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        net += hex;
      }
    }
  }
  PQconninfoFree(options);
  return net;
}

// What the embedded backend (sqlite_backend.cpp) tells beyond its session.
#pragma once

#include <cstdint>
#include <string>

namespace sqlrt {

// After a connect to `net` ("sqlite:DIR") failed with `rc`: what is missing,
// named as the net service name gives it: for -12154 the directory DIR ("das
// Verzeichnis \"DIR\" der eingebetteten Datenbank fehlt"), for -1435 the
// schema file DIR/SCHEMA.db. Texts in the log's language, control
// characters shown as \x1b. Empty for another backend's net service name,
// another code, or when the thing is there after all.
std::string Sqlite_Connect_Missing(int32_t rc, const char* net, const char* schema);

}  // namespace sqlrt

// The configuration reader on whole files: any bytes as the file, read the
// way the driver reads it and the companion command scans and rewrites it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/ini.h"

namespace {

// Every field of a record is a terminated text within its room.
void Check_Record(const IniRecord& r) {
  if (std::memchr(r.IniSek, '\0', sizeof r.IniSek) == nullptr ||
      std::memchr(r.IniNam, '\0', sizeof r.IniNam) == nullptr ||
      std::memchr(r.IniWrt, '\0', sizeof r.IniWrt) == nullptr) {
    std::abort();
  }
}

// The file lives in memory where it can (the writer syncs every file it
// replaces, which on a disk would bound the run to a few hundred inputs a
// second).
std::string Scratch_Path() {
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/dayset-fuzz-ini-" +
         std::to_string(getpid()) + ".ini";
}

const std::string& Path() {
  static const std::string path = Scratch_Path();
  return path;
}

void Remove_Scratch() { std::remove(Path().c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(Remove_Scratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = Path();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  for (const char* name : {"LOGIN", "PASS", "NET8", "SCHEMA"}) {
    Ini_Value_Get("", name, 0, path.c_str());
    Check_Record(IniSatz);
  }
  Ini_Value_Get("DB", "X", 7, path.c_str());
  Check_Record(IniSatz);

  // The writer and the reader agree on the records: once a record is put,
  // the first record of that name carries its number.
  const int32_t number = Ini_Number_Free(path.c_str(), "FUZZ");
  if (number <= 0) std::abort();
  if (Ini_Record_Put(path.c_str(), "DB", number, "FUZZ", "value") == 0 &&
      Ini_Number_Free(path.c_str(), "FUZZ") != number) {
    std::abort();
  }
  return 0;
}

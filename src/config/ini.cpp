#include "config/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "config/blowfish.h"

IniRecord IniSatz;

namespace {

// Every configuration value is enciphered under this key.
constexpr const char kIniKey[] = "WOLKRAN";

constexpr int kNoByte = -2;  // IniSource::ahead when no byte is held

// Bytes as text mode delivers them, from a file or from memory. `used`
// counts the raw bytes behind what was delivered (CR LF counts 2), so that
// the writer knows where each line starts and ends in the file.
struct IniSource {
  FILE* file = nullptr;
  const std::string* bytes = nullptr;
  size_t pos = 0;
  int ahead = kNoByte;  // byte read after a lone CR, delivered next
  bool at_end = false;
  size_t used = 0;
};

int Ini_Raw_Get(IniSource* s) {
  if (s->file != nullptr) return std::getc(s->file);
  if (s->pos < s->bytes->size()) return static_cast<unsigned char>((*s->bytes)[s->pos++]);
  return EOF;
}

// The next character in text mode: CR LF gives LF, Ctrl-Z or the end of the
// file (or a read error) gives EOF from then on.
int Ini_Char_Get(IniSource* s) {
  if (s->at_end) return EOF;
  int c = s->ahead;
  if (c == kNoByte) {
    c = Ini_Raw_Get(s);
  } else {
    s->ahead = kNoByte;
  }
  if (c == EOF || c == 0x1A) {
    s->at_end = true;
    return EOF;
  }
  if (c == '\r') {
    int next = Ini_Raw_Get(s);
    if (next == '\n') {
      s->used += 2;
      return '\n';
    }
    s->ahead = next;
  }
  s->used += 1;
  return c;
}

// One piece of a line into buf, as a line read of buffer size `size` does:
// at most size - 1 characters, ending after a line feed. Returns the number
// of characters read, 0 at the end of the file or on a read error.
int Ini_Line_Get(IniSource* s, char* buf, int size) {
  int n = 0;
  while (n < size - 1) {
    int c = Ini_Char_Get(s);
    if (c == EOF) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  if (s->file != nullptr && std::ferror(s->file)) return 0;
  return n;
}

void Ini_Satz_Reset(IniRecord* rec) {
  rec->IniNum = 0;
  rec->IniSek[0] = '\0';
  rec->IniNam[0] = '\0';
  rec->IniWrt[0] = '\0';
}

// Leading decimal integer: white space skipped, an optional sign, digits up
// to the first non-digit; 0 without digits. Saturates at the int32 range.
int32_t Ini_Num_Parse(const char* s) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

bool Ini_Record_Match(const IniRecord& rec, const char* section, const char* name, int32_t number) {
  return (section != nullptr && std::strcmp(rec.IniSek, section) == 0) ||
         (name != nullptr && std::strcmp(rec.IniNam, name) == 0) || rec.IniNum == number;
}

// Replaces the hex value in IniSatz.IniWrt by its plain text. The scratch
// buffer is wiped before it is released; when it cannot be had, the look-up
// ends as if nothing had matched.
void Ini_Value_Decipher() {
  size_t n = std::strlen(IniSatz.IniWrt);
  std::unique_ptr<char[]> scratch(new (std::nothrow) char[n + 1]);
  if (scratch == nullptr) {
    Ini_Satz_Reset(&IniSatz);
    return;
  }
  Blf_Text_Dec(IniSatz.IniWrt, scratch.get(), n + 1, kIniKey);
  std::snprintf(IniSatz.IniWrt, sizeof IniSatz.IniWrt, "%s", scratch.get());
  Blf_Wipe(scratch.get(), n + 1);
}

}  // namespace

int Str_Char_Pos(const char* text, char character, int n) {
  int found = -1;
  int count = 0;
  for (int i = 0; text[i] != '\0'; ++i) {
    if (text[i] == character) {
      found = i;
      if (++count == n) break;
    }
  }
  return found;
}

void Str_Part_Copy(const char* text, int start, int length, char* target, size_t target_size) {
  if (length < 0 || start < 0 || target_size == 0) return;
  size_t len = std::strlen(text);
  size_t from = static_cast<size_t>(start) < len ? static_cast<size_t>(start) : len;
  size_t count = len - from;
  if (length > 0 && static_cast<size_t>(length) < count) count = static_cast<size_t>(length);
  if (count > target_size - 1) count = target_size - 1;
  std::memmove(target, text + from, count);
  target[count] = '\0';
}

void Ini_Record_Parse(const char* line1, const char* line2, IniRecord* rec) {
  int p1 = Str_Char_Pos(line1, ';', 1);
  int p2 = Str_Char_Pos(line1, ';', 2);
  Str_Part_Copy(line1, p1 + 1, p2 - p1 - 1, rec->IniSek, sizeof rec->IniSek);

  // The second line as read, with a line feed where it has none (the last
  // line of a file without a final line end, or a piece cut at the limit).
  char line[kIniLine2Size + 1];
  Str_Part_Copy(line2, 0, 0, line, kIniLine2Size);
  char* lf = std::strchr(line, '\n');
  if (lf == nullptr) {
    lf = line + std::strlen(line);
    lf[0] = '\n';
    lf[1] = '\0';
  }

  // Number text of 11 characters; without a ';' no number field is
  // delimited and the number is 0, as for a field without digits.
  int q1 = Str_Char_Pos(line, ';', 1);
  char number[12] = {};
  Str_Part_Copy(line, 0, q1, number, sizeof number);
  rec->IniNum = Ini_Num_Parse(number);

  int q2 = Str_Char_Pos(line, ';', 2);
  Str_Part_Copy(line, q1 + 1, q2 - q1 - 1, rec->IniNam, sizeof rec->IniNam);
  int length = q1 < 0 ? 0 : static_cast<int>(lf - line) - q2 - 1;
  Str_Part_Copy(line, q2 + 1, length, rec->IniWrt, sizeof rec->IniWrt);
}

int Ini_File_Open(const char* path, int* err, unsigned* type) {
  *err = 0;
  *type = 0;
  // What stands there is looked at before it is opened: opening a device
  // may act on it (a tape rewinds), and the descriptor's own type below
  // catches a swap in between.
  struct stat st {};
  if (::stat(path, &st) != 0) {
    *err = errno;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *type = st.st_mode & S_IFMT;
    return -1;
  }
  // Never waits on a FIFO, never becomes the controlling terminal.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    *err = errno;
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *type = st.st_mode & S_IFMT;
    ::close(fd);
    return -1;
  }
  return fd;
}

bool Ini_Value_Get(const char* section, const char* name, int32_t number, const char* path) {
  Ini_Satz_Reset(&IniSatz);
  if (path == nullptr) return false;
  int err = 0;
  unsigned type = 0;
  const int fd = Ini_File_Open(path, &err, &type);
  if (fd < 0) return false;
  FILE* file = ::fdopen(fd, "rb");  // text mode is done by Ini_Char_Get
  if (file == nullptr) {
    ::close(fd);
    return false;
  }
  IniSource src;
  src.file = file;
  char line1[kIniLine1Size];
  char line2[kIniLine2Size];
  while (Ini_Line_Get(&src, line1, kIniLine1Size) > 0 && Ini_Line_Get(&src, line2, kIniLine2Size) > 0) {
    Ini_Record_Parse(line1, line2, &IniSatz);
    if (Ini_Record_Match(IniSatz, section, name, number)) {
      Ini_Value_Decipher();
      std::fclose(file);
      return true;
    }
    Ini_Satz_Reset(&IniSatz);
  }
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

// ---------------------------------------------------------------------------
// Writing, for dayset-conf.

namespace {

// One line as the reader sees it, and the raw bytes it came from.
struct IniPiece {
  size_t begin;
  size_t end;
  int count;         // characters delivered, line feed included
  std::string text;  // up to a zero byte, as the reader's string routines see it
};

// The file cut into the reader's pieces, first lines read with the first
// limit, second lines with the second. visible_end is where the reader
// stops: the end of the file or a Ctrl-Z.
struct IniLayout {
  std::vector<IniPiece> pieces;
  size_t visible_end = 0;
};

void Ini_File_Split(const std::string& bytes, IniLayout* out) {
  IniSource src;
  src.bytes = &bytes;
  char buf[kIniLine2Size];
  for (size_t k = 0;; ++k) {
    size_t begin = src.used;
    int n = Ini_Line_Get(&src, buf, k % 2 == 0 ? kIniLine1Size : kIniLine2Size);
    if (n == 0) break;
    out->pieces.push_back({begin, src.used, n, std::string(buf)});
  }
  out->visible_end = src.used;
}

// Reads the whole file; a missing file reads as empty with *exists false.
int Ini_File_Load(const char* path, std::string* bytes, bool* exists, struct stat* st) {
  *exists = false;
  // No wait on a pipe; a symbolic link is refused (ELOOP): the file is
  // replaced by rename, which would put a file in place of the link.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  int rc = 0;
  if (::fstat(fd, st) != 0) {
    rc = errno;
  } else if (S_ISDIR(st->st_mode)) {
    rc = EISDIR;
  } else if (!S_ISREG(st->st_mode)) {
    rc = EOPNOTSUPP;  // only a plain file can be replaced by rename
  } else {
    char buf[8192];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        rc = errno;
        break;
      }
      if (n == 0) break;
      bytes->append(buf, static_cast<size_t>(n));
      if (bytes->size() > (size_t{16} << 20)) {  // no configuration file is this large
        rc = EFBIG;
        break;
      }
    }
  }
  ::close(fd);
  if (rc == 0) *exists = true;
  return rc;
}

// The line end a record of these pieces uses: CR LF when its raw bytes end
// so, else LF; `fallback` when the piece has no line end.
std::string Ini_Line_End(const std::string& bytes, const IniPiece& piece, const std::string& fallback) {
  if (piece.count == 0 || bytes[piece.end - 1] != '\n') return fallback;
  if (piece.end - piece.begin >= 2 && bytes[piece.end - 2] == '\r') return "\r\n";
  return "\n";
}

// The line end the file uses: that of its first line that has one.
std::string Ini_File_Line_End(const std::string& bytes, const IniLayout& layout) {
  for (const IniPiece& piece : layout.pieces) {
    if (!piece.text.empty() && bytes[piece.end - 1] == '\n') return Ini_Line_End(bytes, piece, "\n");
  }
  return "\n";
}

// Writes data to a temporary file beside path and renames it over path.
int Ini_File_Replace(const std::string& path, const std::string& data, bool exists, const struct stat& st) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());  // created with mode 0600
  if (fd < 0) return errno;
  int rc = 0;
  size_t done = 0;
  while (rc == 0 && done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      rc = errno;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  if (rc == 0 && exists) {
    // Keep who may read the file: the job may run under another account
    // than the administrator. Without the right to give the file away it
    // stays with the writer, as any edit would leave it.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) errno = 0;
    if (::fchmod(fd, st.st_mode & 07777) != 0) rc = errno;
  }
  if (rc == 0 && ::fsync(fd) != 0) rc = errno;
  if (::close(fd) != 0 && rc == 0) rc = errno;
  if (rc == 0 && ::rename(temp.c_str(), path.c_str()) != 0) rc = errno;
  if (rc != 0) {
    ::unlink(temp.c_str());
    return rc;
  }
  // Make the rename itself durable.
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

bool Ini_Field_Valid(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  return std::strpbrk(text, ";\r\n\x1a") == nullptr;
}

// The path to write: the target of a symbolic link, so that the link stays.
}  // namespace

int Ini_Record_Put(const char* path, const char* section, int32_t number, const char* name,
                   const char* plain_value) {
  if (path == nullptr || !Ini_Field_Valid(section) || !Ini_Field_Valid(name) || number == 0 ||
      plain_value == nullptr || std::strlen(plain_value) > kIniPlainMax) {
    return EINVAL;
  }
  char hex[Blf_Hex_Size(kIniPlainMax)];
  Blf_Text_Enc(plain_value, hex, sizeof hex, kIniKey);
  std::string line1 = std::string(name) + ";" + section + ";";
  std::string line2 = std::to_string(number) + ";" + name + ";" + hex;
  if (line1.size() + 1 > kIniLine1Size - 1 || line2.size() + 1 > kIniLine2Size - 1) return EINVAL;

  const std::string target = path;
  std::string bytes;
  bool exists = false;
  struct stat st {};
  int rc = Ini_File_Load(target.c_str(), &bytes, &exists, &st);
  if (rc != 0) return rc;

  IniLayout layout;
  Ini_File_Split(bytes, &layout);
  const std::vector<IniPiece>& pieces = layout.pieces;
  std::string eol = Ini_File_Line_End(bytes, layout);

  // Replace the first record of that name, both its lines.
  size_t cut_begin = std::string::npos;
  size_t cut_end = 0;
  std::string before;  // a line end the last line needs before the new record
  for (size_t k = 0; k + 1 < pieces.size(); k += 2) {
    IniRecord rec{};
    Ini_Record_Parse(pieces[k].text.c_str(), pieces[k + 1].text.c_str(), &rec);
    if (std::strcmp(rec.IniNam, name) == 0) {
      cut_begin = pieces[k].begin;
      cut_end = pieces[k + 1].end;
      eol = Ini_Line_End(bytes, pieces[k + 1], Ini_Line_End(bytes, pieces[k], eol));
      break;
    }
  }
  if (cut_begin == std::string::npos) {
    if (pieces.size() % 2 == 1) {
      // A last unpaired line would pair with the new record: go before it.
      cut_begin = cut_end = pieces.back().begin;
    } else {
      cut_begin = cut_end = layout.visible_end;
      if (!pieces.empty()) {
        const IniPiece& last = pieces.back();
        // A last line without line end would run on into the new record,
        // unless the read limit already ends it there.
        bool open_line = bytes[last.end - 1] != '\n' && last.count < kIniLine2Size - 1;
        if (open_line) before = bytes[last.end - 1] == '\r' ? "\r\n" : eol;
      }
    }
  }
  std::string data = bytes.substr(0, cut_begin) + before + line1 + eol + line2 + eol + bytes.substr(cut_end);
  return Ini_File_Replace(target, data, exists, st);
}

int32_t Ini_Number_Free(const char* path, const char* name) {
  std::string bytes;
  bool exists = false;
  struct stat st {};
  if (Ini_File_Load(path, &bytes, &exists, &st) != 0) return 1;
  IniLayout layout;
  Ini_File_Split(bytes, &layout);
  std::set<int32_t> used;
  for (size_t k = 0; k + 1 < layout.pieces.size(); k += 2) {
    IniRecord rec{};
    Ini_Record_Parse(layout.pieces[k].text.c_str(), layout.pieces[k + 1].text.c_str(), &rec);
    if (name != nullptr && rec.IniNum != 0 && std::strcmp(rec.IniNam, name) == 0) return rec.IniNum;
    used.insert(rec.IniNum);
  }
  int32_t highest = used.empty() ? 0 : *used.rbegin();
  if (highest < 0) highest = 0;
  if (highest < INT32_MAX) return highest + 1;
  int32_t n = 1;
  while (used.count(n) != 0) ++n;
  return n;
}

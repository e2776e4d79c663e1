// Decipherment of arbitrary texts as configuration values, and the round
// trip of the cipher. Input: one byte for the room of the plain text, one
// for the key's length, the key, then the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/blowfish.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t room = 1 + data[0];
  size_t key_len = 1 + data[1] % 56;
  data += 2;
  size -= 2;
  if (key_len > size) key_len = size;
  std::string key(reinterpret_cast<const char*>(data), key_len);
  key = key.substr(0, key.find('\0'));
  if (key.empty()) key = "k";
  const std::string text(reinterpret_cast<const char*>(data + key_len), size - key_len);

  // Any text deciphers into a terminated plain text within its room.
  std::vector<char> plain(room, '\x7f');
  if (Blf_Text_Dec(text.c_str(), plain.data(), plain.size(), key.c_str()) != 1) std::abort();
  if (std::memchr(plain.data(), '\0', plain.size()) == nullptr) std::abort();

  // A text without zero bytes comes back as it was enciphered.
  const std::string value = text.substr(0, text.find('\0')).substr(0, 96);
  std::vector<char> hex(Blf_Hex_Size(value.size()));
  if (Blf_Text_Enc(value.c_str(), hex.data(), hex.size(), key.c_str()) != 1) std::abort();
  if (std::strlen(hex.data()) != hex.size() - 1) std::abort();
  std::vector<char> back(hex.size() / 2 + 1);
  Blf_Text_Dec(hex.data(), back.data(), back.size(), key.c_str());
  if (value != back.data()) std::abort();
  return 0;
}

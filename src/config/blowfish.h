// Cipher of the configuration values: Blowfish with its standard initial
// tables, each 8-byte block on its own (no chaining), and a hex text form.
//
// The configuration reader deciphers every value with Blf_Text_Dec under its
// fixed key; the companion command dayset-conf enciphers with Blf_Text_Enc.
// A block's two 32-bit halves are read from its bytes little-endian (byte 0
// least significant): the hex values in existing configuration files are in
// this order, so the order must never change.
//
// One state, BlfState, is shared by all operations and is all zero between
// text operations. Single-threaded: text operations must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlfTables {
  uint32_t P[18];
  uint32_t S[4][256];
};

// The shared state. Blf_Text_Dec and Blf_Text_Enc key it and wipe it
// themselves; Blf_Key_Init and the block functions leave it as it is.
extern BlfTables BlfState;

// Keys the state: S-boxes from the initial table, the key bytes (taken
// cyclically, the first of each four most significant) folded into the
// P-array, then 521 encipherments from an all-zero block replace P and S.
// A key of length 0 folds nothing in (no caller uses one).
void Blf_Key_Init(BlfTables* state, const unsigned char* key, size_t key_len);

// One block, in place; left and right are both read and written.
void Blf_Block_Enc(const BlfTables* state, uint32_t* left, uint32_t* right);
void Blf_Block_Dec(const BlfTables* state, uint32_t* left, uint32_t* right);

// A block half from 4 bytes, little-endian, and back.
uint32_t Blf_Half_Get(const unsigned char* bytes);
void Blf_Half_Put(uint32_t half, unsigned char* bytes);

// count / 2 bytes from count hex characters; an odd last character is not
// used. Never fails: 0-9 and A-F give their values, any other character
// gives (ch - 48) mod 256, so "a0" gives 0x10 and "0a" gives 0x31.
void Blf_Hex_Get(const char* hex, size_t count, unsigned char* bytes);

// 2 * count characters 0-9, A-F, high nibble first; no terminator.
void Blf_Hex_Put(const unsigned char* bytes, size_t count, char* hex);

// Deciphers the whole 16-character groups of hex (a trailing shorter group,
// such as a lone line feed, is not read) into plain and terminates it right
// after 8 bytes per group. The plain text is plain up to its first zero
// byte. Groups that would not fit plain_size (8 per group plus 1) are left
// out. Always returns 1.
int Blf_Text_Dec(const char* hex, char* plain, size_t plain_size, const char* key);

// Enciphers plain (the last block padded with zero bytes) into
// Blf_Hex_Size(strlen(plain)) - 1 hex characters and a terminator. Returns
// 1; returns 0 and leaves hex empty when hex_size is too small.
int Blf_Text_Enc(const char* plain, char* hex, size_t hex_size, const char* key);

// Room Blf_Text_Enc needs for a plain text of plain_len bytes, terminator
// included: 16 characters a started block of 8, plus 1.
constexpr size_t Blf_Hex_Size(size_t plain_len) { return (plain_len + 7) / 8 * 16 + 1; }

// Sets n bytes to zero in a way the compiler may not drop as a dead store;
// for the cipher state and for buffers that held plain text.
void Blf_Wipe(void* p, size_t n);

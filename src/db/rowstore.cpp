#include "db/rowstore.h"

#include <cstring>

namespace sqlrt {

namespace {

// Bytes of a text's length: seven bits per byte, the high bit says more.
size_t Len_Bytes(size_t len) {
  size_t n = 1;
  for (; len >= 0x80; len >>= 7) ++n;
  return n;
}

size_t Value_Bytes(const RowValue& v) {
  switch (v.kind) {
    case RowValue::kInt:
    case RowValue::kReal:
      return 1 + 8;
    case RowValue::kText:
    case RowValue::kBlob:
      return 1 + Len_Bytes(v.len) + v.len;
    default:
      return 1;
  }
}

// The value at p and the byte after it.
const unsigned char* Value_Read(const unsigned char* p, RowValue* v) {
  v->kind = static_cast<RowValue::Kind>(*p++);
  switch (v->kind) {
    case RowValue::kInt:
      std::memcpy(&v->i, p, 8);
      return p + 8;
    case RowValue::kReal:
      std::memcpy(&v->d, p, 8);
      return p + 8;
    case RowValue::kText:
    case RowValue::kBlob: {
      size_t len = 0;
      for (int shift = 0;; shift += 7) {
        const unsigned char b = *p++;
        len |= static_cast<size_t>(b & 0x7f) << shift;
        if ((b & 0x80) == 0) break;
      }
      v->len = len;
      v->text = reinterpret_cast<const char*>(p);
      return p + len;
    }
    default:
      return p;
  }
}

}  // namespace

void RowStore::Clear(size_t columns) {
  columns_ = columns;
  for (Block& b : blocks_) b.used = 0;
  write_ = 0;
  rows_ = read_rows_ = 0;
  read_block_ = read_at_ = 0;
  current_.assign(columns, nullptr);
}

// Room for a row of `bytes` in the block being written, or in the next
// (made when there is none, larger than a block for a row that needs it).
unsigned char* RowStore::Room(size_t bytes) {
  while (write_ < blocks_.size() && blocks_[write_].size - blocks_[write_].used < bytes) {
    if (blocks_[write_].used == 0 && blocks_[write_].size < bytes) {
      // Too small even empty: give it the room the row needs.
      blocks_[write_].bytes.reset(new unsigned char[bytes]);
      blocks_[write_].size = bytes;
      break;
    }
    ++write_;
  }
  if (write_ == blocks_.size()) {
    Block b;
    b.size = bytes > kBlock ? bytes : kBlock;
    b.bytes.reset(new unsigned char[b.size]);
    blocks_.push_back(std::move(b));
  }
  Block& b = blocks_[write_];
  unsigned char* p = b.bytes.get() + b.used;
  b.used += bytes;
  return p;
}

void RowStore::Add(const RowValue* row) {
  size_t bytes = 0;
  for (size_t c = 0; c < columns_; ++c) bytes += Value_Bytes(row[c]);
  unsigned char* p = Room(bytes);
  for (size_t c = 0; c < columns_; ++c) {
    const RowValue& v = row[c];
    *p++ = v.kind;
    if (v.kind == RowValue::kInt) {
      std::memcpy(p, &v.i, 8);
      p += 8;
    } else if (v.kind == RowValue::kReal) {
      std::memcpy(p, &v.d, 8);
      p += 8;
    } else if (v.kind == RowValue::kText || v.kind == RowValue::kBlob) {
      size_t len = v.len;
      for (; len >= 0x80; len >>= 7) *p++ = static_cast<unsigned char>(len | 0x80);
      *p++ = static_cast<unsigned char>(len);
      if (v.len > 0) std::memcpy(p, v.text, v.len);
      p += v.len;
    }
  }
  ++rows_;
}

bool RowStore::Next() {
  if (read_rows_ == rows_) return false;
  while (read_at_ >= blocks_[read_block_].used) {
    ++read_block_;
    read_at_ = 0;
  }
  const unsigned char* start = blocks_[read_block_].bytes.get();
  const unsigned char* p = start + read_at_;
  RowValue v;
  for (size_t c = 0; c < columns_; ++c) {
    current_[c] = p;
    p = Value_Read(p, &v);
  }
  read_at_ = static_cast<size_t>(p - start);
  ++read_rows_;
  return true;
}

RowValue RowStore::Get(size_t c) const {
  RowValue v;
  Value_Read(current_[c], &v);
  return v;
}

}  // namespace sqlrt

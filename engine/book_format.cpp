#include "engine/book.h"

namespace {

void PutLittleEndian(u8* out, u64 value, i32 bytes) {
  for (i32 i = 0; i < bytes; ++i) out[i] = static_cast<u8>(value >> (8 * i));
}

u64 GetLittleEndian(const u8* in, i32 bytes) {
  u64 value = 0;
  for (i32 i = 0; i < bytes; ++i) value |= static_cast<u64>(in[i]) << (8 * i);
  return value;
}

const u8 BookMagic[4] = {'B', 'O', 'O', 'K'};

}  // namespace

void EncodeBookHeader(u32 entryCount, u8 out[BookHeaderBytes]) {
  for (i32 i = 0; i < 4; ++i) out[i] = BookMagic[i];
  PutLittleEndian(out + 4, BookFileVersion, 4);
  PutLittleEndian(out + 8, entryCount, 4);
}

bool DecodeBookHeader(const u8 in[BookHeaderBytes], u32* entryCount) {
  for (i32 i = 0; i < 4; ++i)
    if (in[i] != BookMagic[i]) return false;
  if (GetLittleEndian(in + 4, 4) != BookFileVersion) return false;
  *entryCount = static_cast<u32>(GetLittleEndian(in + 8, 4));
  return true;
}

void EncodeBookEntry(const BookEntry& entry, u8 out[BookEntryBytes]) {
  PutLittleEndian(out, entry.key, 8);
  PutLittleEndian(out + 8, entry.move, 4);
  PutLittleEndian(out + 12, entry.count, 2);
  PutLittleEndian(out + 14, entry.points, 2);
}

BookEntry DecodeBookEntry(const u8 in[BookEntryBytes]) {
  BookEntry entry;
  entry.key = GetLittleEndian(in, 8);
  entry.move = static_cast<Move>(GetLittleEndian(in + 8, 4));
  entry.count = static_cast<u16>(GetLittleEndian(in + 12, 2));
  entry.points = static_cast<u16>(GetLittleEndian(in + 14, 2));
  return entry;
}

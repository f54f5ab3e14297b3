// The rounds of work of the disk writer (tests/peers/disk_writer_program.cpp)
// and what a test expects of a disk after round n was whole.
#pragma once

#include <string>

#include "zemta/fileex.h"

namespace disk_writer {

inline std::string contents(int round) {
  std::string bytes(static_cast<size_t>((round * 373) % 2900 + 1), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('A' + (round + i) % 26);
  return bytes;
}

// Each run of the writer names its files with its own tag.
inline std::string fileName(const std::string& tag, int round) { return "\\F" + tag + "_" + std::to_string(round); }
inline std::string renamedName(const std::string& tag, int round) { return "\\G" + tag + "_" + std::to_string(round); }

// Whether round's file is gone after round last was whole, and under which name it stands.
inline bool removedAfter(int round, int last) { return round + 3 <= last && (round + 3) % 5 == 0; }
inline bool renamedAfter(int round, int last) { return round + 1 <= last && (round + 1) % 5 == 0 && !removedAfter(round, last); }

inline bool runRound(FileExDiskHandle disk, const std::string& tag, int round) {
  FileExHandle file = FileExCreate(disk, fileName(tag, round).c_str(), -1, nullptr, FILEEX_KIND_FILE, 0, 0, nullptr);
  if (!file) return false;
  const std::string bytes = contents(round);
  bool ok = FileExWrite(file, bytes.data(), static_cast<uint32_t>(bytes.size())) == 0;
  ok = FileExRelease(file, nullptr) == 0 && ok;
  if (ok && round % 5 == 0) {
    if (round > 3) ok = FileExRemove(disk, fileName(tag, round - 3).c_str(), -1) == 0;
    ok = ok && FileExRename(disk, fileName(tag, round - 1).c_str(), renamedName(tag, round - 1).substr(1).c_str()) == 0;
  }
  return ok;
}

// Table rounds ("T" tags): round i appends a record of "\\Sales" whose code
// (column 1, unsigned, indexed) is i, and every third round changes the
// code of record 1 by adding 1000 to it.
inline FileExHandle openSales(FileExDiskHandle disk) {
  FileExHandle table = FileExCreate(disk, "\\Sales", -1, nullptr, FILEEX_KIND_TABLE | FILEEX_CREATE_OPEN, 0, 0, nullptr);
  if (!table) return nullptr;
  if (FileExAllocOdr(table, 1, nullptr) == 0) {
    unsigned char def[278] = {};
    def[2] = 1;
    def[276] = 1;
    uint32_t key = FILEEX_FIELD_KEY(3, 1);
    if (FileExInsColumn(table, 1, "Code", 4, 2, 0, 0, 0, -1) != 0 || FileExSetFld(table, &key, def, sizeof def, 0x61F) != 0 ||
        FileExFldWrite(table, nullptr, 0) != 0) {
      FileExRelease(table, nullptr);
      return nullptr;
    }
  }
  return table;
}

inline bool setCode(FileExHandle record, FileExHandle table, uint32_t code) {
  unsigned char bytes[4] = {static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8),
                            static_cast<unsigned char>(code >> 16), static_cast<unsigned char>(code >> 24)};
  uint32_t key = FILEEX_FIELD_KEY(10, 1);
  return FileExSetFld(record, &key, bytes, 4, 2) == 0 && FileExFldWrite(record, table, 0) == 0;
}

inline bool runTableRound(FileExDiskHandle disk, int round) {
  FileExHandle table = openSales(disk);
  if (!table) return false;
  FileExHandle record = FileExRecInsert(table, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr, 0, nullptr);
  bool ok = record && setCode(record, table, static_cast<uint32_t>(round));
  if (record) ok = FileExRelease(record, nullptr) == 0 && ok;
  if (ok && round % 3 == 0) {
    FileExHandle first = FileExRecOpen(table, 1, 0, 0, nullptr);
    unsigned char bytes[4] = {};
    ok = first && FileExGetFld(first, FILEEX_FIELD_KEY(10, 1), bytes, 4, nullptr) == 4;
    const uint32_t code = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    ok = ok && setCode(first, table, code + 1000);
    if (first) ok = FileExRelease(first, nullptr) == 0 && ok;
  }
  return FileExRelease(table, nullptr) == 0 && ok;
}

}  // namespace disk_writer

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

}  // namespace disk_writer

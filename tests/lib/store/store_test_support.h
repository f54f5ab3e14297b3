// Small helpers of the record-store tests: a temporary folder, whole-file
// bytes, keys that sort as numbers under memcmp, and node images laid out as
// the B-tree file format has them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace store_test {

using testing_support::TempFolder;
using testing_support::fileBytes;
using testing_support::writeFileBytes;

// A 4-byte key that memcmp orders as the number.
inline std::string key4(uint32_t value) {
  return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                     static_cast<char>(value)};
}

inline uint32_t keyValue(const char* key) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(key[0])) << 24) | (static_cast<uint32_t>(static_cast<uint8_t>(key[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(key[2])) << 8) | static_cast<uint8_t>(key[3]);
}

inline void putLe(std::string& bytes, size_t at, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

inline uint32_t getLe(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return value;
}

// One node as the format lays it out; unused slots are zero.
struct NodeImage {
  uint16_t count = 0;
  int32_t parent = -1;
  std::vector<int32_t> children;                            // slots from 0
  std::vector<std::pair<uint32_t, std::string>> entries;    // record number, key
};

inline size_t nodeSizeOf(uint32_t order, uint32_t keyLen) { return 10 + 2 * order * (keyLen + 8); }

inline std::string nodeBytes(uint32_t order, uint32_t keyLen, const NodeImage& node) {
  std::string bytes(nodeSizeOf(order, keyLen), '\0');
  putLe(bytes, 0, node.count, 2);
  putLe(bytes, 2, static_cast<uint32_t>(node.parent), 4);
  for (size_t i = 0; i < node.children.size(); ++i) putLe(bytes, 6 + 4 * i, static_cast<uint32_t>(node.children[i]), 4);
  for (size_t j = 0; j < node.entries.size(); ++j) {
    size_t at = 10 + 8 * order + (4 + keyLen) * j;
    putLe(bytes, at, node.entries[j].first, 4);
    bytes.replace(at + 4, keyLen, node.entries[j].second);
  }
  return bytes;
}

// The whole file: header bytes, root offset, nodes in file order.
inline std::string treeFileBytes(const std::string& header, int32_t root, const std::vector<std::string>& nodes) {
  std::string bytes = header;
  bytes.resize(header.size() + 4, '\0');
  putLe(bytes, header.size(), static_cast<uint32_t>(root), 4);
  for (const auto& node : nodes) bytes += node;
  return bytes;
}

}  // namespace store_test

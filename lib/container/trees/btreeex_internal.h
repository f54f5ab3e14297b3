// The extended B-tree's inside, shared by btreeex.cpp (format, handles,
// opening, searches, changes, walks) and btreeex_flush.cpp (the container
// store's free-space flush). The node format is laid out at the top of
// btreeex.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/core/little_endian.h"
#include "zemta/btreeex.h"
#include "zemta/errors.h"

namespace zemta::btreeex {

// Flags word of a tree.
constexpr uint32_t kFlagRead = 0x1;
constexpr uint32_t kFlagWrite = 0x2;
constexpr uint32_t kFlagTemporary = 0x1000;
constexpr uint32_t kFlagRootChanged = 0x2000;
constexpr uint32_t kFlagHeld = 0x4000;
constexpr uint32_t kFlagOpenAlways = 0x8000;
constexpr uint32_t kFlagHeldEx = 0x10000;
constexpr uint32_t kFlagBorrowedFile = 0x20000;
constexpr uint32_t kFlagNoWriteThrough = 0x100000;

constexpr int64_t kNone = -1;  // no node: a leaf's child, the root's parent, a cleared cursor

// Node fields.
constexpr uint32_t kCountField = 0;
constexpr uint32_t kParentField = 8;
constexpr uint32_t kChildrenField = 16;
constexpr uint32_t kBlock = 512;

inline uint64_t get_u64le(const uint8_t* p) {
  return static_cast<uint64_t>(get_u32le(p)) | (static_cast<uint64_t>(get_u32le(p + 4)) << 32);
}
inline void put_u64le(uint8_t* p, uint64_t v) {
  put_u32le(p, static_cast<uint32_t>(v));
  put_u32le(p + 4, static_cast<uint32_t>(v >> 32));
}
inline int64_t get_i64le(const uint8_t* p) { return static_cast<int64_t>(get_u64le(p)); }
inline void put_i64le(uint8_t* p, int64_t v) { put_u64le(p, static_cast<uint64_t>(v)); }

// Raw node size for an order and key length, and the size rounded up to
// whole blocks (0 when it does not fit the 16-bit node size field).
inline uint32_t rawNodeSize(uint32_t order, uint32_t keyLen) { return 24 + 2 * order * (keyLen + 16); }
inline uint32_t roundedNodeSize(uint32_t order, uint32_t keyLen) {
  uint64_t raw = 24 + 2ull * order * (keyLen + 16ull);
  uint64_t size = (raw + kBlock - 1) / kBlock * kBlock;
  return size > 0xFFFF ? 0 : static_cast<uint32_t>(size);
}

// A failure inside a call, carried to the call's edge where it is reported.
// Code 0: already reported (a callback's failure).
struct Failure {
  uint32_t code;
  int32_t line;
  const char* file;
};
#define BTREEEX_FAIL(code) throw ::zemta::btreeex::Failure{static_cast<uint32_t>(code), __LINE__, __FILE__}

struct Tree {
  std::string path;
  int32_t check = 0;
  int32_t shared = -1;
  ZemtaFileHandle file = 0;
  uint32_t flags = 0;
  uint64_t rootSlot = 0;
  int64_t root = 0;
  uint16_t order = 0;
  uint16_t keyType = 0;
  uint16_t keyLen = 0;
  uint16_t nodeSize = 0;
  uint16_t entriesOffset = 0;
  uint16_t cursorPos = 0;
  int64_t cursorNode = kNone;
  void* owner = nullptr;
  BtreeExCompareFunc compare = nullptr;
  void* userData = nullptr;
  BtreeExAllocFunc alloc = nullptr;
  BtreeExFreeFunc release = nullptr;
  uint64_t members = 0;

  // Node buffers: 0 the current node (cursor and searches), 1 to 3 the work
  // of a change (the node changed, its parent, its sibling or new half), 4
  // and 5 two nodes' worth of room for the entries of a split.
  std::vector<uint8_t> buffers;
  uint8_t* buffer(int i) { return buffers.data() + static_cast<size_t>(i) * nodeSize; }

  // Nodes read while the file is open: no other process can write the file
  // while it is open here (opens take it unshared for writing), and every
  // write of this tree goes through writeNode / writeField, so a node once
  // read stays valid until the file closes. Freed nodes leave the cache.
  std::unordered_map<int64_t, std::vector<uint8_t>> cache;
  int64_t sizeKnown = -1;  // file size while open

  bool fileOpen() const { return file != 0; }
  uint32_t maxEntries() const { return 2u * order; }
  uint32_t entrySize() const { return 8u + keyLen; }
  bool indirect() const { return (keyType & BTREEEX_KEY_INDIRECT) != 0; }

  static uint16_t count(const uint8_t* node) { return get_u16le(node + kCountField); }
  static void setCount(uint8_t* node, uint32_t n) { put_u16le(node + kCountField, static_cast<uint16_t>(n)); }
  static int64_t parent(const uint8_t* node) { return get_i64le(node + kParentField); }
  static void setParent(uint8_t* node, int64_t p) { put_i64le(node + kParentField, p); }
  static int64_t child(const uint8_t* node, uint32_t i) { return get_i64le(node + kChildrenField + 8 * i); }
  static void setChild(uint8_t* node, uint32_t i, int64_t c) { put_i64le(node + kChildrenField + 8 * i, c); }
  uint8_t* entry(uint8_t* node, uint32_t i) const { return node + entriesOffset + entrySize() * i; }
  const uint8_t* entry(const uint8_t* node, uint32_t i) const { return node + entriesOffset + entrySize() * i; }
  static uint64_t idOf(const uint8_t* entry) { return get_u64le(entry); }
  static const uint8_t* keyOf(const uint8_t* entry) { return entry + 8; }

  // given: a key with, for an indirect tree, its ID in the 8 bytes before.
  int compareKey(const uint8_t* entry, const void* given) const {
    int c = compare ? compare(keyOf(entry), given, keyLen) : std::memcmp(keyOf(entry), given, keyLen);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  int compareEntry(const uint8_t* entry, const void* given, uint64_t id) const {
    int c = compareKey(entry, given);
    if (c != 0) return c;
    uint64_t e = idOf(entry);
    return e < id ? -1 : (e > id ? 1 : 0);
  }

  // --- file (all throw Failure) --------------------------------------------
  void readBytes(int64_t position, void* data, uint32_t length);
  void writeBytes(int64_t position, const void* data, uint32_t length);
  void readNode(int64_t position, uint8_t* node);
  void writeNode(int64_t position, const uint8_t* node);
  // An 8-byte field of a node on disk (its parent or a child slot).
  void writeField(int64_t node, uint32_t field, int64_t value);
  int64_t fileSize();
  void clearCursor() { cursorNode = kNone; cursorPos = 0; }
};

Tree* findTree(int32_t handle);
void openForCall(Tree& tree, uint32_t mode);
void closeAfterCall(Tree& tree);
// After a failure: closes for the call without throwing.
void abandonCall(Tree& tree);
void reportFailure(const Failure& failure);

}  // namespace zemta::btreeex

namespace zemta {

// Walks the whole tree of a handle and checks every invariant: counts (n to
// 2n but the root), parent links, order within and across nodes, leaves at
// one depth. Empty when sound, else what is wrong. For tests and checks.
std::string BtreeExValidate(int32_t handle);

}  // namespace zemta

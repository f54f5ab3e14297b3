// The B-tree engine's inside, shared by btree.cpp (format, handles, opening,
// searches, cursor, check), btree_insert.cpp and btree_delete.cpp. The file
// and node formats are laid out at the top of btree.cpp.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "lib/core/report.h"
#include "lib/core/tree_call.h"
#include "lib/core/little_endian.h"
#include "zemta/errors.h"
#include "zemta/btree.h"
#include "zemta/fileaccess.h"

namespace zemta::btree {

// Flags word of a tree.
constexpr uint32_t kFlagRead = 0x1;
constexpr uint32_t kFlagWrite = 0x2;
constexpr uint32_t kFlagTemporary = 0x1000;
constexpr uint32_t kFlagRootChanged = 0x2000;
constexpr uint32_t kFlagHeld = 0x4000;
constexpr uint32_t kFlagOpenAlways = 0x8000;
constexpr uint32_t kFlagHeldEx = 0x10000;
constexpr uint32_t kFlagNoWriteThrough = 0x100000;

constexpr int32_t kNone = -1;  // no node: a leaf's child, the root's parent, a cleared cursor

// Node field offsets.
constexpr uint32_t kCountField = 0;
constexpr uint32_t kParentField = 2;
constexpr uint32_t kChildrenField = 6;

// A failure inside a call, carried to the call's edge where it is reported
// with the line it was raised on. Code 0: already reported (a failed open).
struct Failure {
  uint32_t code;
  int32_t line;
  const char* file;
};

#define BTREE_FAIL(code) throw ::zemta::btree::Failure{static_cast<uint32_t>(code), __LINE__, __FILE__}

class Tree {
 public:
  // Layout, fixed at creation.
  std::string path;
  uint16_t headerLen = 0;
  uint16_t order = 0;
  uint16_t tag = 0;
  uint16_t keyLen = 0;
  uint16_t nodeSize = 0;
  uint16_t entriesOffset = 0;
  BtreeCompareFunc compare = nullptr;

  uint32_t flags = 0;
  int32_t root = kNone;
  bool fileOpen = false;
  ZemtaFileHandle file = 0;
  // Nodes written without write-through since the file was last synced:
  // they must be on the disk before a header (the clean mark) follows them.
  bool nodesUnsynced = false;

  // The cursor: entry cursorPos of the node at cursorNode (kNone: cleared),
  // whose bytes are in the current buffer while currentOffset equals it.
  int32_t cursorNode = kNone;
  uint16_t cursorPos = 0;
  int32_t currentOffset = kNone;

  // Node buffers: the current node (cursor and searches) and the work
  // buffers of the changes: 0 the node changed, 1 its new right half or the
  // leaf a deletion borrows from, 2 a parent or new root, 3 a sibling, 4 and
  // 5 the node that moves when a node is freed and its parent. carry: the
  // entry carried upwards by a split, and room for the next one.
  std::vector<uint8_t> current, work[6], carry;

  // --- node fields -------------------------------------------------------
  uint32_t maxEntries() const { return 2u * order; }
  uint32_t entrySize() const { return 4u + keyLen; }
  int32_t firstNode() const { return static_cast<int32_t>(headerLen) + 4; }

  static uint16_t count(const uint8_t* node) { return get_u16le(node + kCountField); }
  static void setCount(uint8_t* node, uint32_t n) { put_u16le(node + kCountField, static_cast<uint16_t>(n)); }
  static int32_t parent(const uint8_t* node) { return get_i32le(node + kParentField); }
  static void setParent(uint8_t* node, int32_t offset) { put_i32le(node + kParentField, offset); }
  static int32_t child(const uint8_t* node, uint32_t i) { return get_i32le(node + kChildrenField + 4 * i); }
  static void setChild(uint8_t* node, uint32_t i, int32_t offset) { put_i32le(node + kChildrenField + 4 * i, offset); }
  uint8_t* entry(uint8_t* node, uint32_t i) const { return node + entriesOffset + entrySize() * i; }
  const uint8_t* entry(const uint8_t* node, uint32_t i) const { return node + entriesOffset + entrySize() * i; }
  static uint32_t recordOf(const uint8_t* entry) { return get_u32le(entry); }
  static const uint8_t* keyOf(const uint8_t* entry) { return entry + 4; }

  int compareKey(const uint8_t* entry, const void* key) const {
    return compare ? compare(keyOf(entry), key, keyLen) : std::memcmp(keyOf(entry), key, keyLen);
  }
  // Entry order: key, then record number as unsigned 32-bit.
  int compareEntry(const uint8_t* entry, const void* key, uint32_t record) const {
    int c = compareKey(entry, key);
    if (c != 0) return c;
    uint32_t r = recordOf(entry);
    return r < record ? -1 : (r > record ? 1 : 0);
  }

  // Nodes are sorted, so the scans "from the first entry while less" and
  // "from the last entry while greater" are done by halving.
  // First entry whose key is not less than key.
  uint32_t lowerBoundKey(const uint8_t* node, const void* key) const;
  // First entry whose key is greater than key.
  uint32_t upperBoundKey(const uint8_t* node, const void* key) const;
  // First entry not less than (key, record); exact tells whether it is that entry.
  uint32_t lowerBoundEntry(const uint8_t* node, const void* key, uint32_t record, bool* exact) const;

  // Shifts entries from..count-1 and children from+1..count one place right
  // and puts the entry and its right-hand child at from.
  void insertAt(uint8_t* node, uint32_t at, const uint8_t* newEntry, int32_t rightChild) const;
  // Removes entry k with child k + 1; the freed slots become zero.
  void removeAt(uint8_t* node, uint32_t k) const;

  // --- file --------------------------------------------------------------
  // All throw Failure. Offsets are checked against the file before use.
  void readNode(int32_t offset, uint8_t* node);
  // checked: debug builds assert the node is sound (not for nodes written
  // back as they were read, which may come from a broken file).
  void writeNode(int32_t offset, const uint8_t* node, bool checked = true);
  // Writes the node at the end of the file and returns its offset.
  int32_t appendNode(const uint8_t* node);
  void writeParentField(int32_t nodeOffset, int32_t parentOffset);
  void writeChildField(int32_t nodeOffset, uint32_t slot, int32_t childOffset);
  void cutFile(int32_t size);
  int64_t fileSize() const { return size_; }
  // A node offset that lies on a whole node inside the file.
  bool validNode(int32_t offset) const;

  // After the file is opened and checked: its size, whether nodes may be
  // kept in memory until it is closed, and whether changed nodes may wait
  // there too (an open without write-through) until writeBack.
  void startSession(int64_t size, bool cacheNodes, bool deferWrites);
  // Writes the changed nodes kept in memory, then a changed root offset.
  // Runs before the user header is written and before the file closes, so
  // that an index marked clean on disk never lacks a node of its change.
  void writeBack();
  void endSession();

  void clearCursor() { cursorNode = kNone; cursorPos = 0; }

  // The child slot (0 to count) of node that holds childOffset, or kNoSlot.
  static constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
  static uint32_t slotOf(const uint8_t* node, int32_t childOffset) {
    for (uint32_t i = 0, n = count(node); i <= n; ++i)
      if (child(node, i) == childOffset) return i;
    return kNoSlot;
  }

 private:
  void writeBytes(int64_t offset, const uint8_t* data, uint32_t length);
  void writeFile(int64_t offset, const uint8_t* data, uint32_t length);
  uint8_t* cacheFind(int64_t offset);
  // changed: the node differs from the file and must be written before its
  // slot is reused or the file closes.
  void cacheStore(int32_t offset, const uint8_t* node, bool changed);
  // True when the bytes landed in a cached node (and wait there when writes
  // are deferred).
  bool cachePatch(int64_t offset, const uint8_t* data, uint32_t length);
  void writeSlot(size_t slot);

  // The slot of a node index, made ready for use (its bytes allocated).
  size_t cacheSlotOf(size_t index);
  // Reads every node of the file into the cache when that is worth it;
  // true when it did.
  bool cacheWhole();

  static constexpr uint32_t kNoCachedNode = 0xFFFFFFFFu;

  int64_t size_ = 0;
  // While a local file is open no other open can write it (readers share
  // only with readers, writers share with nobody), so nodes once read stay
  // valid until the file is closed.
  bool cacheOn_ = false;
  bool deferWrites_ = false;
  size_t cacheSlots_ = 1;
  // The slots are allocated whole, once, at the first node stored, and kept
  // between opens unless many were used; only slots below cacheUsed_ hold
  // anything in this open (their tags are set).
  size_t cacheAllocated_ = 0;
  size_t cacheUsed_ = 0;
  std::unique_ptr<uint8_t[]> cacheBytes_;
  std::unique_ptr<uint32_t[]> cacheTags_;   // node index held by each slot
  std::unique_ptr<uint8_t[]> cacheDirty_;   // 1: the slot's node is not yet in the file
  size_t dirtyCount_ = 0;
};

// Frees the node at offset f: the file's last node moves
// into its place and the file is cut. Returns the old offset of the node that
// moved, or kNone when the freed node was the last.
int32_t freeNode(Tree& tree, int32_t f);

// Bytes of nodes an open tree keeps in memory, at most (tests make it small
// to exercise eviction).
size_t& nodeCacheBudget();

// Deepest descent accepted: a tree of 2^31 bytes with order 1 is far
// shallower, so a longer path means a loop in a broken file.
constexpr int kMaxDepth = 64;

void insertEntry(Tree& tree, uint32_t record, const void* key);
// True when the entry was there and is gone.
bool deleteEntry(Tree& tree, uint32_t record, const void* key);

#ifndef NDEBUG
// Debug builds: a node about to be written is sorted and not over-full.
void assertNodeSound(const Tree& tree, const uint8_t* node);
#endif

// The tree of a handle, or null.
Tree* findTree(int32_t handle);
// Opens the file for one call in the mode (flags bits 0x1, 0x2), unless the
// tree is held open; checks the file and reads its root offset.
void openForCall(Tree& tree, uint32_t mode);
// Closes the file after a call unless it is held, writing a changed root offset.
void closeAfterCall(Tree& tree);
// After a failure: closes the file unless held, without throwing.
void abandonCall(Tree& tree);
void reportFailure(const Failure& failure);

// Runs one call on the tree of a handle: a bad handle is reported, the file
// is open around body, and any failure is reported after the file is closed
// (so a box that waits for the user does not keep the file from others).
template <typename Body>
int32_t runCall(int32_t handle, uint32_t mode, Body&& body) {
  return RunTreeCall<Failure>(findTree(handle), mode, std::forward<Body>(body));
}

}  // namespace zemta::btree

namespace zemta {

// Walks the whole tree of a handle and checks every invariant: node counts
// (n to 2n but the root), parent links, child offsets, order within and across
// nodes, leaves at one depth, every node of the file used once. Empty when
// sound, else what is wrong. For tests and upkeep tools.
std::string BtreeValidate(int32_t handle);

}  // namespace zemta

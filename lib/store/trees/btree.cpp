// B-tree index files with 32-bit file offsets: the format, the handles,
// opening and closing, the user header, the cursor, the searches, the change
// of record numbers and the check. Insertion is in btree_insert.cpp,
// deletion in btree_delete.cpp.
//
// File layout (all integers little-endian):
//
//   offset          size                content
//   0               headerLen           user header, only through BtreeRead / BtreeWrite
//   headerLen       4                   int32 offset of the root node
//   headerLen + 4   nodeSize each       nodes, back to back: no gaps, no free list
//
//   nodeSize = 10 + 2 * order * (keyLen + 8), at most 65535. A file is
//   well-formed only when its size exceeds headerLen + 4 and
//   (size - headerLen - 4) is a whole number of nodes.
//
// Node layout (n = order):
//
//   offset          size                field
//   0               2                   uint16 count of entries, 0 to 2n
//   2               4                   int32 offset of the parent node; -1 for the root
//   6               4 * (2n + 1)        int32 child offsets: child i leads to the entries
//                                       before entry i, child count to those after the
//                                       last entry; -1 in a leaf
//   10 + 8n         (4 + keyLen) * 2n   entries: uint32 record number, keyLen key bytes
//
// Slots beyond the count are never read; this engine keeps them zero. In a
// leaf, child slots 0 to count are all -1. Entries are ordered by the tree's
// compare function on the keys (memcmp when none is given), then by record
// number as unsigned 32-bit; one key may stand with many record numbers, one
// (key, record number) at most once. Every node but the root holds n to 2n
// entries; an empty tree is a root leaf with count 0. A new file holds the
// header, the root offset headerLen + 4 and one empty root node.
#include "lib/store/trees/btree_internal.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "lib/core/handle_table.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/last_error.h"

namespace zemta::btree {
namespace {

constexpr uint32_t kTreeCheckWord = 0x42540000;
constexpr uint32_t kTreeSlotMask = 0x0000FFFF;
constexpr size_t kTreeSlots = 256;
constexpr size_t kMaxPath = 127;
constexpr uint32_t kMaxCheckedKey = 4096;

// Attribute words of the opens: temporary (random access, no recall,
// temporary), held without write-through (random access, no recall, normal),
// and the default write-through (write-through, random access, normal).
constexpr uint32_t kAttributesTemporary = 0x10100100;
constexpr uint32_t kAttributesNoWriteThrough = 0x10100080;
constexpr uint32_t kAttributesWriteThrough = 0x90000080;

// Bytes of nodes kept in memory per open tree, at most (by default).
constexpr size_t kDefaultCacheBudget = 4u << 20;

HandleTable<Tree>& trees() {
  static HandleTable<Tree> table(kTreeCheckWord, kTreeSlotMask, kTreeSlots);
  return table;
}

// The thread's last error as a code to report (never 0).
uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

#define BTREE_FAIL_LAST() BTREE_FAIL(lastErrorCode())

// Opens the tree's file in mode m (a flags word). A writer reads too: nodes
// and the root offset are read on every change. error: as ZemtaOpenFileWait.
bool openFile(Tree& tree, uint32_t m, uint32_t* error) {
  uint32_t access = ZEMTA_GENERIC_READ;
  if (m & kFlagWrite) access |= ZEMTA_GENERIC_WRITE;
  uint32_t share = (m & (kFlagRead | kFlagWrite)) == kFlagRead ? ZEMTA_FILE_SHARE_READ : 0;
  uint32_t disposition = (m & kFlagOpenAlways) ? ZEMTA_OPEN_ALWAYS : ZEMTA_OPEN_EXISTING;
  uint32_t attributes = (m & kFlagTemporary)       ? kAttributesTemporary
                        : (m & kFlagNoWriteThrough) ? kAttributesNoWriteThrough
                                                    : kAttributesWriteThrough;
  ZemtaFileHandle file =
      ZemtaOpenFileWait(tree.path.c_str(), access, share, disposition, attributes, nullptr, nullptr, error, 0);
  if (file == 0) return false;
  tree.file = file;
  tree.fileOpen = true;
  tree.flags = m;
  return true;
}

// Closes the file: writes a changed root offset first. Always closes; the
// first failure's code, or 0.
uint32_t closeFile(Tree& tree) {
  uint32_t code = 0;
  try {
    tree.writeBack();
  } catch (const Failure& failure) {
    code = failure.code != 0 ? failure.code : lastErrorCode();
  }
  if (code == 0 && (tree.flags & kFlagRootChanged)) {
    uint8_t bytes[4];
    put_i32le(bytes, tree.root);
    uint32_t done = 0;
    if (!ZemtaWriteFile(tree.file, bytes, 4, &done, tree.headerLen, ZEMTA_FILE_BEGIN)) code = lastErrorCode();
    else if (done != 4) code = ZEMTA_ERR_FILE_SIZE;
  }
  if (!ZemtaCloseFile(tree.file) && code == 0) code = lastErrorCode();
  tree.file = 0;
  tree.fileOpen = false;
  tree.flags &= kFlagTemporary;
  tree.clearCursor();
  tree.currentOffset = kNone;
  tree.endSession();
  return code;
}

// Checks an opened file's size and reads its root offset.
void checkFile(Tree& tree) {
  uint32_t size = ZemtaGetFileSize(tree.file);
  if (size == 0xFFFFFFFFu) BTREE_FAIL_LAST();
  const uint32_t first = static_cast<uint32_t>(tree.firstNode());
  if (size <= first || size > 0x7FFFFFFFu || (size - first) % tree.nodeSize != 0) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  uint8_t bytes[4];
  uint32_t done = 0;
  if (!ZemtaReadFile(tree.file, bytes, 4, &done, tree.headerLen, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
  if (done != 4) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
  tree.root = get_i32le(bytes);
  // Changed nodes wait in memory only where the open asked for no
  // write-through: there the caller keeps the index marked dirty meanwhile.
  const bool deferWrites = (tree.flags & kFlagWrite) && (tree.flags & (kFlagNoWriteThrough | kFlagTemporary));
  tree.startSession(size, isLocalFile(tree.file), deferWrites);
}

// Reads a node into the current buffer.
void readCurrent(Tree& tree, int32_t offset) {
  tree.currentOffset = kNone;
  tree.readNode(offset, tree.current.data());
  tree.currentOffset = offset;
}

// The cursor's entry as a search result.
int32_t cursorResult(Tree& tree, uint32_t* record, void* keyBuffer) {
  const uint8_t* entry = tree.entry(tree.current.data(), tree.cursorPos);
  if (record) *record = Tree::recordOf(entry);
  if (keyBuffer) std::memcpy(keyBuffer, Tree::keyOf(entry), tree.keyLen);
  return 1;
}

void placeCursor(Tree& tree, int32_t node, uint32_t position) {
  tree.cursorNode = node;
  tree.cursorPos = static_cast<uint16_t>(position);
}

// The cursor's node in the current buffer (read again when the buffer was
// used for something else, such as a deletion on a held tree).
void loadCursorNode(Tree& tree) {
  if (tree.currentOffset != tree.cursorNode) readCurrent(tree, tree.cursorNode);
}

// In-order successor of the cursor (from a cleared cursor: the first entry).
int32_t stepForward(Tree& tree, uint32_t* record, void* keyBuffer) {
  uint8_t* node = tree.current.data();
  int32_t at;
  uint32_t index;
  if (tree.cursorNode == kNone) {
    at = tree.root;
    readCurrent(tree, at);
    index = 0;
  } else {
    at = tree.cursorNode;
    loadCursorNode(tree);
    uint32_t count = Tree::count(node);
    index = tree.cursorPos < count ? tree.cursorPos + 1u : count;
  }
  int32_t down = Tree::child(node, index);
  if (down != kNone) {
    for (int depth = 0;; ++depth) {
      if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
      readCurrent(tree, down);
      at = down;
      down = Tree::child(node, 0);
      if (down == kNone) break;
    }
    if (Tree::count(node) == 0) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    placeCursor(tree, at, 0);
    return cursorResult(tree, record, keyBuffer);
  }
  if (index < Tree::count(node)) {
    placeCursor(tree, at, index);
    return cursorResult(tree, record, keyBuffer);
  }
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    int32_t up = Tree::parent(node);
    if (up == kNone) {
      tree.clearCursor();
      return 0;
    }
    readCurrent(tree, up);
    uint32_t slot = Tree::slotOf(node, at);
    if (slot == Tree::kNoSlot) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    if (slot < Tree::count(node)) {
      placeCursor(tree, up, slot);
      return cursorResult(tree, record, keyBuffer);
    }
    at = up;
  }
}

// In-order predecessor of the cursor (from a cleared cursor: the last entry).
int32_t stepBack(Tree& tree, uint32_t* record, void* keyBuffer) {
  uint8_t* node = tree.current.data();
  int32_t at;
  uint32_t index;
  if (tree.cursorNode == kNone) {
    at = tree.root;
    readCurrent(tree, at);
    index = Tree::count(node);
    if (index == 0) return 0;
  } else {
    at = tree.cursorNode;
    loadCursorNode(tree);
    index = std::min<uint32_t>(tree.cursorPos, Tree::count(node));
  }
  int32_t down = Tree::child(node, index);
  if (down != kNone) {
    for (int depth = 0;; ++depth) {
      if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
      readCurrent(tree, down);
      at = down;
      down = Tree::child(node, Tree::count(node));
      if (down == kNone) break;
    }
    if (Tree::count(node) == 0) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    placeCursor(tree, at, Tree::count(node) - 1u);
    return cursorResult(tree, record, keyBuffer);
  }
  if (index > 0) {
    placeCursor(tree, at, index - 1);
    return cursorResult(tree, record, keyBuffer);
  }
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    int32_t up = Tree::parent(node);
    if (up == kNone) {
      tree.clearCursor();
      return 0;
    }
    readCurrent(tree, up);
    uint32_t slot = Tree::slotOf(node, at);
    if (slot == Tree::kNoSlot) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    if (slot > 0) {
      placeCursor(tree, up, slot - 1);
      return cursorResult(tree, record, keyBuffer);
    }
    at = up;
  }
}

// With duplicate keys the entry found is the first met on the way down.
int32_t searchEqual(Tree& tree, const void* key, uint32_t* record) {
  uint8_t* node = tree.current.data();
  int32_t at = tree.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    readCurrent(tree, at);
    uint32_t i = tree.lowerBoundKey(node, key);
    if (i < Tree::count(node) && tree.compareKey(tree.entry(node, i), key) == 0) {
      placeCursor(tree, at, i);
      return cursorResult(tree, record, nullptr);
    }
    int32_t down = Tree::child(node, i);
    if (down == kNone) {
      tree.clearCursor();
      return 0;
    }
    at = down;
  }
}

enum class Range { kGreater, kGreaterEqual, kLess, kLessEqual };

// Descends to the leaf where the key would stand, then takes the entry on
// the asked side of it, stepping once when it lies outside the leaf: with
// equal keys this finds the first or the last of the run.
int32_t searchRange(Tree& tree, const void* key, Range range, uint32_t* record) {
  const bool upper = range == Range::kGreater || range == Range::kLessEqual;
  uint8_t* node = tree.current.data();
  int32_t at = tree.root;
  uint32_t i;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    readCurrent(tree, at);
    i = upper ? tree.upperBoundKey(node, key) : tree.lowerBoundKey(node, key);
    int32_t down = Tree::child(node, i);
    if (down == kNone) break;
    at = down;
  }
  const uint32_t count = Tree::count(node);
  if (count == 0) {
    tree.clearCursor();
    return 0;
  }
  if (range == Range::kGreater || range == Range::kGreaterEqual) {
    if (i < count) {
      placeCursor(tree, at, i);
      return cursorResult(tree, record, nullptr);
    }
    placeCursor(tree, at, count - 1);
    return stepForward(tree, record, nullptr);
  }
  if (i > 0) {
    placeCursor(tree, at, i - 1);
    return cursorResult(tree, record, nullptr);
  }
  placeCursor(tree, at, 0);
  return stepBack(tree, record, nullptr);
}

int32_t rangeCall(int32_t handle, uint32_t* record, const void* key, Range range) {
  if (findTree(handle) && !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return runCall(handle, kFlagRead, [&](Tree& tree) { return searchRange(tree, key, range, record); });
}

// The whole structure, for BtreeValidate.
class Validator {
 public:
  explicit Validator(Tree& tree) : tree_(tree) {}

  std::string run() {
    const int64_t nodes = (tree_.fileSize() - tree_.firstNode()) / tree_.nodeSize;
    if (!tree_.validNode(tree_.root)) return "root offset is not a node";
    visit(tree_.root, kNone, 0, nullptr, nullptr);
    if (problem_.empty() && static_cast<int64_t>(seen_.size()) != nodes)
      problem_ = "file holds " + std::to_string(nodes) + " nodes, tree uses " + std::to_string(seen_.size());
    return problem_;
  }

 private:
  void fail(int32_t at, const std::string& what) {
    if (problem_.empty()) problem_ = "node " + std::to_string(at) + ": " + what;
  }

  int compareEntries(const uint8_t* a, const uint8_t* b) const {
    return tree_.compareEntry(a, Tree::keyOf(b), Tree::recordOf(b));
  }

  // low and high: the entries bounding this subtree (null: none).
  void visit(int32_t at, int32_t parent, int depth, const uint8_t* low, const uint8_t* high) {
    if (!problem_.empty()) return;
    if (depth > kMaxDepth) return fail(at, "too deep");
    if (!tree_.validNode(at)) return fail(at, "child offset is not a node");
    if (!seen_.insert(at).second) return fail(at, "reached twice");
    std::vector<uint8_t> node(tree_.nodeSize);
    tree_.readNode(at, node.data());
    const uint32_t count = Tree::count(node.data());
    const uint32_t n = tree_.order;
    if (Tree::parent(node.data()) != parent) return fail(at, "parent field differs");
    if (parent != kNone && (count < n || count > 2 * n)) return fail(at, "count out of range");
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = tree_.entry(node.data(), i);
      if (i > 0 && compareEntries(tree_.entry(node.data(), i - 1), entry) >= 0) return fail(at, "entries out of order");
      if (low && compareEntries(low, entry) >= 0) return fail(at, "entry below its subtree's bound");
      if (high && compareEntries(entry, high) >= 0) return fail(at, "entry above its subtree's bound");
    }
    const bool leaf = Tree::child(node.data(), 0) == kNone;
    if (leaf) {
      for (uint32_t i = 0; i <= count; ++i)
        if (Tree::child(node.data(), i) != kNone) return fail(at, "leaf with a child");
      if (leafDepth_ < 0) leafDepth_ = depth;
      else if (leafDepth_ != depth) fail(at, "leaves at different depths");
      return;
    }
    if (count == 0) return fail(at, "inner node without entries");
    for (uint32_t i = 0; i <= count; ++i) {
      int32_t down = Tree::child(node.data(), i);
      if (down == kNone) return fail(at, "inner node with a missing child");
      visit(down, at, depth + 1, i > 0 ? tree_.entry(node.data(), i - 1) : low,
            i < count ? tree_.entry(node.data(), i) : high);
    }
  }

  Tree& tree_;
  std::set<int32_t> seen_;
  int leafDepth_ = -1;
  std::string problem_;
};

}  // namespace

size_t& nodeCacheBudget() {
  static size_t budget = kDefaultCacheBudget;
  return budget;
}

// --- node fields -------------------------------------------------------------

uint32_t Tree::lowerBoundKey(const uint8_t* node, const void* key) const {
  uint32_t low = 0, high = count(node);
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (compareKey(entry(node, middle), key) < 0) low = middle + 1;
    else high = middle;
  }
  return low;
}

uint32_t Tree::upperBoundKey(const uint8_t* node, const void* key) const {
  uint32_t low = 0, high = count(node);
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (compareKey(entry(node, middle), key) <= 0) low = middle + 1;
    else high = middle;
  }
  return low;
}

uint32_t Tree::lowerBoundEntry(const uint8_t* node, const void* key, uint32_t record, bool* exact) const {
  uint32_t low = 0, high = count(node);
  while (low < high) {
    uint32_t middle = (low + high) / 2;
    if (compareEntry(entry(node, middle), key, record) < 0) low = middle + 1;
    else high = middle;
  }
  *exact = low < count(node) && compareEntry(entry(node, low), key, record) == 0;
  return low;
}

void Tree::insertAt(uint8_t* node, uint32_t at, const uint8_t* newEntry, int32_t rightChild) const {
  const uint32_t n = count(node);
  assert(n < maxEntries() && at <= n);
  uint8_t* slot = entry(node, at);
  std::memmove(slot + entrySize(), slot, (n - at) * entrySize());
  std::memcpy(slot, newEntry, entrySize());
  uint8_t* children = node + kChildrenField + 4 * (at + 1);
  std::memmove(children + 4, children, (n - at) * 4);
  setChild(node, at + 1, rightChild);
  setCount(node, n + 1);
}

void Tree::removeAt(uint8_t* node, uint32_t k) const {
  const uint32_t n = count(node);
  assert(k < n);
  uint8_t* slot = entry(node, k);
  std::memmove(slot, slot + entrySize(), (n - k - 1) * entrySize());
  std::memset(entry(node, n - 1), 0, entrySize());
  uint8_t* children = node + kChildrenField + 4 * (k + 1);
  std::memmove(children, children + 4, (n - k - 1) * 4);
  setChild(node, n, 0);
  setCount(node, n - 1);
}

#ifndef NDEBUG
void assertNodeSound(const Tree& tree, const uint8_t* node) {
  const uint32_t count = Tree::count(node);
  assert(count <= tree.maxEntries());
  for (uint32_t i = 1; i < count; ++i)
    assert(tree.compareKey(tree.entry(node, i - 1), Tree::keyOf(tree.entry(node, i))) <= 0);
  (void)count;
}
#endif

// --- file --------------------------------------------------------------------

bool Tree::validNode(int32_t offset) const {
  if (offset < firstNode()) return false;
  int64_t relative = static_cast<int64_t>(offset) - firstNode();
  return relative % nodeSize == 0 && static_cast<int64_t>(offset) + nodeSize <= size_;
}

void Tree::readNode(int32_t offset, uint8_t* node) {
  if (!validNode(offset)) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  const uint8_t* cached = cacheFind(offset);
  if (!cached && cacheWhole()) cached = cacheFind(offset);
  if (cached) {
    std::memcpy(node, cached, nodeSize);
  } else {
    uint32_t done = 0;
    if (!ZemtaReadFile(file, node, nodeSize, &done, offset, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
    if (done != nodeSize) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
    cacheStore(offset, node, false);
  }
  if (count(node) > maxEntries()) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
}

void Tree::writeNode(int32_t offset, const uint8_t* node, bool checked) {
  if (offset < firstNode() || (offset - firstNode()) % nodeSize != 0 || offset > size_)
    BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
#ifndef NDEBUG
  if (checked) assertNodeSound(*this, node);
#endif
  (void)checked;
  if (!deferWrites_) writeFile(offset, node, nodeSize);
  size_ = std::max<int64_t>(size_, static_cast<int64_t>(offset) + nodeSize);
  cacheStore(offset, node, deferWrites_);
}

int32_t Tree::appendNode(const uint8_t* node) {
  if (size_ + nodeSize > 0x7FFFFFFF) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
  int32_t offset = static_cast<int32_t>(size_);
  writeNode(offset, node);
  return offset;
}

void Tree::writeParentField(int32_t nodeOffset, int32_t parentOffset) {
  if (!validNode(nodeOffset)) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  uint8_t bytes[4];
  put_i32le(bytes, parentOffset);
  writeBytes(static_cast<int64_t>(nodeOffset) + kParentField, bytes, 4);
}

void Tree::writeChildField(int32_t nodeOffset, uint32_t slot, int32_t childOffset) {
  if (!validNode(nodeOffset) || slot > maxEntries()) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  uint8_t bytes[4];
  put_i32le(bytes, childOffset);
  writeBytes(static_cast<int64_t>(nodeOffset) + kChildrenField + 4 * slot, bytes, 4);
}

void Tree::cutFile(int32_t size) {
  // Nodes past the new end leave the cache: one waiting to be written must
  // not bring the file back to its old length.
  if (cacheOn_ && size >= firstNode()) {
    for (int64_t at = size; at + nodeSize <= size_; at += nodeSize) {
      const size_t index = static_cast<size_t>(at - firstNode()) / nodeSize;
      const size_t slot = index % cacheSlots_;
      if (slot >= cacheUsed_ || cacheTags_[slot] != index) continue;
      cacheTags_[slot] = kNoCachedNode;
      if (cacheDirty_[slot]) {
        cacheDirty_[slot] = 0;
        --dirtyCount_;
      }
    }
  }
  if (!ZemtaSetEndOfFile(file, size)) BTREE_FAIL_LAST();
  size_ = size;
}

void Tree::writeBytes(int64_t offset, const uint8_t* data, uint32_t length) {
  // A node in the cache takes the bytes; when writes wait, the file gets
  // them with the whole node later.
  if (cachePatch(offset, data, length) && deferWrites_) return;
  writeFile(offset, data, length);
}

void Tree::writeFile(int64_t offset, const uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  if (flags & kFlagNoWriteThrough) nodesUnsynced = true;
  if (!ZemtaWriteFile(file, data, length, &done, static_cast<int32_t>(offset), ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
  if (done != length) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
}

void Tree::writeSlot(size_t slot) {
  const int64_t offset = firstNode() + static_cast<int64_t>(cacheTags_[slot]) * nodeSize;
  writeFile(offset, cacheBytes_.get() + slot * nodeSize, nodeSize);
  cacheDirty_[slot] = 0;
  --dirtyCount_;
}

void Tree::writeBack() {
  // A run of waiting nodes that lie side by side in the file as in the cache
  // (a file within the budget keeps node i in slot i) goes in one write.
  for (size_t slot = 0; dirtyCount_ > 0 && slot < cacheUsed_;) {
    if (!cacheDirty_[slot]) {
      ++slot;
      continue;
    }
    size_t end = slot + 1;
    while (end < cacheUsed_ && cacheDirty_[end] && cacheTags_[end] == cacheTags_[end - 1] + 1) ++end;
    const int64_t offset = firstNode() + static_cast<int64_t>(cacheTags_[slot]) * nodeSize;
    writeFile(offset, cacheBytes_.get() + slot * nodeSize, static_cast<uint32_t>((end - slot) * nodeSize));
    std::fill(cacheDirty_.get() + slot, cacheDirty_.get() + end, uint8_t{0});
    dirtyCount_ -= end - slot;
    slot = end;
  }
  if (flags & kFlagRootChanged) {
    uint8_t bytes[4];
    put_i32le(bytes, root);
    writeFile(headerLen, bytes, 4);
    flags &= ~kFlagRootChanged;
  }
}

// The cache is direct-mapped: node i lives in slot i modulo the slot count,
// so a file smaller than the budget is cached whole and a larger one keeps
// what it used last, in bounded memory. The budget is allocated in one piece
// the first time a node is stored and never grows: the pages of slots never
// used are never touched.
uint8_t* Tree::cacheFind(int64_t offset) {
  if (!cacheOn_) return nullptr;
  const size_t index = static_cast<size_t>(offset - firstNode()) / nodeSize;
  const size_t slot = index % cacheSlots_;
  if (slot >= cacheUsed_ || cacheTags_[slot] != index) return nullptr;
  return cacheBytes_.get() + slot * nodeSize;
}

size_t Tree::cacheSlotOf(size_t index) {
  if (cacheAllocated_ != cacheSlots_) {
    // Only at an open's first node, when nothing waits in the cache.
    cacheAllocated_ = cacheUsed_ = 0;
    cacheBytes_.reset(new uint8_t[cacheSlots_ * nodeSize]);
    cacheTags_.reset(new uint32_t[cacheSlots_]);
    cacheDirty_.reset(new uint8_t[cacheSlots_]);
    cacheAllocated_ = cacheSlots_;
  }
  const size_t slot = index % cacheSlots_;
  if (slot >= cacheUsed_) {
    std::fill(cacheTags_.get() + cacheUsed_, cacheTags_.get() + slot + 1, kNoCachedNode);
    std::fill(cacheDirty_.get() + cacheUsed_, cacheDirty_.get() + slot + 1, uint8_t{0});
    cacheUsed_ = slot + 1;
  }
  return slot;
}

bool Tree::cacheWhole() {
  // A held tree is opened for many calls: a file within the budget is read
  // whole at the first node it misses, in one read instead of one a node.
  if (!cacheOn_ || !(flags & kFlagHeld) || cacheUsed_ != 0 || dirtyCount_ != 0) return false;
  const size_t nodes = static_cast<size_t>(size_ - firstNode()) / nodeSize;
  if (nodes < 2 || nodes > cacheSlots_) return false;
  cacheSlotOf(nodes - 1);
  const uint32_t length = static_cast<uint32_t>(nodes * nodeSize);
  uint32_t done = 0;
  if (!ZemtaReadFile(file, cacheBytes_.get(), length, &done, firstNode(), ZEMTA_FILE_BEGIN) || done != length) {
    cacheUsed_ = 0;
    return false;
  }
  for (size_t i = 0; i < nodes; ++i) cacheTags_[i] = static_cast<uint32_t>(i);
  return true;
}

void Tree::cacheStore(int32_t offset, const uint8_t* node, bool changed) {
  if (!cacheOn_) return;
  const size_t index = static_cast<size_t>(offset - firstNode()) / nodeSize;
  const size_t slot = cacheSlotOf(index);
  if (cacheTags_[slot] != index && cacheDirty_[slot]) writeSlot(slot);
  std::memcpy(cacheBytes_.get() + slot * nodeSize, node, nodeSize);
  cacheTags_[slot] = static_cast<uint32_t>(index);
  if (changed && !cacheDirty_[slot]) {
    cacheDirty_[slot] = 1;
    ++dirtyCount_;
  }
}

bool Tree::cachePatch(int64_t offset, const uint8_t* data, uint32_t length) {
  if (!cacheOn_ || offset < firstNode()) return false;
  const int64_t nodeStart = offset - (offset - firstNode()) % nodeSize;
  uint8_t* cached = cacheFind(nodeStart);
  if (!cached || offset + length > nodeStart + nodeSize) return false;
  std::memcpy(cached + (offset - nodeStart), data, length);
  if (deferWrites_) {
    const size_t slot = static_cast<size_t>(cached - cacheBytes_.get()) / nodeSize;
    if (!cacheDirty_[slot]) {
      cacheDirty_[slot] = 1;
      ++dirtyCount_;
    }
  }
  return true;
}

void Tree::startSession(int64_t size, bool cacheNodes, bool deferWrites) {
  size_ = size;
  cacheOn_ = cacheNodes;
  deferWrites_ = cacheNodes && deferWrites;
  cacheSlots_ = std::max<size_t>(1, nodeCacheBudget() / nodeSize);
  cacheUsed_ = 0;
  dirtyCount_ = 0;
}

void Tree::endSession() {
  cacheOn_ = false;
  deferWrites_ = false;
  // A cache that filled much memory gives it back; a small one stays for
  // the next open (a tree opened for every call).
  if (cacheUsed_ * nodeSize > (1u << 20)) {
    cacheBytes_.reset();
    cacheTags_.reset();
    cacheDirty_.reset();
    cacheAllocated_ = 0;
  }
  cacheUsed_ = 0;
  dirtyCount_ = 0;
}

// --- calls -------------------------------------------------------------------

Tree* findTree(int32_t handle) { return trees().find(static_cast<uint32_t>(handle)); }

void openForCall(Tree& tree, uint32_t mode) {
  if (tree.flags & kFlagHeld) return;
  if (!openFile(tree, mode | (tree.flags & kFlagTemporary), nullptr)) throw Failure{0, __LINE__, __FILE__};
  checkFile(tree);
}

void closeAfterCall(Tree& tree) {
  if ((tree.flags & kFlagHeld) || !tree.fileOpen) return;
  uint32_t code = closeFile(tree);
  if (code != 0) BTREE_FAIL(code);
}

void abandonCall(Tree& tree) {
  if (!(tree.flags & kFlagHeld) && tree.fileOpen) closeFile(tree);
}

void reportFailure(const Failure& failure) {
  if (failure.code != 0) ReportError(failure.line, failure.file, failure.code);
}

}  // namespace zemta::btree

namespace zemta {

std::string BtreeValidate(int32_t handle) {
  using namespace btree;
  std::string problem;
  int32_t result = runCall(handle, kFlagRead, [&](Tree& tree) {
    problem = Validator(tree).run();
    return 0;
  });
  if (result < 0 && problem.empty()) problem = "the tree could not be read";
  return problem;
}

}  // namespace zemta

using zemta::btree::Failure;
using zemta::btree::Tree;
using namespace zemta;
using namespace zemta::btree;

ZEMTA_API int32_t BtreeNew(void) {
  BtreeDelete();
  return static_cast<int32_t>(kTreeSlots);
}

ZEMTA_API void BtreeDelete(void) {
  std::vector<uint32_t> handles;
  trees().forEach([&](uint32_t handle, Tree& tree) {
    if (tree.fileOpen) closeFile(tree);
    handles.push_back(handle);
  });
  for (uint32_t handle : handles) trees().remove(handle);
}

ZEMTA_API int32_t BtreeCreate(const char* path, uint32_t headerLen, uint32_t order, uint32_t tag, uint32_t keyLen,
                              BtreeCompareFunc compare, int32_t temporary) {
  if (!path || std::strlen(path) > kMaxPath || order == 0 || keyLen == 0 || order > 0xFFFF || keyLen > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (headerLen > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return -1;
  }
  // The node size is kept in 16 bits.
  const uint64_t nodeSize = 10 + 2ull * order * (keyLen + 8);
  if (nodeSize > 0xFFFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (trees().count() >= kTreeSlots) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  std::unique_ptr<Tree> tree;
  try {
    tree = std::make_unique<Tree>();
    tree->path = path;
    tree->headerLen = static_cast<uint16_t>(headerLen);
    tree->order = static_cast<uint16_t>(order);
    tree->tag = static_cast<uint16_t>(tag);
    tree->keyLen = static_cast<uint16_t>(keyLen);
    tree->nodeSize = static_cast<uint16_t>(nodeSize);
    tree->entriesOffset = static_cast<uint16_t>(10 + 8 * order);
    tree->compare = compare;
    tree->current.assign(nodeSize, 0);
    for (auto& buffer : tree->work) buffer.assign(nodeSize, 0);
    tree->carry.assign(2 * (4 + keyLen), 0);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }

  const uint32_t temporaryFlag = temporary ? kFlagTemporary : 0;
  uint32_t firstError = 0;
  const bool existed = openFile(*tree, kFlagRead | temporaryFlag, &firstError);
  if (!existed && !openFile(*tree, kFlagOpenAlways | kFlagRead | kFlagWrite | temporaryFlag, nullptr)) return -1;

  try {
    const uint32_t first = static_cast<uint32_t>(tree->firstNode());
    uint32_t size = ZemtaGetFileSize(tree->file);
    if (size == 0xFFFFFFFFu) BTREE_FAIL_LAST();
    if (size > first) {
      if (size > 0x7FFFFFFFu || (size - first) % tree->nodeSize != 0) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
      uint8_t bytes[4];
      uint32_t done = 0;
      if (!ZemtaReadFile(tree->file, bytes, 4, &done, tree->headerLen, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
      if (done != 4) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
      tree->root = get_i32le(bytes);
    } else if (existed) {
      // An existing file too short to be a tree.
      BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    } else {
      // A new tree: bytes already in the file are kept, then the root offset
      // and one empty root node follow.
      std::vector<uint8_t> image(first + tree->nodeSize, 0);
      uint32_t done = 0;
      if (size > 0 && !ZemtaReadFile(tree->file, image.data(), size, &done, 0, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
      put_i32le(image.data() + tree->headerLen, tree->firstNode());
      uint8_t* root = image.data() + first;
      Tree::setCount(root, 0);
      Tree::setParent(root, kNone);
      Tree::setChild(root, 0, kNone);
      if (!ZemtaWriteFile(tree->file, image.data(), static_cast<uint32_t>(image.size()), &done, 0, ZEMTA_FILE_BEGIN))
        BTREE_FAIL_LAST();
      if (done != image.size()) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
      tree->root = tree->firstNode();
    }
    uint32_t code = closeFile(*tree);
    if (code != 0) BTREE_FAIL(code);
  } catch (const Failure& failure) {
    if (tree->fileOpen) closeFile(*tree);
    reportFailure(failure);
    return -1;
  }

  uint32_t handle = trees().add(std::move(tree));
  if (handle == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return static_cast<int32_t>(handle);
}

ZEMTA_API int32_t BtreeRelease(int32_t handle) {
  Tree* tree = findTree(handle);
  if (!tree) return -1;
  uint32_t code = tree->fileOpen ? closeFile(*tree) : 0;
  trees().remove(static_cast<uint32_t>(handle));
  if (code != 0) {
    ZEMTA_REPORT(code);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t BtreeOpen(int32_t handle, uint32_t mode) {
  Tree* tree = findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  const uint32_t access = mode & 0xFFFFF;
  if (access < 1 || access > 3) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  if (tree->flags & kFlagHeld) return 0;
  try {
    openForCall(*tree, mode);
  } catch (const Failure& failure) {
    abandonCall(*tree);
    reportFailure(failure);
    return -1;
  }
  tree->flags |= kFlagHeld;
  return 0;
}

ZEMTA_API int32_t BtreeClose(int32_t handle) {
  Tree* tree = findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (tree->flags & kFlagHeldEx) return 0;
  tree->flags &= ~kFlagHeld;
  if (!tree->fileOpen) return 0;
  uint32_t code = closeFile(*tree);
  if (code != 0) {
    ZEMTA_REPORT(code);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t BtreeOpenEx(int32_t handle, uint32_t mode) {
  if (BtreeOpen(handle, mode) != 0) return -1;
  findTree(handle)->flags |= kFlagHeldEx;
  return 0;
}

ZEMTA_API int32_t BtreeCloseEx(int32_t handle) {
  Tree* tree = findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  tree->flags &= ~kFlagHeldEx;
  return BtreeClose(handle);
}

ZEMTA_API int32_t BtreeReOpen(int32_t handle) {
  return runCall(handle, kFlagRead, [](Tree&) { return 0; });
}

// The user header's read and write take at most its length, and a buffer
// when they take anything. A bad handle is left to the call itself.
static bool headerArgumentsFit(int32_t handle, const void* buffer, uint32_t length) {
  Tree* tree = findTree(handle);
  if (tree && length > tree->headerLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return false;
  }
  if (tree && length > 0 && !buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return false;
  }
  return true;
}

ZEMTA_API int32_t BtreeRead(int32_t handle, void* buffer, uint32_t length) {
  if (!headerArgumentsFit(handle, buffer, length)) return -1;
  return runCall(handle, kFlagRead, [&](Tree& t) {
    uint32_t done = 0;
    if (length > 0 && !ZemtaReadFile(t.file, buffer, length, &done, 0, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
    if (done != length) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
    return 0;
  });
}

ZEMTA_API int32_t BtreeWrite(int32_t handle, const void* data, uint32_t length) {
  if (!headerArgumentsFit(handle, data, length)) return -1;
  return runCall(handle, kFlagWrite, [&](Tree& t) {
    // The header carries the clean and dirty marks: nodes first, and on
    // the disk first, so that a power cut never leaves a clean mark over an
    // index whose nodes did not all get there.
    t.writeBack();
    if (t.nodesUnsynced) {
      if (!ZemtaFlushFile(t.file)) BTREE_FAIL_LAST();
      t.nodesUnsynced = false;
    }
    uint32_t done = 0;
    if (length > 0 && !ZemtaWriteFile(t.file, data, length, &done, 0, ZEMTA_FILE_BEGIN)) BTREE_FAIL_LAST();
    if (done != length) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);
    return 0;
  });
}

ZEMTA_API int32_t BtreeEqu(int32_t handle, uint32_t* recordNumber, const void* key) {
  if (findTree(handle) && !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return runCall(handle, kFlagRead, [&](Tree& tree) { return searchEqual(tree, key, recordNumber); });
}

ZEMTA_API int32_t BtreeGrtr(int32_t handle, uint32_t* recordNumber, const void* key) {
  return rangeCall(handle, recordNumber, key, Range::kGreater);
}

ZEMTA_API int32_t BtreeGEqu(int32_t handle, uint32_t* recordNumber, const void* key) {
  return rangeCall(handle, recordNumber, key, Range::kGreaterEqual);
}

ZEMTA_API int32_t BtreeLess(int32_t handle, uint32_t* recordNumber, const void* key) {
  return rangeCall(handle, recordNumber, key, Range::kLess);
}

ZEMTA_API int32_t BtreeLEqu(int32_t handle, uint32_t* recordNumber, const void* key) {
  return rangeCall(handle, recordNumber, key, Range::kLessEqual);
}

ZEMTA_API int32_t BtreeNext(int32_t handle, uint32_t* recordNumber, void* keyBuffer) {
  return runCall(handle, kFlagRead, [&](Tree& tree) { return stepForward(tree, recordNumber, keyBuffer); });
}

ZEMTA_API int32_t BtreePrev(int32_t handle, uint32_t* recordNumber, void* keyBuffer) {
  return runCall(handle, kFlagRead, [&](Tree& tree) { return stepBack(tree, recordNumber, keyBuffer); });
}

ZEMTA_API int32_t BtreeGetCurKey(int32_t handle, uint32_t recordNumber, void* keyBuffer) {
  Tree* tree = findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (tree->cursorNode == kNone || tree->currentOffset != tree->cursorNode || recordNumber == 0xFFFFFFFFu ||
      !keyBuffer || tree->cursorPos >= Tree::count(tree->current.data()) ||
      Tree::recordOf(tree->entry(tree->current.data(), tree->cursorPos)) != recordNumber) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::memcpy(keyBuffer, Tree::keyOf(tree->entry(tree->current.data(), tree->cursorPos)), tree->keyLen);
  return 0;
}

ZEMTA_API int32_t BtreeChgRec(int32_t handle, uint32_t first, uint32_t last, uint32_t newFirst) {
  if (findTree(handle) && last < first) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return runCall(handle, kFlagRead | kFlagWrite, [&](Tree& tree) {
    tree.clearCursor();
    const uint32_t shift = newFirst - first;
    uint8_t* node = tree.work[0].data();
    // File order, not tree order: every node once.
    for (int64_t at = tree.firstNode(); at + tree.nodeSize <= tree.fileSize(); at += tree.nodeSize) {
      tree.readNode(static_cast<int32_t>(at), node);
      bool changed = false;
      for (uint32_t i = 0, n = Tree::count(node); i < n; ++i) {
        uint8_t* entry = tree.entry(node, i);
        uint32_t record = Tree::recordOf(entry);
        if (record >= first && record <= last) {
          put_u32le(entry, record + shift);
          changed = true;
        }
      }
      if (changed) tree.writeNode(static_cast<int32_t>(at), node, false);
    }
    return 0;
  });
}

ZEMTA_API int32_t BtreeCheck(int32_t handle, uint32_t* count, BtreeCheckFunc callback, void* data) {
  Tree* found = findTree(handle);
  if (found && found->keyLen > kMaxCheckedKey) {
    ZEMTA_REPORT(ZEMTA_ERR_MEMORY_RANGE);
    return -1;
  }
  if (count) *count = 0;
  return runCall(handle, kFlagRead, [&](Tree& tree) -> int32_t {
    int32_t result = 0;
    uint32_t entries = 0;
    int32_t rootMet = kNone;
    bool first = true;
    std::vector<uint8_t> previousKey(tree.keyLen, 0);
    // A walk longer than the file could hold is going round in circles.
    const int64_t limit = (tree.fileSize() - tree.firstNode()) / tree.nodeSize * tree.maxEntries();
    tree.clearCursor();
    for (;;) {
      uint32_t record = 0;
      int32_t stepped;
      try {
        stepped = stepForward(tree, &record, nullptr);
      } catch (const Failure& failure) {
        if (failure.code != ZEMTA_ERR_FILE_FORMAT) throw;
        result = 1;  // a link that leads nowhere: the tree is broken
        break;
      }
      if (stepped == 0) break;
      const uint8_t* node = tree.current.data();
      if (Tree::parent(node) == kNone && tree.cursorNode != rootMet) {
        if (rootMet != kNone) result = 1;
        rootMet = tree.cursorNode;
      }
      if (++entries > limit) {
        result = 1;
        break;
      }
      const uint8_t* entry = tree.entry(node, tree.cursorPos);
      // The first entry has nothing before it (with a compare function of
      // signed numbers it may well lie below a key of zero bytes).
      if (!first) {
        // Only keys out of order break the tree: among equal keys the record
        // numbers may stand in any order (renumbering leaves them so), and
        // searches still find every one of them.
        if (tree.compareKey(entry, previousKey.data()) < 0) result = 1;
      }
      first = false;
      std::memcpy(previousKey.data(), Tree::keyOf(entry), tree.keyLen);
      if (callback) {
        int32_t answer = callback(static_cast<uint32_t>(handle) & 0xFFFF, record, Tree::keyOf(entry), data);
        if (answer == -1) {
          if (count) *count = entries;
          return -1;
        }
        if (answer != 0) result = answer;
      }
    }
    if (entries > 0 && rootMet == kNone) result = 1;
    if (rootMet != kNone && rootMet != tree.root) result = 1;
    tree.clearCursor();
    if (count) *count = entries;
    return result;
  });
}

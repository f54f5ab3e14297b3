// The extended B-tree engine: handles, opening and closing, searches and the
// cursor, insertion and deletion, whole-tree walks and the dump.
//
// Format (all integers little-endian; n = order):
//
//   A tree has no file layout of its own: its root position lives in an
//   8-byte root slot at a position of the file that the caller chooses (0 in
//   the slot: the tree is not made yet), and its nodes stand wherever the
//   allocate callback put them, or at the end of the file.
//
//   node, nodeSize = 24 + 2n * (keyLen + 16) rounded up to a multiple of 512:
//   | offset        | size                 | field                                       |
//   | 0             | 2                    | u16 count of entries, 0 to 2n               |
//   | 2             | 6                    | zero                                        |
//   | 8             | 8                    | i64 position of the parent, -1 for the root |
//   | 16            | 8 * (2n + 1)         | i64 child positions, -1 in a leaf           |
//   | 24 + 16n      | (8 + keyLen) * 2n    | entries: u64 ID, then keyLen key bytes      |
//   | end of entries| rest                 | zero                                        |
//
//   Child i leads to the entries before entry i, child count to those after
//   the last. Entries are ordered by the compare function on the keys, then
//   by ID as unsigned 64-bit; the same key with the same ID stands once.
//   Every node but the root holds n to 2n entries.
//
// Handles: slot | serial << 16 over a table of 128 slots that grows by 128 up
// to 65,536; serial is a process-wide counter decremented before each
// creation (the first handle is slot | 0xFFFF0000). The object's check is the
// negated handle.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <utility>

#include "lib/container/disk/disk_journal.h"
#include "lib/container/trees/btreeex_internal.h"
#include "lib/core/report.h"
#include "lib/core/tree_call.h"
#include "lib/store/tables/file_access.h"
#include "platform/base/last_error.h"
#include "zemta/typed.h"

namespace zemta::btreeex {

namespace {

constexpr size_t kTableStep = 128;
constexpr size_t kTableLimit = 65536;
constexpr size_t kCacheLimit = 8192;  // nodes kept per open tree
constexpr int kMaxDepth = 64;

std::vector<std::unique_ptr<Tree>>& table() {
  static std::vector<std::unique_ptr<Tree>> slots;
  return slots;
}
uint32_t g_serial = 0;

uint32_t lastErrorCode() {
  uint32_t code = platform::lastError();
  return code != 0 ? code : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
}

}  // namespace

Tree* findTree(int32_t handle) {
  const uint32_t slot = static_cast<uint32_t>(handle) & 0xFFFF;
  auto& slots = table();
  if (slot >= slots.size() || !slots[slot]) return nullptr;
  Tree* tree = slots[slot].get();
  return tree->check == -handle && handle != 0 ? tree : nullptr;
}

void reportFailure(const Failure& failure) {
  if (failure.code != 0) ReportError(failure.line, failure.file, failure.code);
}

// --- file --------------------------------------------------------------------

int64_t Tree::fileSize() {
  if (sizeKnown < 0) {
    sizeKnown = fileSize64(file);
    if (sizeKnown < 0) BTREEEX_FAIL(lastErrorCode());
  }
  return sizeKnown;
}

void Tree::readBytes(int64_t position, void* data, uint32_t length) {
  uint32_t done = 0;
  if (!readFileAt(file, position, data, length, &done)) BTREEEX_FAIL(lastErrorCode());
  if (done != length) BTREEEX_FAIL(ZEMTA_ERR_FILE_SIZE);
}

void Tree::writeBytes(int64_t position, const void* data, uint32_t length) {
  if (!container::journalBeforeWrite(file, position, length)) BTREEEX_FAIL(lastErrorCode());
  uint32_t done = 0;
  if (!writeFileAt(file, position, data, length, &done)) BTREEEX_FAIL(lastErrorCode());
  if (done != length) BTREEEX_FAIL(ZEMTA_ERR_FILE_SIZE);
  if (sizeKnown >= 0 && position + length > sizeKnown) sizeKnown = position + length;
}

void Tree::readNode(int64_t position, uint8_t* node) {
  if (position < 0 || position + nodeSize > fileSize())
    BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
  auto hit = cache.find(position);
  if (hit != cache.end()) {
    std::memcpy(node, hit->second.data(), nodeSize);
    return;
  }
  readBytes(position, node, nodeSize);
  if (count(node) > maxEntries()) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
  if (cache.size() >= kCacheLimit) cache.clear();
  cache[position].assign(node, node + nodeSize);
}

void Tree::writeNode(int64_t position, const uint8_t* node) {
  if (position < 0) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
  writeBytes(position, node, nodeSize);
  if (cache.size() >= kCacheLimit) cache.clear();
  cache[position].assign(node, node + nodeSize);
}

void Tree::writeField(int64_t node, uint32_t field, int64_t value) {
  uint8_t bytes[8];
  put_i64le(bytes, value);
  writeBytes(node + field, bytes, 8);
  auto hit = cache.find(node);
  if (hit != cache.end()) std::memcpy(hit->second.data() + field, bytes, 8);
}

namespace {

void writeRootSlot(Tree& tree) {
  if (!(tree.flags & kFlagRootChanged)) return;
  uint8_t bytes[8];
  put_i64le(bytes, tree.root);
  tree.writeBytes(static_cast<int64_t>(tree.rootSlot), bytes, 8);
  tree.flags &= ~kFlagRootChanged;
}

void readRootSlot(Tree& tree) {
  uint8_t bytes[8];
  tree.readBytes(static_cast<int64_t>(tree.rootSlot), bytes, 8);
  tree.root = get_i64le(bytes);
}

// Forgets the file after writing a changed root (a failed write is ignored
// by the caller that asks so).
uint32_t forgetFile(Tree& tree, bool closeOwn) {
  uint32_t code = 0;
  try {
    writeRootSlot(tree);
  } catch (const Failure& failure) {
    code = failure.code;
  }
  if (closeOwn && !(tree.flags & kFlagBorrowedFile)) {
    if (!ZemtaCloseFile(tree.file) && code == 0) code = lastErrorCode();
  }
  if (!(tree.flags & kFlagBorrowedFile)) tree.clearCursor();
  tree.file = 0;
  tree.flags &= kFlagTemporary;
  tree.cache.clear();
  tree.sizeKnown = -1;
  return code;
}

// Closes the tree's file and, when it was the tree's own, every other tree
// that borrowed it.
uint32_t closeFile(Tree& tree) {
  const ZemtaFileHandle file = tree.file;
  const bool own = !(tree.flags & kFlagBorrowedFile) && tree.shared == -1;
  uint32_t code = forgetFile(tree, true);
  if (own) {
    for (auto& other : table())
      if (other && other.get() != &tree && other->file == file) forgetFile(*other, false);
  }
  return code;
}

}  // namespace

void openForCall(Tree& tree, uint32_t mode) {
  // Other trees of the file and the store append to it between calls, so
  // the size is learnt anew for each call.
  tree.sizeKnown = -1;
  if ((tree.flags & kFlagHeld) || tree.fileOpen()) return;
  if (tree.shared != -1) {
    Tree* owner = findTree(tree.shared);
    if (!owner) BTREEEX_FAIL(ZEMTA_ERR_BAD_INDEX_HANDLE);
    if (owner->fileOpen()) {
      tree.file = owner->file;
      tree.flags = (owner->flags & ~(kFlagHeld | kFlagHeldEx | kFlagRootChanged)) | kFlagBorrowedFile |
                   (tree.flags & kFlagRootChanged);
    }
  }
  if (!tree.fileOpen()) {
    if (tree.path.empty()) BTREEEX_FAIL(ZEMTA_ERR_FILE_ACCESS);
    uint32_t error = 0;
    ZemtaFileHandle file = BtreeExCreateFile(tree.path.c_str(), mode, &error, tree.owner, nullptr);
    if (file == 0) BTREEEX_FAIL(error != 0 ? error : lastErrorCode());
    tree.file = file;
    tree.flags = (mode & ~static_cast<uint32_t>(BTREEEX_MODE_NO_WAIT)) | (tree.flags & kFlagTemporary);
  }
  tree.sizeKnown = -1;
  if (tree.nodeSize != 0) readRootSlot(tree);
}

void closeAfterCall(Tree& tree) {
  if ((tree.flags & kFlagHeld) || !tree.fileOpen()) return;
  uint32_t code = closeFile(tree);
  if (code != 0) BTREEEX_FAIL(code);
}

void abandonCall(Tree& tree) {
  if ((tree.flags & kFlagHeld) || !tree.fileOpen()) return;
  closeFile(tree);
}

namespace {

template <typename Body>
int32_t runCall(int32_t handle, uint32_t mode, Body&& body) {
  return RunTreeCall<Failure>(findTree(handle), mode, std::forward<Body>(body));
}

// --- node edits --------------------------------------------------------------

// Puts entry e with its right-hand child at index at, shifting the rest right.
void insertAt(const Tree& tree, uint8_t* node, uint32_t at, const uint8_t* e, int64_t rightChild) {
  const uint32_t n = Tree::count(node);
  const uint32_t size = tree.entrySize();
  std::memmove(tree.entry(node, at + 1), tree.entry(node, at), size * (n - at));
  std::memcpy(tree.entry(node, at), e, size);
  for (uint32_t i = n + 1; i > at + 1; --i) Tree::setChild(node, i, Tree::child(node, i - 1));
  Tree::setChild(node, at + 1, rightChild);
  Tree::setCount(node, n + 1);
}

// Removes entry k and child k + 1; the freed slots become zero.
void removeAt(const Tree& tree, uint8_t* node, uint32_t k) {
  const uint32_t n = Tree::count(node);
  const uint32_t size = tree.entrySize();
  std::memmove(tree.entry(node, k), tree.entry(node, k + 1), size * (n - k - 1));
  std::memset(tree.entry(node, n - 1), 0, size);
  for (uint32_t i = k + 1; i < n; ++i) Tree::setChild(node, i, Tree::child(node, i + 1));
  Tree::setChild(node, n, 0);
  Tree::setCount(node, n - 1);
}

// Removes entry 0 and child 0 (the right rotation's donor side is the end;
// this is the left rotation's donor).
void removeFirst(const Tree& tree, uint8_t* node) {
  const int64_t second = Tree::child(node, 1);
  Tree::setChild(node, 0, second);
  removeAt(tree, node, 0);
}

// Space for a new node: the allocate callback's, else the end of the file.
int64_t allocateNode(Tree& tree) {
  if (tree.alloc) {
    uint64_t position = 0;
    int32_t answer = tree.alloc(&position, tree.nodeSize, tree.userData);
    if (answer == -1) BTREEEX_FAIL(0);
    if (answer != 0) {
      tree.cache.erase(static_cast<int64_t>(position));
      return static_cast<int64_t>(position);
    }
  }
  return tree.fileSize();
}

// Frees the node at f. With a free callback the store takes it; without,
// the file's last node moves into its place and the file is cut. Returns the
// old position of the node that moved, or kNone.
int64_t freeNode(Tree& tree, int64_t f) {
  tree.cache.erase(f);
  if (tree.release) {
    if (tree.release(static_cast<uint32_t>(f), static_cast<uint32_t>(static_cast<uint64_t>(f) >> 32), tree.nodeSize,
                     tree.userData) != 0)
      BTREEEX_FAIL(0);
    return kNone;
  }
  const int64_t m = tree.fileSize() - tree.nodeSize;
  if (f >= m) {
    if (!container::journalBeforeWrite(tree.file, m, 0) || !setFileSize64(tree.file, m))
      BTREEEX_FAIL(lastErrorCode());
    tree.sizeKnown = m;
    tree.cache.erase(m);
    return kNone;
  }
  uint8_t* moved = tree.buffer(4);
  tree.readNode(m, moved);
  const int64_t p = Tree::parent(moved);
  if (p == kNone) {
    tree.root = f;
    tree.flags |= kFlagRootChanged;
  } else {
    uint8_t* parentNode = tree.buffer(5);
    tree.readNode(p, parentNode);
    uint32_t slot = 0;
    const uint32_t n = Tree::count(parentNode);
    while (slot <= n && Tree::child(parentNode, slot) != m) ++slot;
    if (slot > n) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.writeField(p, kChildrenField + 8 * slot, f);
  }
  for (uint32_t i = 0, n = Tree::count(moved); i <= n; ++i) {
    int64_t c = Tree::child(moved, i);
    if (c != kNone) tree.writeField(c, kParentField, f);
  }
  tree.writeNode(f, moved);
  if (!container::journalBeforeWrite(tree.file, m, 0) || !setFileSize64(tree.file, m)) BTREEEX_FAIL(lastErrorCode());
  tree.sizeKnown = m;
  tree.cache.erase(m);
  return m;
}

void reparentChildren(Tree& tree, const uint8_t* node, uint32_t from, uint32_t to, int64_t parentPosition) {
  for (uint32_t i = from; i <= to; ++i) {
    int64_t c = Tree::child(node, i);
    if (c != kNone) tree.writeField(c, kParentField, parentPosition);
  }
}

// The given key of a change: for an indirect tree, the ID in front.
struct GivenKey {
  std::vector<uint8_t> bytes;
  const uint8_t* key = nullptr;
  GivenKey(const Tree& tree, uint64_t id, const void* k) {
    bytes.resize(8 + tree.keyLen);
    put_u64le(bytes.data(), id);
    std::memcpy(bytes.data() + 8, k, tree.keyLen);
    key = bytes.data() + 8;
  }
};

// First entry of node not less than (key, id); exact tells whether it is it.
uint32_t lowerBoundEntry(const Tree& tree, const uint8_t* node, const void* key, uint64_t id, bool* exact) {
  uint32_t lo = 0, hi = Tree::count(node);
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (tree.compareEntry(tree.entry(node, mid), key, id) < 0) lo = mid + 1;
    else hi = mid;
  }
  *exact = lo < Tree::count(node) && tree.compareEntry(tree.entry(node, lo), key, id) == 0;
  return lo;
}

void insertEntry(Tree& tree, uint64_t id, const void* keyArgument) {
  GivenKey given(tree, id, keyArgument);
  const uint32_t n = tree.order;
  const uint32_t size = tree.entrySize();
  std::vector<uint8_t> carry(size);
  put_u64le(carry.data(), id);
  std::memcpy(carry.data() + 8, keyArgument, tree.keyLen);
  int64_t link = kNone;

  uint8_t* node = tree.buffer(1);
  int64_t position = tree.root;
  uint32_t at = 0;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(position, node);
    bool exact = false;
    at = lowerBoundEntry(tree, node, given.key, id, &exact);
    if (exact) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    int64_t c = Tree::child(node, at);
    if (c == kNone) break;
    position = c;
  }

  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    if (Tree::count(node) < 2 * n) {
      insertAt(tree, node, at, carry.data(), link);
      tree.writeNode(position, node);
      return;
    }
    // Split: the 2n + 1 entries in order, the carry among them; the left
    // keeps the first n, entry n goes up, the right takes the last n.
    std::vector<int64_t> children(2 * n + 2);
    std::vector<uint8_t> entries(size * (2 * n + 1));
    for (uint32_t i = 0, j = 0; i <= 2 * n; ++i) {
      if (i == at) {
        std::memcpy(&entries[size * i], carry.data(), size);
      } else {
        std::memcpy(&entries[size * i], tree.entry(node, j), size);
        ++j;
      }
    }
    for (uint32_t i = 0, j = 0; i <= 2 * n + 1; ++i) {
      if (i == at + 1) children[i] = link;
      else children[i] = Tree::child(node, j++);
    }
    const int64_t parentPosition = Tree::parent(node);
    uint8_t* right = tree.buffer(3);
    std::memset(right, 0, tree.nodeSize);
    std::memset(node + kChildrenField, 0, tree.nodeSize - kChildrenField);
    Tree::setCount(node, n);
    Tree::setCount(right, n);
    for (uint32_t i = 0; i < n; ++i) {
      std::memcpy(tree.entry(node, i), &entries[size * i], size);
      std::memcpy(tree.entry(right, i), &entries[size * (n + 1 + i)], size);
    }
    for (uint32_t i = 0; i <= n; ++i) {
      Tree::setChild(node, i, children[i]);
      Tree::setChild(right, i, children[n + 1 + i]);
    }
    std::memcpy(carry.data(), &entries[size * n], size);

    const int64_t rightPosition = allocateNode(tree);
    int64_t newRoot = kNone;
    if (parentPosition == kNone) {
      // Reserve the new root's place before the halves are written, so
      // that the end of the file is not handed out twice.
      Tree::setParent(right, kNone);
      tree.writeNode(rightPosition, right);
      newRoot = allocateNode(tree);
      Tree::setParent(node, newRoot);
      Tree::setParent(right, newRoot);
    } else {
      Tree::setParent(right, parentPosition);
    }
    tree.writeNode(rightPosition, right);
    reparentChildren(tree, right, 0, n, rightPosition);
    tree.writeNode(position, node);
    link = rightPosition;

    if (parentPosition == kNone) {
      uint8_t* rootNode = tree.buffer(2);
      std::memset(rootNode, 0, tree.nodeSize);
      Tree::setCount(rootNode, 1);
      Tree::setParent(rootNode, kNone);
      Tree::setChild(rootNode, 0, position);
      Tree::setChild(rootNode, 1, rightPosition);
      std::memcpy(tree.entry(rootNode, 0), carry.data(), size);
      tree.writeNode(newRoot, rootNode);
      tree.root = newRoot;
      tree.flags |= kFlagRootChanged;
      return;
    }
    position = parentPosition;
    tree.readNode(position, node);
    bool exact = false;
    const uint8_t* carriedKey = carry.data() + 8;
    GivenKey carriedGiven(tree, Tree::idOf(carry.data()), carriedKey);
    at = lowerBoundEntry(tree, node, carriedGiven.key, Tree::idOf(carry.data()), &exact);
    if (exact) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
  }
}

// Brings node x (in buffer 1) back to at least n entries by rotating from a
// sibling or merging with it, going up the tree after each merge.
void fixNode(Tree& tree, int64_t x, bool afterMerge) {
  const uint32_t n = tree.order;
  const uint32_t size = tree.entrySize();
  uint8_t* X = tree.buffer(1);
  uint8_t* P = tree.buffer(2);
  uint8_t* S = tree.buffer(3);
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    if (Tree::count(X) >= n || Tree::parent(X) == kNone) {
      if (!afterMerge) tree.writeNode(x, X);
      return;
    }
    int64_t p = Tree::parent(X);
    tree.readNode(p, P);
    uint32_t k = 0;
    const uint32_t pc = Tree::count(P);
    while (k <= pc && Tree::child(P, k) != x) ++k;
    if (k > pc) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    int64_t freed;
    if (k > 0) {
      const int64_t s = Tree::child(P, k - 1);
      tree.readNode(s, S);
      const uint32_t sc = Tree::count(S);
      if (sc > n) {
        // Rotate right: the parent's separator comes down, S's last goes up.
        insertAt(tree, X, 0, tree.entry(P, k - 1), Tree::child(X, 0));
        Tree::setChild(X, 0, Tree::child(S, sc));
        std::memcpy(tree.entry(P, k - 1), tree.entry(S, sc - 1), size);
        const int64_t moved = Tree::child(S, sc);
        std::memset(tree.entry(S, sc - 1), 0, size);
        Tree::setChild(S, sc, 0);
        Tree::setCount(S, sc - 1);
        if (moved != kNone) tree.writeField(moved, kParentField, x);
        tree.writeNode(p, P);
        tree.writeNode(s, S);
        tree.writeNode(x, X);
        return;
      }
      // Merge X into S.
      const uint32_t xc = Tree::count(X);
      std::memcpy(tree.entry(S, sc), tree.entry(P, k - 1), size);
      for (uint32_t i = 0; i < xc; ++i) std::memcpy(tree.entry(S, sc + 1 + i), tree.entry(X, i), size);
      for (uint32_t i = 0; i <= xc; ++i) Tree::setChild(S, sc + 1 + i, Tree::child(X, i));
      Tree::setCount(S, sc + 1 + xc);
      reparentChildren(tree, S, sc + 1, sc + 1 + xc, s);
      removeAt(tree, P, k - 1);
      tree.writeNode(p, P);
      tree.writeNode(s, S);
      freed = x;
    } else {
      const int64_t s = Tree::child(P, 1);
      tree.readNode(s, S);
      const uint32_t sc = Tree::count(S);
      const uint32_t xc = Tree::count(X);
      if (sc > n) {
        // Rotate left.
        std::memcpy(tree.entry(X, xc), tree.entry(P, 0), size);
        const int64_t moved = Tree::child(S, 0);
        Tree::setChild(X, xc + 1, moved);
        Tree::setCount(X, xc + 1);
        std::memcpy(tree.entry(P, 0), tree.entry(S, 0), size);
        removeFirst(tree, S);
        if (moved != kNone) tree.writeField(moved, kParentField, x);
        tree.writeNode(p, P);
        tree.writeNode(s, S);
        tree.writeNode(x, X);
        return;
      }
      // Merge S into X.
      std::memcpy(tree.entry(X, xc), tree.entry(P, 0), size);
      for (uint32_t i = 0; i < sc; ++i) std::memcpy(tree.entry(X, xc + 1 + i), tree.entry(S, i), size);
      for (uint32_t i = 0; i <= sc; ++i) Tree::setChild(X, xc + 1 + i, Tree::child(S, i));
      Tree::setCount(X, xc + 1 + sc);
      reparentChildren(tree, X, xc + 1, xc + 1 + sc, x);
      removeAt(tree, P, 0);
      tree.writeNode(p, P);
      tree.writeNode(x, X);
      freed = s;
    }
    // The parent may be the node that moved into the freed place: find it
    // again wherever it now stands, with or without user data.
    const int64_t movedFrom = freeNode(tree, freed);
    if (movedFrom != kNone && movedFrom == p) p = freed;
    tree.readNode(p, X);
    x = p;
    if (Tree::parent(X) == kNone && Tree::count(X) == 0) {
      const int64_t newRoot = Tree::child(X, 0);
      tree.root = newRoot;
      tree.flags |= kFlagRootChanged;
      tree.writeField(newRoot, kParentField, kNone);
      const int64_t movedRoot = freeNode(tree, x);
      if (movedRoot != kNone && movedRoot == tree.root) tree.root = x;
      return;
    }
    afterMerge = true;
  }
}

bool deleteEntry(Tree& tree, uint64_t id, const void* keyArgument) {
  GivenKey given(tree, id, keyArgument);
  uint8_t* node = tree.buffer(1);
  int64_t position = tree.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(position, node);
    bool exact = false;
    uint32_t i = lowerBoundEntry(tree, node, given.key, id, &exact);
    if (exact) {
      const int64_t right = Tree::child(node, i + 1);
      if (right == kNone) {
        removeAt(tree, node, i);
        fixNode(tree, position, false);
        return true;
      }
      // Replace it by its successor, the first entry of the right subtree's
      // leftmost leaf, and take that one out of its leaf.
      uint8_t* leaf = tree.buffer(2);
      int64_t leafPosition = right;
      for (int d = 0;; ++d) {
        if (d > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
        tree.readNode(leafPosition, leaf);
        if (Tree::child(leaf, 0) == kNone) break;
        leafPosition = Tree::child(leaf, 0);
      }
      std::memcpy(tree.entry(node, i), tree.entry(leaf, 0), tree.entrySize());
      tree.writeNode(position, node);
      std::memcpy(node, leaf, tree.nodeSize);
      removeAt(tree, node, 0);
      fixNode(tree, leafPosition, false);
      return true;
    }
    const int64_t c = Tree::child(node, i);
    if (c == kNone) return false;
    position = c;
  }
}

// --- searches and the cursor -------------------------------------------------

int32_t cursorResult(Tree& tree, uint64_t* id, void* keyBuffer) {
  const uint8_t* e = tree.entry(tree.buffer(0), tree.cursorPos);
  if (id) *id = Tree::idOf(e);
  if (keyBuffer) std::memcpy(keyBuffer, Tree::keyOf(e), tree.keyLen);
  return 1;
}

enum class Search { kEqual, kGreater, kGreaterEqual, kLess, kLessEqual };

int32_t search(Tree& tree, Search kind, uint64_t* id, const void* keyArgument) {
  const uint8_t* key = static_cast<const uint8_t*>(keyArgument) + (tree.indirect() ? 8 : 0);
  uint8_t* node = tree.buffer(0);
  const bool forward = kind == Search::kEqual || kind == Search::kGreater || kind == Search::kGreaterEqual;
  // Greater / less-equal look past equal keys; the others stop before them.
  const bool pastEqual = kind == Search::kGreater || kind == Search::kLessEqual;
  int64_t candidateNode = kNone;
  uint32_t candidatePos = 0;
  int64_t position = tree.root;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(position, node);
    const uint32_t count = Tree::count(node);
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
      uint32_t mid = (lo + hi) / 2;
      int c = tree.compareKey(tree.entry(node, mid), key);
      if (c < 0 || (pastEqual && c == 0)) lo = mid + 1;
      else hi = mid;
    }
    if (forward && lo < count) {
      candidateNode = position;
      candidatePos = lo;
    } else if (!forward && lo > 0) {
      candidateNode = position;
      candidatePos = lo - 1;
    }
    const int64_t c = Tree::child(node, lo);
    if (c == kNone) break;
    position = c;
  }
  if (candidateNode == kNone) {
    tree.clearCursor();
    return 0;
  }
  if (candidateNode != position) tree.readNode(candidateNode, node);
  tree.cursorNode = candidateNode;
  tree.cursorPos = static_cast<uint16_t>(candidatePos);
  if (kind == Search::kEqual && tree.compareKey(tree.entry(node, candidatePos), key) != 0) {
    tree.clearCursor();
    return 0;
  }
  return cursorResult(tree, id, nullptr);
}

// Steps the cursor one entry on (forward) or back; from a cleared cursor to
// the first or last entry.
int32_t step(Tree& tree, bool forward, uint64_t* id, void* keyBuffer) {
  uint8_t* node = tree.buffer(0);
  auto descend = [&](int64_t position) {
    for (int depth = 0;; ++depth) {
      if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
      tree.readNode(position, node);
      const uint32_t count = Tree::count(node);
      const int64_t c = Tree::child(node, forward ? 0 : count);
      if (c == kNone) {
        tree.cursorNode = position;
        tree.cursorPos = static_cast<uint16_t>(forward ? 0 : count - 1);
        return count > 0;
      }
      position = c;
    }
  };
  if (tree.cursorNode == kNone) {
    if (!descend(tree.root)) {
      tree.clearCursor();
      return 0;
    }
    return cursorResult(tree, id, keyBuffer);
  }
  int64_t position = tree.cursorNode;
  uint32_t at = tree.cursorPos;
  tree.readNode(position, node);
  const int64_t inner = Tree::child(node, forward ? at + 1 : at);
  if (inner != kNone) {
    if (!descend(inner)) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    return cursorResult(tree, id, keyBuffer);
  }
  if (forward && at + 1 < Tree::count(node)) {
    tree.cursorPos = static_cast<uint16_t>(at + 1);
    return cursorResult(tree, id, keyBuffer);
  }
  if (!forward && at > 0) {
    tree.cursorPos = static_cast<uint16_t>(at - 1);
    return cursorResult(tree, id, keyBuffer);
  }
  // Climb until the node came from a child slot with an entry on that side.
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    const int64_t parent = Tree::parent(node);
    if (parent == kNone) {
      tree.clearCursor();
      return 0;
    }
    tree.readNode(parent, node);
    const uint32_t count = Tree::count(node);
    uint32_t slot = 0;
    while (slot <= count && Tree::child(node, slot) != position) ++slot;
    if (slot > count) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    position = parent;
    if (forward && slot < count) {
      tree.cursorNode = position;
      tree.cursorPos = static_cast<uint16_t>(slot);
      return cursorResult(tree, id, keyBuffer);
    }
    if (!forward && slot > 0) {
      tree.cursorNode = position;
      tree.cursorPos = static_cast<uint16_t>(slot - 1);
      return cursorResult(tree, id, keyBuffer);
    }
  }
}

// Depth-first walk: visit(position, node) for each node, children in order.
template <typename Visit>
void walk(Tree& tree, int64_t position, int depth, Visit&& visit) {
  if (depth > kMaxDepth) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
  std::vector<uint8_t> node(tree.nodeSize);
  tree.readNode(position, node.data());
  if (!visit(position, node.data())) return;
  for (uint32_t i = 0, n = Tree::count(node.data()); i <= n; ++i) {
    const int64_t c = Tree::child(node.data(), i);
    if (c != kNone) walk(tree, c, depth + 1, visit);
  }
}

std::string hex64(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08X%08X", static_cast<unsigned>(value >> 32), static_cast<unsigned>(value));
  return text;
}

}  // namespace
}  // namespace zemta::btreeex

using zemta::btreeex::Failure;
using zemta::btreeex::Tree;
namespace bx = zemta::btreeex;

namespace {

uint64_t join64(uint32_t low, uint32_t high) { return static_cast<uint64_t>(low) | (static_cast<uint64_t>(high) << 32); }

void releaseTree(std::unique_ptr<Tree>& slot) {
  Tree& tree = *slot;
  if (tree.fileOpen()) {
    tree.flags &= ~(bx::kFlagHeld | bx::kFlagHeldEx);
    bx::abandonCall(tree);
  }
  slot.reset();
}

void freeTableWhenEmpty() {
  auto& slots = bx::table();
  if (std::none_of(slots.begin(), slots.end(), [](const auto& s) { return s != nullptr; })) {
    slots.clear();
    slots.shrink_to_fit();
  }
}

int32_t searchCall(int32_t handle, bx::Search kind, uint64_t* id, const void* key) {
  if (!key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return bx::runCall(handle, bx::kFlagRead, [&](Tree& tree) { return bx::search(tree, kind, id, key); });
}

}  // namespace

ZEMTA_API int32_t BtreeExNew(void) {
  BtreeExDelete();
  try {
    bx::table().resize(bx::kTableStep);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return static_cast<int32_t>(bx::kTableStep);
}

ZEMTA_API void BtreeExDelete(void) {
  for (auto& slot : bx::table())
    if (slot) releaseTree(slot);
  bx::table().clear();
  bx::table().shrink_to_fit();
}

ZEMTA_API ZemtaFileHandle BtreeExCreateFile(const char* path, uint32_t mode, uint32_t* error, void* ownerWindow,
                                            const char* displayName) {
  uint32_t access = 0;
  if (mode & bx::kFlagRead) access |= ZEMTA_GENERIC_READ;
  if (mode & bx::kFlagWrite) access |= ZEMTA_GENERIC_WRITE | ZEMTA_GENERIC_READ;
  const uint32_t share = (mode & 3) == 1 ? ZEMTA_FILE_SHARE_READ : 0;
  const uint32_t disposition = (mode & bx::kFlagOpenAlways) ? ZEMTA_OPEN_ALWAYS : ZEMTA_OPEN_EXISTING;
  uint32_t attributes = 0x90000080u;
  if (mode & bx::kFlagTemporary) attributes = 0x10000100u;
  else if (mode & bx::kFlagNoWriteThrough) attributes = 0x10000080u;
  return ZemtaOpenFileWait(path, access, share, disposition, attributes, displayName, ownerWindow, error,
                           (mode & BTREEEX_MODE_NO_WAIT) ? 1 : 0);
}

ZEMTA_API int32_t BtreeExCreate(const char* path, uint32_t rootSlotLow, uint32_t rootSlotHigh, uint32_t order,
                                uint32_t keyType, uint32_t keyLen, void* ownerWindow, BtreeExCompareFunc compare,
                                int32_t temporary, void* userData, ZemtaFileHandle file, BtreeExSetupFunc setup) {
  const uint32_t nodeSize = bx::roundedNodeSize(order, keyLen);
  if ((path && std::strlen(path) >= 128) || order == 0 || keyLen == 0 || order > 0x7FFF || nodeSize == 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  auto& slots = bx::table();
  size_t slot = 0;
  while (slot < slots.size() && slots[slot]) ++slot;
  try {
    if (slot == slots.size()) {
      if (slots.size() >= bx::kTableLimit) throw std::bad_alloc();
      slots.resize(slots.size() + bx::kTableStep);
    }
    slots[slot] = std::make_unique<Tree>();
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  Tree& tree = *slots[slot];
  auto giveUp = [&]() {
    slots[slot].reset();
    freeTableWhenEmpty();
    return -1;
  };
  if (setup && setup(userData, &tree.alloc, &tree.release, &tree.shared) != 0) return giveUp();
  tree.entriesOffset = static_cast<uint16_t>(24 + 16 * order);
  if (path) tree.path = path;
  tree.rootSlot = join64(rootSlotLow, rootSlotHigh);
  tree.owner = ownerWindow;
  tree.userData = userData;
  tree.compare = compare;
  tree.order = static_cast<uint16_t>(order);
  tree.keyType = static_cast<uint16_t>(keyType);
  tree.keyLen = static_cast<uint16_t>(keyLen);
  if (temporary) tree.flags |= bx::kFlagTemporary;
  try {
    tree.buffers.assign(static_cast<size_t>(nodeSize) * 6, 0);
    if (file != 0) {
      tree.file = file;
      tree.flags = temporary ? 0x24003u : 0x20003u;
    } else {
      bx::openForCall(tree, temporary ? 0x1003u : 3u);
    }
    if (tree.fileSize() < static_cast<int64_t>(tree.rootSlot) + 8) BTREEEX_FAIL(ZEMTA_ERR_FILE_FORMAT);
    bx::readRootSlot(tree);
    tree.nodeSize = static_cast<uint16_t>(nodeSize);
    if (tree.root == 0) {
      int64_t position = bx::allocateNode(tree);
      uint8_t* node = tree.buffer(1);
      std::memset(node, 0, nodeSize);
      Tree::setParent(node, bx::kNone);
      Tree::setChild(node, 0, bx::kNone);
      tree.writeNode(position, node);
      tree.root = position;
      tree.flags |= bx::kFlagRootChanged;
      bx::writeRootSlot(tree);
    }
    if (!(tree.flags & bx::kFlagHeld)) bx::closeAfterCall(tree);
  } catch (const Failure& failure) {
    if (!(tree.flags & bx::kFlagHeld) && tree.fileOpen()) bx::abandonCall(tree);
    bx::reportFailure(failure);
    return giveUp();
  } catch (const std::bad_alloc&) {
    if (tree.fileOpen()) bx::abandonCall(tree);
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return giveUp();
  }
  tree.clearCursor();
  do {
    --bx::g_serial;
  } while ((bx::g_serial & 0xFFFF) == 0 && slot == 0);
  const int32_t handle = static_cast<int32_t>(static_cast<uint32_t>(slot) | (bx::g_serial << 16));
  tree.check = -handle;
  return handle;
}

ZEMTA_API int32_t BtreeExRelease(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  int32_t result = 0;
  if (tree->fileOpen()) {
    tree->flags &= ~(bx::kFlagHeld | bx::kFlagHeldEx);
    try {
      bx::closeAfterCall(*tree);
    } catch (const Failure& failure) {
      bx::reportFailure(failure);
      result = -1;
    }
  }
  bx::table()[static_cast<uint32_t>(handle) & 0xFFFF].reset();
  freeTableWhenEmpty();
  return result;
}

ZEMTA_API int32_t BtreeExOpen(int32_t handle, uint32_t mode) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  const uint32_t access = mode & 0xFFEFF;
  if (access < 1 || access > 3) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_MODE);
    return -1;
  }
  if (tree->flags & bx::kFlagHeld) return 0;
  try {
    bx::openForCall(*tree, mode);
  } catch (const Failure& failure) {
    bx::abandonCall(*tree);
    bx::reportFailure(failure);
    return -1;
  }
  tree->flags |= bx::kFlagHeld | (mode & 0xFFF00000u);
  return 0;
}

ZEMTA_API int32_t BtreeExClose(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (tree->flags & bx::kFlagHeldEx) return 0;
  tree->flags &= ~bx::kFlagHeld;
  try {
    bx::closeAfterCall(*tree);
  } catch (const Failure& failure) {
    bx::reportFailure(failure);
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t BtreeExOpenEx(int32_t handle, uint32_t mode) {
  if (BtreeExOpen(handle, mode) != 0) return -1;
  bx::findTree(handle)->flags |= bx::kFlagHeldEx;
  return 0;
}

ZEMTA_API int32_t BtreeExCloseEx(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  tree->flags &= ~bx::kFlagHeldEx;
  return BtreeExClose(handle);
}

ZEMTA_API int32_t BtreeExReOpen(int32_t handle) {
  return bx::runCall(handle, bx::kFlagRead, [](Tree&) { return 0; });
}

ZEMTA_API int32_t BtreeExFlush(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (!tree->fileOpen()) return 0;
  try {
    bx::writeRootSlot(*tree);
  } catch (const Failure&) {
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t BtreeExWriteRoot(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  try {
    bx::writeRootSlot(*tree);
  } catch (const Failure& failure) {
    bx::reportFailure(failure);
    return -1;
  }
  return 0;
}

ZEMTA_API uint32_t BtreeExGetField(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  return tree ? tree->nodeSize : 0;
}

ZEMTA_API int64_t BtreeExGetRoot(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  return tree ? tree->root : 0;
}

ZEMTA_API ZemtaFileHandle BtreeExGetHandle(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  return tree ? tree->file : 0;
}

ZEMTA_API int32_t BtreeExEqu(int32_t handle, uint64_t* id, const void* key) {
  return searchCall(handle, bx::Search::kEqual, id, key);
}
ZEMTA_API int32_t BtreeExGrtr(int32_t handle, uint64_t* id, const void* key) {
  return searchCall(handle, bx::Search::kGreater, id, key);
}
ZEMTA_API int32_t BtreeExGEqu(int32_t handle, uint64_t* id, const void* key) {
  return searchCall(handle, bx::Search::kGreaterEqual, id, key);
}
ZEMTA_API int32_t BtreeExLess(int32_t handle, uint64_t* id, const void* key) {
  return searchCall(handle, bx::Search::kLess, id, key);
}
ZEMTA_API int32_t BtreeExLEqu(int32_t handle, uint64_t* id, const void* key) {
  return searchCall(handle, bx::Search::kLessEqual, id, key);
}

ZEMTA_API int32_t BtreeExNext(int32_t handle, uint64_t* id, void* keyBuffer) {
  return bx::runCall(handle, bx::kFlagRead, [&](Tree& tree) { return bx::step(tree, true, id, keyBuffer); });
}

ZEMTA_API int32_t BtreeExPrev(int32_t handle, uint64_t* id, void* keyBuffer) {
  return bx::runCall(handle, bx::kFlagRead, [&](Tree& tree) { return bx::step(tree, false, id, keyBuffer); });
}

ZEMTA_API int32_t BtreeExGetCurKey(int32_t handle, uint32_t idLow, uint32_t idHigh, void* keyBuffer) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  const uint64_t id = join64(idLow, idHigh);
  if (!keyBuffer || id == ~0ull || tree->cursorNode == bx::kNone) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // The current buffer holds the cursor's node since the last search or step.
  const uint8_t* e = tree->entry(tree->buffer(0), tree->cursorPos);
  if (tree->cursorPos >= Tree::count(tree->buffer(0)) || Tree::idOf(e) != id) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::memcpy(keyBuffer, Tree::keyOf(e), tree->keyLen);
  return 0;
}

ZEMTA_API int32_t BtreeExSetCurPos(int32_t handle, uint32_t nodeLow, uint32_t nodeHigh, uint32_t index) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  tree->cursorNode = static_cast<int64_t>(join64(nodeLow, nodeHigh));
  tree->cursorPos = static_cast<uint16_t>(index);
  return 0;
}

ZEMTA_API int32_t BtreeExGetCurPos(int32_t handle, int64_t* node, uint16_t* index) {
  Tree* tree = bx::findTree(handle);
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (!node || !index) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  *node = tree->cursorNode;
  *index = tree->cursorPos;
  return 0;
}

ZEMTA_API int32_t BtreeExFindKey(int32_t handle, uint32_t idLow, uint32_t idHigh, void* keyBuffer, uint32_t keyLen) {
  Tree* tree = bx::findTree(handle);
  if (tree && (!keyBuffer || keyLen != tree->keyLen)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const uint64_t id = join64(idLow, idHigh);
  return bx::runCall(handle, 3, [&](Tree& t) {
    bool found = false;
    bx::walk(t, t.root, 0, [&](int64_t, const uint8_t* node) {
      for (uint32_t i = 0, n = Tree::count(node); i < n && !found; ++i) {
        if (Tree::idOf(t.entry(node, i)) == id) {
          std::memcpy(keyBuffer, Tree::keyOf(t.entry(node, i)), t.keyLen);
          found = true;
        }
      }
      return !found;
    });
    t.clearCursor();
    return found ? 1 : 0;
  });
}

ZEMTA_API int32_t BtreeExChgRecKey(int32_t handle, uint32_t firstLow, uint32_t firstHigh, uint32_t lastLow,
                                   uint32_t lastHigh, uint32_t newFirstLow, uint32_t newFirstHigh) {
  Tree* tree = bx::findTree(handle);
  const uint64_t first = join64(firstLow, firstHigh), last = join64(lastLow, lastHigh);
  const uint64_t newFirst = join64(newFirstLow, newFirstHigh);
  if (tree && tree->keyLen != 8) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return -1;
  }
  if (tree && first > last) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return bx::runCall(handle, 3, [&](Tree& t) {
    bx::walk(t, t.root, 0, [&](int64_t position, const uint8_t* node) {
      std::vector<uint8_t> copy(node, node + t.nodeSize);
      bool changed = false;
      for (uint32_t i = 0, n = Tree::count(node); i < n; ++i) {
        uint8_t* key = copy.data() + (t.entry(node, i) - node) + 8;
        const uint64_t k = bx::get_u64le(key);
        if (k >= first && k <= last) {
          bx::put_u64le(key, k - first + newFirst);
          changed = true;
        }
      }
      if (changed) t.writeNode(position, copy.data());
      return true;
    });
    t.clearCursor();
    return 0;
  });
}

ZEMTA_API int32_t BtreeExIns(int32_t handle, uint32_t idLow, uint32_t idHigh, const void* key) {
  if (!key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return bx::runCall(handle, 3, [&](Tree& tree) {
    tree.clearCursor();
    bx::insertEntry(tree, join64(idLow, idHigh), key);
    return 0;
  });
}

ZEMTA_API int32_t BtreeExDel(int32_t handle, uint32_t idLow, uint32_t idHigh, const void* key) {
  if (!key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  return bx::runCall(handle, 3, [&](Tree& tree) {
    tree.clearCursor();
    bx::deleteEntry(tree, join64(idLow, idHigh), key);
    return 0;
  });
}

ZEMTA_API int32_t BtreeExStructDump(int32_t handle, const char* dumpPath, const char* title) {
  return bx::runCall(handle, bx::kFlagRead, [&](Tree& tree) {
    tree.members = 0;
    ZemtaFileHandle dump = 0;
    if (dumpPath) {
      dump = ZemtaOpenFileWait(dumpPath, ZEMTA_GENERIC_READ | ZEMTA_GENERIC_WRITE, ZEMTA_FILE_SHARE_READ,
                               ZEMTA_OPEN_ALWAYS, ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, tree.owner, nullptr, 0);
      if (dump == 0) BTREEEX_FAIL(0);
    }
    auto append = [&](const std::string& text) {
      if (dump == 0) return;
      uint32_t done = 0;
      if (!ZemtaWriteFile(dump, text.data(), static_cast<uint32_t>(text.size()), &done, 0, ZEMTA_FILE_END) ||
          done != text.size()) {
        uint32_t code = bx::lastErrorCode();
        ZemtaCloseFile(dump);
        BTREEEX_FAIL(code);
      }
    };
    try {
      if (title) append(std::string(title) + "\r\n");
      std::vector<char> text(4096);
      bx::walk(tree, tree.root, 0, [&](int64_t position, const uint8_t* node) {
        const uint32_t n = Tree::count(node);
        tree.members += n;
        if (dump == 0) return true;
        char line[160];
        std::snprintf(line, sizeof line, "\r\nRec: %s, Mbr: %2u, Parent Rec: %s\r\n",
                      bx::hex64(static_cast<uint64_t>(position)).c_str(), n,
                      bx::hex64(static_cast<uint64_t>(Tree::parent(node))).c_str());
        append(line);
        for (uint32_t i = 0; i < n; ++i) {
          const uint8_t* e = tree.entry(node, i);
          std::snprintf(line, sizeof line, "Rec: %s, ID: %s, Key: ",
                        bx::hex64(static_cast<uint64_t>(Tree::child(node, i))).c_str(),
                        bx::hex64(Tree::idOf(e)).c_str());
          append(line);
          text[0] = 0;
          const uint8_t* value = Tree::keyOf(e);
          int32_t length = tree.keyLen;
          bool present = true;
          if (tree.keyType & BTREEEX_KEY_NULLABLE) {
            present = (value[0] & 1) != 0;
            ++value;
            --length;
          }
          if (present && TypeDataToStr(text.data(), static_cast<int32_t>(text.size()), tree.keyType & 0x1F, length,
                                       value, 0) < 0)
            text[0] = 0;
          append(text.data());
        }
        std::snprintf(line, sizeof line, "\r\nRec: %s\r\n", bx::hex64(static_cast<uint64_t>(Tree::child(node, n))).c_str());
        append(line);
        return true;
      });
      char total[64];
      std::snprintf(total, sizeof total, "\r\n\r\nTotal Member: %llu\r\n",
                    static_cast<unsigned long long>(tree.members));
      append(total);
    } catch (...) {
      if (dump != 0) ZemtaCloseFile(dump);
      throw;
    }
    if (dump != 0) ZemtaCloseFile(dump);
    return 0;
  });
}

// --- the check used by tests and the disk check ------------------------------

namespace zemta {

std::string BtreeExValidate(int32_t handle) {
  Tree* tree = bx::findTree(handle);
  if (!tree) return "bad handle";
  std::string problem;
  try {
    bx::openForCall(*tree, bx::kFlagRead);
    int leafDepth = -1;
    const uint32_t n = tree->order;
    std::vector<uint8_t> low, high;
    std::function<void(int64_t, int64_t, int, const uint8_t*, const uint8_t*)> visit =
        [&](int64_t position, int64_t parent, int depth, const uint8_t* lo, const uint8_t* hi) {
          if (!problem.empty()) return;
          if (depth > bx::kMaxDepth) {
            problem = "too deep";
            return;
          }
          std::vector<uint8_t> node(tree->nodeSize);
          tree->readNode(position, node.data());
          const uint32_t count = Tree::count(node.data());
          auto fail = [&](const char* what) { problem = bx::hex64(static_cast<uint64_t>(position)) + ": " + what; };
          if (Tree::parent(node.data()) != parent) return fail("parent field differs");
          if (parent != bx::kNone && (count < n || count > 2 * n)) return fail("count out of range");
          auto cmp = [&](const uint8_t* a, const uint8_t* b) {
            bx::GivenKey given(*tree, Tree::idOf(b), Tree::keyOf(b));
            return tree->compareEntry(a, given.key, Tree::idOf(b));
          };
          for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = tree->entry(node.data(), i);
            if (i > 0 && cmp(tree->entry(node.data(), i - 1), e) >= 0) return fail("entries out of order");
            if (lo && cmp(lo, e) >= 0) return fail("entry below its subtree");
            if (hi && cmp(e, hi) >= 0) return fail("entry above its subtree");
          }
          const bool leaf = Tree::child(node.data(), 0) == bx::kNone;
          if (leaf) {
            for (uint32_t i = 0; i <= count; ++i)
              if (Tree::child(node.data(), i) != bx::kNone) return fail("leaf with a child");
            if (leafDepth < 0) leafDepth = depth;
            if (leafDepth != depth) return fail("leaves at different depths");
            return;
          }
          for (uint32_t i = 0; i <= count; ++i) {
            const int64_t c = Tree::child(node.data(), i);
            if (c == bx::kNone) return fail("inner node with a missing child");
            visit(c, position, depth + 1, i == 0 ? lo : tree->entry(node.data(), i - 1),
                  i == count ? hi : tree->entry(node.data(), i));
          }
        };
    visit(tree->root, bx::kNone, 0, nullptr, nullptr);
    bx::closeAfterCall(*tree);
  } catch (const Failure& failure) {
    bx::abandonCall(*tree);
    if (problem.empty()) problem = "failure " + std::to_string(failure.code);
  }
  return problem;
}

}  // namespace zemta

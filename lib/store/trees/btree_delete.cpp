// Deletion from a B-tree index file (format in btree.cpp): an entry of an
// inner node is replaced by its in-order successor from a leaf; a node left
// with fewer than n entries borrows through its parent from a sibling that
// can spare one (the left sibling first) or merges with it. A node that falls
// free is filled at once with the file's last node and the file is cut, so
// the file never holds a free node.
#include "lib/store/trees/btree_internal.h"

namespace zemta::btree {
namespace {

// Node x (its bytes in xb, changed and not yet written) lost an entry.
void fixNode(Tree& tree, int32_t x, uint8_t* xb) {
  const uint32_t n = tree.order;
  const uint32_t entrySize = tree.entrySize();
  uint8_t* pb = tree.work[2].data();
  uint8_t* sb = tree.work[3].data();
  bool written = false;  // x is a parent reached after a merge: already in the file

  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    const uint32_t xc = Tree::count(xb);
    const int32_t p = Tree::parent(xb);
    // Enough entries, or the root (which may hold fewer): done.
    if (xc >= n || p == kNone) {
      if (!written) tree.writeNode(x, xb);
      return;
    }
    tree.readNode(p, pb);
    const uint32_t k = Tree::slotOf(pb, x);
    if (k == Tree::kNoSlot) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);

    int32_t freed;
    if (k > 0) {
      const int32_t s = Tree::child(pb, k - 1);
      tree.readNode(s, sb);
      const uint32_t sc = Tree::count(sb);
      if (sc > n) {
        // Rotate right: the separator comes down to the front of x, the left
        // sibling's last entry goes up in its place.
        std::memmove(tree.entry(xb, 1), tree.entry(xb, 0), xc * entrySize);
        std::memmove(xb + kChildrenField + 4, xb + kChildrenField, (xc + 1) * 4);
        std::memcpy(tree.entry(xb, 0), tree.entry(pb, k - 1), entrySize);
        const int32_t moved = Tree::child(sb, sc);
        Tree::setChild(xb, 0, moved);
        Tree::setCount(xb, xc + 1);
        std::memcpy(tree.entry(pb, k - 1), tree.entry(sb, sc - 1), entrySize);
        std::memset(tree.entry(sb, sc - 1), 0, entrySize);
        Tree::setChild(sb, sc, 0);
        Tree::setCount(sb, sc - 1);
        if (moved != kNone) tree.writeParentField(moved, x);
        tree.writeNode(p, pb);
        tree.writeNode(s, sb);
        tree.writeNode(x, xb);
        return;
      }
      // Merge x into its left sibling, with the separator between them.
      std::memcpy(tree.entry(sb, sc), tree.entry(pb, k - 1), entrySize);
      std::memcpy(tree.entry(sb, sc + 1), tree.entry(xb, 0), xc * entrySize);
      for (uint32_t j = 0; j <= xc; ++j) Tree::setChild(sb, sc + 1 + j, Tree::child(xb, j));
      Tree::setCount(sb, sc + 1 + xc);
      for (uint32_t j = 0; j <= xc; ++j) {
        int32_t down = Tree::child(xb, j);
        if (down != kNone) tree.writeParentField(down, s);
      }
      tree.removeAt(pb, k - 1);
      tree.writeNode(p, pb);
      tree.writeNode(s, sb);
      freed = x;
    } else {
      const int32_t s = Tree::child(pb, 1);
      if (s == kNone) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
      tree.readNode(s, sb);
      const uint32_t sc = Tree::count(sb);
      if (sc > n) {
        // Rotate left: the separator comes down to the end of x, the right
        // sibling's first entry goes up in its place.
        std::memcpy(tree.entry(xb, xc), tree.entry(pb, 0), entrySize);
        const int32_t moved = Tree::child(sb, 0);
        Tree::setChild(xb, xc + 1, moved);
        Tree::setCount(xb, xc + 1);
        std::memcpy(tree.entry(pb, 0), tree.entry(sb, 0), entrySize);
        Tree::setChild(sb, 0, Tree::child(sb, 1));
        tree.removeAt(sb, 0);
        if (moved != kNone) tree.writeParentField(moved, x);
        tree.writeNode(p, pb);
        tree.writeNode(s, sb);
        tree.writeNode(x, xb);
        return;
      }
      // Merge the right sibling into x, with the separator between them.
      std::memcpy(tree.entry(xb, xc), tree.entry(pb, 0), entrySize);
      std::memcpy(tree.entry(xb, xc + 1), tree.entry(sb, 0), sc * entrySize);
      for (uint32_t j = 0; j <= sc; ++j) Tree::setChild(xb, xc + 1 + j, Tree::child(sb, j));
      Tree::setCount(xb, xc + 1 + sc);
      for (uint32_t j = 0; j <= sc; ++j) {
        int32_t down = Tree::child(sb, j);
        if (down != kNone) tree.writeParentField(down, x);
      }
      tree.removeAt(pb, 0);
      tree.writeNode(p, pb);
      tree.writeNode(x, xb);
      freed = s;
    }

    // The parent lost an entry. Freeing may have moved it into the freed
    // node's place.
    int32_t parentAt = p;
    if (freeNode(tree, freed) == p) parentAt = freed;
    tree.readNode(parentAt, xb);
    x = parentAt;
    written = true;
    if (Tree::parent(xb) == kNone && Tree::count(xb) == 0) {
      // An empty root: its only child becomes the root.
      const int32_t newRoot = Tree::child(xb, 0);
      tree.root = newRoot;
      tree.flags |= kFlagRootChanged;
      tree.writeParentField(newRoot, kNone);
      freeNode(tree, x);
      return;
    }
    if (Tree::count(xb) >= n) return;
  }
}

}  // namespace

int32_t freeNode(Tree& tree, int32_t f) {
  const int64_t lastAt = tree.fileSize() - tree.nodeSize;
  if (f >= lastAt) {
    tree.cutFile(static_cast<int32_t>(lastAt));
    return kNone;
  }
  const int32_t m = static_cast<int32_t>(lastAt);
  uint8_t* mb = tree.work[4].data();
  uint8_t* parentOfM = tree.work[5].data();
  tree.readNode(m, mb);
  if (m == tree.root) {
    tree.root = f;
    tree.flags |= kFlagRootChanged;
  } else {
    const int32_t up = Tree::parent(mb);
    tree.readNode(up, parentOfM);
    const uint32_t slot = Tree::slotOf(parentOfM, m);
    if (slot == Tree::kNoSlot) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.writeChildField(up, slot, f);
  }
  for (uint32_t j = 0, count = Tree::count(mb); j <= count; ++j) {
    int32_t down = Tree::child(mb, j);
    if (down != kNone) tree.writeParentField(down, f);
  }
  tree.writeNode(f, mb);
  tree.cutFile(m);
  if (tree.cursorNode == m) tree.cursorNode = f;
  return m;
}

bool deleteEntry(Tree& tree, uint32_t record, const void* key) {
  uint8_t* node = tree.work[0].data();
  uint8_t* leaf = tree.work[1].data();
  int32_t at = tree.root;
  uint32_t i;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(at, node);
    bool exact;
    i = tree.lowerBoundEntry(node, key, record, &exact);
    tree.cursorNode = at;
    tree.cursorPos = static_cast<uint16_t>(i);
    if (exact) break;
    int32_t down = Tree::child(node, i);
    if (down == kNone) {
      tree.clearCursor();
      return false;
    }
    at = down;
  }
  // The cursor stays where the entry stood; the current buffer no longer
  // holds its node.
  tree.currentOffset = kNone;

  int32_t successor = Tree::child(node, i + 1);
  if (successor == kNone) {
    tree.removeAt(node, i);
    fixNode(tree, at, node);
    return true;
  }
  // An inner entry: its in-order successor (the first entry of the leftmost
  // leaf to its right) takes its place and leaves that leaf.
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(successor, leaf);
    int32_t down = Tree::child(leaf, 0);
    if (down == kNone) break;
    successor = down;
  }
  if (Tree::count(leaf) == 0) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  std::memcpy(tree.entry(node, i), tree.entry(leaf, 0), tree.entrySize());
  tree.writeNode(at, node);
  tree.removeAt(leaf, 0);
  fixNode(tree, successor, leaf);
  return true;
}

}  // namespace zemta::btree

using namespace zemta::btree;

ZEMTA_API int32_t BtreeDel(int32_t handle, uint32_t recordNumber, const void* key) {
  if (findTree(handle) && !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return runCall(handle, kFlagRead | kFlagWrite, [&](Tree& tree) {
    deleteEntry(tree, recordNumber, key);
    return 0;
  });
}

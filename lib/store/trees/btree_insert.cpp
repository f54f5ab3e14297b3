// Insertion into a B-tree index file (format in btree.cpp): the new entry
// goes into its leaf; a full node splits into two halves of n entries and
// carries its middle entry up to the parent, and a split root gets a new root
// above it. New nodes are appended at the end of the file.
#include "lib/store/trees/btree_internal.h"

namespace zemta::btree {

void insertEntry(Tree& tree, uint32_t record, const void* key) {
  const uint32_t n = tree.order;
  const uint32_t entrySize = tree.entrySize();
  uint8_t* node = tree.work[0].data();
  uint8_t* right = tree.work[1].data();
  uint8_t* newRoot = tree.work[2].data();
  uint8_t* carry = tree.carry.data();              // the entry that moves up
  uint8_t* nextCarry = tree.carry.data() + entrySize;
  put_u32le(carry, record);
  std::memcpy(carry + 4, key, tree.keyLen);
  int32_t link = kNone;  // the node to the right of the carried entry
  tree.clearCursor();

  // Down to the leaf; the same (key, record number) anywhere is refused
  // before anything is written.
  int32_t at = tree.root;
  uint32_t i;
  int depth = 0;
  for (;; ++depth) {
    if (depth > kMaxDepth) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    tree.readNode(at, node);
    bool exact;
    i = tree.lowerBoundEntry(node, key, record, &exact);
    if (exact) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
    int32_t down = Tree::child(node, i);
    if (down == kNone) break;
    at = down;
  }
  // Room for a split on every level and a new root, so that a file at its
  // 2 GB limit refuses the entry instead of breaking half-way.
  if (tree.fileSize() + static_cast<int64_t>(depth + 2) * tree.nodeSize > 0x7FFFFFFF) BTREE_FAIL(ZEMTA_ERR_FILE_SIZE);

  for (;;) {
    if (Tree::count(node) < 2 * n) {
      tree.insertAt(node, i, carry, link);
      tree.writeNode(at, node);
      return;
    }

    // Split the full node around the carry's place i.
    std::memset(right, 0, tree.nodeSize);
    if (i <= n) {
      // Right: entries n to 2n-1 with the children after them; the carry
      // goes into the left half, whose entry n (the carry itself when i = n)
      // moves up.
      std::memcpy(tree.entry(right, 0), tree.entry(node, n), n * entrySize);
      for (uint32_t j = 1; j <= n; ++j) Tree::setChild(right, j, Tree::child(node, n + j));
      Tree::setCount(right, n);
      Tree::setCount(node, n);
      tree.insertAt(node, i, carry, link);
      std::memcpy(nextCarry, tree.entry(node, n), entrySize);
      Tree::setChild(right, 0, Tree::child(node, n + 1));
    } else {
      // Right: entries n+1 to 2n-1 and the carry; entry n moves up.
      std::memcpy(tree.entry(right, 0), tree.entry(node, n + 1), (n - 1) * entrySize);
      for (uint32_t j = 1; j < n; ++j) Tree::setChild(right, j, Tree::child(node, n + 1 + j));
      Tree::setChild(right, 0, Tree::child(node, n + 1));
      Tree::setCount(right, n - 1);
      tree.insertAt(right, i - n - 1, carry, link);
      std::memcpy(nextCarry, tree.entry(node, n), entrySize);
    }
    // The left half keeps entries 0 to n-1; what it gave away becomes zero.
    Tree::setCount(node, n);
    std::memset(tree.entry(node, n), 0, n * entrySize);
    std::memset(node + kChildrenField + 4 * (n + 1), 0, 4 * n);
    std::memcpy(carry, nextCarry, entrySize);

    const int32_t up = Tree::parent(node);
    Tree::setParent(right, up);
    const int32_t rightAt = tree.appendNode(right);
    for (uint32_t j = 0, count = Tree::count(right); j <= count; ++j) {
      int32_t down = Tree::child(right, j);
      if (down != kNone) tree.writeParentField(down, rightAt);
    }
    link = rightAt;

    if (up == kNone) {
      // The root split: a new root above the two halves.
      std::memset(newRoot, 0, tree.nodeSize);
      Tree::setCount(newRoot, 1);
      Tree::setParent(newRoot, kNone);
      Tree::setChild(newRoot, 0, at);
      Tree::setChild(newRoot, 1, link);
      std::memcpy(tree.entry(newRoot, 0), carry, entrySize);
      const int32_t rootAt = tree.appendNode(newRoot);
      Tree::setParent(node, rootAt);
      tree.writeNode(at, node);
      tree.writeParentField(rightAt, rootAt);
      tree.root = rootAt;
      tree.flags |= kFlagRootChanged;
      return;
    }
    tree.writeNode(at, node);

    at = up;
    tree.readNode(at, node);
    bool exact;
    i = tree.lowerBoundEntry(node, Tree::keyOf(carry), Tree::recordOf(carry), &exact);
    if (exact) BTREE_FAIL(ZEMTA_ERR_FILE_FORMAT);
  }
}

}  // namespace zemta::btree

using namespace zemta::btree;

ZEMTA_API int32_t BtreeIns(int32_t handle, uint32_t recordNumber, const void* key) {
  if (findTree(handle) && !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  return runCall(handle, kFlagRead | kFlagWrite, [&](Tree& tree) {
    insertEntry(tree, recordNumber, key);
    return 0;
  });
}

// One call of a B-tree engine on the tree behind a handle. Both engines (the
// record files' and the container store's) open a tree's file only around a
// call, throw their Failure from deep inside an edit, and report it once the
// file is closed again, so that an error box that waits for the user does not
// keep the file from other processes.
//
// The engine's namespace gives, found by argument lookup on its Tree and
// Failure: openForCall(Tree&, mode), closeAfterCall(Tree&) (may throw),
// abandonCall(Tree&) (never throws) and reportFailure(const Failure&).
#pragma once

#include <cstdint>
#include <new>

#include "lib/core/report.h"
#include "zemta/errors.h"

namespace zemta {

// Runs body(tree) with the file open and answers its result; -1 after the
// report when the handle found no tree (null), the file could not be opened,
// or body or the close failed.
template <typename Failure, typename Tree, typename Body>
int32_t RunTreeCall(Tree* tree, uint32_t mode, Body&& body) {
  if (!tree) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  try {
    openForCall(*tree, mode);
    const int32_t result = body(*tree);
    closeAfterCall(*tree);
    return result;
  } catch (const Failure& failure) {
    abandonCall(*tree);
    reportFailure(failure);
  } catch (const std::bad_alloc&) {
    abandonCall(*tree);
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
  }
  return -1;
}

}  // namespace zemta

// How the store tells whoever shows its data that something changed under
// them. The store knows nothing of who listens: the record views and print
// jobs register one listener here as they come into use, and the store calls
// it when a table's record count changes, when a project closes and when a
// refresh finds a record-buffer set changed under its owner.
#pragma once

#include <cstdint>
#include <functional>

namespace zemta::store {

struct ChangeListener {
  // A table's record count changed (timer: non-zero when the refresh timer
  // found it).
  std::function<void(uint32_t table, int32_t timer)> tableResized;
  // The project is closing: let go of everything bound to it. false when one
  // of them could not be let go.
  std::function<bool(uint32_t project)> projectClosing;
  // A refresh found records of a record-buffer set changed under its owner
  // (the view it was opened for).
  std::function<void(uint32_t owner)> bufferSetChanged;
};

// Installs the listener and returns the one it replaces.
ChangeListener setChangeListener(ChangeListener listener);

// What the store calls; each does nothing (and answers true) without a listener.
void tellTableResized(uint32_t table, int32_t timer);
bool tellProjectClosing(uint32_t project);
void tellBufferSetChanged(uint32_t owner);

}  // namespace zemta::store

// The library's application object: one per process, constructed when the
// library is loaded, destroyed when it is unloaded.
//
// On load it installs the library's keyboard and mouse hooks. They are
// registered with the window framework's application-wide input filter,
// which needs no application object of its own to accept them: the hooks
// start seeing events when the user interface starts (the first window or
// platform::ui::ensureApplication), whichever comes after the load. On unload
// it removes the hooks, frees the accelerator table and releases the ODBC
// environment made for SQL Server enumeration.
#pragma once

#include <cstdint>

namespace zemta {

// Colours of the library's windows, as red, green and blue bytes.
struct LibPalette {
  uint8_t buttonFace[3];
  uint8_t appWorkspace[3];
};

class CZEMTAApp {
 public:
  CZEMTAApp();
  ~CZEMTAApp();
  CZEMTAApp(const CZEMTAApp&) = delete;
  CZEMTAApp& operator=(const CZEMTAApp&) = delete;

  const LibPalette& palette() const { return palette_; }

 private:
  LibPalette palette_;
};

// The process's application object (constructed at load).
CZEMTAApp& theApp();

// The keyboard hook's side (keys.cpp): installed at load, removed at unload.
void installInputHooks();
void removeInputHooks();

}  // namespace zemta

#include "lib/core/zemta_app.h"

#include "platform/base/sql_browse.h"

namespace zemta {

namespace {
// Constructed when the library is loaded (static initialisation of
// libzemta.so, or of a program linking the library's objects).
CZEMTAApp g_app;
}  // namespace

CZEMTAApp& theApp() { return g_app; }

CZEMTAApp::CZEMTAApp() {
  // Button face and application workspace of the standard colour scheme.
  palette_ = LibPalette{{0xF0, 0xF0, 0xF0}, {0xAB, 0xAB, 0xAB}};
  installInputHooks();
}

CZEMTAApp::~CZEMTAApp() {
  removeInputHooks();
  platform::releaseSqlBrowseEnvironment();
}

}  // namespace zemta

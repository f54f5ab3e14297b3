// The application object: made once, it owns the engine, the main frame and
// the serial ports that start-up makes (app_startup.cpp); the sales list's
// texts are in line_columns.cpp.
#include "app/shell/app/reg_app.h"

#include "app/register/engine/reg_com.h"
#include "app/shell/frames/main_frame.h"
#include "quorex/serial.h"

namespace varnex::shell {

namespace {
CREGApp* g_instance = nullptr;
}

CREGApp::CREGApp() {
  if (!g_instance) g_instance = this;
}

CREGApp::~CREGApp() {
  ExitInstance();
  if (g_instance == this) g_instance = nullptr;
}

CREGApp* CREGApp::Instance() { return g_instance; }

}  // namespace varnex::shell

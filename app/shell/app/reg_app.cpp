// The application object: made once, it owns the engine, the main frame and
// the serial ports that start-up makes (app_startup.cpp); the sales list's
// texts are in line_columns.cpp.
#include "app/shell/app/reg_app.h"

#include "app/register/engine/reg_com.h"
#include "app/shell/display/sorted_record_list.h"
#include "app/shell/frames/main_frame.h"
#include "quorex/serial.h"

namespace varnex::shell {

namespace {
CREGApp* g_instance = nullptr;
}

CREGApp::CREGApp() {
  if (!g_instance) {
    g_instance = this;
    m_saleDisplay.app = this;
    reg::AddSaleDisplay(&m_saleDisplay);
  }
}

CREGApp::~CREGApp() {
  ExitInstance();
  reg::RemoveSaleDisplay(&m_saleDisplay);
  if (g_instance == this) g_instance = nullptr;
}

CREGApp* CREGApp::Instance() { return g_instance; }

}  // namespace varnex::shell

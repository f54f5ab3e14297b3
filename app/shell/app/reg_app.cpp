// The application object. Its start-up, settings and devices come with the
// shell; the sales list's texts are in line_columns.cpp.
#include "app/shell/app/reg_app.h"

namespace varnex::shell {

CREGApp::CREGApp() = default;

CREGApp::~CREGApp() = default;

}  // namespace varnex::shell

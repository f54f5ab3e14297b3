// The register's menus, accelerators, dialog bars, dialogs and strings.
#pragma once

namespace varnex {

// Loads them into the window framework (once); false on a syntax error.
bool LoadVarnexResources();

}  // namespace varnex

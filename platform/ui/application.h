// Whether this process runs the window framework at all: a tool or service
// that only reads and writes files has no application object and no loop.
#pragma once

namespace platform::ui {

bool hasApplication();

// Whether windows can be shown at all: a display (X11 or Wayland) is named in
// the environment, or a platform is chosen explicitly (QT_QPA_PLATFORM, the
// offscreen one of the tests). Without one, making the application object
// would abort the process.
bool displayAvailable();

}  // namespace platform::ui

// Whether this process runs the window framework at all: a tool or service
// that only reads and writes files has no application object and no loop.
#pragma once

namespace platform::ui {

bool hasApplication();

}  // namespace platform::ui

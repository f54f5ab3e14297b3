#include "platform/ui/application.h"

#include <QCoreApplication>

#include <cstdlib>

namespace platform::ui {

bool hasApplication() { return QCoreApplication::instance() != nullptr; }

bool displayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* value = std::getenv(name); value && *value) return true;
  return false;
}

}  // namespace platform::ui

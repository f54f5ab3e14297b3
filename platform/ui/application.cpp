#include "platform/ui/application.h"

#include <QCoreApplication>

namespace platform::ui {

bool hasApplication() { return QCoreApplication::instance() != nullptr; }

}  // namespace platform::ui

// What the Ifs front end's other files share with it.
#pragma once

#include "platform/ui/dialog.h"
#include "zemta/fileex.h"

namespace zemta::container {

// The local disk the Ifs calls work on; null when they go to the remote
// file service.
FileExDiskHandle ifsAttachedDisk();

// The progress dialog of checks, backups and roll-backs (20726): the step's
// title in text control 21886 above the bar 21884.
platform::ui::DialogTemplate progressTemplate();
inline constexpr int32_t kProgressTextId = 21886;
inline constexpr int32_t kProgressBarId = 21884;

}  // namespace zemta::container

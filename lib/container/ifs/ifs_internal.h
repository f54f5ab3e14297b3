// What the Ifs front end's other files share with it.
#pragma once

#include "zemta/fileex.h"

namespace zemta::container {

// The local disk the Ifs calls work on; null when they go to the remote
// file service.
FileExDiskHandle ifsAttachedDisk();

}  // namespace zemta::container

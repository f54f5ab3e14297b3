// Combined files: several files, named by paths relative to a base folder,
// packed into one file and unpacked again (the project's backups, and the
// register's restore of its local data at start-up).
#pragma once

#include "zemta/export.h"

// Packs count files (names relative to baseFolder; null: the working folder)
// into outputPath, created or truncated. 0, or -1. A name that is empty,
// absolute, or leads out of the base folder fails the call before anything is
// written.
ZEMTA_API int32_t CombineFiles(int32_t count, const char* const* names, const char* outputPath,
                               const char* baseFolder);
// Unpacks combinedPath into baseFolder (null: the working folder). The whole
// file is checked first, and its members are written to a temporary folder
// and moved into place only when every one of them is whole: on any failure
// (a damaged or cut file, a member name leading out of the base folder) the
// target is left as it was. The number of members written (at least 1), or -1.
ZEMTA_API int32_t ApartFile(const char* combinedPath, const char* baseFolder);

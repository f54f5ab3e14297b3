// Carrying a project's stored data over to the field layouts of a new
// catalog (a new version of the application): every table whose fields
// differ is rewritten record by record, fields matched by name, and the
// forms' items follow their fields when asked.
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"

// Rewrites the tables of the project whose layout differs in the catalog at
// newCatalogPath, and with updateForms the record offsets of the forms'
// items. Every new file is written beside the old one first; then the old
// index files go, the new files and the new catalog take the old names, so
// the project afterwards opens from its own catalog in the new layout. A
// failure or a stop before the switch leaves the project as it was; a stop
// during the switch is finished by the next FileProjOpen. The number of
// tables rewritten (0 when none differs), with the project closed; -1 on
// failure, the project still open unless the switch had begun.
ZEMTA_API int32_t FileProjDBFldChange(FileProjHandle project, const char* newCatalogPath, int32_t updateForms);

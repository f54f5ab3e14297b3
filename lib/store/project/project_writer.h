// The project maker: writes the catalog of a project definition and creates
// its empty tables and index files.
#pragma once

#include <string>

#include "lib/store/project/project_definition.h"

namespace zemta::fileproj {

// The catalog's bytes (header and records) for a definition.
std::string catalogBytes(const ProjectDefinition& definition);

// Writes the catalog at catalogPath (which must not exist yet), makes the
// project's folders and creates every table and index file (a table of the
// local data folder under the local data path when one is set). False with a
// message; a catalog written before a later step failed is left for the
// caller to inspect.
bool makeProject(const ProjectDefinition& definition, const std::string& catalogPath, std::string& error);

}  // namespace zemta::fileproj

// mkproject: makes a fresh project (catalog, empty tables and index files)
// from a project definition.
//
//   mkproject <definition> <catalog path> [<local data folder>]
//
// The catalog must not exist yet; the folders it names are made.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: mkproject <definition> <catalog path> [<local data folder>]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mkproject: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  zemta::fileproj::ProjectDefinition definition;
  std::string error;
  if (!zemta::fileproj::parseProjectDefinition(text, definition, error)) {
    std::fprintf(stderr, "mkproject: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  ZemtaEnableLastErrorMessage(0);
  if (argc == 4 && FileSetLocPath(argv[3]) != 0) {
    std::fprintf(stderr, "mkproject: local data folder too long\n");
    return 1;
  }
  if (!zemta::fileproj::makeProject(definition, argv[2], error)) {
    std::fprintf(stderr, "mkproject: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %zu tables\n", argv[2], definition.tables.size());
  return 0;
}

// Unpacking a combined file with a say over its members, for the library's
// own callers (the project restore takes only its own tables and indexes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zemta {

// Where a member of a combined file goes: given the name the file stores and
// that name with "." and ".." steps resolved ('\' between folders), false
// refuses the member (and so the whole file); else folder (the base folder
// on entry) may be set to another folder to unpack it under.
using MemberPlace = std::function<bool(const std::string& stored, const std::string& name, std::string& folder)>;

// As ApartFile, but place has a say over every member before anything is
// written: a refused member refuses the whole file (0x20000002). A null place
// takes every member under the base folder.
int32_t apartFileOf(const char* combinedPath, const char* baseFolder, const MemberPlace& place);

// One file to pack: the name it gets in the combined file (relative, as
// CombineFiles takes it) and the file's own path.
struct CombineMember {
  std::string name;
  std::string path;
};

// As CombineFiles, with each member read from its own path.
int32_t combineFilesOf(const std::vector<CombineMember>& members, const char* outputPath);

// The resolved name apartFileOf gives place for a member stored under this name:
// "." and ".." steps resolved ("./A.DBF" is "A.DBF"); empty for a name that
// leaves the base folder or names no file.
std::string memberNameOf(std::string_view name);

}  // namespace zemta

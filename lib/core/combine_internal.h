// Unpacking a combined file with a say over its members, for the library's
// own callers (the project restore takes only its own tables and indexes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zemta {

// As ApartFile, but a member whose name (relative to the base folder, '\'
// between folders) allowed refuses makes the whole file refused before anything is
// written (0x20000002). A null allowed takes every member.
int32_t apartFileOf(const char* combinedPath, const char* baseFolder,
                    const std::function<bool(const std::string&)>& allowed);

// The name apartFileOf gives allowed for a member stored under this name:
// "." and ".." steps resolved ("./A.DBF" is "A.DBF"); empty for a name that
// leaves the base folder or names no file.
std::string memberNameOf(std::string_view name);

}  // namespace zemta

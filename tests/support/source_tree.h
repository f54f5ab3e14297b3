// Where the tree's own files (resources, scripts) are, for tests that read
// them. It comes from the build rather than from __FILE__, whose form depends
// on how the compiler was called (a compiler cache may make it relative).
#pragma once

#include <string>

namespace testing_support {

// The absolute path of the source tree's top folder, without a trailing slash.
const std::string& sourceTree();

}  // namespace testing_support

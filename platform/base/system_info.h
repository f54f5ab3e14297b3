// Names of the machine and the user the program runs as.
#pragma once

#include <string>

namespace platform {

// The machine's host name; empty (last error set) when it cannot be read.
std::string hostName();
// The name of the user the process runs as; empty when unknown.
std::string userName();

}  // namespace platform

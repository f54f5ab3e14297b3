// Starting another program without waiting for it: posix_spawn, in a new
// process group (so a Ctrl+C or a hang-up of ours does not reach it), with a
// priority, in a folder. The child is reaped by a thread of ours when it
// ends, so it never lingers as a zombie.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class ProcessPriority { Normal, Idle, High, RealTime };

// Splits a command line as Windows programs do: blanks separate arguments,
// double quotes group, a backslash escapes a quote only before it.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Starts the command line (the program is looked up in PATH unless it names a
// path, mapped as platform::mapPath does). folder empty: the caller's folder.
// True with the process id; false with the last error set (2 not found,
// 3 folder missing, 5 not executable...). A priority above normal that the
// system refuses to an ordinary user leaves the process at normal priority.
bool startProcess(const std::string& commandLine, ProcessPriority priority, const std::string& folder,
                  int32_t& processId);

// Ends the process at once, as a power cut would end it: no handler of its
// runs and nothing it holds is written. False with the last error set.
bool killProcess(int32_t processId);

// Opens a document (a PDF manual, say) with the desktop's program for it
// (xdg-open), without waiting. False with the last error when it cannot start.
bool openDocument(const std::string& path);
// Tests see what would be opened: the opener gets the native path and answers
// for the open. An empty function restores the desktop's; the previous one is
// returned.
using DocumentOpener = std::function<bool(const std::string& path)>;
DocumentOpener setDocumentOpener(DocumentOpener opener);

}  // namespace platform

// Paths as the code above the layer writes them: '\' or '/' as separators, a
// drive letter or not, and names whose case may differ from the file on disk
// ("LocDat\POS_BAS.DBF" finds "LocDat/POS_BAS.dbf").
//
// Names are bytes and are never converted: a name in code page 932 is stored
// in code page 932. Only ASCII letters fold, and the second byte of a
// double-byte character (the 5C of "ソ") is never taken for a separator.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The native path for a path of the code: '\' becomes '/', a leading drive
// letter ("C:") is dropped, and each component that does not exist with its
// exact name is matched case-insensitively (ASCII letters) against the
// folder's entries. Components that match nothing are kept as written, so a
// file about to be created gets the name it was given.
std::string mapPath(const std::string& path);

// The separator rule: '\' and '/' separate the parts of a path, except a
// byte that is the second of a double-byte character ("表" is 95 5C). The
// position of the last separator, or npos; with colonToo a drive's ':' counts
// as one as well ("C:name").
size_t lastSeparator(std::string_view path, bool colonToo = false);
// Whether the path ends in a separator ("売上表" does not).
bool endsWithSeparator(std::string_view path);
// The folder with a separator after it (the given one, unless it already
// ends in one); an empty folder stays empty.
std::string withSeparator(const std::string& folder, char separator = '\\');
// The parts of a path between its separators: an empty part where two meet
// and at either end ("a\\b\\" gives "a", "b", "").
std::vector<std::string> splitPath(std::string_view path);
// Whether the last part of the path has a '.' ("..\x" has none).
bool hasExtension(std::string_view path);
// Whether two names are the same name: ASCII letters in any case, double-byte
// characters byte for byte.
bool sameName(std::string_view a, std::string_view b);

// Joins a folder and a name with one separator.
std::string joinPath(const std::string& folder, const std::string& name);
// The folder part and the name part (after the last separator of either kind).
std::string folderOf(const std::string& path);
std::string fileNameOf(const std::string& path);

// Folders of the desktop: configuration ($XDG_CONFIG_HOME or ~/.config) and
// data ($XDG_DATA_HOME or ~/.local/share), each followed by the program's
// sub-folder when one is given. The working folder and the program's folder.
std::string configFolder(const std::string& sub = {});
std::string dataFolder(const std::string& sub = {});
// The machine-wide data folder that serves every user of the machine
// ($VARNEX_COMMON_DATA, else /var/lib), followed by the sub-folder.
std::string commonDataFolder(const std::string& sub = {});
// The folder for temporary files: $TMPDIR, else /tmp.
std::string temporaryFolder();
std::string currentFolder();
bool setCurrentFolder(const std::string& path);
std::string programFolder();

// Names in a folder matching a pattern with '*' and '?' (case-insensitive).
std::vector<std::string> listFolder(const std::string& folder, const std::string& pattern = "*");

}  // namespace platform

// Path mapping: the code above the layer writes paths the way it always has
// ('\' separators, drive letters, names in any case); the file system here is
// case-sensitive with '/' separators.
//
// Names are bytes: a path in code page 932 stays in code page 932 on disk.
// Only ASCII letters fold when names are compared, and the second byte of a
// double-byte character is never taken for a separator or a letter ("ソ" is
// 83 5C, the 5C being no backslash).
#include "platform/base/path.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"

namespace platform {
namespace {

// Whether the byte at i is a separator: '/' always, '\' unless it closes a
// double-byte character (which the caller skips over before asking).
bool isSeparator(char c) { return c == '/' || c == '\\'; }

size_t characterLength(std::string_view text, size_t i) { return cp932::charLength(text, i); }

// '\' to '/', drive letter dropped.
std::string toNative(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    path.remove_prefix(2);
  }
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    size_t n = characterLength(path, i);
    if (n == 1 && path[i] == '\\') out.push_back('/');
    else out.append(path.substr(i, n));
    i += n;
  }
  return out;
}

// Splits a text into characters (one or two bytes each).
std::vector<std::string_view> characters(std::string_view text) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < text.size();) {
    size_t n = characterLength(text, i);
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

bool sameCharacter(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return cp932::equalNoCase(a, b);
}

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  auto p = characters(pattern);
  auto s = characters(name);
  size_t pi = 0, si = 0, starP = std::string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == "*") {
      starP = pi++;
      starS = si;
    } else if (pi < p.size() && (p[pi] == "?" || sameCharacter(p[pi], s[si]))) {
      ++pi;
      ++si;
    } else if (starP != std::string_view::npos) {
      pi = starP + 1;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == "*") ++pi;
  return pi == p.size();
}

// The entry of folder whose name equals name but for the case of its ASCII
// letters; empty when there is none. The smallest such name wins, so the
// answer does not depend on the order of the folder.
std::string findNoCase(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return {};
  std::string best;
  while (dirent* entry = readdir(dir)) {
    std::string_view candidate(entry->d_name);
    if (candidate == "." || candidate == "..") continue;
    if (cp932::equalNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  closedir(dir);
  return best;
}

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string xdgFolder(const char* variable, const char* fallback, const std::string& sub) {
  const char* value = std::getenv(variable);
  std::string base = (value && value[0] == '/') ? std::string(value) : joinPath(homeFolder(), fallback);
  return sub.empty() ? base : joinPath(base, sub);
}

}  // namespace

std::string mapPath(const std::string& path) {
  std::string native = toNative(path);
  if (native.empty()) return native;
  const bool absolute = native.front() == '/';
  const bool trailing = native.size() > 1 && native.back() == '/';

  std::string out = absolute ? "/" : "";
  bool parentExists = true;  // once a component is missing, nothing below can match
  // A path that exists as written (the usual case) needs no look at each
  // of its folders: every component then stands with its exact name.
  struct stat whole;
  const bool exact = lstat(native.c_str(), &whole) == 0;
  size_t start = 0;
  while (start <= native.size()) {
    size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    std::string component = native.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;

    std::string candidate = out.empty() ? component : (out == "/" ? "/" + component : out + "/" + component);
    if (parentExists && !exact && component != "..") {
      struct stat st;
      if (lstat(candidate.c_str(), &st) != 0) {
        std::string found = findNoCase(out, component);
        if (!found.empty()) {
          candidate = out.empty() ? found : (out == "/" ? "/" + found : out + "/" + found);
        } else {
          parentExists = false;
        }
      }
    }
    out = std::move(candidate);
  }
  if (out.empty()) return ".";
  if (trailing && out != "/") out.push_back('/');
  return out;
}

size_t lastSeparator(std::string_view path, bool colonToo) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < path.size();) {
    size_t n = characterLength(path, i);
    if (n == 1 && (isSeparator(path[i]) || (colonToo && path[i] == ':'))) last = i;
    i += n;
  }
  return last;
}

bool endsWithSeparator(std::string_view path) {
  const size_t last = lastSeparator(path);
  return last != std::string_view::npos && last + 1 == path.size();
}

std::string withSeparator(const std::string& folder, char separator) {
  if (folder.empty() || endsWithSeparator(folder)) return folder;
  return folder + separator;
}

std::vector<std::string> splitPath(std::string_view path) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < path.size();) {
    const size_t n = characterLength(path, i);
    if (n == 1 && isSeparator(path[i])) parts.emplace_back();
    else parts.back().append(path.substr(i, n));
    i += n;
  }
  return parts;
}

bool hasExtension(std::string_view path) {
  const size_t last = lastSeparator(path);
  return path.find('.', last == std::string_view::npos ? 0 : last + 1) != std::string_view::npos;
}

bool sameName(std::string_view a, std::string_view b) { return cp932::equalNoCase(a, b); }

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  size_t last = lastSeparator(folder);
  bool endsWithSeparator = last != std::string::npos && last == folder.size() - 1;
  std::string_view rest(name);
  while (!rest.empty() && isSeparator(rest.front())) rest.remove_prefix(1);
  if (endsWithSeparator) return folder + std::string(rest);
  // A folder written with '\' keeps its style.
  char separator = (folder.find('/') == std::string::npos && last != std::string::npos) ? '\\' : '/';
  return folder + separator + std::string(rest);
}

std::string folderOf(const std::string& path) {
  size_t last = lastSeparator(path);
  if (last == std::string::npos) return {};
  if (last == 0) return path.substr(0, 1);  // the root
  if (last == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\"
  return path.substr(0, last);
}

std::string fileNameOf(const std::string& path) {
  size_t last = lastSeparator(path);
  return last == std::string::npos ? path : path.substr(last + 1);
}

std::string configFolder(const std::string& sub) { return xdgFolder("XDG_CONFIG_HOME", ".config", sub); }

std::string dataFolder(const std::string& sub) { return xdgFolder("XDG_DATA_HOME", ".local/share", sub); }

std::string commonDataFolder(const std::string& sub) {
  const char* set = std::getenv("VARNEX_COMMON_DATA");
  std::string base = set && *set ? set : "/var/lib";
  return sub.empty() ? base : joinPath(base, sub);
}

std::string temporaryFolder() {
  const char* set = std::getenv("TMPDIR");
  return set && *set ? set : "/tmp";
}

std::string currentFolder() {
  std::string buffer(4096, '\0');
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) {
      setLastErrorFromErrno();
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

bool setCurrentFolder(const std::string& path) {
  if (chdir(mapPath(path).c_str()) != 0) {
    uint32_t code = setLastErrorFromErrno();
    if (code == kErrorFileNotFound) setLastError(kErrorPathNotFound);
    return false;
  }
  return true;
}

std::string programFolder() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) {
    setLastErrorFromErrno();
    return currentFolder();
  }
  buffer.resize(static_cast<size_t>(n));
  return folderOf(buffer);
}

std::vector<std::string> listFolder(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  std::string native = mapPath(folder.empty() ? std::string(".") : folder);
  DIR* dir = opendir(native.c_str());
  if (!dir) {
    uint32_t code = setLastErrorFromErrno();
    if (code == kErrorFileNotFound) setLastError(kErrorPathNotFound);
    return names;
  }
  // As on Windows, a pattern ending in ".*" also matches names without an
  // extension ("*.*" is every name, "POS.*" finds "POS").
  std::string_view wanted = pattern.empty() ? std::string_view("*") : std::string_view(pattern);
  std::string_view withoutExtension;
  if (wanted.size() >= 2 && wanted.substr(wanted.size() - 2) == ".*") withoutExtension = wanted.substr(0, wanted.size() - 2);
  while (dirent* entry = readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (wildcardMatch(wanted, name) || (!withoutExtension.empty() && wildcardMatch(withoutExtension, name)))
      names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  setLastError(kErrorSuccess);
  return names;
}

}  // namespace platform

// The profile store: one INI-style file per scope.
//
// File format (bytes as stored; texts are code page 932 bytes, kept as they are):
//
//   ; a comment (also '#')
//   [Software\Maker\Varnex\Settings]   a section: its key path, '\' between the levels
//   "Name"="text"                       a text; inside the quotes \\ \" \n \r \t and \xHH escapes
//   "Count"=int:-42                     an integer, signed 64-bit decimal
//   "Blob"=hex:00ff1a                   binary bytes as pairs of hexadecimal digits
//
// What the program writes always has this form: names quoted and escaped like
// texts (so '=', ']' or ';' in a name are harmless; "" is the section's default
// value), one value a line, a blank line between sections. Files written by hand
// may also say Name=text (no quotes: the text runs to the end of the line, outer
// blanks trimmed, no escapes) and dword:0000007b (an integer in hexadecimal, as
// registry exports write it). A line that is none of these is skipped.
//
// Section and value names are matched without regard to the case of ASCII
// letters (as the registry does) and keep the case they were first written
// with. A section exists once a value was set in it or below it; deleting its
// last value leaves it (empty), deleting a section removes every section below.
//
// Every change re-reads the file under a lock on its folder, applies itself,
// and writes the whole file to a temporary name that is then renamed over the
// old one: two processes do not lose each other's changes and a crash never
// leaves half a file. Reads use what was read before while the file on disk is
// unchanged (same inode, size and time).
#include "platform/base/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"

namespace platform {
namespace {

enum class Kind { Text, Int, Binary };

struct Value {
  Kind kind = Kind::Text;
  std::string bytes;  // text or binary
  int64_t number = 0;
};

struct Entry {
  std::string name;
  Value value;
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

struct Stamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const std::string& path) {
  Stamp stamp;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.seconds = st.st_mtim.tv_sec;
  stamp.nanoseconds = st.st_mtim.tv_nsec;
  return stamp;
}


// A key path with its levels joined by single '\' and no '\' at either end.
std::string normalisedSection(std::string_view path) {
  std::string out;
  std::string level;
  auto flush = [&] {
    if (level.empty()) return;
    if (!out.empty()) out.push_back('\\');
    out += level;
    level.clear();
  };
  for (size_t i = 0; i < path.size();) {
    if (cp932::isDoubleByteAt(path, i)) {
      level.append(path.substr(i, 2));
      i += 2;
    } else if (path[i] == '\\') {
      flush();
      ++i;
    } else {
      level.push_back(path[i++]);
    }
  }
  flush();
  return out;
}

bool isBelow(const std::string& section, const std::string& parent) {
  if (parent.empty()) return true;
  if (section.size() <= parent.size() + 1) return false;
  return section[parent.size()] == '\\' && cp932::equalNoCase(std::string_view(section).substr(0, parent.size()), parent);
}

std::string trimmed(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return std::string(text.substr(b, e - b));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kHex[] = "0123456789abcdef";

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto b = static_cast<uint8_t>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\x";
          out.push_back(kHex[b >> 4]);
          out.push_back(kHex[b & 15]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the
// closing quote. False when the quote is never closed.
bool unquote(std::string_view line, size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\' || pos + 1 >= line.size()) {
      out.push_back(c);
      continue;
    }
    char e = line[++pos];
    switch (e) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'x':
        if (pos + 2 < line.size() && hexDigit(line[pos + 1]) >= 0 && hexDigit(line[pos + 2]) >= 0) {
          out.push_back(static_cast<char>(hexDigit(line[pos + 1]) * 16 + hexDigit(line[pos + 2])));
          pos += 2;
        } else {
          out.push_back('x');
        }
        break;
      default: out.push_back(e); break;  // \\ and \" and anything else: the byte itself
    }
  }
  return false;
}

bool parseInt(std::string_view text, int64_t& out) {
  std::string t = trimmed(text);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || end != t.c_str() + t.size()) return false;
  out = v;
  return true;
}

bool parseHexBytes(std::string_view text, std::string& out) {
  out.clear();
  int high = -1;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') continue;
    int d = hexDigit(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
  return high < 0;
}

Value parseValue(std::string_view raw) {
  Value value;
  std::string text = trimmed(raw);
  std::string_view t(text);
  if (!t.empty() && t.front() == '"') {
    size_t pos = 0;
    std::string out;
    if (unquote(t, pos, out)) {
      value.bytes = std::move(out);
      return value;
    }
  } else if (t.substr(0, 4) == "int:") {
    int64_t n;
    if (parseInt(t.substr(4), n)) {
      value.kind = Kind::Int;
      value.number = n;
      return value;
    }
  } else if (t.substr(0, 6) == "dword:") {
    std::string digits = trimmed(t.substr(6));
    char* end = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(digits.c_str(), &end, 16);
    if (!digits.empty() && errno == 0 && *end == '\0' && n <= 0xFFFFFFFFull) {
      value.kind = Kind::Int;
      value.number = static_cast<int64_t>(n);
      return value;
    }
  } else if (t.substr(0, 4) == "hex:") {
    std::string bytes;
    if (parseHexBytes(t.substr(4), bytes)) {
      value.kind = Kind::Binary;
      value.bytes = std::move(bytes);
      return value;
    }
  }
  value.bytes = text;
  return value;
}

Section* findSection(std::vector<Section>& sections, const std::string& name) {
  for (auto& s : sections)
    if (cp932::equalNoCase(s.name, name)) return &s;
  return nullptr;
}

Entry* findEntry(Section& section, const std::string& key) {
  for (auto& e : section.entries)
    if (cp932::equalNoCase(e.name, key)) return &e;
  return nullptr;
}

std::vector<Section> parse(std::string_view content) {
  std::vector<Section> sections;
  Section* current = nullptr;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t b = 0;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
    line.remove_prefix(b);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      size_t close = line.rfind(']');
      std::string name = normalisedSection(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      current = findSection(sections, name);
      if (!current) {
        sections.push_back(Section{name, {}});
        current = &sections.back();
      }
      continue;
    }
    if (!current) continue;

    std::string key;
    size_t pos = 0;
    if (line.front() == '"') {
      if (!unquote(line, pos, key)) continue;
      while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
      if (pos >= line.size() || line[pos] != '=') continue;
    } else {
      pos = line.find('=');
      if (pos == std::string_view::npos) continue;
      key = trimmed(line.substr(0, pos));
    }
    Value value = parseValue(line.substr(pos + 1));
    if (Entry* existing = findEntry(*current, key)) existing->value = std::move(value);
    else current->entries.push_back(Entry{std::move(key), std::move(value)});
  }
  return sections;
}

std::string render(const std::vector<Section>& sections) {
  std::string out;
  for (const auto& section : sections) {
    if (!out.empty()) out += "\n";
    out += "[" + section.name + "]\n";
    for (const auto& entry : section.entries) {
      out += quoted(entry.name) + "=";
      switch (entry.value.kind) {
        case Kind::Text: out += quoted(entry.value.bytes); break;
        case Kind::Int: out += "int:" + std::to_string(entry.value.number); break;
        case Kind::Binary:
          out += "hex:";
          for (char c : entry.value.bytes) {
            auto b = static_cast<uint8_t>(c);
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
          }
          break;
      }
      out += "\n";
    }
  }
  return out;
}

bool readWhole(const std::string& path, std::string& content) {
  content.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;  // no file yet: an empty profile
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      setLastErrorFromErrno();
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

// Writes content under a temporary name in the same folder, then renames it
// over path.
bool writeAtomically(const std::string& path, const std::string& content) {
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    setLastErrorFromErrno();
    return false;
  }
  struct stat old;
  mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  fchmod(fd, mode);
  size_t put = 0;
  bool ok = true;
  while (put < content.size()) {
    ssize_t n = ::write(fd, content.data() + put, content.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    put += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (!ok) setLastErrorFromErrno();
  ::close(fd);
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    setLastErrorFromErrno();
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
  return true;
}

// An exclusive lock on a folder, held while a profile file in it is changed.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

}  // namespace

struct Profile::Data {
  std::mutex mutex;
  bool loaded = false;
  std::string path;
  Stamp stamp;
  std::vector<Section> sections;

  // Makes sections what the file at filePath holds. False (last error set)
  // when the file exists but cannot be read.
  bool refresh(const std::string& filePath) {
    Stamp now = stampOf(filePath);
    if (loaded && path == filePath && stamp == now) return true;
    std::string content;
    if (!readWhole(filePath, content)) return false;
    sections = parse(content);
    path = filePath;
    stamp = now;
    loaded = true;
    return true;
  }

  const Value* find(const std::string& section, const std::string& key) {
    Section* s = findSection(sections, normalisedSection(section));
    if (!s) return nullptr;
    Entry* e = findEntry(*s, key);
    return e ? &e->value : nullptr;
  }

  // Applies change to a copy of the file's sections and writes the result;
  // what is in memory changes only when the file did.
  template <typename Change>
  bool modify(const std::string& filePath, Change change) {
    std::string folder = folderOf(filePath);
    if (!folder.empty() && !isDirectory(folder) && !createDirectories(folder)) return false;
    FolderLock lock(folder.empty() ? std::string(".") : folder);
    loaded = false;  // re-read whatever another process may have written
    if (!refresh(filePath)) return false;
    std::vector<Section> next = sections;
    if (!change(next)) return true;  // nothing to change
    if (!writeAtomically(filePath, render(next))) return false;
    sections = std::move(next);
    stamp = stampOf(filePath);
    return true;
  }

  bool setValue(const std::string& filePath, const std::string& section, const std::string& key, Value value) {
    std::string name = normalisedSection(section);
    return modify(filePath, [&](std::vector<Section>& all) {
      Section* s = findSection(all, name);
      if (!s) {
        all.push_back(Section{name, {}});
        s = &all.back();
      }
      if (Entry* e = findEntry(*s, key)) e->value = std::move(value);
      else s->entries.push_back(Entry{key, std::move(value)});
      return true;
    });
  }
};

Profile::Profile(ProfileScope scope, std::string fileName)
    : scope_(scope), fileName_(std::move(fileName)), data_(std::make_shared<Data>()) {}

Profile& Profile::of(ProfileScope scope, const std::string& fileName) {
  static std::mutex registryMutex;
  static std::map<std::pair<int, std::string>, std::unique_ptr<Profile>> registry;
  std::lock_guard lock(registryMutex);
  auto& slot = registry[{static_cast<int>(scope), fileName}];
  if (!slot) slot.reset(new Profile(scope, fileName));
  return *slot;
}

std::string Profile::filePath() const {
  std::string folder;
  if (scope_ == ProfileScope::User) {
    folder = configFolder("varnex");
  } else {
    const char* machine = std::getenv("VARNEX_MACHINE_CONFIG");
    folder = (machine && *machine) ? machine : "/etc/varnex";
  }
  return joinPath(folder, fileName_);
}

void Profile::reload() {
  std::lock_guard lock(data_->mutex);
  data_->loaded = false;
}

std::optional<std::string> Profile::getString(const std::string& section, const std::string& key) const {
  std::lock_guard lock(data_->mutex);
  if (!data_->refresh(filePath())) return std::nullopt;
  const Value* v = data_->find(section, key);
  if (!v) {
    setLastError(kErrorFileNotFound);
    return std::nullopt;
  }
  if (v->kind == Kind::Int) return std::to_string(v->number);
  if (v->kind == Kind::Binary) {
    setLastError(kErrorInvalidData);
    return std::nullopt;
  }
  return v->bytes;
}

std::optional<int64_t> Profile::getInt(const std::string& section, const std::string& key) const {
  std::lock_guard lock(data_->mutex);
  if (!data_->refresh(filePath())) return std::nullopt;
  const Value* v = data_->find(section, key);
  if (!v) {
    setLastError(kErrorFileNotFound);
    return std::nullopt;
  }
  if (v->kind == Kind::Int) return v->number;
  int64_t n;
  if (v->kind == Kind::Text && parseInt(v->bytes, n)) return n;  // a number written by hand as text
  setLastError(kErrorInvalidData);
  return std::nullopt;
}

std::string Profile::getString(const std::string& section, const std::string& key, const std::string& fallback) const {
  return getString(section, key).value_or(fallback);
}

int64_t Profile::getInt(const std::string& section, const std::string& key, int64_t fallback) const {
  return getInt(section, key).value_or(fallback);
}

std::optional<std::string> Profile::getBinary(const std::string& section, const std::string& key) const {
  std::lock_guard lock(data_->mutex);
  if (!data_->refresh(filePath())) return std::nullopt;
  const Value* v = data_->find(section, key);
  if (!v) {
    setLastError(kErrorFileNotFound);
    return std::nullopt;
  }
  if (v->kind != Kind::Binary) {
    setLastError(kErrorInvalidData);
    return std::nullopt;
  }
  return v->bytes;
}

bool Profile::setString(const std::string& section, const std::string& key, const std::string& value) {
  std::lock_guard lock(data_->mutex);
  return data_->setValue(filePath(), section, key, Value{Kind::Text, value, 0});
}

bool Profile::setInt(const std::string& section, const std::string& key, int64_t value) {
  std::lock_guard lock(data_->mutex);
  return data_->setValue(filePath(), section, key, Value{Kind::Int, {}, value});
}

bool Profile::setBinary(const std::string& section, const std::string& key, const std::string& bytes) {
  std::lock_guard lock(data_->mutex);
  return data_->setValue(filePath(), section, key, Value{Kind::Binary, bytes, 0});
}

bool Profile::deleteValue(const std::string& section, const std::string& key) {
  std::lock_guard lock(data_->mutex);
  std::string name = normalisedSection(section);
  bool found = false;
  bool ok = data_->modify(filePath(), [&](std::vector<Section>& all) {
    Section* s = findSection(all, name);
    if (!s) return false;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
      if (cp932::equalNoCase(it->name, key)) {
        s->entries.erase(it);
        found = true;
        return true;
      }
    }
    return false;
  });
  if (ok && !found) {
    setLastError(kErrorFileNotFound);
    return false;
  }
  return ok;
}

bool Profile::deleteSection(const std::string& section) {
  std::lock_guard lock(data_->mutex);
  std::string name = normalisedSection(section);
  if (name.empty()) {  // the whole profile is no section
    setLastError(kErrorInvalidParameter);
    return false;
  }
  bool found = false;
  bool ok = data_->modify(filePath(), [&](std::vector<Section>& all) {
    size_t before = all.size();
    std::erase_if(all, [&](const Section& s) { return cp932::equalNoCase(s.name, name) || isBelow(s.name, name); });
    found = all.size() != before;
    return found;
  });
  if (ok && !found) {
    setLastError(kErrorFileNotFound);
    return false;
  }
  return ok;
}

bool Profile::hasSection(const std::string& section) const {
  std::lock_guard lock(data_->mutex);
  if (!data_->refresh(filePath())) return false;
  std::string name = normalisedSection(section);
  for (const auto& s : data_->sections)
    if (cp932::equalNoCase(s.name, name) || isBelow(s.name, name)) return true;
  return false;
}

std::vector<std::string> Profile::sections() const {
  std::lock_guard lock(data_->mutex);
  std::vector<std::string> names;
  if (!data_->refresh(filePath())) return names;
  for (const auto& s : data_->sections) names.push_back(s.name);
  return names;
}

std::vector<std::string> Profile::keys(const std::string& section) const {
  std::lock_guard lock(data_->mutex);
  std::vector<std::string> names;
  if (!data_->refresh(filePath())) return names;
  if (Section* s = findSection(data_->sections, normalisedSection(section)))
    for (const auto& e : s->entries) names.push_back(e.name);
  return names;
}

bool Profile::isInt(const std::string& section, const std::string& key) const {
  std::lock_guard lock(data_->mutex);
  if (!data_->refresh(filePath())) return false;
  const Value* v = data_->find(section, key);
  return v && v->kind == Kind::Int;
}

}  // namespace platform

// Combined files: this file alone reads and writes them.
//
// Layout (all numbers unsigned 32-bit little-endian):
//
//   offset  size  content
//   0       21    header: "ZEMTA COMBINE ID=0\r\n" and one zero byte
//   21      ...   member entries, one after the other, to the end of the file
//
// Member entry:
//
//   offset  size  content
//   0       4     name length n, with the name's terminating zero (2 to 4096)
//   4       4     data length d (never 0xFFFFFFFF)
//   8       4     reserved, 0
//   12      n     member name: a path relative to the base folder, zero-terminated
//   12 + n  d     the member's bytes
//
// There is no count, index or checksum: entries follow until the end of the
// file, so a file cut anywhere shows only as an entry that runs past its end.
//
// Member names are paths relative to the base folder, '\' (or '/') between
// folders, code page 932 bytes. A name that is absolute ("\x", "C:x") or whose
// ".." steps lead out of the base folder is refused, with or without a base
// folder (without one, the base is the working folder).
//
// Unpacking never leaves a target half restored: the whole file is checked
// (every entry header, name and length against the file's size) before
// anything is written; the members are then written into a temporary folder
// beside the target and moved into place only once every one of them is
// whole. Every open goes through the file-access layer.
#include "zemta/combine.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/core/combine_internal.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"

namespace zemta {
namespace {

constexpr char kCombineHeader[] = "ZEMTA COMBINE ID=0\r\n";  // with its zero: 21 bytes
constexpr uint32_t kHeaderSize = 21;
static_assert(sizeof(kCombineHeader) == kHeaderSize);
constexpr uint32_t kEntryHeaderSize = 12;
constexpr uint32_t kMinNameLength = 2;
constexpr uint32_t kMaxNameLength = 4096;
constexpr uint32_t kNoDataLength = 0xFFFFFFFFu;
// The longest base folder is 4094 characters; a full path fits 4096 bytes
// with its zero.
constexpr size_t kMaxBaseFolder = 4094;
constexpr size_t kMaxPathBuffer = 4096;
constexpr uint32_t kCopyPiece = 4096;
constexpr uint32_t kSequentialScan = 0x08000000u;
constexpr int kMaxTemporaryFolders = 1000;

// The base folder ending in a separator ("" for the working folder); false
// (reported) when it is too long.
bool baseFolderOf(const char* baseFolder, std::string& base) {
  base.clear();
  if (!baseFolder || !*baseFolder) return true;
  base = baseFolder;
  if (base.size() > kMaxBaseFolder) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return false;
  }
  base = platform::withSeparator(base);
  return true;
}

// The member's folders and file name, or false (reported) for a name that is
// empty, absolute, leads out of the base folder or names no file.
// The steps of a member's name below the base folder, "." and ".." resolved;
// false when it is no file name or leaves the base folder (not reported).
bool partsOf(std::string_view name, std::vector<std::string>& parts) {
  parts.clear();
  bool safe = !name.empty() && !platform::splitPath(name).front().empty() && !(name.size() >= 2 && name[1] == ':');
  const std::vector<std::string> written = safe ? platform::splitPath(name) : std::vector<std::string>{};
  for (const std::string& part : written) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) safe = false;
      else parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  // The last step must name the file itself.
  return safe && !written.back().empty() && written.back() != "." && written.back() != ".." && !parts.empty();
}

bool memberParts(std::string_view name, const std::string& base, std::vector<std::string>& parts) {
  const bool safe = partsOf(name, parts) && base.size() + name.size() < kMaxPathBuffer;
  if (!safe) ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
  return safe;
}

std::string joinParts(const std::string& folder, const std::vector<std::string>& parts, size_t count) {
  std::string path = folder;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) path += '\\';
    path += parts[i];
  }
  return path;
}

// Closes a file whose failure is already reported, keeping the last error.
void closeQuietly(ZemtaFileHandle file) {
  if (file == 0) return;
  const uint32_t code = platform::lastError();
  ZemtaCloseFile(file);
  platform::setLastError(code);
}

bool writeAll(ZemtaFileHandle file, const void* data, uint32_t length) {
  uint32_t written = 0;
  if (!ZemtaWriteFile(file, data, length, &written, 0, ZEMTA_FILE_CURRENT)) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  if (written != length) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

// Reads exactly length bytes at offset (-1: at the current position).
bool readAll(ZemtaFileHandle file, void* buffer, uint32_t length, int64_t offset) {
  uint32_t got = 0;
  const bool ok = offset < 0 ? ZemtaReadFile(file, buffer, length, &got, 0, ZEMTA_FILE_CURRENT)
                             : ZemtaReadFile(file, buffer, length, &got, static_cast<int32_t>(offset), ZEMTA_FILE_BEGIN);
  if (!ok) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  if (got != length) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  return true;
}

// Copies length bytes from the current position of one file to another.
bool copyData(ZemtaFileHandle from, ZemtaFileHandle to, uint32_t length) {
  uint8_t piece[kCopyPiece];
  while (length > 0) {
    const uint32_t want = std::min(length, kCopyPiece);
    if (!readAll(from, piece, want, -1) || !writeAll(to, piece, want)) return false;
    length -= want;
  }
  return true;
}

// One member found by the check of a combined file.
struct Member {
  std::string stored;              // the name as the combined file holds it
  std::vector<std::string> parts;  // folders and file name under the base folder
  std::string base;                // the folder it is unpacked under
  uint32_t dataOffset = 0;
  uint32_t dataLength = 0;
};

// Checks the whole combined file: header, every entry and name, and that the
// last entry ends exactly at the end of the file. False (reported) otherwise.
bool checkCombined(ZemtaFileHandle file, const std::string& base, std::vector<Member>& members) {
  const uint32_t size = ZemtaGetFileSize(file);
  if (size == 0xFFFFFFFFu) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  // Positions are passed to the file-access layer as signed 32-bit offsets.
  if (size < kHeaderSize || size > static_cast<uint32_t>(INT32_MAX)) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  char header[kHeaderSize];
  if (!readAll(file, header, kHeaderSize, 0)) return false;
  if (std::memcmp(header, kCombineHeader, kHeaderSize) != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  std::vector<char> name(kMaxNameLength);
  uint64_t position = kHeaderSize;
  while (position < size) {
    uint8_t entry[kEntryHeaderSize];
    if (size - position < kEntryHeaderSize) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return false;
    }
    if (!readAll(file, entry, kEntryHeaderSize, static_cast<int64_t>(position))) return false;
    const uint32_t nameLength = get_u32le(entry);
    const uint32_t dataLength = get_u32le(entry + 4);
    const uint32_t reserved = get_u32le(entry + 8);
    position += kEntryHeaderSize;
    if (dataLength == kNoDataLength || reserved != 0 || nameLength < kMinNameLength ||
        nameLength > kMaxNameLength || size - position < nameLength) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return false;
    }
    if (!readAll(file, name.data(), nameLength, -1)) return false;
    position += nameLength;
    if (name[nameLength - 1] != '\0' || size - position < dataLength) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return false;
    }
    Member member;
    member.stored = name.data();
    member.base = base;
    if (!memberParts(member.stored, base, member.parts)) return false;
    member.dataOffset = static_cast<uint32_t>(position);
    member.dataLength = dataLength;
    members.push_back(std::move(member));
    position += dataLength;
  }
  if (members.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  return true;
}

// A temporary folder beside the target (inside it when the target is the
// working folder or a root), created empty; "" (reported) when none can be made.
std::string makeTemporaryFolder(const std::string& base) {
  std::string stem;
  std::vector<std::string> parts = platform::splitPath(base);
  parts.pop_back();  // the base ends in a separator
  const bool beside = !parts.empty() && !parts.back().empty() && parts.back().back() != ':' &&
                      parts.back() != "." && parts.back() != "..";
  stem = beside ? base.substr(0, base.size() - 1) + ".~apart" : base + "~apart";
  for (int serial = 1; serial <= kMaxTemporaryFolders; ++serial) {
    const std::string folder = stem + std::to_string(serial);
    if (platform::createDirectory(folder)) return folder + "\\";
    if (platform::lastError() != platform::kErrorAlreadyExists) break;
  }
  ZEMTA_REPORT(platform::lastError());
  return {};
}

// What unpacking made in the temporary folder, removed again however it ends.
class TemporaryTree {
 public:
  explicit TemporaryTree(std::string root) : root_(std::move(root)) {}
  ~TemporaryTree() {
    const uint32_t code = platform::lastError();
    for (const std::string& file : files_) platform::deleteFile(file);
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) platform::removeDirectory(*folder);
    platform::removeDirectory(root_.substr(0, root_.size() - 1));
    platform::setLastError(code);
  }
  const std::string& root() const { return root_; }

  // Creates the member's folders under the root; false (reported) on failure.
  bool makeFolders(const std::vector<std::string>& parts) {
    for (size_t depth = 1; depth < parts.size(); ++depth) {
      const std::string folder = joinParts(root_, parts, depth);
      if (std::find(folders_.begin(), folders_.end(), folder) != folders_.end()) continue;
      if (!platform::createDirectory(folder)) {
        // The same folder written in another case is already there.
        if (platform::lastError() == platform::kErrorAlreadyExists && platform::isDirectory(folder)) continue;
        ZEMTA_REPORT(platform::lastError());
        return false;
      }
      folders_.push_back(folder);
    }
    return true;
  }
  void addFile(const std::string& path) {
    if (std::find(files_.begin(), files_.end(), path) == files_.end()) files_.push_back(path);
  }

 private:
  std::string root_;
  std::vector<std::string> folders_;
  std::vector<std::string> files_;
};

// Writes one member into the temporary tree.
bool unpackMember(ZemtaFileHandle combined, const Member& member, TemporaryTree& tree) {
  if (!tree.makeFolders(member.parts)) return false;
  const std::string path = joinParts(tree.root(), member.parts, member.parts.size());
  const ZemtaFileHandle file = ZemtaOpenFileWait(path.c_str(), ZEMTA_GENERIC_WRITE, 0, ZEMTA_CREATE_ALWAYS,
                                                 ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, nullptr, nullptr, 0);
  if (file == 0) return false;
  tree.addFile(path);
  bool done = true;
  if (!ZemtaSetEndOfFile(file, 0)) {
    ZEMTA_REPORT(platform::lastError());
    done = false;
  }
  if (done && ZemtaSetFilePointer(combined, static_cast<int32_t>(member.dataOffset), ZEMTA_FILE_BEGIN) !=
                  member.dataOffset) {
    ZEMTA_REPORT(platform::lastError());
    done = false;
  }
  done = done && copyData(combined, file, member.dataLength);
  if (!done) {
    closeQuietly(file);
    return false;
  }
  if (!ZemtaCloseFile(file)) {
    ZEMTA_REPORT(platform::lastError());
    return false;
  }
  return true;
}

// Moves every unpacked member to its place under the base folder. Before the
// first move, each target that exists must be free to replace, so a member
// held open elsewhere fails the restore while the target is still untouched.
bool moveIntoPlace(const std::vector<Member>& members, const std::function<const TemporaryTree&(const Member&)>& treeOf) {
  for (const Member& member : members) {
    const std::string target = joinParts(member.base, member.parts, member.parts.size());
    if ((platform::fileExists(target) || platform::isDirectory(target)) &&
        !ZemtaIsFileAccess(target.c_str(), ZEMTA_GENERIC_WRITE, 0)) {
      ZEMTA_REPORT(platform::lastError() != 0 ? platform::lastError() : platform::kErrorAccessDenied);
      return false;
    }
  }
  for (const Member& member : members) {
    const std::string source = joinParts(treeOf(member).root(), member.parts, member.parts.size());
    const std::string target = joinParts(member.base, member.parts, member.parts.size());
    if (!platform::fileExists(source)) continue;  // a name given twice: its last copy is already in place
    const std::string folder = joinParts(member.base, member.parts, member.parts.size() - 1);
    if ((!folder.empty() && !platform::createDirectories(folder)) || !platform::moveFile(source, target, true)) {
      ZEMTA_REPORT(platform::lastError());
      return false;
    }
  }
  return true;
}

}  // namespace
}  // namespace zemta

int32_t zemta::combineFilesOf(const std::vector<CombineMember>& members, const char* outputPath) {
  using namespace zemta;
  if (!outputPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  // Every name is checked before the output is touched.
  std::vector<std::string> parts;
  for (const CombineMember& m : members) {
    if (!memberParts(m.name, "", parts)) return -1;
    if (m.name.size() + 1 + kEntryHeaderSize > kMaxNameLength || m.path.size() >= kMaxPathBuffer) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
      return -1;
    }
  }

  const ZemtaFileHandle output = ZemtaOpenFileWait(outputPath, ZEMTA_GENERIC_WRITE, 0, ZEMTA_CREATE_ALWAYS,
                                                   kSequentialScan, nullptr, nullptr, nullptr, 0);
  if (output == 0) return -1;
  if (!ZemtaSetEndOfFile(output, 0)) {
    ZEMTA_REPORT(platform::lastError());
    closeQuietly(output);
    return -1;
  }
  if (!writeAll(output, kCombineHeader, kHeaderSize)) {
    closeQuietly(output);
    return -1;
  }
  for (const CombineMember& m : members) {
    const ZemtaFileHandle member =
        ZemtaOpenFileWait(m.path.c_str(), ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING,
                          kSequentialScan, nullptr, nullptr, nullptr, 0);
    if (member == 0) {
      closeQuietly(output);
      return -1;
    }
    const uint32_t size = ZemtaGetFileSize(member);
    bool done = size != kNoDataLength;
    if (!done) ZEMTA_REPORT(platform::lastError());
    if (done) {
      const uint32_t nameLength = static_cast<uint32_t>(m.name.size() + 1);
      std::vector<uint8_t> entry(kEntryHeaderSize + nameLength);
      put_u32le(entry.data(), nameLength);
      put_u32le(entry.data() + 4, size);
      put_u32le(entry.data() + 8, 0);
      std::memcpy(entry.data() + kEntryHeaderSize, m.name.c_str(), nameLength);
      done = writeAll(output, entry.data(), static_cast<uint32_t>(entry.size())) && copyData(member, output, size);
    }
    if (!done) {
      closeQuietly(member);
      closeQuietly(output);
      return -1;
    }
    if (!ZemtaCloseFile(member)) {
      ZEMTA_REPORT(platform::lastError());
      closeQuietly(output);
      return -1;
    }
  }
  if (!ZemtaCloseFile(output)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  return 0;
}

ZEMTA_API int32_t CombineFiles(int32_t count, const char* const* names, const char* outputPath,
                               const char* baseFolder) {
  using namespace zemta;
  std::string base;
  if (!outputPath || (count > 0 && !names)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!baseFolderOf(baseFolder, base)) return -1;
  std::vector<CombineMember> members;
  std::vector<std::string> parts;
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view name = names[i] ? std::string_view(names[i]) : std::string_view();
    if (!memberParts(name, base, parts)) return -1;
    members.push_back({std::string(name), base + std::string(name)});
  }
  return combineFilesOf(members, outputPath);
}

ZEMTA_API int32_t ApartFile(const char* combinedPath, const char* baseFolder) {
  return zemta::apartFileOf(combinedPath, baseFolder, nullptr);
}

std::string zemta::memberNameOf(std::string_view name) {
  std::vector<std::string> parts;
  return partsOf(name, parts) ? joinParts("", parts, parts.size()) : std::string();
}

int32_t zemta::apartFileOf(const char* combinedPath, const char* baseFolder, const MemberPlace& place) {
  using namespace zemta;
  std::string base;
  if (!combinedPath) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!baseFolderOf(baseFolder, base)) return -1;
  const ZemtaFileHandle combined = ZemtaOpenFileWait(combinedPath, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ,
                                                     ZEMTA_OPEN_EXISTING, kSequentialScan, nullptr, nullptr,
                                                     nullptr, 0);
  if (combined == 0) return -1;

  std::vector<Member> members;
  if (!checkCombined(combined, base, members)) {
    closeQuietly(combined);
    return -1;
  }
  // A member the caller does not expect refuses the whole file; the others
  // go under the folder the caller gives them.
  if (place)
    for (Member& member : members) {
      std::string folder = base;
      const bool placed = place(member.stored, joinParts("", member.parts, member.parts.size()), folder);
      if (placed && !baseFolderOf(folder.c_str(), member.base)) {
        closeQuietly(combined);
        return -1;
      }
      if (!placed || member.base.size() + member.stored.size() >= kMaxPathBuffer) {
        closeQuietly(combined);
        ZEMTA_REPORT(placed ? ZEMTA_ERR_BAD_FILE_NAME : ZEMTA_ERR_FILE_FORMAT);
        return -1;
      }
    }
  bool done;
  {
    // One temporary folder beside each target folder, so that every member
    // reaches its place by a rename on its own file system.
    std::vector<std::unique_ptr<TemporaryTree>> trees;
    std::vector<std::string> bases;
    auto treeOf = [&](const Member& member) -> TemporaryTree& {
      for (size_t i = 0; i < bases.size(); ++i)
        if (bases[i] == member.base) return *trees[i];
      return *trees.front();  // not reached: every base has its tree
    };
    done = true;
    for (const Member& member : members) {
      if (std::find(bases.begin(), bases.end(), member.base) != bases.end()) continue;
      const std::string root = makeTemporaryFolder(member.base);
      if (root.empty()) {
        done = false;
        break;
      }
      bases.push_back(member.base);
      trees.push_back(std::make_unique<TemporaryTree>(root));
    }
    for (const Member& member : members)
      if (!(done = done && unpackMember(combined, member, treeOf(member)))) break;
    done = done && moveIntoPlace(members, treeOf);
  }
  if (!done) {
    closeQuietly(combined);
    return -1;
  }
  if (!ZemtaCloseFile(combined)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  return static_cast<int32_t>(members.size());
}

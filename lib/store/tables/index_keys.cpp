// Index files of tables, their keys and compares, and the key lookup.
//
// Index file (".bxx"): a B-tree file (btree.cpp) whose user header is these
// 48 bytes, little-endian:
//
//   offset  size  content
//   0       12    "ZEMTA BTRX\r\n" while clean; "RXBTA MTZE\r\n" while a writer
//                 changes keys (a crash leaves it so, and the file is rebuilt)
//   12      20    "Ver1.34  Q.X 1999\r\n" and one byte 0x1A
//   32      2     header length, 48
//   34      2     table id of the owning table
//   36      2     B-tree order
//   38      2     0
//   40      2     record length of the owning table
//   42      2     key descriptor: the key's record offset, or minus the number
//                 of parts of a composite key
//   44      2     key length
//   46      2     check word: the 24 words of the header add up to 0 (mod 65536)
//
// The B-tree's root offset follows at 48, then its nodes: a sound file is
// 52 + k * nodeSize bytes, nodeSize = 10 + 2 * order * (keyLen + 8). Entries
// point at records by file offset, header length + n * record length.
//
// Composite keys join up to three parts: a part of type 0 or 1 gives its
// bytes as they are, a part of type 2 or more gives its unsigned value as
// 2 x length upper-case hexadecimal digits, so numbers sort by value under a
// byte compare.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/core/library_locks.h"
#include "lib/core/report.h"
#include "lib/store/tables/filedb_internal.h"
#include "lib/core/little_endian.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"

namespace zemta::filedb {
namespace {

const char kVersionText[20] = {'V', 'e', 'r', '1', '.', '3', '4', ' ', ' ', 'Q',
                               '.', 'X', ' ', '1', '9', '9', '9', '\r', '\n', 0x1A};

// The caption of the build progress dialog ("index file creation").
const char kBuildCaption[] = "ｲﾝﾃﾞｯｸｽﾌｧｲﾙの作成";

IndexBuildProgress& progress() {
  static IndexBuildProgress p;
  return p;
}

uint64_t readLittle(const uint8_t* p, uint32_t len) {
  uint64_t v = 0;
  for (uint32_t i = 0; i < std::min<uint32_t>(len, 8); ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

int64_t readSigned(const uint8_t* p, uint32_t len) {
  uint64_t v = readLittle(p, len);
  uint32_t bits = 8 * std::min<uint32_t>(len, 8);
  if (bits < 64 && (v >> (bits - 1)) & 1) v |= ~uint64_t{0} << bits;
  return static_cast<int64_t>(v);
}

template <typename T>
int32_t order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool isSignedItemType(uint32_t t) {
  return t == 7 || t == 28 || t == 29 || t == 34 || t == 35 || t == 36 || t == 46 || t == 47;
}
bool isUnsignedItemType(uint32_t t) {
  return (t >= 2 && t <= 6) || (t >= 14 && t <= 21) || (t >= 30 && t <= 32) || t == 40 || t == 41;
}
bool isFloatItemType(uint32_t t) { return (t >= 8 && t <= 13) || t == 48 || t == 49; }

constexpr uint32_t kNormalLimit = 4096;

// The normalized form of a text key for the two keyword compares.
uint32_t normalize(const uint8_t* text, uint32_t len, bool keepDoubleByte, bool keepKana, uint8_t* out) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < len && n < kNormalLimit; ++i) {
    uint8_t c = text[i];
    if (platform::cp932::isLeadByte(c) && i + 1 < len) {
      if (keepDoubleByte) {
        out[n++] = c;
        if (n < kNormalLimit) out[n++] = text[i + 1];
      }
      ++i;
    } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == 0xFF) {
      out[n++] = c;
    } else if (c >= 'a' && c <= 'z') {
      out[n++] = static_cast<uint8_t>(c - 'a' + 'A');
    } else if (keepKana && c >= 0xA1 && c <= 0xDF) {
      out[n++] = c;
    }
  }
  return n;
}

int32_t compareNormalized(const void* a, const void* b, uint32_t len, bool keyword) {
  static thread_local uint8_t formA[kNormalLimit], formB[kNormalLimit];
  uint32_t limit = std::min(len, kNormalLimit);
  std::memset(formA, 0, limit);
  std::memset(formB, 0, limit);
  normalize(static_cast<const uint8_t*>(a), len, keyword, keyword, formA);
  normalize(static_cast<const uint8_t*>(b), len, keyword, keyword, formB);
  int r = std::memcmp(formA, formB, limit);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

}  // namespace

int32_t compareBytes(const void* stored, const void* given, uint32_t keyLen) {
  int r = std::memcmp(stored, given, keyLen);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int32_t compareSigned(const void* stored, const void* given, uint32_t keyLen) {
  auto a = static_cast<const uint8_t*>(stored);
  auto b = static_cast<const uint8_t*>(given);
  if (keyLen == 0) return 0;
  if (keyLen <= 8) return order(readSigned(a, keyLen), readSigned(b, keyLen));
  // Longer little-endian numbers: the top byte carries the sign.
  int32_t top = order(static_cast<int8_t>(a[keyLen - 1]), static_cast<int8_t>(b[keyLen - 1]));
  if (top != 0) return top;
  for (uint32_t i = keyLen - 1; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

int32_t compareUnsigned(const void* stored, const void* given, uint32_t keyLen) {
  auto a = static_cast<const uint8_t*>(stored);
  auto b = static_cast<const uint8_t*>(given);
  if (keyLen <= 8) return order(readLittle(a, keyLen), readLittle(b, keyLen));
  for (uint32_t i = keyLen; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

int32_t compareFloat(const void* stored, const void* given, uint32_t keyLen) {
  if (keyLen == 4) {
    float a, b;
    std::memcpy(&a, stored, 4);
    std::memcpy(&b, given, 4);
    return order(a, b);
  }
  if (keyLen == 8) {
    double a, b;
    std::memcpy(&a, stored, 8);
    std::memcpy(&b, given, 8);
    return order(a, b);
  }
  return compareBytes(stored, given, keyLen);
}

int32_t compareAlphaNumeric(const void* stored, const void* given, uint32_t keyLen) {
  return compareNormalized(stored, given, keyLen, false);
}

int32_t compareKeyword(const void* stored, const void* given, uint32_t keyLen) {
  return compareNormalized(stored, given, keyLen, true);
}

BtreeCompareFunc chooseCompare(uint32_t keyType, uint32_t keyLen) {
  if (isSignedItemType(keyType)) return compareSigned;
  if (isUnsignedItemType(keyType)) return compareUnsigned;
  if (isFloatItemType(keyType)) {
    if (keyLen == 4 || keyLen == 8) return compareFloat;
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  }
  return compareBytes;
}

BtreeCompareFunc projectIndexCompare(uint32_t fieldFlags, uint32_t typeCode, uint32_t itemType, uint32_t keyLen) {
  if (fieldFlags & 0x10000) return compareAlphaNumeric;
  if (fieldFlags & 0x20000) return compareKeyword;
  if (typeCode < 2 || (fieldFlags & 0x10000000)) return compareBytes;
  // Numbers compare by their value: negative values before positive ones.
  if (isSignedItemType(itemType)) return compareSigned;
  if (isFloatItemType(itemType) && (keyLen == 4 || keyLen == 8)) return compareFloat;
  return compareUnsigned;
}

void buildKey(const IndexEntry& e, const uint8_t* record, uint8_t* key) {
  if (!e.composite()) {
    std::memcpy(key, record + e.keyDesc, e.keyLen);
    return;
  }
  uint32_t at = 0;
  for (int i = 0; i < e.partCount(); ++i) {
    const FileIndexKeyPart& part = e.parts[i];
    if (part.type < 2) {
      std::memcpy(key + at, record + part.offset, part.length);
      at += part.length;
    } else {
      // The part's own bytes, never more: a 1- or 2-byte field does not drag
      // in its neighbours.
      uint64_t value = readLittle(record + part.offset, part.length);
      for (uint32_t d = 0; d < 2u * part.length; ++d) {
        uint32_t shift = 4 * (2u * part.length - 1 - d);
        uint32_t nibble = shift < 64 ? static_cast<uint32_t>((value >> shift) & 0xF) : 0;
        key[at + d] = static_cast<uint8_t>("0123456789ABCDEF"[nibble]);
      }
      at += 2u * part.length;
    }
  }
}

uint32_t indexNodeSize(uint32_t order, uint32_t keyLen) { return 10 + 2 * order * (keyLen + 8); }

uint16_t indexHeaderSum(const uint8_t* header) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kIndexHeaderLen; i += 2) sum += get_u16le(header + i);
  return static_cast<uint16_t>(sum);
}

void writeIndexHeader(uint8_t* out, const IndexHeader& f, bool clean) {
  std::memcpy(out, clean ? kCleanMagic : kDirtyMagic, kMagicLen);
  std::memcpy(out + 12, kVersionText, sizeof kVersionText);
  put_u16le(out + 32, static_cast<uint16_t>(kIndexHeaderLen));
  put_u16le(out + 34, f.tableId);
  put_u16le(out + 36, f.order);
  put_u16le(out + 38, 0);
  put_u16le(out + 40, f.recordLen);
  put_u16le(out + 42, static_cast<uint16_t>(f.keyDesc));
  put_u16le(out + 44, f.keyLen);
  put_u16le(out + 46, 0);
  put_u16le(out + 46, static_cast<uint16_t>(0x10000 - indexHeaderSum(out)));
}

IndexBuildProgress setIndexBuildProgress(IndexBuildProgress p) {
  std::swap(progress(), p);
  return p;
}

}  // namespace zemta::filedb

using namespace zemta;
using namespace zemta::filedb;

namespace {

enum class FileState { Sound, HeaderOnly, Rebuild };

// Checks an index file against what the table expects of it.
FileState checkIndexFile(const char* path, const IndexHeader& want, uint32_t& error) {
  error = 0;
  uint32_t openError = 0;
  ZemtaFileHandle file = ZemtaOpenFileWait(path, ZEMTA_GENERIC_READ, ZEMTA_FILE_SHARE_READ, ZEMTA_OPEN_EXISTING,
                                           ZEMTA_FILE_ATTRIBUTE_NORMAL, nullptr, nullptr, &openError, 0);
  if (!file) {
    if (openError == platform::kErrorFileNotFound || openError == platform::kErrorPathNotFound)
      return FileState::Rebuild;
    error = openError ? openError : static_cast<uint32_t>(ZEMTA_ERR_FILE_ACCESS);
    return FileState::Rebuild;
  }
  uint8_t header[kIndexHeaderLen];
  uint32_t done = 0;
  bool read = ZemtaReadFile(file, header, kIndexHeaderLen, &done, 0, ZEMTA_FILE_BEGIN) != 0;
  uint32_t size = ZemtaGetFileSize(file);
  ZemtaCloseFile(file);
  if (!read || done != kIndexHeaderLen) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return FileState::Rebuild;
  }
  if (indexHeaderSum(header) != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return FileState::Rebuild;
  }
  uint32_t nodeSize = indexNodeSize(want.order, want.keyLen);
  // The order is part of the node size: a file of another order must never be
  // opened with this one, even when its size happens to divide.
  bool sound = get_u16le(header + 32) == kIndexHeaderLen && get_u16le(header + 44) == want.keyLen &&
               get_u16le(header + 36) == want.order && std::memcmp(header, kCleanMagic, kMagicLen) == 0 &&
               size != 0xFFFFFFFFu && size > kIndexHeaderLen + 4 && (size - kIndexHeaderLen - 4) % nodeSize == 0;
  if (!sound) return FileState::Rebuild;
  if (get_u16le(header + 34) != want.tableId || get_u16le(header + 38) != 0 ||
      get_u16le(header + 40) != want.recordLen || static_cast<int16_t>(get_u16le(header + 42)) != want.keyDesc)
    return FileState::HeaderOnly;
  return FileState::Sound;
}

// Fills the tree from every record of the table, in file order.
bool buildFromRecords(Table& t, IndexEntry& e, const char* title) {
  uint32_t count;
  if (!fileRecordCount(t, count)) return false;
  std::string caption = kBuildCaption;
  if (title && *title) caption += std::string(" - ") + title;
  uint32_t every = count == 0 ? 1 : (count + 9) / 10;
  auto& p = progress();
  if (p.begin) p.begin(caption, count == 0 ? 0 : (count + every - 1) / every);
  std::vector<uint8_t> record(t.recordLen), key(e.keyLen);
  bool ok = true;
  // Records are read in runs so a large table is not read one record per call.
  const uint32_t perRun = std::max<uint32_t>(1, (1u << 20) / t.recordLen);
  std::vector<uint8_t> run;
  for (uint32_t start = 0; ok && start < count; start += perRun) {
    uint32_t n = std::min(perRun, count - start);
    run.resize(static_cast<size_t>(n) * t.recordLen);
    uint32_t done = 0;
    if (!ZemtaReadFile(t.file, run.data(), static_cast<uint32_t>(run.size()), &done,
                       static_cast<int32_t>(t.recordOffset(start)), ZEMTA_FILE_BEGIN)) {
      ZEMTA_REPORT(platform::lastError());
      ok = false;
      break;
    }
    if (done != run.size()) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
      ok = false;
      break;
    }
    for (uint32_t i = 0; i < n; ++i) {
      buildKey(e, run.data() + static_cast<size_t>(i) * t.recordLen, key.data());
      if (BtreeIns(e.handle, t.recordOffset(start + i), key.data()) < 0) {
        ok = false;
        break;
      }
      if ((start + i + 1) % every == 0 && p.step) p.step();
    }
  }
  if (p.end) p.end();
  return ok;
}

}  // namespace

ZEMTA_API int32_t FileAddIndex(FileDBHandle handle, const char* path, uint32_t order, uint32_t keyType,
                               int32_t keyDesc, uint32_t keyLen, uint32_t fieldWord, BtreeCompareFunc compare,
                               const FileIndexKeyPart* parts, const char* progressTitle) {
  Table* tp = checkedTable(handle);
  if (!tp) return -1;
  Table& t = *tp;
  if (!endLinger(t)) return -1;
  if (t.indexes.size() >= kMaxIndexes) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  if (!path || !*path) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_FILE_NAME);
    return -1;
  }
  if (order == 0 || order > 0xFFFF || keyLen == 0 || keyLen > 0xFFFF || keyDesc < -FILEIDX_MAX_PARTS ||
      keyDesc > 0x7FFF) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  IndexEntry e;
  e.order = static_cast<uint16_t>(order);
  e.keyType = static_cast<uint16_t>(keyType);
  e.keyDesc = static_cast<int16_t>(keyDesc);
  e.keyLen = static_cast<uint16_t>(keyLen);
  e.fieldWord = static_cast<uint16_t>(fieldWord);
  e.path = path;
  // A key must lie inside the record, and a composite key's length must be
  // what its parts give: keys are built into buffers of that length.
  if (e.composite()) {
    if (!parts) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
      return -1;
    }
    uint32_t total = 0;
    for (int i = 0; i < e.partCount(); ++i) {
      e.parts[i] = parts[i];
      if (parts[i].length == 0 || static_cast<uint32_t>(parts[i].offset) + parts[i].length > t.recordLen) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
        return -1;
      }
      total += parts[i].type < 2 ? parts[i].length : 2u * parts[i].length;
    }
    if (total != keyLen) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
  } else if (static_cast<uint32_t>(keyDesc) + keyLen > t.recordLen) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }

  if (t.remote()) {
    // The service keeps the indexes of a record store: only the entry is kept.
    e.compare = compare ? compare : chooseCompare(keyType, keyLen);
    e.check = -1;
    e.handle = -1;
    t.indexes.push_back(e);
    return 0;
  }

  IndexHeader want{t.id, e.order, t.recordLen, e.keyDesc, e.keyLen};
  uint32_t error = 0;
  FileState state = checkIndexFile(path, want, error);
  if (error != 0) {
    if (error != platform::kErrorSharingViolation) ZEMTA_REPORT(error);
    return -1;
  }
  if (state == FileState::Rebuild && platform::fileExists(path) && !platform::deleteFile(path)) {
    ZEMTA_REPORT(platform::lastError());
    return -1;
  }
  e.compare = compare ? compare : chooseCompare(keyType, keyLen);
  e.handle = BtreeCreate(path, kIndexHeaderLen, order, keyType, keyLen, e.compare, 0);
  if (e.handle < 0) return -1;
  e.check = ~e.handle;
  t.indexes.push_back(e);
  if (state == FileState::Sound) return 0;

  IndexEntry& entry = t.indexes.back();
  bool wasHeld = t.held;
  if (!holdTable(t, FILEDB_MODE_READ)) return -1;
  bool treeHeld = (entry.state & kIndexHeldEx) != 0;
  bool ok = treeHeld || BtreeOpen(entry.handle, BTREE_MODE_READ_WRITE | BTREE_MODE_NO_WRITE_THROUGH) == 0;
  if (ok && state == FileState::Rebuild) ok = buildFromRecords(t, entry, progressTitle);
  if (ok) {
    uint8_t header[kIndexHeaderLen];
    writeIndexHeader(header, want, true);
    ok = BtreeWrite(entry.handle, header, kIndexHeaderLen) == 0;
  }
  if (!treeHeld && BtreeClose(entry.handle) < 0) ok = false;
  if (!wasHeld) releaseHold(t);
  return ok ? 0 : -1;
}

ZEMTA_API int32_t FileMakeCplIndexKey(FileDBHandle handle, int32_t index, void* key, const void* record) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (index < 0 || static_cast<size_t>(index) >= t->indexes.size() || !t->indexes[index].composite()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (!key || !record) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  buildKey(t->indexes[index], static_cast<const uint8_t*>(record), static_cast<uint8_t*>(key));
  return 0;
}

ZEMTA_API int32_t FileGetIndexPos(FileDBHandle handle, int32_t keyOffset, int32_t keyLen, int32_t quiet) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  if (keyOffset == -1) return FILEIDX_RECORD_ORDER;
  for (size_t i = 0; i < t->indexes.size(); ++i) {
    const IndexEntry& e = t->indexes[i];
    if (!e.own()) continue;
    if (!e.composite()) {
      if (e.keyDesc == keyOffset && e.keyLen == keyLen) return static_cast<int32_t>(i);
    } else {
      int32_t total = 0;
      for (int p = 0; p < e.partCount(); ++p) total += e.parts[p].length;
      if (e.parts[0].offset == keyOffset && total == keyLen) return static_cast<int32_t>(i);
    }
  }
  if (!quiet) ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
  return -1;
}

ZEMTA_API int32_t FileIdxEqu(FileDBHandle handle, int32_t index, int32_t* recordNumber, const void* key) {
  Table* t = checkedTable(handle);
  if (!t) return -1;
  ApiLockGuard lock;
  if (!lock.ok()) return -1;
  if (index < 0 || static_cast<size_t>(index) >= t->indexes.size() || !t->indexes[index].own() ||
      (t->indexes[index].handle < 0 && !t->remote())) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_INDEX_HANDLE);
    return -1;
  }
  if (!recordNumber || !key) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  *recordNumber = -1;
  if (t->remote()) {
    // The service looks the key up; its record numbers count from 1.
    if (!openTable(*t, FILEDB_MODE_READ)) return -1;
    int32_t result = remoteIdxEqu(*t, t->indexes[index], key, recordNumber);
    if (!closeTable(*t)) result = -1;
    return result;
  }
  IndexEntry& e = t->indexes[index];
  bool held = (e.state & kIndexHeldEx) != 0;
  if (!held && BtreeOpen(e.handle, BTREE_MODE_READ) < 0) return -1;
  int32_t result = -1;
  uint32_t lastAtMost = 0, lastBelow = 0, first = 0;
  int32_t found = BtreeLEqu(e.handle, &lastAtMost, key);
  if (found == 0) {
    result = 0;
  } else if (found > 0) {
    int32_t below = BtreeLess(e.handle, &lastBelow, key);
    if (below >= 0 && below > 0 && lastBelow == lastAtMost) {
      result = 0;
    } else if (below >= 0 && BtreeNext(e.handle, &first, nullptr) > 0) {
      *recordNumber = static_cast<int32_t>((first - t->headerLen) / t->recordLen);
      result = first == lastAtMost ? 1 : 2;
    }
  }
  if (!held && BtreeClose(e.handle) < 0) result = -1;
  return result;
}

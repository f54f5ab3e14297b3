// dbfdump: prints a table file (".dbf") and checks its index files (".bxx").
//
//   dbfdump TABLE --header N --record M [--layout FILE] [--index FILE.bxx]...
//           [--first K] [--count K] [--no-hex]
//
// The header and each record are shown in hexadecimal and, with a layout, field
// by field. A layout file describes the record once, one field a line:
//
//   name offset width type      (type: text, signed, unsigned, float, bytes)
//
// For each index the tool shows its 48-byte header (magic, check word, fields)
// and walks the tree: every entry must point at a whole record inside the
// table, every record must be pointed at exactly once, and a simple key must
// equal the record's bytes at the key's offset. Nothing is written. Output is
// UTF-8; exit status 0 when every index is consistent, 1 when not, 2 on bad
// arguments or an unreadable table.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "lib/store/tables/filedb_internal.h"
#include "lib/core/little_endian.h"
#include "platform/base/cp932.h"
#include "zemta/btree.h"
#include "zemta/errors.h"

namespace {

struct RecordField {
  std::string name;
  uint32_t offset = 0;
  uint32_t width = 0;
  std::string type;
};

struct Options {
  std::string table;
  uint32_t headerLen = 0;
  uint32_t recordLen = 0;
  bool haveRecordLen = false;
  std::string layout;
  std::vector<std::string> indexes;
  uint64_t first = 0;
  uint64_t count = UINT64_MAX;
  bool hex = true;
};

void usage() {
  std::fputs(
      "usage: dbfdump TABLE --header N --record M [--layout FILE] [--index FILE.bxx]...\n"
      "               [--first K] [--count K] [--no-hex]\n",
      stderr);
}

bool readAll(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool loadLayout(const std::string& path, uint32_t recordLen, std::vector<RecordField>& fields) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "cannot read layout %s\n", path.c_str());
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream parts(line);
    RecordField f;
    if (!(parts >> f.name >> f.offset >> f.width >> f.type) || f.width == 0 ||
        static_cast<uint64_t>(f.offset) + f.width > recordLen) {
      std::fprintf(stderr, "%s:%d: bad field line\n", path.c_str(), number);
      return false;
    }
    fields.push_back(f);
  }
  return true;
}

void hexDump(const uint8_t* p, size_t n, const char* indent) {
  for (size_t row = 0; row < n; row += 16) {
    std::printf("%s%06zx ", indent, row);
    for (size_t i = row; i < row + 16; ++i) {
      if (i < n)
        std::printf(" %02X", p[i]);
      else
        std::printf("   ");
    }
    std::printf("  ");
    for (size_t i = row; i < row + 16 && i < n; ++i) std::putchar(p[i] >= 0x20 && p[i] < 0x7F ? p[i] : '.');
    std::putchar('\n');
  }
}

std::string fieldText(const RecordField& f, const uint8_t* p) {
  char buffer[64];
  if (f.type == "text") {
    std::string raw(reinterpret_cast<const char*>(p), f.width);
    raw.erase(raw.find_last_not_of(std::string("\0 ", 2)) + 1);
    return "\"" + platform::toUtf8Lossy(raw) + "\"";
  }
  if ((f.type == "signed" || f.type == "unsigned") && f.width <= 8) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < f.width; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    if (f.type == "signed" && f.width < 8 && (v >> (8 * f.width - 1)) & 1) v |= ~uint64_t{0} << (8 * f.width);
    if (f.type == "signed")
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v));
    else
      std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(v));
    return buffer;
  }
  if (f.type == "float" && (f.width == 4 || f.width == 8)) {
    if (f.width == 4) {
      float v;
      std::memcpy(&v, p, 4);
      std::snprintf(buffer, sizeof buffer, "%g", v);
    } else {
      double v;
      std::memcpy(&v, p, 8);
      std::snprintf(buffer, sizeof buffer, "%g", v);
    }
    return buffer;
  }
  std::string text;
  for (uint32_t i = 0; i < f.width; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", p[i]);
    text += buffer;
  }
  return text;
}

// Checks one index file against the table; true when consistent.
bool checkIndex(const std::string& path, const Options& o, const std::string& table, uint64_t records) {
  std::printf("\nindex %s\n", path.c_str());
  std::string file;
  if (!readAll(path, file)) {
    std::printf("  cannot be read\n");
    return false;
  }
  if (file.size() < zemta::filedb::kIndexHeaderLen + 4) {
    std::printf("  too short for an index file (%zu bytes)\n", file.size());
    return false;
  }
  const auto* h = reinterpret_cast<const uint8_t*>(file.data());
  bool ok = true;
  std::string magic = file.substr(0, 12);
  bool clean = magic == zemta::filedb::kCleanMagic;
  bool dirty = magic == zemta::filedb::kDirtyMagic;
  std::printf("  magic        %s\n", clean ? "clean" : (dirty ? "DIRTY (a writer stopped half-way)" : "unknown"));
  uint16_t sum = zemta::filedb::indexHeaderSum(h);
  std::printf("  check word   %04X (%s)\n", zemta::get_u16le(h + 46), sum == 0 ? "sums to 0" : "WRONG");
  uint16_t headerLen = zemta::get_u16le(h + 32), tableId = zemta::get_u16le(h + 34);
  uint16_t order = zemta::get_u16le(h + 36), recordLen = zemta::get_u16le(h + 40);
  int16_t keyDesc = static_cast<int16_t>(zemta::get_u16le(h + 42));
  uint16_t keyLen = zemta::get_u16le(h + 44);
  std::printf("  header len   %u\n  table id     %u\n  order        %u\n  record len   %u\n", headerLen, tableId,
              order, recordLen);
  if (keyDesc >= 0)
    std::printf("  key          offset %d, %u bytes\n", keyDesc, keyLen);
  else
    std::printf("  key          composite of %d parts, %u bytes\n", -keyDesc, keyLen);
  if (!clean || sum != 0) ok = false;
  if (recordLen != o.recordLen) {
    std::printf("  record length differs from the table's %u\n", o.recordLen);
    ok = false;
  }
  if (order == 0 || keyLen == 0 || headerLen != zemta::filedb::kIndexHeaderLen) {
    std::printf("  header fields are not those of an index file\n");
    return false;
  }
  uint32_t nodeSize = zemta::filedb::indexNodeSize(order, keyLen);
  if ((file.size() - 52) % nodeSize != 0) {
    std::printf("  size %zu is not 52 + whole nodes of %u bytes\n", file.size(), nodeSize);
    return false;
  }
  int32_t tree = BtreeCreate(path.c_str(), zemta::filedb::kIndexHeaderLen, order, 0, keyLen, nullptr, 0);
  if (tree < 0 || BtreeOpen(tree, BTREE_MODE_READ) < 0) {
    std::printf("  the tree cannot be opened\n");
    if (tree >= 0) BtreeRelease(tree);
    return false;
  }
  std::vector<uint32_t> seen(records, 0);
  std::vector<uint8_t> key(keyLen);
  uint32_t offset = 0;
  uint64_t entries = 0, problems = 0;
  auto problem = [&](const char* what, uint64_t entry, uint32_t at) {
    if (++problems <= 20) std::printf("  entry %llu (offset %u): %s\n", static_cast<unsigned long long>(entry), at, what);
  };
  while (BtreeNext(tree, &offset, key.data()) == 1) {
    ++entries;
    if (offset < o.headerLen || (offset - o.headerLen) % o.recordLen != 0) {
      problem("not the start of a record", entries, offset);
      continue;
    }
    uint64_t n = (offset - o.headerLen) / o.recordLen;
    if (n >= records) {
      problem("past the last record", entries, offset);
      continue;
    }
    if (++seen[n] == 2) problem("record pointed at twice", entries, offset);
    if (keyDesc >= 0 && static_cast<uint32_t>(keyDesc) + keyLen <= o.recordLen &&
        std::memcmp(key.data(), table.data() + offset + keyDesc, keyLen) != 0)
      problem("key differs from the record's bytes", entries, offset);
  }
  BtreeClose(tree);
  BtreeRelease(tree);
  for (uint64_t n = 0; n < records; ++n)
    if (seen[n] == 0 && ++problems <= 20) std::printf("  record %llu has no entry\n", static_cast<unsigned long long>(n));
  std::printf("  entries      %llu for %llu records\n", static_cast<unsigned long long>(entries),
              static_cast<unsigned long long>(records));
  if (problems > 0) std::printf("  %llu problem(s)\n", static_cast<unsigned long long>(problems));
  ok = ok && problems == 0;
  std::printf("  %s\n", ok ? "consistent" : "NOT consistent");
  return ok;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    const char* v = nullptr;
    if (a == "--header") {
      if (!(v = value("--header"))) return false;
      o.headerLen = static_cast<uint32_t>(std::strtoul(v, nullptr, 0));
    } else if (a == "--record") {
      if (!(v = value("--record"))) return false;
      o.recordLen = static_cast<uint32_t>(std::strtoul(v, nullptr, 0));
      o.haveRecordLen = true;
    } else if (a == "--layout") {
      if (!(v = value("--layout"))) return false;
      o.layout = v;
    } else if (a == "--index") {
      if (!(v = value("--index"))) return false;
      o.indexes.push_back(v);
    } else if (a == "--first") {
      if (!(v = value("--first"))) return false;
      o.first = std::strtoull(v, nullptr, 0);
    } else if (a == "--count") {
      if (!(v = value("--count"))) return false;
      o.count = std::strtoull(v, nullptr, 0);
    } else if (a == "--no-hex") {
      o.hex = false;
    } else if (!a.empty() && a[0] != '-' && o.table.empty()) {
      o.table = a;
    } else {
      return false;
    }
  }
  return !o.table.empty() && o.haveRecordLen && o.recordLen > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    usage();
    return 2;
  }
  ZemtaEnableLastErrorMessage(0);
  std::vector<RecordField> fields;
  if (!o.layout.empty() && !loadLayout(o.layout, o.recordLen, fields)) return 2;
  std::string table;
  if (!readAll(o.table, table)) {
    std::fprintf(stderr, "cannot read %s\n", o.table.c_str());
    return 2;
  }
  std::printf("table        %s\nfile size    %zu\nheader len   %u\nrecord len   %u\n", o.table.c_str(),
              table.size(), o.headerLen, o.recordLen);
  if (table.size() < o.headerLen) {
    std::printf("MALFORMED: shorter than its header\n");
    return 1;
  }
  uint64_t records = (table.size() - o.headerLen) / o.recordLen;
  uint64_t rest = (table.size() - o.headerLen) % o.recordLen;
  std::printf("records      %llu\n", static_cast<unsigned long long>(records));
  if (rest != 0) std::printf("MALFORMED: %llu bytes after the last whole record\n", static_cast<unsigned long long>(rest));
  const auto* bytes = reinterpret_cast<const uint8_t*>(table.data());
  if (o.headerLen > 0) {
    std::printf("\nheader\n");
    hexDump(bytes, o.headerLen, "  ");
  }
  for (uint64_t n = o.first; n < records && n - o.first < o.count; ++n) {
    const uint8_t* r = bytes + o.headerLen + n * o.recordLen;
    std::printf("\nrecord %llu (offset %llu)\n", static_cast<unsigned long long>(n),
                static_cast<unsigned long long>(o.headerLen + n * o.recordLen));
    for (const auto& f : fields) std::printf("  %-16s %s\n", f.name.c_str(), fieldText(f, r + f.offset).c_str());
    if (o.hex) hexDump(r, o.recordLen, "  ");
  }
  bool consistent = rest == 0;
  for (const auto& path : o.indexes) consistent = checkIndex(path, o, table, records) && consistent;
  return consistent ? 0 : 1;
}

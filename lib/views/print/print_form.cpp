// Print forms over project tables: a form file (a character grid with cell
// attributes and field placements) is loaded into a job as a section, its
// rows are classed into page areas, a detail section may be merged into the
// main one, and the page loop draws the areas over the records of the main
// table, filling the fields from each record, with the page counters and the
// notifications to the owner window.
//
// Form files: a 16-byte header ('N', 'A' or 'B', version >= 256, columns,
// rows, left and top margin, column and row pitch: PrintFormGeometry), the
// screen text (code page 932, lines ended by CR, ESC sets the attribute of
// what follows, 0x1A ends it), a 32-byte block (format 'B'), the items (u16
// count, 64 bytes each, the field layout entries), and a trailer (u16 length)
// whose "ZEMTA RESOURCE\r\n" word table lists the form's tables (bit 15: a
// table printed as a single record).
//
// Catalog entries of print forms: title (20), flags (u32 at 20; bit 0 the
// default, bit 1 a stop mark), attribute word (u16 at 24, non-zero: print
// form), three table ids (u16 at 26, 28, 30), the option word (u32 at 32; bit
// 0x10000 a list form), the records per group (i16 at 36) and the file name
// (at 56) in the project's folder 0.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "lib/core/library_locks.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "lib/views/print/print_internal.h"
#include "lib/views/view/view_registry.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"
#include "zemta/fileproj_resource.h"
#include "zemta/typed.h"
#include "zemta/winhelp.h"

namespace zemta::print {
namespace {

constexpr size_t kBlockLen = 4180;

// ---- form files --------------------------------------------------------------

struct Form {
  PrintFormGeometry geometry{};
  std::vector<uint8_t> text, attributes;
  std::vector<FormItem> items;
  std::vector<uint16_t> tables;
  uint32_t dataLength = 0;
};

bool readGeometry(const std::string& path, PrintFormGeometry& geometry) {
  std::ifstream in(platform::mapPath(path), std::ios::binary);
  uint8_t header[16];
  if (!in) {
    ZEMTA_REPORT(platform::kErrorFileNotFound);
    return false;
  }
  if (!in.read(reinterpret_cast<char*>(header), 16)) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_SIZE);
    return false;
  }
  if (header[0] != 'N' || (header[1] != 'A' && header[1] != 'B') || get_u16le(header + 2) < 256) {
    ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
    return false;
  }
  std::memcpy(&geometry, header, sizeof geometry);
  return true;
}

// The form through the project's resource loader, as the page loop uses it:
// the items' cells marked in the text, the tables of the trailer's words.
bool loadForm(const std::string& path, Form& form) {
  if (!readGeometry(path, form.geometry)) return false;
  FileProjForm loaded{};
  const int32_t need = FileProjResourceLoad(path.c_str(), &loaded, nullptr);
  if (need < 0) return false;
  const size_t width = loaded.width, height = loaded.height;
  form.text.assign(loaded.chars, loaded.chars + width * height);
  form.attributes.assign(loaded.attributes, loaded.attributes + width * height);
  for (uint16_t i = 0; i < loaded.itemCount; ++i) {
    FormItem item;
    std::memcpy(item.raw.data(), loaded.items + size_t{i} * 64, 64);
    const uint8_t* w = item.raw.data();
    item.column = get_u16le(w + 6);
    item.row = get_u16le(w + 8);
    item.width = get_u16le(w + 10);
    item.lines = get_u16le(w + 12);
    item.attribute = w[14];
    item.recordOffset = get_u16le(w + 20);
    item.size = get_u16le(w + 22);
    item.step = get_u16le(w + 26);
    form.items.push_back(item);
    for (uint16_t l = 0; l < item.lines && item.row + l < height; ++l)
      for (uint16_t c = 0; c < item.width && item.column + c < width; ++c) {
        form.text[(item.row + l) * width + item.column + c] = '*';
        form.attributes[(item.row + l) * width + item.column + c] = static_cast<uint8_t>(item.attribute);
      }
  }
  form.dataLength = static_cast<uint32_t>(need);
  form.tables.assign(loaded.words, loaded.words + loaded.wordCount);
  FileProjResourceFree(&loaded);
  return true;
}

// ---- catalog entries ---------------------------------------------------------

struct Resource {
  std::string title, file;
  uint32_t flags = 0, options = 0;
  uint16_t attribute = 0;
  std::array<uint16_t, 3> tables{};
  int16_t perGroup = 0;
  bool names(int32_t tableId) const {
    return tableId == 0 || std::find(tables.begin(), tables.end(), static_cast<uint16_t>(tableId)) != tables.end();
  }
};

Resource resourceOf(const std::array<uint8_t, fileproj::kCatalogRecordLen>& r) {
  Resource e;
  e.title = fileproj::fixedText(r.data(), 20);
  e.flags = get_u32le(r.data() + 20);
  e.attribute = get_u16le(r.data() + 24);
  for (int i = 0; i < 3; ++i) e.tables[i] = get_u16le(r.data() + 26 + 2 * i);
  e.options = get_u32le(r.data() + 32);
  e.perGroup = static_cast<int16_t>(get_u16le(r.data() + 36));
  e.file = fileproj::fixedText(r.data() + 56, 72);
  return e;
}

std::vector<Resource> printResources(const fileproj::Project& p, int32_t tableId) {
  std::vector<Resource> found;
  for (const auto& record : p.resources) {
    Resource e = resourceOf(record);
    if (e.attribute != 0 && e.names(tableId)) found.push_back(e);
  }
  return found;
}

// The table's default print form: the one entry with flag bit 0; none, two,
// or a stop mark without bit 0 is an error.
bool defaultResource(const fileproj::Project& p, int32_t tableId, Resource& out) {
  int found = 0;
  for (const Resource& e : printResources(p, tableId)) {
    if (e.flags & 0x1) {
      out = e;
      ++found;
    } else if (e.flags & 0x2) {
      ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
      return false;
    }
  }
  if (found > 1) ZEMTA_REPORT(ZEMTA_ERR_FILE_FORMAT);
  return found == 1;
}

std::string resourcePath(const fileproj::Project& p, const Resource& e) {
  std::string name = e.file;
  if (name.find('.') == std::string::npos) name += e.attribute ? ".paf" : ".daf";
  return p.folder + p.folderText(0) + name;
}

// ---- the page counters' fields (PrintSetRef) -----------------------------------

struct PageRef {
  bool set = false;
  int32_t fdbId = 0;
  FileProjTypeInfo page{}, count{};
  bool hasPage = false, hasCount = false;
};
PageRef& pageRef() {
  static PageRef ref;
  return ref;
}

void putCounter(uint8_t* image, size_t size, const FileProjTypeInfo& field, uint32_t value) {
  if (field.offset + field.size > size) return;
  uint8_t* at = image + field.offset;
  if (field.typeCode < 2) {  // text: the number as digits
    char digits[16];
    std::snprintf(digits, sizeof digits, "%u", value);
    std::memset(at, 0, field.size);
    std::memcpy(at, digits, std::min<size_t>(field.size, std::strlen(digits)));
    return;
  }
  for (uint16_t i = 0; i < field.size && i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// ---- sections ----------------------------------------------------------------

// The section's record-buffer set in its project, and its number there (set
// numbers move as other sets are removed); null for a section without one.
zemta::fileproj::BufferSet* sectionSet(const PrintJob& job, const PrintSection& s, int32_t& number,
                                       zemta::fileproj::Project** project = nullptr) {
  if (!s.set || !job.project) return nullptr;
  zemta::fileproj::Project* p = zemta::fileproj::findProject(job.project);
  if (!p) return nullptr;
  number = FileProjBufNumber(job.project, s.set);
  if (number < 0) return nullptr;
  if (project) *project = p;
  return zemta::fileproj::bufferSet(*p, number);
}

// Fills the grid cells of every field from the records: the images the
// section's set shows (table after table, each table's visible rows in
// order, as the form's record offsets count them), or the one record of a
// job without a project.
void fillFields(const PrintJob& job, PrintSection& s) {
  s.text = s.formText;
  s.attributes = s.formAttributes;
  std::vector<ItemSegment> segments;
  std::vector<uint8_t> blank;
  int32_t number = -1;
  if (zemta::fileproj::BufferSet* set = sectionSet(job, s, number)) {
    for (const auto& slot : set->slots) blank.resize(std::max(blank.size(), slot.size()), 0);
    for (const auto& entry : set->entries) {
      if (segments.size() == 0xFFFF) break;
      // A position that shows no row reads as an empty record.
      uint8_t* image = entry.image ? static_cast<uint8_t*>(entry.image) : blank.data();
      segments.push_back(ItemSegment{entry.length, image});
    }
  }
  if (segments.empty())
    segments.push_back(ItemSegment{static_cast<uint16_t>(std::min<size_t>(s.record.size(), 0xFFFF)), s.record.data()});
  ItemForm form{};
  form.segmentRows = static_cast<uint16_t>(segments.size());
  form.segmentColumns = 1;
  form.segments = segments.data();
  if (s.scratch) {
    form.headerSize = static_cast<uint16_t>(std::min<size_t>(s.scratch->size(), 0xFFFF));
    form.header = s.scratch->data();
  }
  for (const FormItem& item : s.items) {
    if (item.lines == 0) continue;
    ItemFormItem words;
    std::memcpy(words.words, item.raw.data(), 64);
    for (uint16_t l = 0; l < item.lines && item.row + l < s.rows; ++l) {
      char value[4096] = {0};
      if (ItemGetStr(&form, &words, l, value, 4094) != 0) value[0] = 0;
      const size_t length = std::strlen(value);
      const size_t at = static_cast<size_t>(item.row + l) * s.columns + item.column;
      for (uint16_t c = 0; c < item.width && item.column + c < s.columns; ++c) {
        s.text[at + c] = c < length ? static_cast<uint8_t>(value[c]) : ' ';
        s.attributes[at + c] = static_cast<uint8_t>(item.attribute);
      }
      // A double-byte character cut at the field's end would run into the next cell.
      const size_t shown = std::min<size_t>(length, item.width);
      if (shown > 0 && platform::cp932::fitLength(std::string_view(value, length), shown) < shown)
        s.text[at + shown - 1] = ' ';
    }
  }
}

bool usedCell(uint8_t c, uint8_t a) { return c != ' ' || ((a & 0x0E) != 0 && a != 0xF5); }

// Classes the rows into areas; false for a form whose areas are out of order.
bool findAreas(PrintSection& s) {
  int32_t height = 0;
  for (int32_t r = 0; r < s.rows; ++r)
    for (int32_t c = 0; c < s.columns; ++c)
      if (usedCell(s.formText[r * s.columns + c], s.formAttributes[r * s.columns + c])) height = r + 1;
  for (const FormItem& item : s.items)
    if (item.lines > 0) height = std::max<int32_t>(height, std::min<int32_t>(s.rows, item.row + item.lines));
  if (height == 0) return false;
  auto& m = s.markers;
  m.fill(-1);
  enum { kBefore, kInDetail, kInGroupFooter, kInPageFooter } state = kBefore;
  bool pageHeaderTaken = false;
  int32_t end = height;
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t a = s.formAttributes[r * s.columns];
    const char kind = (a & 0x02) ? 'D' : (a & 0x04) ? 'H' : 'P';
    if (state == kBefore) {
      if (kind == 'P' && m[kDetail] < 0 && m[kDetailHeader] < 0 && r > 0 && m[kGroupHeader] < 0) {
        // H rows at the top followed by a P row: a page header, then the group header.
        bool allHeader = true;
        for (int32_t k = 0; k < r; ++k)
          if ((s.formAttributes[k * s.columns] & 0x06) != 0x04) allHeader = false;
        if (allHeader) {
          if (pageHeaderTaken) return false;
          pageHeaderTaken = true;
          m[kPageHeader] = 0;
          m[kGroupHeader] = r;
        }
      } else if (kind == 'H' && m[kDetailHeader] < 0 && r > 0 && !pageHeaderTaken) {
        bool topHeader = true;
        for (int32_t k = 0; k <= r; ++k)
          if ((s.formAttributes[k * s.columns] & 0x06) != 0x04) topHeader = false;
        if (!topHeader) {
          m[kDetailHeader] = r;
          if (m[kGroupHeader] < 0) m[kGroupHeader] = 0;
        }
      } else if (kind == 'H' && m[kDetailHeader] < 0 && pageHeaderTaken) {
        m[kDetailHeader] = r;
      }
      if (kind == 'D') {
        m[kDetail] = r;
        state = kInDetail;
        if (r > 0 && m[kGroupHeader] < 0 && m[kPageHeader] < 0 && m[kDetailHeader] < 0) m[kGroupHeader] = 0;
      }
    } else if (state == kInDetail) {
      if (kind == 'H' && m[kDetailFooter] < 0 && m[kGroupFooter] < 0) m[kDetailFooter] = r;
      if (kind == 'P') {
        m[kGroupFooter] = r;
        state = kInGroupFooter;
      }
      if (kind == 'D' && m[kDetailFooter] >= 0) return false;
    } else if (state == kInGroupFooter) {
      if (kind == 'D') return false;
      if (kind == 'H') {
        m[kPageFooter] = r;
        state = kInPageFooter;
      }
    } else if (state == kInPageFooter) {
      if (kind == 'P') {
        end = r;
        break;
      }
    }
  }
  // With only H rows at the top and no P row after them the header rows are the detail header.
  if (m[kDetail] < 0 && m[kDetailHeader] < 0 && m[kPageHeader] < 0 && m[kGroupHeader] < 0) m[kGroupHeader] = 0;
  m[kEnd] = end;
  for (int a = 0; a < 7; ++a) {
    s.areaRows[a] = 0;
    if (m[a] < 0) continue;
    int32_t next = end;
    for (int b = a + 1; b < 8; ++b)
      if (m[b] >= 0) {
        next = m[b];
        break;
      }
    s.areaRows[a] = std::max(0, next - m[a]);
  }
  return true;
}

// The section's fonts' base width and height and the raise of the text.
void baseFont(const PrintJob& job, PrintSection& s) {
  const double cw = s.columnWidth, rh = s.rowHeight;
  int32_t w, h;
  if (job.flags & PRINT_SHRINK) {
    w = static_cast<int32_t>(std::floor(cw));
    h = (rh > 1.66 * cw && rh < 1.68 * cw) ? static_cast<int32_t>(std::floor(rh + 0.5))
                                           : std::max(2 * w, static_cast<int32_t>(std::floor(rh)));
    if (job.flags & PRINT_TALL_FONTS) h = std::max(h, static_cast<int32_t>(std::floor(1.5 * rh)));
  } else {
    w = std::max(8, static_cast<int32_t>(std::floor(cw + 0.5)));
    h = (rh > 1.66 * cw && rh < 1.68 * cw) ? static_cast<int32_t>(std::floor(rh))
                                           : std::max(2 * w, static_cast<int32_t>(std::floor(rh + 0.5)));
    if (h > 4 * w - 3) h = std::max(2 * w, static_cast<int32_t>(std::floor(rh / std::sqrt(2.0) + 0.5)));
    h = std::max(h, 29);
  }
  s.fontWidth = std::max(1, w);
  s.fontHeight = std::max(1, h);
  // Text taller than the row starts above it, shorter text sits in its middle.
  s.raise = static_cast<int32_t>(std::lround((rh - s.fontHeight) / 2));
}

// The font a cell attribute picks: (height, width, weight, underline).
struct CellFont {
  int32_t height, width, weight;
  bool underline, wide;
};
CellFont fontOf(const PrintSection& s, uint8_t attribute) {
  const int32_t w = s.fontWidth, h = s.fontHeight;
  static const int kWide[8] = {1, 1, 0, 1, 1, 0, 0, 0};
  int32_t height = h, width = w;
  switch ((attribute & 0x70) >> 4) {
    case 0: height = 2 * h, width = 2 * w; break;
    case 1: height = 2 * h, width = h; break;
    case 2: height = 2 * h, width = w; break;
    case 3: height = 4 * w, width = 2 * w; break;
    case 4: height = h, width = 2 * w; break;
    case 5: height = h, width = h / 2; break;
    case 6: height = h, width = w; break;
    case 7: height = 2 * w, width = w; break;
  }
  return CellFont{height, width, (attribute & 0x80) ? 600 : 900, (attribute & 0x08) != 0,
                  kWide[(attribute & 0x70) >> 4] != 0};
}

// The section that owns an area marker and the row it names.
PrintSection* sectionOf(PrintJob& job, int32_t marker, int32_t& row) {
  const size_t number = static_cast<size_t>(marker >> 16);
  row = marker & 0xFFFF;
  return number < job.sections.size() ? job.sections[number].get() : nullptr;
}

// Draws rows [first, first + count) of a section at the page position y.
void drawRows(PrintJob& job, PrintSection& s, int32_t first, int32_t count, int32_t y) {
  platform::ui::DrawContext* dc = job.device.context();
  if (!dc || count <= 0) return;
  dc->setUnits(platform::ui::DrawUnits::Device);
  dc->setTextColour(0);
  const double cw = s.columnWidth, rh = s.rowHeight;
  for (int32_t r = 0; r < count && first + r < s.rows; ++r) {
    const int32_t row = first + r;
    const int32_t top = y + static_cast<int32_t>(std::lround(r * rh));
    const uint8_t* text = s.text.data() + size_t(row) * s.columns;
    const uint8_t* attrs = s.attributes.data() + size_t(row) * s.columns;
    double x = 0;  // in cells
    int32_t lastAttr = -1;
    for (int32_t c = 0; c < s.columns;) {
      const uint8_t a = attrs[c];
      const bool twoBytes = platform::cp932::isLeadByte(text[c]) && c + 1 < s.columns;
      const std::string ch(reinterpret_cast<const char*>(text + c), twoBytes ? 2 : 1);
      const CellFont font = fontOf(s, a);
      if (a != lastAttr) {
        dc->setFontCell("ＭＳ 明朝", font.height, font.width, font.weight, false, font.underline);
        lastAttr = a;
      }
      const int32_t left = s.left + static_cast<int32_t>(std::lround(x * cw));
      const uint32_t mask = twoBytes ? GetLineCharMask((uint32_t{text[c]} << 8) | text[c + 1]) : 0;
      if (mask) {
        // A ruled-line character: strokes from the middle of its two cells.
        const int32_t right = s.left + static_cast<int32_t>(std::lround((x + 2) * cw));
        const int32_t bottom = top + static_cast<int32_t>(std::lround(rh));
        const int32_t mx = (left + right) / 2, my = (top + bottom) / 2;
        for (int thick = 0; thick < 2; ++thick) {
          const uint32_t bits = (mask >> (thick * 8)) & 0xF;
          if (!bits) continue;
          dc->setPen(0, thick ? job.thickPen : job.thinPen);
          if (bits & 0x1) dc->line(mx, top, mx, my);
          if (bits & 0x2) dc->line(mx, my, right, my);
          if (bits & 0x4) dc->line(mx, my, mx, bottom);
          if (bits & 0x8) dc->line(left, my, mx, my);
        }
      } else if (ch != " " || font.underline) {
        const int32_t cellTop = top + s.raise - (font.height - s.fontHeight);
        dc->textOut(left, cellTop, ch);
      }
      const int step = twoBytes ? 2 : 1;
      x += font.wide && !mask ? 2.0 * step : step;
      c += step;
    }
  }
}

LRESULT notify(PrintJob& job, uint32_t code) {
  if (g_nMsgRefExt == 0) return 0;
  HWND window = job.notifyWindow ? job.notifyWindow : job.owner;
  if (!window || !platform::ui::isWindow(window)) return 0;
  std::vector<uint8_t> block(kBlockLen, 0);
  put_u32le(block.data(), job.handle);
  put_u16le(block.data() + 4, static_cast<uint16_t>(job.resourceKey));
  put_i32le(block.data() + 24, job.resourceKey);
  return platform::ui::sendMessage(window, g_nMsgRefExt, code, reinterpret_cast<LPARAM>(block.data()));
}

}  // namespace

namespace {

using zemta::fileproj::BufferSet;
using zemta::fileproj::BufferSlot;
using zemta::fileproj::Field;

int32_t slotOfTable(const zemta::fileproj::Project& p, const BufferSet& set, int32_t fdbId) {
  const int32_t table = zemta::fileproj::tableIndexOf(p, fdbId);
  for (size_t k = 0; table >= 0 && k < set.slots.size(); ++k)
    if (set.slots[k].table == table && !set.slots[k].header()) return static_cast<int32_t>(k);
  return -1;
}

// The page counters go into the fields PrintSetRef named, in every row the
// set shows of that table.
void putCounters(const PrintJob& job, zemta::fileproj::Project& p, BufferSet& set) {
  const PageRef& ref = pageRef();
  if (!ref.set) return;
  const int32_t table = zemta::fileproj::tableIndexOf(p, ref.fdbId);
  for (size_t k = 0; table >= 0 && k < set.slots.size(); ++k) {
    if (set.slots[k].table != table || set.slots[k].header()) continue;
    for (int q = 0; q < set.visible; ++q) {
      const auto& entry = set.entries[k * set.visible + q];
      if (!entry.image) continue;
      auto* image = static_cast<uint8_t*>(entry.image);
      if (ref.hasPage) putCounter(image, entry.length, ref.page, job.pageNumber);
      if (ref.hasCount) putCounter(image, entry.length, ref.count, job.pageCount);
    }
  }
}

// Works out the calculated fields of the rows shown: every chain is started
// again from the operand its calculated field names. The rows keep no edit
// mark for it: the job changes nothing that is stored.
bool calculate(const PrintJob& job, zemta::fileproj::Project& p, BufferSet& set) {
  for (const BufferSlot& home : set.slots) {
    if (home.header()) continue;
    for (const Field& calculated : p.tables[home.table].fields) {
      if ((calculated.kind() & 0xF) != 7) continue;
      const int32_t k = slotOfTable(p, set, calculated.refTable());
      if (k < 0) continue;
      const BufferSlot& slot = set.slots[static_cast<size_t>(k)];
      const Field* operand = nullptr;
      for (const Field& f : p.tables[slot.table].fields)
        if (f.id() == calculated.refField()) operand = &f;
      if (!operand || operand->offset() + operand->size() > slot.size()) continue;
      for (int q = 0; q < set.visible; ++q) {
        auto* image = static_cast<uint8_t*>(set.entries[static_cast<size_t>(k) * set.visible + q].image);
        if (image && zemta::fileproj::recalculate(p, job.handle, image + operand->offset()) < 0) return false;
      }
    }
  }
  for (BufferSlot& slot : set.slots)
    for (uint32_t& flags : slot.flags) flags &= ~zemta::fileproj::kRowEdited;
  return true;
}

// Shows the records from entry first of the list in the section's set: the
// main table's rows, the single-record tables' record 0, what the references
// lead to and the calculated fields, with the page counters. A section
// without a set keeps its zeroed record.
bool showRecords(PrintJob& job, PrintSection& s, const FileRecList& records, int32_t first) {
  zemta::fileproj::Project* p = nullptr;
  int32_t number = -1;
  BufferSet* set = sectionSet(job, s, number, &p);
  if (!set) return !s.set;
  const int32_t main = slotOfTable(*p, *set, job.mainTable);
  if (main < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return false;
  }
  for (int32_t id : s.tableIds) {
    const int32_t k = slotOfTable(*p, *set, id & 0x7FFF);
    if ((id & 0x8000) && k >= 0 && k != main && zemta::fileproj::readRows(*p, number, k, 0, nullptr, 0) < 0)
      return false;
  }
  if (zemta::fileproj::readRows(*p, number, main, -1, &records, first) < 0) return false;
  if (zemta::fileproj::fillDependents(*p, number, main) < 0) return false;
  // A view's own set is worked out by the view.
  if (s.ownsSet && !calculate(job, *p, *set)) return false;
  putCounters(job, *p, *set);
  return true;
}

}  // namespace

}  // namespace zemta::print

using namespace zemta::print;
using zemta::fileproj::Project;

ZEMTA_API LRESULT PrintNotify(PrintHandle handle, uint32_t code) {
  PrintJob* job = findJob(handle);
  return job ? notify(*job, code) : 0;
}

ZEMTA_API int32_t PrintAddFile(PrintHandle handle, int32_t tableId, uint32_t formFlags, const char* formPath,
                               void* recordBuffer) {
  PrintJob* job = findJob(handle);
  if (!job || !job->documentOpen || job->sections.size() >= 2 || !formPath) return -1;
  Form form;
  if (!loadForm(formPath, form)) return -1;
  auto s = std::make_unique<PrintSection>();
  s->flags = formFlags;
  s->tableId = tableId;
  for (uint16_t id : form.tables) s->tableIds.push_back(id);
  if (s->tableIds.empty() && tableId) s->tableIds.push_back(static_cast<uint16_t>(tableId));
  const bool ownScratch = (form.dataLength & 0x40000000u) != 0;
  if (job->project) {
    if (std::none_of(s->tableIds.begin(), s->tableIds.end(),
                     [&](int32_t id) { return (id & 0x7FFF) == (tableId & 0x7FFF); })) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
      return -1;
    }
    if (s->tableIds.size() > 128) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    for (int32_t id : s->tableIds) {
      FileDBHandle table = FileProjGetFdb(job->project, id & 0x7FFF);
      if (!table) return -1;
      if ((id & 0x8000) && (id & 0x7FFF) == job->mainTable) job->mainRecordCount = 1;
      if ((id & 0x7FFF) != job->mainTable && FileDBRecGetSize(table) < 0) return -1;
    }
    // A later form over the same tables fills its fields from the earlier
    // one's rows (and header, unless it asks for its own).
    const PrintSection* earlier = nullptr;
    for (const auto& e : job->sections)
      if (e->set && e->tableId == tableId && e->tableIds == s->tableIds) earlier = e.get();
    if (recordBuffer) {
      s->set = static_cast<FileProjBufHandle>(recordBuffer);
      if (FileProjBufNumber(job->project, s->set) < 0) {
        ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
        return -1;
      }
    } else if (earlier) {
      s->set = earlier->set;
      if (!ownScratch) s->scratch = earlier->scratch;
    } else {
      // The job's own rows: one a field line (4096 for a detail form that
      // is not the main one), bound to the job and its notification window.
      int32_t lines = 1;
      for (const FormItem& item : form.items) lines = std::max<int32_t>(lines, item.lines);
      const int32_t rows = (formFlags & 0x10000) && !(formFlags & 0x1) ? 4096 : lines;
      std::vector<int32_t> ids;
      for (int32_t id : s->tableIds) ids.push_back(id & 0x7FFF);
      s->set = FileProjBufAdd(job->project, rows, static_cast<int32_t>(ids.size()), ids.data());
      if (!s->set) return -1;
      HWND window = job->notifyWindow ? job->notifyWindow : job->owner;
      // Only the positions the fields show are filled for each record; the
      // other rows stay spare.
      if (FileProjBufBind(job->project, job->handle, window, job->mainTable, 0) < 0 ||
          FileProjBufSetRows(job->project, s->set, lines) != 0) {
        FileProjBufRemove(job->project, s->set);
        return -1;
      }
      s->ownsSet = true;
    }
  } else {
    s->record.assign(std::max<uint32_t>(4, form.dataLength & 0x3FFFFFFF), 0);
  }
  if (!s->scratch && ownScratch) {
    s->scratch = std::make_shared<std::vector<uint8_t>>(std::max<uint32_t>(4, form.dataLength & 0x3FFFFFFF), 0);
    zemta::put_u32le(s->scratch->data(), static_cast<uint32_t>(job->mainTable));
  }
  const PrintFormGeometry& g = form.geometry;
  s->left = std::max(0, g.leftMargin * job->dpiX / 2540 - job->offsetX);
  if (formFlags & 0x1)
    s->top = std::max(0, g.topMargin * job->dpiY / 2540 - ((job->flags & PRINT_PASSTHROUGH) ? 0 : job->offsetY));
  else
    s->top = g.topMargin * job->dpiY / 2540;
  s->columns = g.columns;
  s->rows = g.rows;
  PrintCellSize(handle, &g, nullptr, nullptr, &s->columnWidth, &s->rowHeight);
  s->formText = form.text;
  s->formAttributes = form.attributes;
  s->items = form.items;
  fillFields(*job, *s);
  if (!findAreas(*s)) {
    // A refused form leaves the job as it was.
    if (s->ownsSet) FileProjBufRemove(job->project, s->set);
    return -1;
  }
  baseFont(*job, *s);
  job->sections.push_back(std::move(s));
  return 0;
}

ZEMTA_API int32_t PrintCombine(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  if (!job) return -1;
  if (job->sections.size() < 2) return 0;
  auto main = std::find_if(job->sections.begin(), job->sections.end(),
                           [](const auto& s) { return (s->flags & 0x1) != 0; });
  if (main != job->sections.end()) std::rotate(job->sections.begin(), main, main + 1);
  PrintSection& first = *job->sections[0];
  const auto& m = first.markers;
  if (m[kDetail] < 0 || m[kDetailHeader] >= 0 || m[kDetailFooter] >= 0) return -1;
  for (size_t i = 1; i < job->sections.size(); ++i) {
    const auto& o = job->sections[i]->markers;
    if (o[kDetail] < 0 || o[kPageHeader] >= 0 || o[kGroupHeader] >= 0 || o[kPageFooter] >= 0) return -1;
  }
  // The other sections' areas follow the first's detail rows, so that each
  // record prints the first's detail and then theirs; every part names its
  // section.
  if (!first.detailParts.empty()) return 0;
  for (int a = 0; a < 8; ++a)
    if (first.markers[a] >= 0) first.markers[a] = first.markers[a] & 0xFFFF;
  first.detailParts.emplace_back(first.markers[kDetail], first.areaRows[kDetail]);
  for (size_t i = 1; i < job->sections.size(); ++i) {
    const PrintSection& other = *job->sections[i];
    for (int a : {kDetailHeader, kDetail, kDetailFooter, kGroupFooter})
      if (other.markers[a] >= 0 && other.areaRows[a] > 0) {
        first.detailParts.emplace_back(static_cast<int32_t>(i << 16) | other.markers[a], other.areaRows[a]);
        first.areaRows[kDetail] += other.areaRows[a];
      }
  }
  return 0;
}

ZEMTA_API int32_t PrintFields(PrintHandle handle) {
  PrintJob* job = findJob(handle);
  if (!job || !job->documentOpen || job->sections.empty()) return -1;
  PrintSection& first = *job->sections[0];
  if (first.markers[kDetail] < 0) return -1;
  // The records: the list's, else the whole main table.
  std::vector<uint32_t> records;
  if (job->list && job->list->count > 0 && job->list->items) {
    records.assign(job->list->items, job->list->items + job->list->count);
  } else {
    for (int32_t i = 0; i < job->mainRecordCount; ++i) records.push_back(static_cast<uint32_t>(i));
  }
  const FileRecList recordList{static_cast<int32_t>(records.size()), static_cast<int32_t>(records.size()),
                               records.data(), 0};
  auto show = [&](int32_t from) {
    for (auto& s : job->sections)
      if (!showRecords(*job, *s, recordList, from)) return false;
    return true;
  };
  notify(*job, 0x10001);
  job->pageNumber = 0;

  const double rh = first.rowHeight > 0 ? first.rowHeight : 1;
  const int32_t rowsPerPage = static_cast<int32_t>(job->availableHeight / rh);
  const bool list = (job->formOptions & 0x10000) != 0;
  auto rowsOf = [&](int area) { return first.areaRows[area]; };
  const int32_t detailHeight = std::max(1, rowsOf(kDetail));
  const int32_t perGroup = std::max<int32_t>(1, job->recordsPerGroup);
  const int32_t fixed = rowsOf(kPageHeader) + rowsOf(kDetailHeader) + rowsOf(kDetailFooter) + rowsOf(kPageFooter);
  const int32_t detailRowsLater = std::max(detailHeight, rowsPerPage - fixed);
  const int32_t detailRowsFirst = std::max(detailHeight, detailRowsLater - rowsOf(kGroupHeader));
  const int32_t perPageFirst = list ? std::max(1, detailRowsFirst / detailHeight) : perGroup;
  const int32_t perPageLater = list ? std::max(1, detailRowsLater / detailHeight) : perGroup;
  const int32_t total = static_cast<int32_t>(records.size());
  const int32_t beyond = std::max(0, total - perPageFirst);
  job->pageCount = static_cast<uint16_t>(1 + (beyond + perPageLater - 1) / perPageLater);
  if (job->pageCount < job->firstPage) return -1;

  auto drawPart = [&](int32_t marker, int32_t rows, int32_t& y) {
    int32_t row = 0;
    PrintSection* s = sectionOf(*job, marker, row);
    if (!s) return;
    drawRows(*job, *s, row, rows, y);
    y += static_cast<int32_t>(std::lround(rows * s->rowHeight));
  };
  auto drawArea = [&](int area, int32_t& y) {
    if (first.markers[area] < 0 || first.areaRows[area] <= 0) return;
    if (area == kDetail && !first.detailParts.empty()) {
      for (const auto& [marker, rows] : first.detailParts) drawPart(marker, rows, y);
      return;
    }
    drawPart(first.markers[area], first.areaRows[area], y);
  };
  auto refill = [&]() {
    for (auto& s : job->sections) fillFields(*job, *s);
  };

  int32_t next = 0;
  for (bool firstPage = true;; firstPage = false) {
    const int32_t onPage = std::min(total - next, firstPage ? perPageFirst : perPageLater);
    if (job->pageNumber + 1 < job->firstPage) {
      // A page before the chosen range: its records are passed over, so
      // that every printed page holds its own records under its number.
      ++job->pageNumber;
      next += onPage;
      continue;
    }
    if (!job->pageOpen && !startPage(*job)) return -1;
    notify(*job, 0x10003);
    ++job->pageNumber;
    if (!show(std::min(next, std::max(0, total - 1)))) return -1;
    refill();
    int32_t y = first.top;
    drawArea(kPageHeader, y);
    if (firstPage) {
      drawArea(kGroupHeader, y);
    } else if (job->recordsPerGroup > 0 && first.areaRows[kGroupHeader] > 0) {
      y += static_cast<int32_t>(std::lround(first.areaRows[kGroupHeader] * first.rowHeight));
    }
    if (onPage > 0) drawArea(kDetailHeader, y);
    if (notify(*job, 0x10005)) refill();
    for (int32_t i = 0; i < onPage; ++i, ++next) {
      if (!show(next)) return -1;
      refill();
      drawArea(kDetail, y);
    }
    if (notify(*job, 0x10006)) refill();
    if (onPage > 0) drawArea(kDetailFooter, y);
    const bool last = next >= total;
    if (last) {
      if (notify(*job, 0x10007)) refill();
      drawArea(kGroupFooter, y);
    }
    drawArea(kPageFooter, y);
    notify(*job, 0x10004);
    if (job->pageNumber == 1) notify(*job, 0x10008);
    if (!endPage(*job)) return -1;
    if (last || job->pageNumber >= job->lastPage) return 0;
  }
}

ZEMTA_API int32_t PrintSetRef(FileProjHandle project, const char* tableName, const char* pageField,
                              const char* countField) {
  if (zemta::fileproj::FileProjCheckHandle(project) < 0) return -1;
  if (!tableName) return -1;
  PageRef ref;
  FileProjTypeInfo info{};
  const int32_t fdbId = FileProjGetType(project, 0, tableName, 0, nullptr, nullptr, nullptr, 1);
  if (fdbId <= 0) return -1;
  ref.fdbId = fdbId;
  if (pageField) {
    if (FileProjGetType(project, fdbId, nullptr, 0, pageField, &info, nullptr, 1) <= 0) return -1;
    ref.page = info;
    ref.hasPage = true;
  }
  if (countField) {
    if (FileProjGetType(project, fdbId, nullptr, 0, countField, &info, nullptr, 1) <= 0) return -1;
    ref.count = info;
    ref.hasCount = true;
  }
  ref.set = true;
  pageRef() = ref;
  return 0;
}

namespace {

// Prints the table's default print form in a job made for it; the shared
// road of PrintResource and ViewPrintResource.
int32_t printDefaultForm(FileProjHandle project, int32_t tableId, HWND owner, FileRecList* list,
                         const char* printerName, ZemtaView view, int32_t currentRecord, bool askEmptyList) {
  Project* p = zemta::fileproj::findProject(project);
  if (!p) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJECT_HANDLE);
    return -1;
  }
  Resource entry;
  if (!defaultResource(*p, tableId, entry) || (entry.flags & 0x2)) return -1;
  if (askEmptyList && list && list->items && list->count == 0) {
    zemta::UnlockedMessageBox(owner, "印刷する当該リストが有りません。印刷は中止します。",
                              "注意 - " + entry.title, 0x40);
    return -1;
  }
  const std::string path = resourcePath(*p, entry);
  PrintFormGeometry geometry{};
  if (!readGeometry(path, geometry)) return -1;
  PrintHandle job = PrintCreate(entry.flags, entry.title.c_str(), owner, &geometry, printerName);
  if (!job) return -1;
  PrintJob* j = findJob(job);
  j->project = project;
  zemta::views::registerPrintJob(job, project);
  j->resourceKey = tableId;
  j->formOptions = entry.options;
  j->recordsPerGroup = entry.perGroup;
  j->view = view;
  j->currentRecord = currentRecord;
  j->notifyWindow = owner;
  if (list && list->count > 0) j->list = list;
  const int32_t mainTable = entry.tables[0] ? entry.tables[0] : tableId;
  FileDBHandle table = FileProjGetFdb(project, mainTable);
  j->mainTable = mainTable;
  const int32_t count = table ? FileDBRecGetSize(table) : -1;
  if (count < 0) {
    PrintDelete(job);
    return -1;
  }
  j->mainRecordCount = count;
  bool ok = true;
  bool mainAdded = false;
  for (const Resource& e : printResources(*p, tableId)) {
    uint32_t formFlags = e.flags;
    if (!mainAdded && e.file == entry.file) formFlags |= 0x1, mainAdded = true;
    if (PrintAddFile(job, mainTable, formFlags, resourcePath(*p, e).c_str(), nullptr) != 0) {
      ok = false;
      break;
    }
  }
  if (ok) ok = PrintCombine(job) == 0;
  if (ok) {
    const bool pushed = PushCursor(ZEMTA_IDC_WAIT) == 0;
    ok = PrintFields(job) == 0;
    if (pushed) PopCursor();
  }
  if (!ok) {
    PrintDelete(job);
    return -1;
  }
  if (endDocument(*j)) j->documentOpen = false;
  notify(*j, 0x10002);
  return PrintDelete(job);
}

}  // namespace

ZEMTA_API int32_t PrintResource(FileProjHandle project, int32_t tableId, HWND owner, FileRecList* list,
                                const char* printerName) {
  return printDefaultForm(project, tableId, owner, list, printerName, 0, -1, true);
}

ZEMTA_API int32_t ViewPrintResource(ZemtaView view, int32_t tableId, const char* printerName) {
  const ViewPrintSource& source = viewPrintSource();
  ViewPrintInfo info;
  if (!source || !source(view, info) || !info.project || !info.mainTable) return -1;
  FileRecList* list = info.list && info.list->count > 0 ? info.list : nullptr;
  return printDefaultForm(info.project, tableId ? tableId : info.mainTable, info.window, list, printerName, view,
                          info.currentRecord, false);
}

namespace zemta::print {

ViewPrintSource& viewPrintSource() {
  static ViewPrintSource source;
  return source;
}

}  // namespace zemta::print

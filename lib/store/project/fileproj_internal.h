// The inside of the project database, shared by fileproj.cpp (catalog, open,
// close, lookups, record-buffer set storage), fileproj_refresh.cpp (the
// refresh timer and its notifications), the searches and the project maker.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zemta/fileproj.h"
#include "zemta/filesearch.h"

namespace zemta::fileproj {

constexpr uint32_t kProjectCheck = 0xBACC0000;
constexpr size_t kMaxProjects = 32;
constexpr uint32_t kCatalogHeaderLen = 1152;
constexpr uint32_t kCatalogRecordLen = 128;
constexpr uint32_t kDescriptorLen = 256;
constexpr size_t kNameLen = 16;
constexpr size_t kMaxSets = 32;
constexpr uint32_t kRefreshPeriodMs = 10000;

// Catalog header offsets.
constexpr size_t kHeaderDataFolder = 32, kHeaderDataFolderLen = 36;
constexpr size_t kHeaderTableCount = 68, kHeaderResourceCount = 70;
constexpr size_t kHeaderFolders = 72, kHeaderFolderLen = 128;

// Table record offsets.
constexpr size_t kTableName = 0, kTableFdbId = 16, kTableId = 20, kTableHeaderLen = 28, kTableRecordLen = 30,
                 kTableHeaderFields = 32, kTableRecordFields = 34, kTableFile = 36, kTableFileLen = 18,
                 kTableCompositeCount = 54, kTableComposites = 56, kCompositeLen = 24, kCompositeFileLen = 16;

// Field descriptor offsets.
constexpr size_t kFieldName = 0, kFieldId = 16, kFieldFlags = 24, kFieldOffset = 28, kFieldSize = 30,
                 kFieldWord = 32, kFieldIndex = 34, kFieldIndexLen = 16, kFieldRefTable = 50, kFieldRefField = 52,
                 kFieldKind = 56, kFieldTypeWord = 154, kFieldImeMode = 156;

// A fixed text of a stored record: bytes up to the first 0 within its width.
std::string fixedText(const uint8_t* at, size_t width);
// Cuts a name as the catalog keeps it: at most limit bytes, never half a
// double-byte character.
std::string cutName(const std::string& name, size_t limit = kNameLen);

// FileProjField: the 256-byte descriptor as stored, read through accessors.
struct Field {
  std::array<uint8_t, kDescriptorLen> raw{};
  std::string name() const { return fixedText(raw.data() + kFieldName, kNameLen); }
  int32_t id() const;
  int32_t indexFlags() const;
  uint16_t offset() const;
  uint16_t size() const;
  uint16_t fieldWord() const;
  std::string indexFile() const { return fixedText(raw.data() + kFieldIndex, kFieldIndexLen); }
  uint16_t refTable() const;
  uint16_t refField() const;
  int32_t kind() const;
  uint16_t typeWord() const;
  uint16_t typeCode() const { return typeWord() & 0x3F; }
  // How a search key of the field is typed (low two bits): 0 as the input
  // method stands, 1 open, 2 closed over katakana without conversion, 3 open
  // for kana.
  uint8_t imeMode() const { return raw[kFieldImeMode] & 3; }
};

struct Composite {
  std::string file;
  std::vector<uint16_t> fields;
};

struct TableEntry {
  FileDBHandle table = 0;
  std::array<uint8_t, kCatalogRecordLen> record{};
  std::vector<Field> headerFields;
  std::vector<Field> fields;
  std::vector<uint8_t> work;
  bool local = false;

  std::string name() const { return fixedText(record.data() + kTableName, kNameLen); }
  int32_t fdbId() const;
  uint16_t tableId() const;
  uint16_t headerLen() const;
  uint16_t recordLen() const;
  uint16_t headerFieldCount() const;
  uint16_t recordFieldCount() const;
  std::string fileName() const { return fixedText(record.data() + kTableFile, kTableFileLen); }
  std::vector<Composite> composites() const;
};

// One table's part of a record-buffer set (fileproj_buffers.cpp).
struct BufferSlot {
  int32_t fdbId = 0;        // bit 15: the table's header instead of its records
  int32_t table = -1;       // index into the project's table entries; -1 none
  uint16_t rows = 0;
  uint16_t imageLen = 0;    // record length, or header length for a header slot
  size_t imageAt = 0;       // offset of row 0 in the set's images
  std::vector<uint32_t> flags;         // per buffer row, 8 at first
  std::vector<int32_t> recordNumbers;  // per buffer row, -1 none
  int32_t listPos = 0;      // the list entry shown first
  FileRecList list{};       // the list that feeds the slot (items null: none)
  bool current = false;     // brought up to date by the running refill
  bool header() const { return (fdbId & 0x8000) != 0; }
  size_t size() const { return imageLen; }
};

// Row flag bits (zemta/filebuf.h has them for the callers).
constexpr uint32_t kRowHoldsRecord = 0x1, kRowChanged = 0x2, kRowEdited = 0x4, kRowWatched = 0x8,
                   kRowPending = 0x10, kRowNew = 0x20, kRowLeftOut = 0x40, kRowSkipRefresh = 0x80,
                   kRowRelease = 0x80;
constexpr uint16_t kNoRow = 0xFFFF;

// One visible entry as the owner reads it (FileProjBufEntry).
struct VisibleEntry {
  uint16_t length = 0;
  void* image = nullptr;
};

struct BufferSet {
  uint32_t owner = 0;       // the view or print job that made the set; 0 unbound
  HWND window = nullptr;    // receives the set's notifications
  uint16_t item = 0;
  uint16_t rows = 0;        // buffer rows per table
  uint16_t visible = 0;     // visible positions, at most rows
  int32_t mainTable = -1;   // table entry index of the main table
  int32_t recordCount = 0;  // records of the main table's list, plus appended ones
  std::vector<BufferSlot> slots;
  size_t total = 0;              // bytes of all images
  std::vector<uint8_t> images;   // current images, then the saved copies; never resized
  std::vector<uint16_t> rowMap;  // slot-major, stride visible: buffer row or kNoRow
  std::vector<VisibleEntry> entries;  // slot-major, stride visible; never resized
  bool redraw = false;
  uint8_t* image(const BufferSlot& slot, int row) { return images.data() + slot.imageAt + row * slot.size(); }
  uint8_t* saved(const BufferSlot& slot, int row) { return image(slot, row) + total; }
  uint16_t& mapAt(size_t slot, int position) { return rowMap[slot * visible + position]; }
  VisibleEntry* handle() { return entries.data(); }
};

struct Project {
  FileProjHandle handle = 0;
  int32_t check = 0;
  uint16_t id = 0;
  std::string folder;       // absolute, ends in a backslash
  std::string catalogPath;
  HWND owner = nullptr;
  int32_t refreshOff = 0;
  bool opening = true;      // the refresh timer leaves a half-open project alone
  FileDBHandle catalog = 0;
  std::array<uint8_t, kCatalogHeaderLen> header{};
  std::vector<std::array<uint8_t, kCatalogRecordLen>> resources;
  std::vector<TableEntry> tables;
  std::vector<std::unique_ptr<BufferSet>> sets;

  std::string dataFolder() const { return fixedText(header.data() + kHeaderDataFolder, kHeaderDataFolderLen); }
  std::string folderText(int kind) const {
    return fixedText(header.data() + kHeaderFolders + kHeaderFolderLen * kind, kHeaderFolderLen);
  }
};

// Path rules shared with the project maker.
// The project folder a catalog names, as written: a data folder starting
// "\\Proj\" lies beside the catalog (any case of "Proj").
std::string projectFolderWanted(const std::string& catalogPath, const std::string& dataFolder);
// The project folder the catalog names (absolute, ending in a backslash), or
// false when it cannot be reached (last error set).
bool resolveProjectFolder(const std::string& catalogPath, const std::string& dataFolder, std::string& folder);
bool isLocalFileName(const std::string& fileName);
std::string tablePath(const std::string& projectFolder, const std::string& folder1, const std::string& fileName,
                      bool& local);
std::string indexPath(const std::string& projectFolder, const std::string& folder1, const std::string& fileName,
                      bool local);

// Reads the catalog of a project whose catalog table is created: header,
// table entries with their field descriptors, resource entries. False after
// a report.
bool readCatalog(Project& project);

// Finishes a table layout change (fileproj_layout.cpp) whose files were being
// switched over when the process stopped: false after a report when it
// cannot; true when done or when there was nothing to finish.
bool finishLayoutChange(const std::string& catalogPath);

// Registry.
Project* findProject(FileProjHandle handle);  // unreported
std::vector<Project*> openProjects();

// Lookups of the other parts of the project database; each reports its failure.
int32_t FileProjCheckHandle(FileProjHandle handle);
TableEntry* FileProjFindTable(FileProjHandle handle, int32_t fdbId);
const Field* FileProjFindField(const TableEntry& entry, int32_t fieldId);
const Field* FileProjGetIndexField(const TableEntry& entry, int32_t index);
const Field* FileProjFindFieldByPlace(const TableEntry& entry, uint16_t offset, uint16_t size, uint16_t fieldWord);

// Record-buffer sets (fileproj_buffers.cpp). A row found by an address
// inside its image.
struct RowAt {
  int32_t set = -1;
  int32_t slot = -1;
  int32_t row = -1;
};
BufferSet* bufferSet(Project& project, int32_t number);
bool findRowAt(Project& project, const void* address, RowAt& at);
// The visible position showing a buffer row of a slot, -1 none.
int32_t visiblePosition(BufferSet& set, size_t slot, int row);
// Fills positions of a slot (position -1: all) from the list (null: record
// numbers from first). 0, or -1 after a report.
int32_t readRows(Project& project, int32_t setNumber, int32_t slot, int32_t position, const FileRecList* list,
                 int32_t first);
// The slot of the table among the owner's sets (every set with owner 0),
// starting after set number after (-1 from the first). False when none.
bool findSlot(Project& project, uint32_t owner, int32_t tableIndex, int32_t after, int32_t& setNumber,
              int32_t& slot);
int32_t tableIndexOf(const Project& project, int32_t fdbId);
void removeAllSets(Project& project);

// References, derived and calculated fields (fileproj_refs.cpp).
// Refills the slots that follow a slot of a set. 0, or -1.
int32_t fillDependents(Project& project, int32_t setNumber, int32_t slot);
// New-row values: inherited, drawn and derived fields. 0, or -1.
int32_t initRow(Project& project, int32_t setNumber, int32_t slot, int32_t position, uint8_t* image);
// Calculated-field chains that follow a changed field. 0, 2 changed, -1.
int32_t recalculate(Project& project, uint32_t owner, const void* address);
// Copies a field value into another field by the copy rule.
void copyFieldValue(const Field& from, const uint8_t* source, const Field& to, uint8_t* target);
// Recomputes the derived fields of the table that name the field.
int32_t refreshDerived(const TableEntry& entry, const Field& changed, uint8_t* image);
const Field* fieldAt(const TableEntry& entry, bool header, size_t offset);
// The reference field (kind 1 or 9, naming a table and field of the project)
// of a record row that holds the address; null, without a report, when the
// address lies in no row or in another field.
const Field* referenceFieldAt(Project& project, const void* address);
// Writes an integer into a field in the field's type (text as decimal digits).
void writeFieldInteger(const Field& field, uint8_t* image, int64_t value);

// The unique-key check of a record about to be saved (fileproj_upkeep.cpp):
// before is the image the keys are compared with (null: a new record, every
// key is checked); skipAutomatic leaves out fields whose numbers the library
// gives. 3 the save must not go ahead, -1 failure, else the last search's
// result.
int32_t uniqueKeyCheck(Project& project, TableEntry& entry, const uint8_t* record, const uint8_t* before,
                       int32_t recordNumber, HWND owner, bool skipAutomatic);

// Automatic numbers (fileproj_numbers.cpp): the next number of the counter
// that an automatic-number field (kind 8, sub-kind 1) names, one past the
// highest number given so far, written into the field of image; the counter
// keeps the number given. 0, or -1 after a report.
int32_t drawCounterNumber(Project& project, const Field& field, uint8_t* image);
bool isCounterField(const Field& field);

// The refresh timer (fileproj_refresh.cpp).
bool startRefreshTimer();
void stopRefreshTimer();
bool refreshTimerRunning();
// One tick of the timer; tests call it by hand.
void refreshTick();
// Sends the event code for a row image of a set to the set's window
// (fileproj_notify.cpp): the answer as FileProjNotify gives it.
int32_t notifyRow(Project& project, int32_t setNumber, int32_t code, const Field* field, uint8_t* image);

}  // namespace zemta::fileproj

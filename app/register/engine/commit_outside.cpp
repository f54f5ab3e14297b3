// Sales committed here whose posting to the outside database (the ODBC link)
// was lost, and their posting again.
//
// A commit with the link open posts outside inside one transaction of the
// link and commits that transaction only after the local commit point
// (commit.cpp). Between the two the sale is committed here and not yet
// outside: the link's commit can fail (the connection broke, the database
// refused it) or the register can die, and the outside database never sees
// the sale. So, before the local commit point, the commit notes the sale in
// "Outside.jnl" beside the daily receipt files (written and synced), and
// once the link's commit succeeded it marks the note posted (synced). A note
// still waiting is posted again (RepostOutside) before the next commit with
// the link open and when the engine opens with the link connected: the
// sale's lines go through the same posting as in the commit, with the local
// changes of that posting staged and dropped, inside a transaction of their
// own, and the note is marked posted once that transaction committed. A note
// whose closing record is not in its target file belongs to a sale that was
// never committed: it is dropped without posting. When no note waits any
// more the file is emptied.
//
// Each sale reaches the outside database once, except in one window no
// local file can close: a register that dies after the link's commit
// returned and before the mark reached the disk posts that sale again at
// the next start.
//
// File "Outside.jnl", notes one after the other from offset 0,
// little-endian:
//
//   offset  size   content
//   0       4      "VXO1"
//   4       4      note length L in bytes, all of it
//   8       4      state: 0 waiting for its outside posting, 1 posted
//   12      4      register mode code of the sale
//   16      4      record number of the closing record in the target file
//   20      96     the closing record
//   116     260    the target file's native path, relative to the data
//                  folder when it lies in it, zero-padded
//   376     4      line count n
//   380     96n    the sale's lines as the commit posted them
//   L - 4   4      CRC-32 of bytes 12 to L - 5 (the state changes in place)
//
// A note cut short or failing its CRC ends the file (the crash came while it
// was written, before the sale's local commit point).
#include <algorithm>
#include <cstring>

#include "app/register/engine/commit_run.h"
#include "app/register/engine/journal.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kOutsideName[] = "Outside.jnl";
const char kNoteMagic[4] = {'V', 'X', 'O', '1'};
constexpr uint32_t kPathField = 260;
constexpr uint32_t kNoteHead = 380;
constexpr uint32_t kWaiting = 0, kPosted = 1;
// More lines than any sale has: a longer note is damage.
constexpr uint32_t kMostLines = 100000;

DataFile openNotes(const std::string& path, uint32_t disposition) {
  return DataFile::open(path, platform::kFileRead | platform::kFileWrite, platform::kShareNone, disposition);
}

struct Note {
  int64_t at = 0;
  uint32_t state = kWaiting;
  uint32_t modeCode = 0;
  int32_t closingNumber = 0;
  uint8_t closing[line::kSize] = {};
  std::string target;
  std::vector<uint8_t> lines;
};

// Every whole note of the file, in order.
std::vector<Note> readNotes(DataFile& file) {
  std::vector<Note> notes;
  const int64_t size = file.size();
  int64_t at = 0;
  while (size - at >= static_cast<int64_t>(kNoteHead + 4)) {
    uint8_t head[kNoteHead];
    uint32_t done = 0;
    if (!file.readAt(at, head, kNoteHead, &done) || done != kNoteHead || std::memcmp(head, kNoteMagic, 4) != 0)
      break;
    const uint32_t length = getU32(head, 4);
    const uint32_t count = getU32(head, 376);
    if (count > kMostLines || length != kNoteHead + count * line::kSize + 4 || length > size - at) break;
    std::vector<uint8_t> bytes(length);
    if (!file.readAt(at, bytes.data(), length, &done) || done != length ||
        JournalCrc32(bytes.data() + 12, length - 16) != getU32(bytes.data(), length - 4))
      break;
    Note note;
    note.at = at;
    note.state = getU32(bytes.data(), 8);
    note.modeCode = getU32(bytes.data(), 12);
    note.closingNumber = getI32(bytes.data(), 16);
    std::memcpy(note.closing, bytes.data() + 20, line::kSize);
    note.target = getText(bytes.data(), 116, kPathField);
    note.lines.assign(bytes.begin() + kNoteHead, bytes.begin() + kNoteHead + count * line::kSize);
    notes.push_back(std::move(note));
    at += length;
  }
  return notes;
}

// Marks the notes posted, or empties the file when none waits any more;
// synced. True when done.
bool markPosted(DataFile& file, const std::vector<Note>& notes, const std::vector<size_t>& posted) {
  if (posted.empty()) return true;
  bool waiting = false;
  for (size_t i = 0; i < notes.size(); ++i)
    if (notes[i].state == kWaiting && std::find(posted.begin(), posted.end(), i) == posted.end()) waiting = true;
  if (!waiting) return file.cutAt(0) && file.syncData();
  uint8_t state[4];
  putU32(state, 0, kPosted);
  uint32_t done = 0;
  for (size_t i : posted)
    if (!file.writeAt(notes[i].at + 8, state, 4, &done) || done != 4) return false;
  return file.syncData();
}

}  // namespace

std::string CRegCom::outsidePath() const {
  char path[300];
  if (!project_ || FileProjGetPathName(project_, path, 3, kOutsideName) != 0) return {};
  return platform::mapPath(path);
}

int32_t CRegCom::outsideNote(const CommitRun& run) {
  outsideEntryStart_ = -1;
  const std::string path = outsidePath();
  if (path.empty()) return -1;
  std::vector<uint8_t> bytes(kNoteHead, 0);
  std::memcpy(bytes.data(), kNoteMagic, 4);
  putU32(bytes.data(), 8, kWaiting);
  putU32(bytes.data(), 12, run.modeCode);
  putI32(bytes.data(), 16, run.oldCount + run.lineCount);
  std::memcpy(bytes.data() + 20, run.closing, line::kSize);
  putText(bytes.data(), 116, kPathField, dataRelative(run.targetPath));
  putU32(bytes.data(), 376, static_cast<uint32_t>(run.lineCount));
  bytes.insert(bytes.end(), run.lines.begin(), run.lines.begin() + static_cast<ptrdiff_t>(run.lineCount) * line::kSize);
  bytes.resize(bytes.size() + 4);
  putU32(bytes.data(), 4, static_cast<uint32_t>(bytes.size()));
  putU32(bytes.data(), bytes.size() - 4, JournalCrc32(bytes.data() + 12, bytes.size() - 16));

  DataFile file = openNotes(path, platform::kOpenAlways);
  if (!file.isOpen()) return -1;
  const int64_t size = file.size();
  if (size < 0) return -1;
  // After the last whole note: a torn one of an earlier crash is replaced.
  int64_t end = 0;
  if (size > 0) {
    const std::vector<Note> notes = readNotes(file);
    if (!notes.empty()) end = notes.back().at + static_cast<int64_t>(kNoteHead + notes.back().lines.size() + 4);
  }
  uint32_t done = 0;
  if (!file.writeAt(end, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) || done != bytes.size() ||
      !file.syncData())
    return -1;
  if (size == 0 && !syncFolderOf(file.path())) return -1;
  outsideEntryStart_ = end;
  return 0;
}

// The sale was not committed here: its note goes (unposted notes before it
// stay).
void CRegCom::outsideForget() {
  if (outsideEntryStart_ < 0) return;
  DataFile file = openNotes(outsidePath(), platform::kOpenExisting);
  if (file.isOpen()) file.cutAt(outsideEntryStart_);
  outsideEntryStart_ = -1;
}

int32_t CRegCom::outsidePosted() {
  if (outsideEntryStart_ < 0) return 0;
  const int64_t start = outsideEntryStart_;
  outsideEntryStart_ = -1;
  DataFile file = openNotes(outsidePath(), platform::kOpenExisting);
  if (!file.isOpen()) return -1;
  const std::vector<Note> notes = readNotes(file);
  std::vector<size_t> posted;
  for (size_t i = 0; i < notes.size(); ++i)
    if (notes[i].at == start) posted.push_back(i);
  return markPosted(file, notes, posted) ? 0 : -1;
}

int32_t CRegCom::RepostOutside() {
  if (!project_ || !OdbcIsOpen()) return 0;
  const std::string path = outsidePath();
  if (path.empty() || !dataFileExists(path)) return 0;
  // Another register of the data folder holding the notes posts them itself.
  DataFile file = openNotes(path, platform::kOpenExisting);
  if (!file.isOpen()) return 0;
  const std::vector<Note> notes = readNotes(file);
  std::vector<size_t> settled;  // posted now, or never committed here
  int32_t reposted = 0;
  bool linkFailed = false;
  for (size_t i = 0; i < notes.size() && !linkFailed; ++i) {
    const Note& note = notes[i];
    if (note.state != kWaiting) continue;
    if (!ClosingRecordIsAt(dataNative(note.target), note.closingNumber, note.closing)) {
      settled.push_back(i);
      continue;
    }
    CommitRun run;
    run.modeCode = note.modeCode;
    run.lines = note.lines;
    run.lineCount = static_cast<int32_t>(note.lines.size() / line::kSize);
    run.start();
    if (OdbcBeginTrans() < 0) {
      linkFailed = true;
      break;
    }
    // The posting of the commit once more, for what it sends outside: its
    // local changes are staged and dropped, the counters here hold the sale.
    staging_ = true;
    bool posted = commitPost(run) == 0;
    staging_ = false;
    dropStaged();
    if (posted && run.totals[saletotal::kSettlement] && run.context.settlementInsert &&
        OdbcInsertSettlement(&run.context) < 0)
      posted = false;
    if (posted) {
      posted = OdbcCommit() >= 0;
    } else {
      OdbcRollback();
    }
    OdbcDropStatements(&run.context);
    if (!posted) {
      linkFailed = true;
      break;
    }
    settled.push_back(i);
    ++reposted;
  }
  // The posting worked on the settings buffer as a commit does.
  if (tables_[kSettingsTable] && settings_) FileDBRecRead(tables_[kSettingsTable], 0, settings_);
  if (!markPosted(file, notes, settled)) {
    ReportError("PrfUpdate", 0xFFFFFFFFu);
    return -1;
  }
  return linkFailed ? -1 : reposted;
}

}  // namespace varnex::reg

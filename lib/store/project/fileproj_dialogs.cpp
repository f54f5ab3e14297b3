// The project dialogs: choosing one of the forms offered for a table, and
// finding one record by a typed key (a clerk's PIN, say) with three tries.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_resource.h"
#include "lib/store/tables/filedb_internal.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/fileidx.h"

namespace ui = platform::ui;

namespace zemta::fileproj {
namespace {

constexpr int32_t kFormDialog = 20729, kFormList = 21891;
constexpr int32_t kKeyDialog = 20722, kKeyEdit = 21916;
constexpr intptr_t kEndFound = 1, kEndTriesUsed = 2, kEndCancel = 2, kEndFailed = 3, kEndClosed = 8;
constexpr int kMaxTries = 3;
constexpr size_t kMaxKeyText = 4096;
constexpr int kMaxFormDialogs = 32;

const char kFormCaption[] = "書式選択";
const char kCancelText[] = "ｷｬﾝｾﾙ";

int& openFormDialogs() {
  static int count = 0;
  return count;
}

// Template rectangles are dialog units, left, top, right, bottom.
ui::DialogTemplate formTemplate() {
  ui::DialogTemplate t;
  t.id = kFormDialog;
  t.rect = {0, 0, 132, 96};
  t.caption = kFormCaption;
  t.controls.push_back({ui::ControlKind::ListBox, kFormList, {6, 6, 126, 68}, "", 0, ""});
  t.controls.push_back({ui::ControlKind::DefPushButton, 1, {18, 74, 62, 88}, "OK", 0, ""});
  t.controls.push_back({ui::ControlKind::PushButton, 2, {70, 74, 114, 88}, kCancelText, 0, ""});
  return t;
}

struct FormChoice {
  std::vector<std::string> titles;
  int32_t initial = 0;
  std::string caption;
};

// Widens the list and the dialog so the longest title shows whole, and
// moves the buttons along.
void fitToTitles(HWND dialog, const FormChoice& choice) {
  HWND list = ui::dialogItem(dialog, kFormList);
  int32_t widest = 0;
  for (const auto& title : choice.titles) widest = std::max(widest, ui::textWidth(list, title));
  widest = std::max(widest, ui::textWidth(dialog, choice.caption) + 40);
  const ui::Rect listRect = ui::windowRect(list);
  const int32_t wanted = widest + 32;  // frame, scroll bar and padding
  const int32_t grow = wanted - (listRect.right - listRect.left);
  if (grow <= 0) return;
  ui::moveWindow(list, {listRect.left, listRect.top, listRect.right + grow, listRect.bottom});
  for (int32_t id : {1, 2}) {
    HWND button = ui::dialogItem(dialog, id);
    const ui::Rect r = ui::windowRect(button);
    ui::moveWindow(button, {r.left + grow / 2, r.top, r.right + grow / 2, r.bottom});
  }
  const ui::Rect d = ui::windowRect(dialog);
  ui::moveWindow(dialog, {d.left, d.top, d.right + grow, d.bottom});
}

intptr_t formDialogProc(FormChoice* choice, HWND dialog, uint32_t message, WPARAM wParam) {
  if (message == ui::kWmInitDialog) {
    HWND list = ui::dialogItem(dialog, kFormList);
    if (!list || !ui::dialogItem(dialog, 1)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
      ui::endDialog(dialog, kEndFailed);
      return 1;
    }
    ui::setWindowText(dialog, choice->caption);
    for (const auto& title : choice->titles) ui::addListItem(list, title);
    ui::setListSelection(list, choice->initial);
    fitToTitles(dialog, *choice);
    ui::setFocus(list);
    return 1;
  }
  if (message == ui::kWmClose) {
    ui::endDialog(dialog, kEndClosed);
    return 1;
  }
  if (message == ui::kWmCommand) {
    const uint32_t id = ui::lowWord(wParam), code = ui::highWord(wParam);
    const bool take = id == 1 || (id == static_cast<uint32_t>(kFormList) && code == ui::kLbnDblClk);
    if (take) {
      const int32_t row = ui::listSelection(ui::dialogItem(dialog, kFormList));
      if (row >= 0) ui::endDialog(dialog, 16 + row);
      return 1;
    }
    if (id == 2) {
      ui::endDialog(dialog, kEndCancel);
      return 1;
    }
  }
  return 0;
}

ui::DialogTemplate keyTemplate() {
  ui::DialogTemplate t;
  t.id = kKeyDialog;
  t.rect = {0, 0, 150, 48};
  t.caption = "暗証番号入力";
  t.controls.push_back({ui::ControlKind::Edit, kKeyEdit, {8, 8, 142, 22}, "", ui::kControlPassword, ""});
  t.controls.push_back({ui::ControlKind::PushButton, 2, {98, 28, 142, 42}, kCancelText, 0, ""});
  return t;
}

struct KeyEntry {
  filedb::Table* table = nullptr;
  int32_t index = -1;
  uint16_t keyLen = 0;
  bool text = true;
  size_t minimum = 0;
  int tries = 0;
  int32_t record = -1;
};

// The key the typed text makes: a decimal number for a number field, the
// text (cut to the key, the rest zero) for a text field.
std::vector<uint8_t> keyOf(const KeyEntry& entry, const std::string& typed) {
  std::vector<uint8_t> key(entry.keyLen, 0);
  if (entry.text) {
    std::memcpy(key.data(), typed.data(), std::min(typed.size(), key.size()));
  } else {
    const uint64_t value = std::strtoull(typed.c_str(), nullptr, 10);
    for (size_t i = 0; i < key.size() && i < 8; ++i) key[i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return key;
}

intptr_t keyDialogProc(KeyEntry* entry, HWND dialog, uint32_t message, WPARAM wParam) {
  if (message == ui::kWmInitDialog) {
    HWND edit = ui::dialogItem(dialog, kKeyEdit);
    if (!edit) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
      ui::endDialog(dialog, kEndFailed);
      return 1;
    }
    ui::setFocus(edit);
    return 1;
  }
  if (message == ui::kWmClose) {
    ui::endDialog(dialog, kEndClosed);
    return 1;
  }
  if (message != ui::kWmCommand) return 0;
  const uint32_t id = ui::lowWord(wParam), code = ui::highWord(wParam);
  if (id == 2 || id == 1) {  // Esc or the cancel button: the dialog is closed
    ui::endDialog(dialog, kEndClosed);
    return 1;
  }
  if (id != static_cast<uint32_t>(kKeyEdit) || code != ui::kEnChange) return 0;
  std::string typed = ui::dialogItemText(dialog, kKeyEdit);
  if (typed.size() > kMaxKeyText) typed.resize(kMaxKeyText);
  if (typed.empty() || typed.size() < entry->minimum) return 1;
  const std::vector<uint8_t> key = keyOf(*entry, typed);
  int32_t record = -1;
  const int32_t found = FileIdxEqu(entry->table->handle, entry->index, &record, key.data());
  if (found < 0) {
    ui::endDialog(dialog, kEndFailed);
    return 1;
  }
  if (found == 1) {
    entry->record = record;
    ui::endDialog(dialog, kEndFound);
    return 1;
  }
  // None, or several records with that key: this try failed.
  ui::setDialogItemText(dialog, kKeyEdit, "");
  ui::messageBeep(ui::kBeepPlain);
  if (++entry->tries >= kMaxTries) ui::endDialog(dialog, kEndTriesUsed);
  return 1;
}

}  // namespace
}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjSelResourceDlg(FileProjHandle handle, int32_t tableId, HWND parent, int32_t formWord) {
  if (FileProjCheckHandle(handle) < 0) return -1;
  Project* p = findProject(handle);
  std::vector<size_t> offered;
  for (size_t n = 0; n < p->resources.size(); ++n) {
    const uint8_t* e = p->resources[n].data();
    if (resourceNamesTable(e, tableId) && (resourceFlags(e) & FILEPROJ_RESOURCE_DEFAULT)) offered.push_back(n);
  }
  if (offered.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (offered.size() == 1) return relatedTableId(p->resources[offered[0]].data(), tableId);
  if (openFormDialogs() >= kMaxFormDialogs) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  FormChoice choice;
  choice.caption = kFormCaption;
  if (tableId != 0)
    for (const auto& t : p->tables)
      if (t.fdbId() == tableId) choice.caption += " - " + t.name();
  for (size_t i = 0; i < offered.size(); ++i) {
    const uint8_t* e = p->resources[offered[i]].data();
    choice.titles.push_back(fixedText(e + kResourceTitle, kResourceShownTitleLen));
    if (static_cast<int32_t>(resourceFormWord(e)) == formWord && choice.initial == 0 && formWord != 0)
      choice.initial = static_cast<int32_t>(i);
  }
  ++openFormDialogs();
  const intptr_t result =
      ui::dialogBoxFromTemplate(formTemplate(), parent, [&choice](HWND d, uint32_t m, WPARAM w, LPARAM) {
        return static_cast<LRESULT>(formDialogProc(&choice, d, m, w));
      });
  --openFormDialogs();
  if (result >= 16 && static_cast<size_t>(result - 16) < offered.size())
    return relatedTableId(p->resources[offered[result - 16]].data(), tableId);
  if (result == kEndCancel || result == kEndClosed) return 0;
  if (result != kEndFailed) ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
  return -1;
}

ZEMTA_API int32_t FileProjKeyWordDlg(FileProjHandle handle, int32_t fdbId, const char* keyFieldName,
                                     int32_t minimumLength, HWND parent, int32_t* recordNumber) {
  constexpr int32_t kFailed = 3;
  if (FileProjCheckHandle(handle) < 0) return kFailed;
  Project* p = findProject(handle);
  TableEntry* table = nullptr;
  for (auto& t : p->tables)
    if (t.fdbId() == fdbId) table = &t;
  if (!table) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return kFailed;
  }
  filedb::Table* t = filedb::findTable(table->table);
  if (!t || t->indexes.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return kFailed;
  }
  KeyEntry entry;
  entry.table = t;
  const std::string wanted = keyFieldName ? cutName(keyFieldName) : std::string();
  for (size_t i = 0; i < t->indexes.size() && entry.index < 0; ++i) {
    const filedb::IndexEntry& ie = t->indexes[i];
    if (!ie.own() || ie.composite()) continue;
    for (const auto& f : table->fields)
      if (f.offset() == ie.keyDesc && (f.fieldWord() & 0xFF) == (ie.fieldWord & 0xFF) && f.name() == wanted) {
        entry.index = static_cast<int32_t>(i);
        entry.keyLen = ie.keyLen;
        entry.text = f.typeCode() < 2;
        break;
      }
  }
  if (entry.index < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_NAME);
    return kFailed;
  }
  entry.minimum = minimumLength > 0 ? static_cast<size_t>(minimumLength) : 0;
  const intptr_t result =
      ui::dialogBoxFromTemplate(keyTemplate(), parent, [&entry](HWND d, uint32_t m, WPARAM w, LPARAM) {
        return static_cast<LRESULT>(keyDialogProc(&entry, d, m, w));
      });
  if (result == kEndFound) {
    if (recordNumber) *recordNumber = entry.record;
    return 1;
  }
  if (result == kEndTriesUsed || result == kEndClosed) return static_cast<int32_t>(result);
  return kFailed;
}

// Binding views to project tables and forms, record positioning, and the
// record bar: what the other pieces of the views call of view_bind.cpp and
// view_recbar.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/views/view/view_object.h"

namespace zemta::views {

// Where a seek lands: the record to go to and the seek's answer (0 exact, 1
// moved to the nearest allowed record or nothing to move, -1 a bad mode).
struct SeekTarget {
  int32_t record = 0;
  int32_t result = 0;
};
// The target of ViewProjRecSeek from the view's total and current record.
// appendAllowed: the style has the append row (mode bit 0x100 is read here).
SeekTarget seekTarget(int32_t value, int32_t mode, int32_t current, uint32_t total, bool appendAllowed);

// The records the view moves through: the record list's count when a list is
// set, else the main table's record count as the view last saw it.
uint32_t viewTotal(const ViewObject& v);
bool hasRecordList(const ViewObject& v);
// A view showing one record per row (a table grid or a list form).
inline bool isListView(const ViewObject& v) { return v.virtualRows != 0; }

// Choice fields (types 32, 34, 35) show one of the texts of their choice
// list, which lies in the item's auxiliary table.
bool isChoiceField(const ViewFieldLayout& f);
// A choice field's choices, each as wide as the field; empty for others.
std::vector<std::string> fieldChoices(const ViewItem& item, const ViewFieldLayout& f);
// The display text of a line of the field in the record image, as wide as
// the field, through the field's typed conversion.
std::string fieldText(const ViewItem& item, const ViewFieldLayout& f, const uint8_t* image, uint16_t length,
                      int32_t line, bool oneLine);
// Stores a text into the field of a record image (its line 0) through the
// field's typed conversion: 1 changed, 0 unchanged, -1 on failure.
int32_t storeFieldText(const ViewItem& item, const ViewFieldLayout& f, uint8_t* image, uint16_t length,
                       const char* text);

// ViewProjRecSeek on a checked view.
int32_t recSeek(ViewObject& v, int32_t value, int32_t mode);
// Redraws every field of every bound item from the record-buffer set.
void drawAllFields(ViewObject& v);
// Redraws the fields whose buffer rows carry the changed bit; -1 after a report.
int32_t projRefresh(ViewObject& v);
// The display width of a table field in cells (name: at least the name's length).
int32_t fieldDisplayWidth(uint16_t typeCode, uint16_t size, uint16_t fieldWord, const std::string& name, bool withName);

// The record bar (dialog 20721): made as a child strip of the view window,
// 16 pixels high at its bottom. Null on failure.
HWND createRecordBar(ViewObject& v);
// Button states and the number entry after a move or a count change.
void updateRecordBar(ViewObject& v);
// The total "/ %lu" and the vertical virtual extent.
void updateRange(ViewObject& v);
// The record step of a bar control (Top, Prev, Next, Bottom, Append); 1 done,
// 0 refused or failed.
int32_t recStep(ViewObject& v, int32_t control);
// OK of the bar: go to the number typed into the entry.
void recordBarOk(ViewObject& v);
// The modal record-select window over the table's selection form, owned by
// the owner window: with a list, over its records from position start, the
// position chosen; without, over all records from record start, the record
// chosen. 0 at once for a list of one record or a table of fewer than two,
// -1 when the table has no selection form or the list is empty.
int32_t selectRecord(FileProjHandle project, int32_t tableId, HWND owner, const FileRecList* list, int32_t start);
// Command 53654 of the view window: the record count changed under the view;
// go back to the record it stood on.
void reloadView(ViewObject& v);

// Growing a list after records were added to its table: the item's count is
// read again (0 unchanged, or not a list of the main table); a list of the
// main table grows by the records added, to at most 64 used rows, and the
// current record is read again. 1, or -1 on failure.
int32_t itemCheckSize(ViewObject& v, size_t item);
// Hooks the binding's answers to the project layer's calls (zemta/view.h)
// into the registry; done once, when the first view binds.
void installBindBackend();

// The view object as the binding makes and drops it.
// A view inside the caller's window (with the record bar for flag 0x100000);
// 0 on failure.
ViewHandle createViewObject(uint32_t flags, const std::string& title, HWND caller);
int32_t destroyViewObject(ViewHandle view);
// Virtual rows for a list of count records (+1, +2 with the append row).
void setVirtualRows(ViewObject& v, uint32_t count);

}  // namespace zemta::views

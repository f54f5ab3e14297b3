// The record view object, its items and the table of live views.
//
// A view shows one or more project tables (or one form of the project's
// resources) as blocks of character cells, each block an item drawn by its
// own edit control (zemta/edit.h) inside the view window. The caller holds a
// ViewHandle; every export checks it against the table of live views (at most
// 32, in creation order, changed only under the library's API lock) and the
// object's check word before touching the object.
//
// The pieces live beside this header:
//   view_object.cpp   creation, destruction, hostings, window classes, handle checks
//   view_items.cpp    items, field layout, extents, scroll bars and scrolling
//   view_bind.cpp     binding to project tables and forms, seeking and loading records
//   view_recbar.cpp   the record bar, record moves and the record-select window
//   view_window.cpp   the view window: keys, focus, in-place cell editing
//   view_lookup.cpp   what follows a changed field: reference look-ups, recomputing
//   view_file.cpp     save, flush, check, deletes, filters and record lists
//   view_filter.cpp   the filter dialog and the search-key syntax
//   view_cells.cpp    item cells (cell ids and field position keys)
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/frame.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "zemta/edit.h"
#include "zemta/filebuf.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/view.h"

namespace zemta::views {

inline constexpr size_t kMaxViews = 32;
inline constexpr size_t kMaxItems = 128;
inline constexpr uint32_t kCheckBase = 0xFACC0000u;

// Creation flag: the view has a record bar.
inline constexpr uint32_t kViewRecordBar = 0x100000;

// Resource style bits.
inline constexpr uint32_t kStyleAppendRow = 4;
inline constexpr uint32_t kStyleRowFollows = 0x10000;
inline constexpr uint32_t kStyleFilter = 0x40000;
inline constexpr uint32_t kStyleTableGrid = 0x50007;

// The frames of a list's columns: sunken, one a record row, outside the
// cells. With a row gap a frame keeps within its own row, so it crosses no
// text; a list framed so from the start looks the same once it has grown.
inline constexpr uint32_t kListColumnFrame = EDIT_BOX_SUNKEN | EDIT_BOX_WIDE | EDIT_BOX_PER_ROW;

// Item flags (from the form).
inline constexpr uint32_t kItemList = 0x10000;
inline constexpr uint32_t kItemVirtualList = 0x10001;
inline constexpr uint32_t kItemReadOnly = 0x20000;

// Window classes, menu, record bar and the commands of a view.
inline constexpr const char* kFrameClass = "ZEMTA_FrameWindowClass";
inline constexpr const char* kChildClass = "ZEMTA_ChildWindowClass";
inline constexpr const char* kViewClass = "ZEMTA_ViewWindowClass";
inline constexpr int32_t kFrameMenu = 20681;
inline constexpr int32_t kRecordBarDialog = 20721;
inline constexpr int32_t kFirstViewChildId = 59648;
inline constexpr uint32_t kCmdSave = 57603;
inline constexpr uint32_t kCmdClose = 57665;
inline constexpr uint32_t kCmdFind = 57636;
inline constexpr uint32_t kCmdNextRecord = 53648;  // "次頁(&N)": one record forward
inline constexpr uint32_t kCmdPrevRecord = 53649;  // "前頁(&P)": one record back
inline constexpr uint32_t kCmdReload = 53654;

// Record bar controls.
inline constexpr int32_t kBarEntry = 21917;
inline constexpr int32_t kBarTop = 21918;
inline constexpr int32_t kBarPrev = 21919;
inline constexpr int32_t kBarOk = 21920;
inline constexpr int32_t kBarNext = 21921;
inline constexpr int32_t kBarBottom = 21922;
inline constexpr int32_t kBarLabel = 21923;
inline constexpr int32_t kBarAppend = 21924;
inline constexpr int32_t kBarTotal = 21925;

// One field's place in an item: 64 bytes, stored as such in form files.
#pragma pack(push, 1)
struct ViewFieldLayout {
  uint16_t ids[3];        // a field is found by any of them; 0 = none
  uint16_t column;        // cell column inside the item
  uint16_t row;           // cell row inside the item
  uint16_t width;         // cells
  uint16_t lines;         // rows the field spans
  uint8_t colour;         // colour byte of the field's cells
  uint8_t colourSpare[2];
  uint8_t displayFlags;   // bits 0, 1: input flags of a text cell edit
  uint16_t type;          // item type in the low 6 bits; bits 6, 7 modify the display
  uint16_t offset;        // in the record image; bit 15: not stored (reference, calculated)
  uint16_t size;          // in the record
  uint16_t detail;        // type detail handed to the conversions
  uint16_t repeats;       // non-zero: repeats over the item's list rows
  uint32_t choiceOffset;  // of the field's choice list in the auxiliary table
  uint8_t unused32[12];   // kept as the form stores them
  uint16_t up, down, left, right, enter;  // ids reached by those keys
  uint8_t unused54[8];
  uint16_t tabOrder;      // 0 = not in the Tab order
};
#pragma pack(pop)
static_assert(sizeof(ViewFieldLayout) == 64, "form files store the layout as 64 bytes");

inline constexpr uint16_t kNotStored = 0x8000;

// One block of cells in a view.
struct ViewItem {
  uint16_t bufferColumns = 0, bufferRows = 0;
  uint16_t column = 0, row = 0;
  uint16_t visibleColumns = 0, visibleRows = 0;
  uint16_t headerRows = 0;
  std::vector<ViewFieldLayout> fields;
  std::vector<uint8_t> auxTable;          // choice lists for the typed-data conversions
  int16_t auxCount = 0;
  std::vector<uint16_t> tables;           // table ids; bit 15: read as one record
  // Record image: either the item's own bytes or the record-buffer slot's.
  std::vector<uint8_t> ownImage;
  uint8_t* image = nullptr;
  int16_t imageLength = 0;
  std::vector<uint8_t> changed;           // per field; bit 2 (4): changed since load/save
  EditHandle edit = nullptr;
  uint32_t createFlags = 0;               // of the item's edit control
  // The record-buffer set slot the item shows (none: slot < 0).
  FileProjBufHandle slot = 0;
  int32_t slotNumber = -1;
  uint16_t slotTables = 0;
  int32_t slotRows = 0;
  int32_t table = 0;                      // fdb id of the project table shown, 0 none
  uint32_t recordCount = 0;               // as the item last saw it
  uint32_t flags = 0;
  int32_t firstRecordRow = 0;
  int32_t currentRowBox = -1;
};

// The open cell edit of a view.
struct ViewCurrentEdit {
  uint16_t tempItemPlusOne = 0;  // 0: no cell edit
  uint16_t item = 0;             // item of the edited field
  uint16_t field = 0;            // within that item
  uint16_t line = 0;             // within the field, or list row
  uint16_t lines = 0;            // of the edited field
  int32_t record = -1;           // where the edit began
};

struct ViewObject {
  // The item slots are allocated once: a cell edit adds its temporary item
  // while callers hold references to the item being edited, which must not
  // move.
  ViewObject() { items.reserve(kMaxItems + 1); }
  ViewHandle handle = 0;          // what callers hold
  uint32_t checkWord = 0;         // kCheckBase | low 16 bits of the view window; 0 when none
  HWND window = nullptr;          // the view window (ZEMTA_ViewWindowClass)
  int16_t resource = 0;
  HWND host = nullptr;            // frame, MDI child or record-select frame; none inside a caller
  HWND caller = nullptr;
  int32_t menu = 0;               // menu resource of a top-level frame, 0 none
  std::string title;              // at most 255 characters
  uint32_t flags = 0;
  uint16_t originColumn = 0, originRow = 0;
  uint16_t extentColumns = 0, extentRows = 0;
  uint16_t cellGap = 0;
  int16_t rowGap = 0;
  uint16_t cellWidth = 16, rowHeight = 16;
  int32_t scrollX = 0, scrollY = 0;
  int32_t savedScrollX = 0, savedScrollY = 0;
  HWND horizontalBar = nullptr, verticalBar = nullptr;
  uint16_t stepX = 1, stepY = 1;
  uint32_t virtualColumns = 0, virtualRows = 0;
  HWND recordBar = nullptr;
  bool entryImeDetached = false;  // the record bar's number entry has no input method while focused
  uint16_t recordBarWidth = 0;
  platform::ui::Rect scrollArea, cornerArea;  // empty: none
  bool hasFocus = false;
  bool shift = false;
  std::vector<ViewItem> items;    // at most kMaxItems
  ViewCurrentEdit edit;
  std::string stagingText;        // cells most recently prepared for an item
  std::vector<uint8_t> stagingColour;
  FileProjHandle project = 0;
  int32_t mainTable = 0;          // fdb id of the main table, 0 none
  uint32_t recordCount = 0;
  uint32_t style = 0;
  int32_t topRecord = -1;         // -1 forces a reload
  int32_t currentRecord = -1;
  FileRecList recordList{};
  bool rowMarker = false;
  int32_t filterIndex = -1;
  std::vector<uint8_t> filterRange;  // from-key then to-key

  // --- hostings and the view window ---------------------------------------
  // The view window's object (its handlers run the view window procedure).
  std::unique_ptr<platform::ui::View> windowObject;
  // The top-level frame the view made for itself, when it made one; an MDI
  // child host is a child frame, found again by its handle.
  std::unique_ptr<platform::ui::Frame> frame;
  bool hostIsChildFrame = false;
  // Set while the view is being torn down, so that its host's close or
  // destroy does not come back into it.
  bool destroying = false;
  // Pixel sizes of the client area last laid out.
  int32_t clientWidth = 0, clientHeight = 0;
};

// The table of live views, in creation order. Changed only under the
// library's API lock. The table owns the objects; handles are checked ones
// (lib/core/handle_table.h), so a stale handle finds nothing.
// addView returns the new object's handle, 0 when 32 views exist; removeView
// takes the view out of the order (the others keep theirs) and gives the
// object back.
ViewHandle addView(std::unique_ptr<ViewObject> view);
std::unique_ptr<ViewObject> removeView(ViewHandle view);
std::vector<ViewObject*> liveViews();
size_t liveViewCount();

// The object of a handle after the full check (null handle, not in the
// table, wrong check word each reported as 0x20000105), or null.
ViewObject* checkView(ViewHandle view);
// Lookups without a report.
ViewObject* viewOfHandle(ViewHandle view);
ViewObject* viewOfWindow(HWND viewWindow);
ViewObject* viewOfHost(HWND host);
ViewObject* viewOfRecordBar(HWND bar);

// --- the object, hostings and the view window (view_object.cpp) -------------
// ViewDestroy's body: the view leaves the table, its items, buffers and
// windows are freed. 0, or -1 when something could not be freed.
int32_t destroyView(ViewHandle view);
// The view window procedure.
LRESULT viewWndProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// --- items, extents and scrolling (view_items.cpp) --------------------------
// Adds an item: its edit control, or null (the view unchanged).
EditHandle createItem(ViewObject& view, uint32_t editFlags, int32_t bufferColumns, int32_t bufferRows,
                      int32_t column, int32_t row, int32_t visibleColumns, int32_t visibleRows, uint32_t attribute,
                      EditHandle parent);
// Removes an item: 1, 0 when its edit could not be deleted or its text not
// written back, -1 when a discarded edit's buffer row was not found.
int32_t deleteItem(ViewObject& view, int32_t item, int32_t discard);
// Recomputes origin, extents, scroll units and which bars are needed; with
// apply each item's edit gets its visible size and viewport.
struct ViewExtent {
  int32_t contentWidth = 0, contentHeight = 0;
  int32_t unitX = 16, unitY = 16;
  bool horizontalBar = false, verticalBar = false;
};
ViewExtent calcExtent(ViewObject& view, bool apply);
// Places the scroll bars, the record bar and the clip regions.
int32_t layoutView(ViewObject& view);
// Fits the rows of the list item with virtual rows to the window.
int32_t listAdjustRows(ViewObject& view);
// Gives a list item that many record rows: its edit's used and visible rows,
// the boxes of its stored fields and its current-row box, its slot's rows.
// 1, 2 when rows were added, -1.
int32_t setListRows(ViewObject& view, ViewItem& list, int32_t rows);
// The scroll, size, wheel, paint and erase handling of the view window;
// true when the message was taken (answer in result).
bool itemWindowMessage(ViewObject& view, uint32_t message, WPARAM wParam, LPARAM lParam, LRESULT& result);
// The item number of a field found by any of its ids: (item, field), or
// false.
bool findField(const ViewObject& view, uint16_t key, size_t& item, size_t& field);
// The edit control's record of the library's edit table (never null for a
// live item).
EditObject* itemEdit(const ViewItem& item);
// Installs the lookups through which edits read their hosting view.
void installEditHost();

// --- item cells (view_cells.cpp) ----------------------------------------------
// The text one row of a column shows.
std::string cellText(const ViewItem& item, const ViewFieldLayout& field, int32_t row);
// Writes a text into one row of a column as it is (padded with spaces, cut
// at the width without halving a double-byte character).
bool putCellText(EditObject* edit, const ViewFieldLayout& field, int32_t row, const char* text, int32_t length);
// Connects printing from a view (ViewPrintResource) to the views.
void installPrintSource();

// --- what other parts of the views give these ones ---------------------------
// The item-level message routing and keys of the view window (Part of the
// window procedure that follows the scroll and paint handling); the close
// question (non-zero keeps the view); a record step of a record-bar button; the
// record bar's dialog procedure; reloading the records from a record (-1:
// the current one); writing an open cell edit back; saving; redrawing the
// changed fields; starting a cell edit; entering a text into a cell as if
// typed (1 changed, 0 same, -1 refused).
LRESULT viewItemsMessage(ViewObject& view, uint32_t message, WPARAM wParam, LPARAM lParam);
int32_t viewCloseQuery(ViewObject& view);
int32_t viewRecordStep(ViewObject& view, int32_t button);
LRESULT viewRecordBarProc(HWND bar, uint32_t message, WPARAM wParam, LPARAM lParam);
int32_t viewReloadRecords(ViewObject& view, int32_t record);
int32_t viewCommitEdit(ViewObject& view);
int32_t viewFileSave(ViewObject& view, int32_t reseek);
int32_t viewRefreshChanged(ViewObject& view);
int32_t viewStartEdit(ViewObject& view, int32_t item, int32_t field, int32_t character, int32_t row);
int32_t viewEnterText(ViewObject& view, int32_t item, int32_t field, int32_t row, const char* text, int32_t length);

// --- what follows a changed field (view_lookup.cpp) ---------------------------
// After the field whose bytes lie at address in a record-buffer row changed:
// the row is marked edited; a reference key with a value takes the record of
// the referenced table it matches (picked in the record-select window when
// several match); other fields recompute the row's references and calculated
// fields. Changed fields are redrawn. 0, or -1 on failure.
int32_t viewAfterChange(ViewObject& view, uint8_t* address);
// The look-up by double click: with a cell edit open on a reference key of a
// form, the records its stored value matches are offered and the one picked
// fills the row; the edit then opens again on the new value. 1 when a record
// was taken, 0 when nothing was to be looked up or picked, -1 on failure.
int32_t viewLookUpReference(ViewObject& view);

}  // namespace zemta::views

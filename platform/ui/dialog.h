// Dialogs made from templates (resources.h) with a dialog procedure, and the
// standard controls addressed by id. A dialog procedure answers non-zero for
// a message it handled; WM_COMMAND with IDOK (1) or IDCANCEL (2) that it
// leaves unhandled ends the dialog with that id. Enter presses the default
// button, Esc sends IDCANCEL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace platform::ui {

using DialogProc = WindowProc;

// Modal: runs until endDialog and returns its result; -1 when the template
// does not exist.
intptr_t dialogBox(int32_t templateId, HWND parent, DialogProc proc, LPARAM initParam = 0);
intptr_t dialogBoxFromTemplate(const DialogTemplate& tmpl, HWND parent, DialogProc proc, LPARAM initParam = 0);
// Modeless: shown and returned at once; destroyWindow closes it.
HWND createDialog(int32_t templateId, HWND parent, DialogProc proc, LPARAM initParam = 0);
HWND createDialogFromTemplate(const DialogTemplate& tmpl, HWND parent, DialogProc proc, LPARAM initParam = 0);
// Ends a modal dialog with the result (a modeless one is destroyed).
bool endDialog(HWND dialog, intptr_t result);

// Creates one control from a template entry on any window (positions in
// pixels here).
HWND createControl(HWND parent, const ControlTemplate& control);
// Makes a label's mnemonic ("&K") lead to its partner control, as the
// dialogs made from templates do; false when either is not a window.
bool setLabelPartner(HWND label, HWND partner);

HWND dialogItem(HWND dialog, int32_t id);
int32_t controlId(HWND control);
bool setDialogItemText(HWND dialog, int32_t id, const std::string& text);
std::string dialogItemText(HWND dialog, int32_t id);

// Check boxes and radio buttons: 0 unchecked, 1 checked.
bool checkButton(HWND control, int32_t state);
int32_t buttonState(HWND control);
// Presses a button as a click would (WM_COMMAND to its dialog).
bool clickButton(HWND control);
// The default-push-button style of a push button (the one Enter presses and
// that is drawn highlighted).
bool setDefaultButton(HWND control, bool isDefault);
bool isDefaultButton(HWND control);

// List boxes, combo boxes and report lists (row texts): index of the added
// row, or -1.
int32_t addListItem(HWND control, const std::string& text);
int32_t listItemCount(HWND control);
std::string listItemText(HWND control, int32_t index);
int32_t listSelection(HWND control);  // -1 when none
bool setListSelection(HWND control, int32_t index);
bool clearList(HWND control);

// Report-style list controls. A change of the current row (by the user or
// the program) is sent to the parent as WM_COMMAND with kLvnItemChanged.
inline constexpr uint32_t kLvnItemChanged = 0xFF9B;
int32_t addReportColumn(HWND control, const std::string& title, int32_t widthPixels);
int32_t addReportRow(HWND control, const std::vector<std::string>& cells);
std::string reportCell(HWND control, int32_t row, int32_t column);
bool setReportCell(HWND control, int32_t row, int32_t column, const std::string& text);
// A number kept with a row (item data); -1 for a row without one.
bool setReportRowData(HWND control, int32_t row, intptr_t data);
intptr_t reportRowData(HWND control, int32_t row);
bool deleteReportRow(HWND control, int32_t row);
// Scrolls the list so the row is in view.
bool showReportRow(HWND control, int32_t row);
// The first row in view, and scrolling by whole rows (negative: up).
int32_t reportTopRow(HWND control);
bool scrollReportRows(HWND control, int32_t rows);
// The height of the list, at most height, that shows its heading and whole
// rows only, so that no row is cut at the bottom (height itself while the
// list has no row to measure, when it holds no whole row, or for a control
// that is no report list).
int32_t reportHeightForWholeRows(HWND control, int32_t height);
// The row of the last click on a report list (-1: none was hit) and its
// screen point; a click is sent to the parent as WM_COMMAND with kNmClick or
// kNmRClick.
int32_t listClickRow(HWND control);
bool listClickPoint(HWND control, int32_t* x, int32_t* y);
// Clicks a report list at a row (-1: below the rows) as the mouse would.
bool clickReportRow(HWND control, int32_t row, bool rightButton);

// Progress bars and spins.
bool setControlRange(HWND control, int32_t minimum, int32_t maximum);
bool setControlPosition(HWND control, int32_t position);
int32_t controlPosition(HWND control);

// Date pickers.
struct Date { int32_t year = 0, month = 0, day = 0; };
bool setPickerDate(HWND control, const Date& date);
Date pickerDate(HWND control);
bool setPickerFormat(HWND control, const std::string& format);  // "yyyy/MM/dd"
std::string pickerText(HWND control);                           // as shown

// Edits: read-only and the caret.
bool setEditReadOnly(HWND control, bool readOnly);
bool setCaretPosition(HWND control, int32_t position);
int32_t caretPosition(HWND control);
// Selects the whole text of an edit (or of a combo box's edit field).
bool selectAllText(HWND control);

}  // namespace platform::ui

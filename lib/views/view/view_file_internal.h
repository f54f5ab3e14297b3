// What the view's file operations, its filter dialog and its window share:
// ending the open cell edit, the position count, moving to a position and
// refreshing what shows the count.
#pragma once

#include <cstdint>
#include <string>

#include "lib/views/view/view_object.h"

namespace zemta::views {

// The main table's handle, 0 when the view has none.
FileDBHandle mainTableHandle(const ViewObject& view);
// The record list's count when the view moves through one, else the main
// record count.
int32_t positionCount(const ViewObject& view);
// The record number shown at a position (the list entry with a list), -1
// past the end.
int32_t recordAtPosition(const ViewObject& view, int32_t position);

// Ends the open cell edit, writing its text back (drop: discarded). False
// when writing it back failed.
bool endCellEdit(ViewObject& view, bool drop = false);
// 1 when a field of an item is marked changed or the view's record-buffer
// sets hold unsaved rows; with withEdit a changed open edit counts too.
bool viewIsModified(ViewObject& view, bool withEdit);
// Forgets the unsaved changes of the view: drops its edited rows and clears
// the changed marks of its fields.
void discardChanges(ViewObject& view);

// Moves the view to a position of its records (the list's or the table's)
// and reloads its rows: 0, or -1.
int32_t seekPosition(ViewObject& view, int32_t position);
// Sets the vertical scroll range to the position count and the record bar's
// count text.
void refreshCount(ViewObject& view);

// Opens a cell edit on a field of an item (line: the list row of a field
// that repeats over the rows): 1, or 0 when the field cannot be edited.
int32_t beginCellEdit(ViewObject& view, int32_t item, int32_t field, int32_t line);

// The display text of a field's stored bytes at a width (0: as long as it
// needs): integers of any size and bit fields as their value.
std::string fieldText(uint16_t type, uint16_t position, uint16_t size, const uint8_t* data, int32_t width);

// Frees the view's record list (the view then moves through the whole table).
bool dropRecordList(ViewObject& view);

}  // namespace zemta::views

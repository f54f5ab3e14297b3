// The customer display's idle pictures (the application's side of the
// display is CREGApp::OpenCustomerDisplay, customer_display.cpp).
#pragma once

#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace varnex::shell {

class SortedRecordList;

// The monitor the window goes to: the one whose right edge lies furthest
// right (the first of equals) when that edge is right of 0, else the
// primary monitor (from 0, 0).
platform::ui::Rect ChooseCustomerMonitor(const std::vector<platform::ui::ScreenInfo>& monitors);

// Inserts a record for every idle picture "CD<order>[S<seconds>].jpg" of
// the folder into the list (264-byte records, numeric key at 0).
void BuildCustomerPictureList(const std::string& folder, SortedRecordList& list);

}  // namespace varnex::shell

// The customer display's idle pictures (the application's side of the
// display is CREGApp::OpenCustomerDisplay, customer_display.cpp).
#pragma once

#include <string>

namespace varnex::shell {

class SortedRecordList;

// Inserts a record for every idle picture "CD<order>[S<seconds>].jpg" of
// the folder into the list (264-byte records, numeric key at 0).
void BuildCustomerPictureList(const std::string& folder, SortedRecordList& list);

}  // namespace varnex::shell

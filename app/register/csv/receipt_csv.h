// The name of a saved sale's CSV file made from a pattern (receipt_csv.cpp).
#pragma once

#include <ctime>
#include <string>

namespace varnex::reg {

// The pattern expanded by strftime with time; its file-name part's own
// placeholder "C" (not a letter that the expansion brings) becomes the check
// digit of the name's characters before it and what follows is cut; ".csv"
// is appended.
std::string MakeCheckDigitName(const std::string& pattern, const std::tm& time);

}  // namespace varnex::reg

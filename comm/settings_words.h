// The words of the settings string that more than one file reads.
#pragma once

#include <string>

namespace quorex {

// The stored (Japanese) parity word for a word of the settings string;
// unknown words come back as given.
std::string storedParityWord(const std::string& word);
// The line's parity value (0 none, 1 odd, 2 even, 3 mark, 4 space) of a
// stored or English word, -1 for any other word.
int parityValueOf(const std::string& word);

}  // namespace quorex

// Code page 932 names whose second bytes look like ASCII: 0x5C is the
// backslash and 0x41-0x5A, 0x61-0x7A are letters. Every place that splits,
// joins, compares or folds names is tested over this one table. The bytes are
// written out, so the table means the same in tests built with and without
// code page 932 literals.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct Cp932Name {
  const char* label;  // for failure messages
  std::string name;   // the code page 932 bytes
  std::string utf8;   // the same name in UTF-8 (definition files are UTF-8)
  // A different name that byte-wise case folding would take for this one
  // (its trail byte is the other case of the same letter); empty when none.
  std::string twin;
};

inline const std::vector<Cp932Name>& cp932Names() {
  static const std::vector<Cp932Name> names = {
      // Ending in 0x5C: these are the ones a separator scan breaks.
      {"uriagehyo", "\x94\x84\x8F\xE3\x95\x5C", "\xE5\xA3\xB2\xE4\xB8\x8A\xE8\xA1\xA8", ""},
      {"kinou", "\x8B\x40\x94\x5C", "\xE6\xA9\x9F\xE8\x83\xBD", ""},
      {"yo", "\x97\x5C", "\xE4\xBA\x88", ""},
      {"so", "\x83\x5C", "\xE3\x82\xBD", ""},
      // 0x5C inside, and none at all.
      {"yotei", "\x97\x5C\x92\xE8", "\xE4\xBA\x88\xE5\xAE\x9A", ""},
      {"uriage", "\x94\x84\x8F\xE3", "\xE5\xA3\xB2\xE4\xB8\x8A", ""},
      // Trail bytes that are letters: "ア" 83 41 and "ヂ" 83 61.
      {"a", "\x83\x41", "\xE3\x82\xA2", "\x83\x61"},
      {"di", "\x83\x61", "\xE3\x83\x82", "\x83\x41"},
  };
  return names;
}

}  // namespace testing_support

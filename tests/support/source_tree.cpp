#include "support/source_tree.h"

namespace testing_support {

const std::string& sourceTree() {
  static const std::string top = VARNEX_SOURCE_DIR;
  return top;
}

}  // namespace testing_support

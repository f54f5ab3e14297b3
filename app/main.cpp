// Varnex, the shop-counter register.
#include <cstdio>

#include "platform/base/cp932.h"

int main() {
  // The register's screens are not built yet: say so rather than pretend.
  std::puts(platform::toUtf8Lossy(
                "Varnex: レジの画面はまだ組み込まれていません。ライブラリとテストのみ利用できます。")
                .c_str());
  return 0;
}

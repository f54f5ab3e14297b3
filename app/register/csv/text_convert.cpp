// Code page 932 <-> UTF-8 for the payment bodies. The conversion itself
// (and the code page's tables) is the platform layer's; this adds the
// register's rule that nothing is replaced silently. The texts are as long
// as they are: no fixed buffer cuts a long body short.
#include "app/register/csv/text_convert.h"

#include <cstring>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"

namespace varnex::reg {

namespace {

std::string convert(const char* text, bool* ok, bool (*how)(std::string_view, std::string&, size_t*)) {
  std::string out;
  const bool done = !text || how(std::string_view(text, std::strlen(text)), out, nullptr);
  if (ok) *ok = done;
  if (!done) {
    out.clear();
    platform::setLastError(kErrorNoUnicodeTranslation);
  }
  return out;
}

}  // namespace

std::string AnsiToUtf8(const char* text, bool* ok) { return convert(text, ok, &platform::cp932ToUtf8); }

std::string Utf8ToAnsi(const char* text, bool* ok) { return convert(text, ok, &platform::utf8ToCp932); }

}  // namespace varnex::reg

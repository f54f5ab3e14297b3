#include "platform/base/cp932.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

// "CP932", never "SHIFT_JIS": the latter lacks the NEC and IBM extensions
// (①, ㈱) and maps 0x5C to the yen sign.
bool convert(const char* to, const char* from, std::string_view in, std::string& out,
             size_t* badOffset, bool lossy) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (badOffset) *badOffset = 0;
    return false;
  }
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char buffer[1024];
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (lossy) {
      out.push_back('?');
      // Step over one whole character of the input.
      size_t step = 1;
      if (std::string_view(from) == "CP932" && cp932::isDoubleByteAt(std::string_view(inPtr, inLeft), 0)) step = 2;
      else if (std::string_view(from) == "UTF-8") {
        auto b = static_cast<uint8_t>(*inPtr);
        step = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        if (step > inLeft) step = inLeft;
      }
      inPtr += step;
      inLeft -= step;
      continue;
    }
    if (badOffset) *badOffset = static_cast<size_t>(inPtr - in.data());
    ok = false;
    break;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

bool cp932ToUtf8(std::string_view cp932, std::string& utf8, size_t* badOffset) {
  return convert("UTF-8", "CP932", cp932, utf8, badOffset, false);
}

bool utf8ToCp932(std::string_view utf8, std::string& cp932, size_t* badOffset) {
  return convert("CP932", "UTF-8", utf8, cp932, badOffset, false);
}

std::string toUtf8Lossy(std::string_view cp932) {
  std::string out;
  convert("UTF-8", "CP932", cp932, out, nullptr, true);
  return out;
}

std::string toCp932Lossy(std::string_view utf8) {
  std::string out;
  convert("CP932", "UTF-8", utf8, out, nullptr, true);
  return out;
}

}  // namespace platform

namespace platform::cp932 {

size_t fitLength(std::string_view text, size_t limit) {
  size_t n = 0;
  while (n < text.size()) {
    const bool lead = isLeadByte(static_cast<uint8_t>(text[n]));
    if (lead && n + 1 >= text.size()) break;  // half a character: never kept
    const size_t step = lead ? 2 : 1;
    if (n + step > limit) break;
    n += step;
  }
  return n;
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size();) {
    const size_t n = charLength(out, i);
    if (n == 1) out[i] = upperAscii(out[i]);
    i += n;
  }
  return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size();) {
    const size_t n = charLength(prefix, i);
    if (n == 2 || charLength(text, i) == 2) {
      if (text.substr(i, n) != prefix.substr(i, n)) return false;
    } else if (upperAscii(text[i]) != upperAscii(prefix[i])) {
      return false;
    }
    i += n;
  }
  return true;
}

bool equalNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && startsWithNoCase(a, b); }

}  // namespace platform::cp932

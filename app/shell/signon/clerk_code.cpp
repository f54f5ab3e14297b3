#include "app/shell/signon/clerk_code.h"

#include <cstdio>
#include <cstdlib>

#include "zemta/tax.h"

namespace varnex::shell {

namespace {
constexpr uint64_t kOffset = 1410065408ull;  // the low 32 bits of 10^10
constexpr uint32_t kScramble = 0x5A1C3E97u;
}  // namespace

uint32_t ClerkCodeIdentity(uint32_t clerkNumber, uint32_t pin) {
  const uint32_t mix = ((pin / 1000) * 64 + (clerkNumber >> 6) + pin % 1000) % 1024;
  return (mix << 6) | (clerkNumber & 63);
}

std::string ClerkCode(uint32_t clerkNumber, uint32_t pin, const ClerkCodeDate* expiry) {
  uint32_t p = ClerkCodeIdentity(clerkNumber, pin) << 16;
  uint32_t h = 0;
  if (expiry) {
    p |= static_cast<uint32_t>(expiry->day & 31) | static_cast<uint32_t>((expiry->month & 15) << 5);
    if (expiry->year >= 2000) {
      p |= static_cast<uint32_t>(((expiry->year - 2000) % 100) & 127) << 9;
      h = expiry->year >= 2100 ? 1 : 0;
    }
  }
  const uint32_t mixed = p ^ (p >> 16);
  const uint64_t n = ((static_cast<uint64_t>(h ^ 1)) << 32 | (mixed ^ kScramble)) + kOffset;
  char text[32];
  std::snprintf(text, sizeof text, "02%010lluC", static_cast<unsigned long long>(n));
  BccMake(text, 13);
  return std::string(text, 13);
}

bool ReadClerkCode(const std::string& code, uint32_t* p, uint32_t* century) {
  if (code.size() != 13 || !BccCheck(code.c_str(), 13)) return false;
  for (char c : code)
    if (c < '0' || c > '9') return false;
  const uint64_t n = std::strtoull(code.substr(2, 10).c_str(), nullptr, 10) - kOffset;
  const uint32_t mixed = static_cast<uint32_t>(n) ^ kScramble;
  const uint32_t high = static_cast<uint32_t>(n >> 32) ^ 1u;
  *p = mixed ^ (mixed >> 16);
  *century = 20 + high;
  return true;
}

bool ClerkCodeValidOn(uint32_t p, uint32_t century, const ClerkCodeDate& today) {
  if ((p & 0xFFFF) == 0) return true;
  const int32_t year = static_cast<int32_t>(century * 100 + ((p >> 9) & 127));
  const int32_t month = static_cast<int32_t>((p >> 5) & 15), day = static_cast<int32_t>(p & 31);
  if (year != today.year) return year > today.year;
  if (month != today.month) return month > today.month;
  return day >= today.day;
}

}  // namespace varnex::shell

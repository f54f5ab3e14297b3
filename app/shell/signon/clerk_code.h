// Clerk codes: 13-character barcodes a manager signs on with. "02", ten
// digits N and a JAN-style check digit. N packs a 32-bit word P and a
// century flag h:
//   P bits 0-4 expiry day, 5-8 month, 9-15 year within the century (all 0:
//   no expiry), 16-21 clerk number & 63, 22-31 a mix of the PIN and the
//   clerk number's high bits.
// N = ((h ^ 1) << 32 | (P' ^ 0x5A1C3E97)) + 1410065408, where P' is P with
// its low half XORed with its high half.
#pragma once

#include <cstdint>
#include <string>

namespace varnex::shell {

struct ClerkCodeDate {
  int32_t year = 0, month = 0, day = 0;
};

// The sixteen bits (16-31 of P) that name a clerk with a PIN.
uint32_t ClerkCodeIdentity(uint32_t clerkNumber, uint32_t pin);

// The 13-character code; expiry null makes a code that never expires. Years
// before 2000 pack only day and month.
std::string ClerkCode(uint32_t clerkNumber, uint32_t pin, const ClerkCodeDate* expiry);

// Reads a code: false unless it is 13 characters with a valid check digit.
// P and the century of the expiry year (20 or 21) come back.
bool ReadClerkCode(const std::string& code, uint32_t* p, uint32_t* century);

// Whether a code word is still valid on the day (valid through its expiry
// day; a code without expiry always is).
bool ClerkCodeValidOn(uint32_t p, uint32_t century, const ClerkCodeDate& today);

}  // namespace varnex::shell

// Random and mutated frames through the receive pipeline in every framing,
// for a fixed number of runs from a fixed seed: nothing may crash or read
// outside the receive buffer (run it under the address sanitizer too), and
// the buffer never claims more than it holds.
#include <gtest/gtest.h>

#include <random>

#include "comm/line_fixture.h"

namespace {

struct Mode {
  const char* name;
  uint32_t defaultMode;
  uint32_t n114;
  uint32_t bin[3];
  int32_t positions[5];
};

const Mode kModes[] = {
    {"text", 0, 0x11000000, {0x10000000, 0, 0}, {0, 0, 0, 0, 0}},
    {"text with ACK and DLE", 0x300, 0x11000000, {0x10000000, 0, 0}, {0, 0, 0, 0, 0}},
    {"SA", 0x40000, 0x11000000, {0x011F0200, 2, 0xFF}, {2, 1, 3, 4, 1}},
    {"lenient sum, 16-bit low", 0, 0x11000000, {0x102B0100, 2, 0xFF}, {1, 0, 2, 0, 0}},
    {"CRC-16, 16-bit high", 0x40000, 0x11000000, {0x015F0300, 2, 0xFF}, {1, 4, 2, 0, 1}},
    {"HDLC and text", 0, 0x10002000, {0x10000000, 0, 0}, {0, 0, 0, 0, 0}},
    {"HDLC and SA", 0x40000, 0x10000000, {0x011F0200, 2, 0xFF}, {2, 1, 3, 4, 1}},
    {"positions outside every frame", 0, 0x11000000, {0x017F0300, 0x12345678, 0xFFFFFFFF},
     {3000, -5, 4000, -3, 5000}},
    {"negative positions", 0, 0x11000000, {0x013F0100, 0, 0}, {-1, -7, -2, 9, -4}},
    {"both length widths", 0, 0x11000000, {0x10EB0200, 2, 0xFF}, {2, 1, 3, 4, 1}},
};

class ReceiveFuzzTest : public LineTest {};

std::string randomBytes(std::mt19937& random, size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

std::string saFrame(std::mt19937& random) {
  std::string data = randomBytes(random, random() % 12);
  std::string f = std::string("\x02", 1) + static_cast<char>(random() % 3 ? 0x06 : 0x15) +
                  static_cast<char>(random()) + static_cast<char>(data.size() + 1) + data;
  uint8_t lrc = 0;
  for (size_t i = 1; i < f.size(); ++i) lrc ^= static_cast<uint8_t>(f[i]);
  return f + static_cast<char>(lrc);
}

std::string hdlcFrame(std::mt19937& random, const std::string& content) {
  static CSerial encoder;
  std::vector<uint8_t> out(3 * content.size() + 16);
  const uint32_t mode = (random() % 4 ? 0x03000000 : 0x01000000) | (random() % 8 ? 0 : 0x08000000);
  int32_t n = encoder.EncodeHDLC(mode, out.data(), reinterpret_cast<const uint8_t*>(content.data()),
                                 static_cast<int32_t>(content.size()));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(n));
}

std::string mutate(std::mt19937& random, std::string s) {
  const int changes = static_cast<int>(random() % 4);
  for (int i = 0; i < changes && !s.empty(); ++i) {
    const size_t at = random() % s.size();
    switch (random() % 4) {
      case 0: s[at] = static_cast<char>(random()); break;
      case 1: s.erase(at, 1 + random() % 3); break;
      case 2: s.insert(at, randomBytes(random, 1 + random() % 4)); break;
      default: s.insert(at, random() % 2 ? "\r" : "\x7E"); break;
    }
  }
  return s;
}

TEST_F(ReceiveFuzzTest, RandomAndMutatedFramesInEveryFraming) {
  open();
  std::mt19937 random(20240611);
  int32_t tag = 1;
  for (const Mode& m : kModes) {
    SCOPED_TRACE(m.name);
    serial_->SetDefaultMode(m.defaultMode);
    serial_->SetN114Mode(m.n114);
    serial_->SetBinMode(m.bin[0], m.bin[1], m.bin[2], m.positions[0], m.positions[1], m.positions[2],
                        m.positions[3], m.positions[4]);
    for (int run = 0; run < 400; ++run) {
      if (queueEmpty()) {
        const std::string request = randomBytes(random, 3 + random() % 8);
        serial_->BinWrite(tag++, static_cast<uint16_t>(request.size()), request.data(), 1);
        serial_->CommWrite(random() % 2 ? 0x03000000 : 0, 4, "CMD\r", 1, 60000, tag++, 2,
                           random() % 2 ? "O*" : "*?");
      }
      std::string input;
      switch (random() % 6) {
        case 0: input = randomBytes(random, random() % 300); break;
        case 1: input = "OK\r"; break;
        case 2: input = saFrame(random); break;
        case 3: input = hdlcFrame(random, random() % 2 ? "OK\r" : saFrame(random)); break;
        case 4: input = std::string(random() % 3, '\n') + "cmd\r\n"; break;
        default: input = randomBytes(random, random() % 4000); break;
      }
      if (random() % 2) input = mutate(random, input);
      if (random() % 5 == 0) input += saFrame(random);
      // In pieces, as reads would bring it.
      size_t at = 0;
      while (at < input.size()) {
        const size_t piece = 1 + random() % (input.size() - at);
        const uint32_t status = random() % 50 == 0 ? 0x4 : 0;
        serial_->ReceiveBytes(input.data() + at, static_cast<int32_t>(piece), status);
        ASSERT_GE(serial_->receiveCount_, 0);
        ASSERT_LE(serial_->receiveCount_, CSerial::kReceiveBufferSize);
        at += piece;
      }
      if (random() % 8 == 0 && serial_->receiveTimerId_) serial_->OnInTimer(serial_->receiveTimerId_);
      readAll();
      for (const Entry& e : entries_) ASSERT_LE(e.data.size(), static_cast<size_t>(CSerial::kReceiveBufferSize));
      entries_.clear();
      if (random() % 50 == 0) {
        for (int32_t t = tag - 4; t < tag; ++t) serial_->CommCueDelete(t);
      }
    }
  }
  owner_->pumpNow();
}

}  // namespace

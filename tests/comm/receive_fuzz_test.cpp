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

// An N114 frame of a random command of the table (or any byte), with a
// length field that mostly fits, good check bytes most of the time.
std::string n114Frame(std::mt19937& random) {
  static const uint8_t kCommands[] = {0x02, 0x04, 0x05, 0x06, 0x15, 0xA1, 0xA2, 0xA5, 0xA8,
                                      0xA9, 0xAA, 0xAB, 0xAD, 0xAE, 0xB1, 0xB5, 0xBE, 0xFC};
  const uint8_t command = random() % 10 ? kCommands[random() % sizeof kCommands] : static_cast<uint8_t>(random());
  const uint16_t to = random() % 2 ? 0x2001 : static_cast<uint16_t>(random());
  std::string f = {static_cast<char>(to >> 8), static_cast<char>(to), 0x20, 0x05, static_cast<char>(random()),
                   static_cast<char>(command)};
  if (command == 0x06 || command == 0x15) {
    if (command == 0x15) f += static_cast<char>(random() % 8);
    return f;
  }
  const uint16_t n = static_cast<uint16_t>(random() % 4 ? random() % 24 : random());
  f += static_cast<char>(n >> 8);
  f += static_cast<char>(n);
  std::string data = randomBytes(random, random() % 2 ? n & 0xFF : random() % 40);
  if (command == 0x02 && data.size() >= 6) {
    data[4] = static_cast<char>((data.size() - 6) >> 8);
    data[5] = static_cast<char>(data.size() - 6);
  }
  f += data;
  std::vector<uint8_t> b(f.begin(), f.end());
  b.resize(b.size() + 2);
  int32_t length = static_cast<int32_t>(f.size());
  CSerial::MakeCheck(b.data(), &length);
  if (random() % 6 == 0) b[static_cast<size_t>(length) - 1] ^= 0x5A;
  return std::string(b.begin(), b.begin() + length);
}

std::string le32(uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

uint32_t crc32(const std::string& s) {
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t i = 1; i < s.size(); ++i) {
    reg ^= static_cast<uint8_t>(s[i]);
    for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  }
  return ~reg;
}

// An N143 frame from the host or another link: a data frame of random
// elements whose sizes may lie, or a link command, with a good CRC-32 most
// of the time.
std::string n143Frame(std::mt19937& random, uint8_t* hostNumber) {
  static const uint8_t kTypes[] = {0x01, 0x02, 0x03, 0xFE, 0x52, 0x5E, 0x55, 0xAE,
                                   0xF6, 0x56, 0xA7, 0xA2, 0xAF, 0xFC, 0x77};
  static const uint8_t kLinks[] = {0x82, 0x95, 0x9C, 0xC0, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xA0};
  const uint8_t command = random() % 2 ? 0x82 : kLinks[random() % sizeof kLinks];
  std::string data;
  if (command == 0x82) {
    const int count = static_cast<int>(random() % 5);
    data += static_cast<char>(random() % 8 ? count : random());
    for (int i = 0; i < count; ++i) {
      data += static_cast<char>(kTypes[random() % sizeof kTypes]);
      data += randomBytes(random, random() % 30);
    }
  } else {
    data = randomBytes(random, random() % 3 == 0 ? 6 : random() % 20);
  }
  const uint32_t from = random() % 3 ? 0xAABBCCDD : static_cast<uint32_t>(random());
  const uint8_t number = random() % 4 ? static_cast<uint8_t>(++*hostNumber) : static_cast<uint8_t>(random());
  std::string f = std::string("\x16", 1) + le32(from) + static_cast<char>(command) + static_cast<char>(number) +
                  static_cast<char>(random()) + static_cast<char>(data.size()) +
                  static_cast<char>((data.size() >> 8) | ((random() % 16) << 4)) + data;
  uint32_t crc = crc32(f);
  if (random() % 8 == 0) crc ^= 1;
  return f + le32(crc);
}

TEST_F(ReceiveFuzzTest, RandomAndMutatedN114AndN143Frames) {
  serial_->SetHostAddress(0x2001);
  serial_->SetPLinkID(0x11223344);
  serial_->SetHostID(0xAABBCCDD, 0);
  serial_->SetDefaultTimeOut(60000);
  open();
  std::mt19937 random(20261211);
  uint8_t hostNumber = 0;
  int32_t tag = 1;
  struct {
    const char* name;
    uint32_t n114, n143;
  } const kFramings[] = {
      {"N114 on", 0x01000000, 0x10000000},
      {"N114 on with HDLC", 0x00000000, 0x10000000},
      {"N143 on", 0x11000000, 0x00000000},
      {"both off, frames pending", 0x11000000, 0x10000000},
  };
  for (const auto& framing : kFramings) {
    SCOPED_TRACE(framing.name);
    serial_->SetN114Mode(framing.n114);
    serial_->SetN143Mode(framing.n143);
    for (int run = 0; run < 400; ++run) {
      if (queueEmpty()) {
        const std::string data = randomBytes(random, random() % 12);
        const uint16_t n = static_cast<uint16_t>(data.size());
        serial_->N114L1Write(0x2005, 0xFFFF, 0xA8, tag++, n, data.data());
        serial_->N114L2Write(0x2005, 0xFFFF, 0x02, 0x40, tag++, n, data.data());
        serial_->N143L2Write(random() % 2 ? 0xFE : 0x55, tag++, n, data.data(), 0, static_cast<uint8_t>(random()),
                             random() % 2 ? 0 : 7);
        serial_->N143L1Write(tag++, 0, nullptr, 0xCC, 0, 0);
      }
      std::string input;
      switch (random() % 5) {
        case 0: input = n114Frame(random); break;
        case 1:
        case 2: input = n143Frame(random, &hostNumber); break;
        case 3: input = hdlcFrame(random, random() % 2 ? n114Frame(random) : n143Frame(random, &hostNumber)); break;
        default: input = randomBytes(random, random() % 600); break;
      }
      if (random() % 2) input = mutate(random, input);
      if (random() % 5 == 0) input += random() % 2 ? n114Frame(random) : n143Frame(random, &hostNumber);
      size_t at = 0;
      while (at < input.size()) {
        const size_t piece = 1 + random() % (input.size() - at);
        serial_->ReceiveBytes(input.data() + at, static_cast<int32_t>(piece), 0);
        ASSERT_GE(serial_->receiveCount_, 0);
        ASSERT_LE(serial_->receiveCount_, CSerial::kReceiveBufferSize);
        at += piece;
      }
      if (random() % 8 == 0 && serial_->receiveTimerId_) serial_->OnInTimer(serial_->receiveTimerId_);
      readAll();
      for (const Entry& e : entries_) ASSERT_LE(e.data.size(), static_cast<size_t>(CSerial::kReceiveBufferSize));
      entries_.clear();
      if (random() % 40 == 0) {
        for (int32_t t = tag - 4; t < tag; ++t) serial_->CommCueDelete(t);
      }
      owner_->pumpNow();
    }
  }
}

}  // namespace

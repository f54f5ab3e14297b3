// The SA device's frames, as handed to and from the binary framing (which
// adds the running sequence byte at 2, the length minus 3 at 3 and the XOR
// check byte of bytes 1.. at the end):
//
//   to the device:   02 | command | 00 (sequence) | 00 (length) | 00 | data
//     C9 "0"        the sale ended (the device asked with "=", or a sale line
//                   was rewritten or closed)
//     C3            a sale or a report was opened
//     C0 text       the SA display text
//     C1 "400"      the receipt head
//     C1 "100" line one print line of at most 46 columns, or C1 "3" mark "0"
//                   for an empty line ended by CR/LF ("1") or FF ("A")
//     80            poll: nothing pending
//   from the device: 02 | kind | sequence | length | status | keys.. | check
//     kind "="      asks for the sale's end
//     kind 80       key report, bytes 5 to the check byte: 00 digits.. FF (a
//                   run of digit keys), 01-72 key n of 114, C0-C6 the mode
//                   key (精算 点検 登録２ 登録１ OFF 戻し 設定), FF
#include "app/register/devices/sa_device.h"

#include "platform/base/cp932.h"
#include "quorex/serial.h"

namespace varnex::reg {

namespace {

constexpr char kStx = 0x02;

std::string frameOf(uint8_t command, const std::string& data) {
  std::string f{kStx, static_cast<char>(command), 0, 0, 0};
  return f + data;
}

// The mode numbers of the mode key's bytes 0xC0 to 0xC6.
constexpr int32_t kModeOfKey[] = {10, 9, 8, 7, 6, 5, 4};

}  // namespace

std::string TakeSaLine(std::string& text, char* endMark) {
  *endMark = 0;
  std::string line;
  int32_t columns = 0;
  bool wide = false;
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == '\r' || c == '\n') {
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      *endMark = '1';
      text.erase(0, i);
      return line;
    }
    if (c == 0x0C) {
      *endMark = 'A';
      text.erase(0, i + 1);
      return line;
    }
    if (c == 0x0E || c == 0x0F) {
      wide = c == 0x0E;
      ++i;
      continue;
    }
    if (c == 0x1B && i + 1 < text.size() && (text[i + 1] == 'X' || text[i + 1] == 'Y')) {
      i += 2;
      continue;
    }
    if (platform::cp932::isLeadByte(c) && i + 1 < text.size()) {
      if (wide) line += static_cast<char>(0xFE);
      line += text.substr(i, 2);
      if (wide) line += ' ';
      columns += wide ? 4 : 2;
      i += 2;
    } else {
      if (wide) line += static_cast<char>(0xFE);
      line += static_cast<char>(c);
      columns += wide ? 2 : 1;
      ++i;
    }
    if (columns >= kSaLineColumns) {
      text.erase(0, i);
      return line;
    }
  }
  // A last piece without a line end goes out whole; it is consumed so that
  // it is neither lost nor sent again and again.
  text.clear();
  return line;
}

std::string CSaDevice::NextFrame() {
  if (m_nSaRequest & kSaSaleClosed) {
    m_nSaRequest &= ~kSaSaleClosed;
    return frameOf(0xC9, "0");
  }
  if (m_nSaRequest & kSaSaleOpened) {
    m_nSaRequest &= ~kSaSaleOpened;
    return frameOf(0xC3, "");
  }
  if (m_nSaRequest & kSaDisplay) {
    m_nSaRequest &= ~kSaDisplay;
    return frameOf(0xC0, m_pDisplayText ? *m_pDisplayText : std::string());
  }
  if (m_nSaRequest & kSaReceiptHead) {
    m_nSaRequest &= ~kSaReceiptHead;
    return frameOf(0xC1, "400");
  }
  if (m_nSaRequest & kSaPrint) {
    std::string empty;
    std::string& text = m_pPrintText ? *m_pPrintText : empty;
    if (text.empty()) {
      // Nothing left to print: the bit goes, and the device is polled.
      m_nSaRequest &= ~kSaPrint;
      return frameOf(0x80, "");
    }
    char mark = 0;
    const std::string line = TakeSaLine(text, &mark);
    if (text.empty()) m_nSaRequest &= ~kSaPrint;
    if (!line.empty()) return frameOf(0xC1, "100" + line);
    return frameOf(0xC1, std::string("3") + (mark ? mark : '1') + "0");
  }
  return frameOf(0x80, "");
}

void CSaDevice::SendSaCommand() {
  if (!m_pPort || !m_bOpen) return;
  const std::string frame = NextFrame();
  // The tag marks the device's answer to this frame as one to look at.
  m_pPort->BinWrite(static_cast<uint8_t>(frame[1]) | 0x100, static_cast<uint16_t>(frame.size()), frame.data(), 0);
}

void CSaDevice::OnCommSa(WPARAM wParam) {
  if (!m_pPort || !m_bOpen) return;
  if (wParam != 1) return;
  // Only the port's own data is read under the guard.
  std::vector<std::string> frames;
  DrainCommPort(*m_pPort, m_pGuard ? *m_pGuard : m_ownGuard, [&frames](const CommMessage& m) {
    if (m.tag == 0) return;  // no answer to a frame of ours
    if (m.type & 0x8000)
      frames.emplace_back();  // counted, not looked at
    else
      frames.emplace_back(reinterpret_cast<const char*>(m.data), static_cast<size_t>(m.length));
  });
  if (frames.empty()) return;
  std::vector<SaAction> actions;
  for (const std::string& frame : frames) HandleFrame(frame, &actions);
  // Every answer of the device is answered by the next command, or a poll,
  // before the keys are delivered: a key that opens a modal dialog does not
  // keep the device waiting for its answer while the dialog is up.
  SendSaCommand();
  for (const SaAction& a : actions) {
    if (a.modeByte) {
      const int32_t mode = kModeOfKey[a.modeByte - 0xC0];
      const int32_t current = m_fnCurrentMode ? m_fnCurrentMode() : -1;
      if (current != -1 && current != mode && m_fnOpenMode) m_fnOpenMode(mode);
    } else if (m_fnKey && m_fnKey(a.position, a.character) && m_fnKeyDelivered) {
      m_fnKeyDelivered();
    }
  }
}

void CSaDevice::HandleFrame(const std::string& frame, std::vector<SaAction>* actions) {
  if (frame.size() < 2) return;
  const uint8_t kind = static_cast<uint8_t>(frame[1]);
  if (kind == '=') m_nSaRequest |= kSaSaleClosed;
  if (kind != 0x80) return;
  // The key bytes lie between the header and the check byte.
  const size_t end = frame.size() - 1;
  for (size_t i = 5; i < end; ++i) {
    const uint8_t b = static_cast<uint8_t>(frame[i]);
    if (b == 0x00) {
      for (++i; i < end && static_cast<uint8_t>(frame[i]) != 0xFF; ++i)
        if (frame[i] >= '0' && frame[i] <= '9') actions->push_back({0, frame[i], 0});
      if (i < end) actions->push_back({0, 0xFF, 0});  // the run's end is a key of its own
    } else if (b >= 0x01 && b <= 0x72) {
      const int32_t column = (b - 1) % 6, row = 18 - (b - 1) / 6;
      actions->push_back({column * 100 + row + 101, 0, 0});
    } else if (b >= 0xC0 && b <= 0xC6) {
      m_nLastModeKey = b;
      actions->push_back({0, 0, b});
    } else if (b == 0xFF) {
      actions->push_back({0, 0xFF, 0});
    }
  }
}

}  // namespace varnex::reg

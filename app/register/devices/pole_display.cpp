#include "app/register/devices/pole_display.h"

#include "platform/base/file.h"
#include "platform/ui/print_output.h"
#include "quorex/serial.h"

namespace varnex::reg {

std::string CPoleDisplay::Bytes(std::string& pending, const std::string& idle) {
  if (!pending.empty()) {
    std::string bytes = "\x0B" + pending;
    pending.clear();
    return bytes;
  }
  std::string bytes{0x0C, 0x1F, 0x43, 0x00};
  if (!idle.empty()) bytes += "\x0B" + idle;
  return bytes;
}

bool CPoleDisplay::Update(int32_t useCd, std::string& pending, const std::string& idle) {
  if (!useCd) return true;
  if (m_pPort && m_bOpen) {
    const std::string bytes = Bytes(pending, idle);
    return m_pPort->CommWrite(0, static_cast<int32_t>(bytes.size()), bytes.data()) == 0;
  }
  if (m_bPrinter) return Spool(pending, idle);
  return true;
}

bool CPoleDisplay::Spool(std::string& pending, const std::string& idle) {
  if (pending.empty() && idle.empty()) return true;
  if (m_strPrinter.empty()) return false;
  const std::string bytes = Bytes(pending, idle);
  const std::string queue = platform::ui::printQueueFor(m_strPrinter, false);
  if (!queue.empty()) {
    platform::ui::PrintOutput output;
    output.useQueue(queue);
    return output.passThrough(bytes) && output.sendPassThrough();
  }
  // No such queue: the name is a file (a device node or a log of what the
  // display was sent); the bytes are appended.
  platform::File file = platform::File::open(m_strPrinter, platform::kFileWrite, platform::kShareRead | platform::kShareWrite,
                                             platform::kOpenAlways);
  if (!file.isOpen() || file.seek(0, platform::kSeekEnd) < 0) return false;
  uint32_t done = 0;
  return file.write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done) && done == bytes.size();
}

void CPoleDisplay::OnCommCd(WPARAM wParam) {
  if (!m_pPort || !m_bOpen || wParam != 1) return;
  // The display sends nothing the register looks at: its queue is emptied.
  DrainCommPort(*m_pPort, m_pGuard ? *m_pGuard : m_ownGuard, [](const CommMessage&) {});
}

}  // namespace varnex::reg

// Small services of the application object that the views call: the paths
// of held-sale files and the held file of a sale brought back, the in-store
// numbering of new PLU items, and whether a click belongs to the floating
// ten-key pad.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <set>
#include <vector>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"
#include "zemta/fileidx.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/tax.h"

namespace varnex::shell {

namespace {
constexpr size_t kPathBuffer = 260;
}

int32_t CREGApp::GetReservePath(char* out, const char* name) {
  if (!out) return 0;
  std::string path;
  if (m_strReservePath.empty()) {
    if (!m_pRegCom || !m_pRegCom->IsOpen()) return 0;
    char buffer[1024] = {};
    if (FileProjGetPathName(m_pRegCom->Project(), buffer, 3, name) != 0) return 0;
    path = buffer;
  } else {
    path = m_strReservePath;
    if (!platform::endsWithSeparator(path)) path += '\\';
    path += name ? name : "";
  }
  // At most 259 characters, as the buffer holds.
  if (path.size() >= kPathBuffer) path.resize(kPathBuffer - 1);
  std::memcpy(out, path.c_str(), path.size() + 1);
  return 1;
}

bool CREGApp::HoldReserveFile(const std::string& path) {
  ReleaseReserveFile();
  auto held = std::make_unique<platform::File>(platform::File::open(
      path, platform::kFileRead | platform::kFileWrite, platform::kShareNone, platform::kOpenExisting));
  if (!held->isOpen()) return false;
  m_pReserveHeld = std::move(held);
  m_strReserveFile = path;
  return true;
}

void CREGApp::ReleaseReserveFile() {
  if (m_pReserveHeld) m_pReserveHeld->close();
  m_pReserveHeld.reset();
}

void CREGApp::CloseReserveFile(uint16_t modeCode, const std::function<void(const std::string&)>& titled) {
  if (m_strReserveFile.empty()) return;
  ReleaseReserveFile();
  if (!m_bReserveTrancate) {
    platform::deleteFile(platform::mapPath(m_strReserveFile));
  } else if (m_pRegCom) {
    // Emptied to its heading row, ready for the next sale of that name.
    char path[kPathBuffer] = {};
    std::snprintf(path, sizeof path, "%s", m_strReserveFile.c_str());
    m_pRegCom->ExportReceiptCsv(modeCode, nullptr, 0, 0, -1, path);
  }
  m_strReserveFile.clear();
  if (titled) titled("");
}

// In-store codes: prefix, a ten-digit sequence number and a check digit.
// The next number is one above the highest in use; past 9999999999 the
// lowest number no item holds is taken, and none at all is refused.
int32_t CREGApp::AssignPluCode(void* recordIn) {
  auto* record = static_cast<uint8_t*>(recordIn);
  if (!record || !m_pRegCom || !m_pRegCom->IsOpen()) return 0;
  using reg::plu::kCode;
  std::string prefix = reg::getText(record, kCode.offset, kCode.size);
  while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
  if (prefix.size() > 2) return 0;  // a code was typed
  if (prefix.size() < 2) prefix = "02";
  FileDBHandle table = m_pRegCom->Table(reg::kPluTable);
  const int32_t index = FileGetIndexPos(table, kCode.offset, kCode.size, 1);
  if (index < 0) return 0;
  std::vector<char> from(kCode.size, 0), to(kCode.size, 0);
  std::memcpy(from.data(), prefix.data(), 2);
  const std::string top = prefix + "99999999999";
  std::memcpy(to.data(), top.data(), std::min<size_t>(top.size(), kCode.size));
  const int32_t records = FileDBRecGetSize(table);
  FileRecList list{};
  if (records < 0 || FileNewRecList(&list, records + 1) != 0) return 0;
  if (FileIdxSear(table, index, from.data(), to.data(), &list, 0, 0) < 0) {
    FileDeleteRecList(&list);
    return 0;
  }
  std::set<uint64_t> used;
  std::vector<uint8_t> item(reg::kTables[reg::kPluTable].recordLen);
  for (int32_t i = 0; i < list.count; ++i) {
    if (FileDBRecRead(table, static_cast<int32_t>(list.items[i]), item.data()) != 0) continue;
    std::string code = reg::getText(item.data(), kCode.offset, kCode.size);
    while (!code.empty() && code.back() == ' ') code.pop_back();
    if (code.size() != 13 || code.compare(0, 2, prefix) != 0) continue;
    uint64_t n = 0;
    bool digits = true;
    for (size_t k = 2; k < 12; ++k) {
      digits = digits && code[k] >= '0' && code[k] <= '9';
      n = n * 10 + static_cast<uint64_t>(code[k] - '0');
    }
    if (digits) used.insert(n);
  }
  FileDeleteRecList(&list);
  constexpr uint64_t kLast = 9999999999ull;
  uint64_t next = used.empty() ? 1 : *used.rbegin() + 1;
  if (next > kLast) {
    next = 0;
    for (uint64_t candidate = 1; candidate <= kLast; ++candidate)
      if (!used.count(candidate)) {
        next = candidate;
        break;
      }
  }
  if (next == 0) {
    platform::ui::messageBox(nullptr, "店内コードの番号に空きがありません\n商品コードを入力して下さい", "",
                             platform::kMbOk | platform::kMbIconWarning);
    return -1;
  }
  char code[32];
  std::snprintf(code, sizeof code, "%s%010lluC", prefix.c_str(), static_cast<unsigned long long>(next));
  BccMake(code, 13);
  std::memset(record + kCode.offset, 0, kCode.size);
  std::memcpy(record + kCode.offset, code, 13);
  return 1;
}

}  // namespace varnex::shell

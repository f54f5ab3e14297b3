// Change notifications: the registered message ZEMTA_REF_EXTERN sent to the
// window bound to a record-buffer set, with the event code in wParam and the
// address of a notification block in lParam (valid only during the call).
//
// Notification block, 4180 bytes, little-endian, zero-filled first:
//   0     4     owner of the set (view or print job handle)
//   4     2     the owner's item that shows the set
//   6     18    table name, zero-terminated
//   24    4     fdb id
//   28    2     record length
//   30    18    field name (zero when the event names no field)
//   48    4     field id
//   52    2     field offset
//   54    2     field size
//   56    2     field word
//   58    2     type code
//   60    4     row image address (low 32 bits)
//   64    4     answer flag: non-zero stores the answer text into the field
//   68    4096  answer text, zero-terminated, code page 932
//   4164  2     buffer rows of the table's slot
//   4166  2     buffer row of the image
//   4168  2     visible rows of the set
//   4170  2     visible position, 0xFFFF when not shown
//   4172  4     record number, -1 none
//   4176  4     record list address (low 32 bits)
// Addresses are 64 bits wide here: the block keeps their low halves at their
// places, and the whole addresses follow at 4180 (image) and 4188 (list), so
// a receiver on this platform never has to rebuild a pointer.
#include <cstring>
#include <vector>

#include "lib/core/item_types.h"
#include "lib/core/little_endian.h"
#include "lib/core/report.h"
#include "lib/store/project/fileproj_internal.h"
#include "platform/ui/window.h"
#include "zemta/filebuf.h"

namespace zemta::fileproj {
namespace {

constexpr size_t kBlockLen = FILEBUF_NOTIFY_BLOCK_LEN;
constexpr size_t kBlockWithAddresses = kBlockLen + 16;
constexpr size_t kAnswerFlag = 64, kAnswerText = 68, kAnswerTextLen = 4096;

void putAddress(uint8_t* block, size_t lowAt, size_t wholeAt, const void* address) {
  uint64_t value = reinterpret_cast<uintptr_t>(address);
  put_u32le(block + lowAt, static_cast<uint32_t>(value));
  put_u32le(block + wholeAt, static_cast<uint32_t>(value));
  put_u32le(block + wholeAt + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace

int32_t notifyRow(Project& p, int32_t setNumber, int32_t code, const Field* field, uint8_t* image) {
  if (g_nMsgRefExt == 0) return 0;
  BufferSet* set = bufferSet(p, setNumber);
  if (!set || !set->window || !platform::ui::isWindow(set->window)) return 0;
  RowAt at;
  if (!findRowAt(p, image, at) || at.set != setNumber) return -1;
  BufferSlot& slot = set->slots[at.slot];
  if (slot.table < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJ_FILEDB_HANDLE);
    return -1;
  }
  const TableEntry& entry = p.tables[slot.table];
  std::vector<uint8_t> block(kBlockWithAddresses, 0);
  put_u32le(block.data() + 0, set->owner);
  put_u16le(block.data() + 4, set->item);
  std::string name = entry.name();
  std::memcpy(block.data() + 6, name.data(), std::min<size_t>(name.size(), 17));
  put_i32le(block.data() + 24, entry.fdbId());
  put_u16le(block.data() + 28, entry.recordLen());
  if (field) {
    std::string fieldName = field->name();
    std::memcpy(block.data() + 30, fieldName.data(), std::min<size_t>(fieldName.size(), 17));
    put_i32le(block.data() + 48, field->id());
    put_u16le(block.data() + 52, field->offset());
    put_u16le(block.data() + 54, field->size());
    put_u16le(block.data() + 56, field->fieldWord());
    put_u16le(block.data() + 58, field->typeCode());
  }
  putAddress(block.data(), 60, kBlockLen, image);
  put_u16le(block.data() + 4164, slot.rows);
  put_u16le(block.data() + 4166, static_cast<uint16_t>(at.row));
  put_u16le(block.data() + 4168, set->visible);
  int32_t position = visiblePosition(*set, at.slot, at.row);
  put_u16le(block.data() + 4170, position < 0 ? 0xFFFF : static_cast<uint16_t>(position));
  put_i32le(block.data() + 4172, slot.recordNumbers[at.row]);
  putAddress(block.data(), 4176, kBlockLen + 8, &slot.list);
  const LRESULT answer = platform::ui::sendMessage(set->window, g_nMsgRefExt, static_cast<WPARAM>(code),
                                                   reinterpret_cast<LPARAM>(block.data()));
  const auto result = static_cast<int32_t>(answer);
  if (result == 0 || (code >= 8 && code <= 15)) return result;
  if (field && get_u32le(block.data() + kAnswerFlag) != 0) {
    block[kAnswerText + kAnswerTextLen - 1] = 0;
    // The answer goes into the row as the field's input would.
    if (field->offset() + field->size() > slot.size() ||
        ItemStrToData(field->typeWord(), field->fieldWord(), field->size(), image + field->offset(),
                      reinterpret_cast<const char*>(block.data() + kAnswerText)) < 0)
      return -1;
    if (refreshDerived(entry, *field, image) < 0) return -1;
  }
  return result;
}

}  // namespace zemta::fileproj

using namespace zemta;
using namespace zemta::fileproj;

ZEMTA_API int32_t FileProjNotify(FileProjHandle project, int32_t setNumber, int32_t code, int32_t fieldId,
                                 void* image) {
  Project* p = findProject(project);
  if (!p) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PROJECT_HANDLE);
    return -1;
  }
  if (g_nMsgRefExt == 0) return 0;
  const Field* field = nullptr;
  if (fieldId != 0) {
    RowAt at;
    if (!findRowAt(*p, image, at)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
      return -1;
    }
    const BufferSlot& slot = p->sets[at.set]->slots[at.slot];
    const TableEntry& entry = p->tables[slot.table];
    for (const auto& f : slot.header() ? entry.headerFields : entry.fields)
      if (f.id() == fieldId) field = &f;
    if (!field) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
  }
  return notifyRow(*p, setNumber, code, field, static_cast<uint8_t*>(image));
}

ZEMTA_API int32_t FileCheckRefExtern(const uint16_t* fieldRef, const void* block) {
  if (!fieldRef || !block) return 0;
  const auto* b = static_cast<const uint8_t*>(block);
  return get_u16le(b + 52) == fieldRef[0] && get_u16le(b + 54) == fieldRef[1] && b[56] == (fieldRef[2] & 0xFF) &&
                 b[57] == (fieldRef[2] >> 8)
             ? 1
             : 0;
}

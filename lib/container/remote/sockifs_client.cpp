// Requests of the remote file service client for the service itself, files
// and transfers. Each is one request (or a short series) in the frame of
// connection.h; every length a reply brings is checked against what was
// asked before a byte of it is copied to the caller.
//
// Names travel counted (the caller's length, at most 128 bytes) or
// NUL-terminated (a negative length; at most 127 characters and the NUL).
// Descriptors are 360-byte records copied unchanged.
#include <algorithm>
#include <cstring>

#include "lib/container/ifs/ifs_internal.h"
#include "lib/container/remote/connection.h"
#include "lib/core/little_endian.h"
#include "platform/base/last_error.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/errors.h"
#include "zemta/fileex.h"
#include "zemta/sockifs.h"
#include "zemta/winhelp.h"

using namespace zemta::remote;

namespace {

constexpr size_t kDescriptorSize = 360;
constexpr size_t kNameReplySize = 624;  // name length u32, 260-byte name, descriptor
constexpr size_t kNameField = 128;
constexpr size_t kPositionedReadMax = 409;
constexpr size_t kPositionedWriteMax = kMaxData - 8;  // 4088: the distance takes 8 bytes
constexpr size_t kRollbackTextMax = 4079;
constexpr uint32_t kProgressPollMs = 200;
constexpr size_t kProgressDetailMax = 128;
constexpr uintptr_t kWaitCursor = 32514;

// The bytes of a name as they go on the wire; false (last error 22) when it
// is empty or too long.
bool nameBytes(const char* name, int32_t nameLength, const uint8_t** bytes, size_t* count) {
  if (!name) return fail(kBadCommand);
  if (nameLength >= 0) {
    if (nameLength == 0 || static_cast<size_t>(nameLength) > kNameField) return fail(kBadCommand);
    *count = static_cast<size_t>(nameLength);
  } else {
    size_t length = std::strlen(name);
    if (length == 0 || length >= kNameField) return fail(kBadCommand);
    *count = length + 1;  // with its NUL
  }
  *bytes = reinterpret_cast<const uint8_t*>(name);
  return true;
}

bool textFits(const char* text) { return !text || std::strlen(text) < kNameField; }

// One 'p' poll: the record and, when the reply brings one, the backup's
// detail text (NUL-terminated within at most 128 bytes). 0, or -1.
int32_t pollProgress(SockIfsProgress* progress, std::string* detail) {
  Request request('p', 0, 0);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyData})) return -1;
  if (reply.payloadLength() < 16) return failWith(kBadCommand);
  const uint8_t* p = reply.payload();
  if (progress) {
    progress->phase = zemta::get_i32le(p);
    progress->value = zemta::get_i32le(p + 4);
    progress->word1 = zemta::get_u32le(p + 8);
    progress->word2 = zemta::get_u32le(p + 12);
  }
  if (detail) {
    const char* text = reinterpret_cast<const char*>(p + 16);
    const size_t room = std::min(reply.payloadLength() - 16, kProgressDetailMax);
    detail->assign(text, strnlen(text, room));
  }
  return 0;
}

// Follows the server's operation with the progress dialog up (the main
// window disabled, the wait cursor shown) and a 'p' poll every 200 ms,
// until it ends: its result, or -1 with the last error set (the server's
// status when it failed, the poll's error when a poll failed).
int32_t followProgress(const char* caption, bool showDetail) {
  namespace ui = platform::ui;
  ui::ensureApplication();
  HWND owner = ui::mainWindow();
  const bool wasEnabled = owner && ui::isWindowEnabled(owner);
  if (owner) ui::enableWindow(owner, false);
  HWND dialog = ui::createDialogFromTemplate(zemta::container::progressTemplate(), owner, nullptr);
  if (!dialog) {
    if (owner) ui::enableWindow(owner, wasEnabled);
    return failWith(ZEMTA_ERR_BAD_HANDLE);
  }
  ui::setWindowText(dialog, caption);
  HWND bar = ui::dialogItem(dialog, zemta::container::kProgressBarId);
  ui::setControlRange(bar, 0, 100);
  PushCursor(reinterpret_cast<const char*>(kWaitCursor));
  auto restore = [&]() {
    const uint32_t error = platform::lastError();
    PopCursor();
    ui::destroyWindow(dialog);
    if (owner && ui::isWindow(owner)) ui::enableWindow(owner, wasEnabled);
    platform::setLastError(error);
  };
  int32_t shownPhase = 0;
  std::string shownDetail;
  for (;;) {
    SockIfsProgress progress{};
    std::string detail;
    if (pollProgress(&progress, showDetail ? &detail : nullptr) != 0) {
      restore();
      return -1;
    }
    if (progress.phase == 0) {
      restore();
      return progress.value;
    }
    if (progress.phase < 0) {
      restore();
      return failWith(static_cast<uint32_t>(progress.value));
    }
    if (progress.phase != shownPhase || detail != shownDetail) {
      shownPhase = progress.phase;
      shownDetail = detail;
      std::string text = FileExGetPlsTitle(progress.phase);
      if (!detail.empty()) text += " - " + detail;
      ui::setDialogItemText(dialog, zemta::container::kProgressTextId, text);
    }
    ui::setControlPosition(bar, std::clamp(progress.value, 0, 100));
    ui::pumpUntil([] { return false; }, kProgressPollMs);
  }
}

}  // namespace

ZEMTA_API int32_t SockIfsMaintenance(int32_t on) {
  Request request('m', on ? 1 : 0, 0);
  Reply reply;
  return exchange(request, &reply, 0u, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsNotify() {
  Request request('n', 0, 0);
  Reply reply;
  return exchange(request, &reply, 0u, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsGetProgress(SockIfsProgress* progress) { return pollProgress(progress, nullptr); }

ZEMTA_API int32_t SockIfsBackup(int32_t mode) {
  Request request('b', static_cast<uint8_t>(mode), 0);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone})) return -1;
  return followProgress(mode == 4 ? "データベースの検査" : "バックアップ", true);
}

ZEMTA_API int32_t SockIfsRollback(uint32_t a, uint32_t b, int32_t c, const char* text, uint32_t d) {
  Request request('e', 0, 0);
  request.u32(a).u32(b).u32(static_cast<uint32_t>(c)).u32(d);
  size_t length = text ? std::min(std::strlen(text), kRollbackTextMax) : 0;
  request.bytes(text, length).zeros(1);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone})) return -1;
  if (reply.number() == 0) return 0;
  return followProgress("操作の取り消し", false);
}

ZEMTA_API int32_t SockIfsUser(uint32_t a, uint32_t b, const char* text) {
  if (!textFits(text)) return failWith(kBadCommand);
  if (!connected()) return failWith(kNoConnection);
  uint8_t field[kNameField] = {};
  if (text) std::memcpy(field, text, std::strlen(text));
  Request request('U', 0, 0);
  request.u32(a).u32(b).bytes(field, sizeof field);
  Reply reply;
  return exchange(request, &reply, std::nullopt, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API uint32_t SockIfsCreate(const char* name, int32_t nameLength, const char* second, uint32_t word1,
                                 uint32_t word2, uint32_t word3) {
  if (!connected()) return failHandle(kNoConnection);
  const uint8_t* bytes = nullptr;
  size_t count = 0;
  if (!nameBytes(name, nameLength, &bytes, &count) || !textFits(second)) return failHandle(kBadCommand);
  Request request('A', 0, 0);
  request.u32(word1).u16(static_cast<uint16_t>(word2)).u16(static_cast<uint16_t>(word3));
  request.u32(static_cast<uint32_t>(nameLength)).bytes(bytes, count);
  if (second) request.zeros(kNameField - count).bytes(second, std::strlen(second)).zeros(1);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone})) return 0;
  if (reply.handle() == 0) return failHandle(kBadCommand);
  return reply.handle();
}

ZEMTA_API uint32_t SockIfsCopyCreate(const char* name, int32_t nameLength, uint32_t source) {
  if (!connected()) return failHandle(kNoConnection);
  const uint8_t* bytes = nullptr;
  size_t count = 0;
  if (!nameBytes(name, nameLength, &bytes, &count)) return 0;
  Request request('A', 0x80, 0);
  request.zeros(132).u32(static_cast<uint32_t>(nameLength)).bytes(bytes, count).zeros(kNameField - count).u32(source);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone})) return 0;
  if (reply.handle() == 0) return failHandle(kBadCommand);
  return reply.handle();
}

ZEMTA_API uint32_t SockIfsCreateByID(uint32_t a, uint32_t b, int32_t kind, int32_t flag) {
  Request request('a', static_cast<uint8_t>((flag ? 0x80 : 0) | (kind & 3)), 0);
  request.u32(a).u32(b);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone})) return 0;
  if (reply.handle() == 0) return failHandle(kBadCommand);
  return reply.handle();
}

ZEMTA_API int32_t SockIfsRelease(uint32_t handle) {
  Request request('D', 0, handle);
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsRemove(const char* name, int32_t nameLength) {
  if (!connected()) return failWith(kNoConnection);
  const uint8_t* bytes = nullptr;
  size_t count = 0;
  if (!nameBytes(name, nameLength, &bytes, &count)) return -1;
  Request request('E', 0, 0);
  request.u32(static_cast<uint32_t>(nameLength)).bytes(bytes, count);
  Reply reply;
  return exchange(request, &reply, 0u, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API uint32_t SockIfsGetSysFile(uint32_t which, void* descriptor) {
  if (!connected()) return failHandle(kNoConnection);
  if (which > 1) return failHandle(kBadCommand);
  Request request('F', static_cast<uint8_t>(which | (descriptor ? 0x80 : 0)), 0);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyDone, kReplyData})) return 0;
  if (reply.code() == kReplyData) {
    if (reply.payloadLength() != kDescriptorSize) return failHandle(kBadCommand);
    if (descriptor) std::memcpy(descriptor, reply.payload(), kDescriptorSize);
  }
  if (reply.handle() == 0) return failHandle(kBadCommand);
  return reply.handle();
}

ZEMTA_API int32_t SockIfsIsExist(const char* name, int32_t nameLength, void* descriptor) {
  if (!connected()) return failWith(kNoConnection);
  const uint8_t* bytes = nullptr;
  size_t count = 0;
  if (!nameBytes(name, nameLength, &bytes, &count)) return -1;
  Request request('I', 0, 0);
  request.u32(static_cast<uint32_t>(nameLength)).bytes(bytes, count);
  Reply reply;
  if (!exchange(request, &reply, 0u, {kReplyDone, kReplyData})) return -1;
  if (reply.code() == kReplyDone || !descriptor) return reply.number();
  if (reply.payloadLength() != kDescriptorSize) return failWith(kBadCommand);
  std::memcpy(descriptor, reply.payload(), kDescriptorSize);
  return 1;
}

ZEMTA_API int32_t SockIfsGetName(uint8_t a, uint32_t b, uint32_t c, uint32_t d, char* buffer, int32_t size,
                                 void* descriptor) {
  if (!connected()) return failWith(kNoConnection);
  if (buffer && size <= 0) return failWith(kBadCommand);
  Request request('y', a, 0);
  request.u32(b).u32(c).u32(d);
  Reply reply;
  if (!exchange(request, &reply, std::nullopt, {kReplyData})) return -1;
  if (reply.payloadLength() != kNameReplySize) return failWith(kBadCommand);
  const uint8_t* p = reply.payload();
  const uint32_t length = zemta::get_u32le(p);
  if (buffer) {
    // The name is NUL-terminated within its 260-byte field; never beyond it.
    const char* name = reinterpret_cast<const char*>(p + 4);
    size_t n = strnlen(name, 260);
    n = std::min(n, static_cast<size_t>(size - 1));
    std::memcpy(buffer, name, n);
    buffer[n] = 0;
  }
  if (descriptor) std::memcpy(descriptor, p + 4 + 260, kDescriptorSize);
  return static_cast<int32_t>(length);
}

ZEMTA_API int32_t SockIfsRename(const char* oldName, const char* newName) {
  if (!connected()) return failWith(kNoConnection);
  if (!oldName || !newName || !textFits(oldName) || !textFits(newName)) return failWith(kBadCommand);
  uint8_t field[kNameField] = {};
  std::memcpy(field, oldName, std::strlen(oldName));
  Request request('N', 0, 0);
  request.bytes(field, sizeof field).bytes(newName, std::strlen(newName)).zeros(1);
  Reply reply;
  return exchange(request, &reply, std::nullopt, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsOpen(uint32_t handle, int32_t mode) {
  Request request('O', static_cast<uint8_t>(mode), handle);
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsClose(uint32_t handle) {
  Request request('C', 0, handle);
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsDescriptor(uint32_t handle, void* descriptor) {
  Request request('L', 0, handle);
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyDone, kReplyData})) return -1;
  if (reply.code() == kReplyDone) return 0;
  if (reply.payloadLength() != kDescriptorSize) return failWith(kBadCommand);
  if (descriptor) std::memcpy(descriptor, reply.payload(), kDescriptorSize);
  return 1;
}

namespace {

// A reply of exactly 8 bytes: a 64-bit position or size; -1 otherwise.
int64_t eightByteAnswer(Request& request, uint32_t handle) {
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyData})) return -1;
  if (reply.payloadLength() != 8) return failWith(kBadCommand);
  const uint8_t* p = reply.payload();
  return static_cast<int64_t>(static_cast<uint64_t>(zemta::get_u32le(p)) |
                              (static_cast<uint64_t>(zemta::get_u32le(p + 4)) << 32));
}

// One read request; the bytes copied to `to` (at most `asked`), or -1.
int32_t readPart(Request& request, uint32_t handle, uint8_t* to, size_t asked) {
  Reply reply;
  if (!exchange(request, &reply, handle, {kReplyData})) return -1;
  // A server that sends more than was asked is not trusted with the
  // caller's buffer.
  if (reply.payloadLength() > asked) return failWith(kBadCommand);
  if (reply.payloadLength()) std::memcpy(to, reply.payload(), reply.payloadLength());
  return static_cast<int32_t>(reply.payloadLength());
}

bool atCurrentPosition(uint32_t low, int32_t high, uint32_t method) { return low == 0 && high == 0 && method == 1; }

}  // namespace

ZEMTA_API int64_t SockIfsSetPointer(uint32_t handle, uint32_t distanceLow, int32_t distanceHigh,
                                    uint32_t moveMethod) {
  Request request('P', static_cast<uint8_t>(moveMethod), handle);
  request.u32(distanceLow).u32(static_cast<uint32_t>(distanceHigh));
  return eightByteAnswer(request, handle);
}

ZEMTA_API int64_t SockIfsGetSize(uint32_t handle) {
  Request request('G', 0, handle);
  return eightByteAnswer(request, handle);
}

ZEMTA_API int32_t SockIfsSetSize(uint32_t handle, uint32_t sizeLow, int32_t sizeHigh) {
  Request request('S', 0, handle);
  request.u32(sizeLow).u32(static_cast<uint32_t>(sizeHigh));
  Reply reply;
  return exchange(request, &reply, handle, {kReplyDone}) ? 0 : -1;
}

ZEMTA_API int32_t SockIfsRead(uint32_t handle, void* buffer, uint32_t length, uint32_t* bytesRead,
                              uint32_t offsetLow, int32_t offsetHigh, uint32_t moveMethod) {
  if (bytesRead) *bytesRead = 0;
  if (!connected()) return failWith(kNoConnection);
  if (!buffer && length) return failWith(kBadCommand);
  uint8_t* to = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  if (!atCurrentPosition(offsetLow, offsetHigh, moveMethod)) {
    const size_t asked = std::min<size_t>(length, kPositionedReadMax);
    Request request('R', static_cast<uint8_t>(moveMethod), handle);
    request.u16(static_cast<uint16_t>(asked)).u32(offsetLow).u32(static_cast<uint32_t>(offsetHigh));
    int32_t got = readPart(request, handle, to, asked);
    if (got < 0) return -1;
    done += static_cast<size_t>(got);
    if (bytesRead) *bytesRead = static_cast<uint32_t>(done);
    if (static_cast<size_t>(got) < asked) return 0;  // end of file
  }
  while (done < length) {
    const size_t asked = std::min<size_t>(length - done, kMaxData);
    Request request('R', 0xFF, handle);
    request.u16(static_cast<uint16_t>(asked));
    int32_t got = readPart(request, handle, to + done, asked);
    if (got < 0) return -1;
    done += static_cast<size_t>(got);
    if (bytesRead) *bytesRead = static_cast<uint32_t>(done);
    if (static_cast<size_t>(got) < asked) break;
  }
  return 0;
}

ZEMTA_API int32_t SockIfsWrite(uint32_t handle, const void* data, uint32_t length, uint32_t offsetLow,
                               int32_t offsetHigh, uint32_t moveMethod) {
  if (!connected()) return failWith(kNoConnection);
  if (!data && length) return failWith(kBadCommand);
  const uint8_t* from = static_cast<const uint8_t*>(data);
  size_t done = 0;
  Reply reply;
  if (!atCurrentPosition(offsetLow, offsetHigh, moveMethod)) {
    const size_t part = std::min<size_t>(length, kPositionedWriteMax);
    Request request('W', static_cast<uint8_t>(moveMethod), handle);
    request.u32(offsetLow).u32(static_cast<uint32_t>(offsetHigh)).bytes(from, part);
    if (!exchange(request, &reply, handle, {kReplyDone})) return -1;
    done = part;
  }
  while (done < length) {
    const size_t part = std::min<size_t>(length - done, kMaxData);
    Request request('W', 0xFF, handle);
    request.bytes(from + done, part);
    if (!exchange(request, &reply, handle, {kReplyDone})) return -1;
    done += part;
  }
  return 0;
}

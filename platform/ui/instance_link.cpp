// Requests over the socket (all integers little-endian):
//   'L'                                  list the top-level windows
//       answer: per window  u64 handle, u32 n, class (n bytes), u32 n, title
//   'S' u64 handle, u32 message, u64 wParam, i64 lParam, u32 n, name
//       send the message (name: the registered name of an id >= 0xC000,
//       translated to this process's id; empty otherwise)
//       answer: 'R' i64 result, or 'X' when the window is gone or the
//       message is not a registered one
//   'A' u64 handle                       bring the window to the front
//       answer: 'R' i64 1, or 'X' when the window is gone
#include "platform/ui/instance_link.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/base/last_error.h"
#include "platform/base/local_channel.h"
#include "platform/base/path.h"
#include "platform/base/shared_state.h"
#include "platform/ui/internal.h"

namespace platform::ui {

using namespace detail;

namespace {

constexpr int kRequestTimeoutMs = 5000;

void putU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void putU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void putText(std::string& out, const std::string& text) {
  putU32(out, static_cast<uint32_t>(text.size()));
  out += text;
}

struct Reader {
  const std::string& in;
  size_t pos = 0;
  bool ok = true;
  uint64_t number(int bytes) {
    if (pos + static_cast<size_t>(bytes) > in.size()) {
      ok = false;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(static_cast<unsigned char>(in[pos + i])) << (8 * i);
    pos += static_cast<size_t>(bytes);
    return v;
  }
  std::string text() {
    uint32_t n = static_cast<uint32_t>(number(4));
    if (!ok || pos + n > in.size()) {
      ok = false;
      return {};
    }
    std::string t = in.substr(pos, n);
    pos += n;
    return t;
  }
};

struct StandIn {
  std::string socket;
  uint64_t remote = 0;
};

struct LinkState {
  std::mutex mutex;
  platform::LocalChannelServer server;
  std::map<uintptr_t, StandIn> standIns;  // local handle -> remote window
};

}  // namespace

// One per process: the libraries' copies of this layer must know the
// stand-ins the others made (a window found by the library is asked about
// by the program).
namespace detail {
PLATFORM_SHARED_STATE void* sharedInstanceLink() {
  static void* s = new LinkState;  // the server stops at exit below
  return s;
}
}  // namespace detail

namespace {

LinkState& link() { return *static_cast<LinkState*>(detail::sharedInstanceLink()); }

std::string windowsFolder() { return platform::runtimeFolder("varnex-windows"); }

bool isStandIn(HWND window) {
  std::lock_guard<std::mutex> guard(link().mutex);
  return link().standIns.count(key(window)) != 0;
}

std::string messageName(uint32_t message) {
  if (message < 0xC000) return {};
  UiState& s = state();
  std::lock_guard<std::recursive_mutex> guard(s.mutex);
  for (const auto& [name, id] : s.messageIds)
    if (id == message) return name;
  return {};
}

// Runs f on the UI thread and waits for it (no application: nothing to list).
template <typename F>
void onUiThread(F f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (isUiThread()) f();
  else QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

std::string answer(const std::string& request) {
  std::string out;
  if (request.empty()) return out;
  if (request[0] == 'L') {
    onUiThread([&] {
      for (HWND w : topLevelWindows()) {
        if (isStandIn(w)) continue;
        putU64(out, key(w));
        putText(out, windowClassName(w));
        putText(out, windowText(w));
      }
    });
  } else if (request[0] == 'S') {
    Reader r{request, 1};
    HWND target = handleOf(static_cast<uintptr_t>(r.number(8)));
    uint32_t message = static_cast<uint32_t>(r.number(4));
    WPARAM wParam = static_cast<WPARAM>(r.number(8));
    LPARAM lParam = static_cast<LPARAM>(r.number(8));
    std::string name = r.text();
    (void)message;
    // Only a registered message is delivered: a fixed id may be one whose
    // lParam the receiver takes for a pointer.
    if (!r.ok || name.empty()) return "X";
    out = "X";
    onUiThread([&] {
      if (!isWindow(target) || isStandIn(target)) return;
      uint32_t local = registerWindowMessage(name);
      LRESULT result = sendMessage(target, local, wParam, lParam);
      out = "R";
      putU64(out, static_cast<uint64_t>(result));
    });
  } else if (request[0] == 'A') {
    Reader r{request, 1};
    HWND target = handleOf(static_cast<uintptr_t>(r.number(8)));
    if (!r.ok) return "X";
    out = "X";
    onUiThread([&] {
      if (!isWindow(target) || isStandIn(target) || !bringToFront(target)) return;
      out = "R";
      putU64(out, 1);
    });
  }
  return out;
}

bool remoteOf(HWND standIn, StandIn& remote) {
  std::lock_guard<std::mutex> guard(link().mutex);
  auto it = link().standIns.find(key(standIn));
  if (it == link().standIns.end()) return false;
  remote = it->second;
  return true;
}

LRESULT forward(HWND standIn, uint32_t message, WPARAM wParam, LPARAM lParam) {
  StandIn remote;
  if (!remoteOf(standIn, remote)) return 0;
  std::string name = messageName(message);
  if (name.empty()) {  // not a registered message: it stays in this process
    setLastError(kErrorInvalidParameter);
    return 0;
  }
  std::string request = "S";
  putU64(request, remote.remote);
  putU32(request, message);
  putU64(request, wParam);
  putU64(request, static_cast<uint64_t>(lParam));
  putText(request, name);
  std::string reply;
  if (!platform::localChannelRequest(remote.socket, request, reply, kRequestTimeoutMs)) return 0;
  if (reply.size() != 9 || reply[0] != 'R') {
    setLastError(kErrorInvalidHandle);
    return 0;
  }
  Reader r{reply, 1};
  return static_cast<LRESULT>(r.number(8));
}

HWND standInFor(const std::string& socket, uint64_t remote, const std::string& className, const std::string& title) {
  {
    std::lock_guard<std::mutex> guard(link().mutex);
    for (const auto& [local, s] : link().standIns)
      if (s.socket == socket && s.remote == remote && isWindow(handleOf(local))) {
        HWND h = handleOf(local);
        setWindowText(h, title);
        return h;
      }
  }
  WindowSpec windowSpec;
  windowSpec.className = className;
  windowSpec.title = title;
  windowSpec.visible = false;
  // The stand-in is registered before its procedure can be asked anything.
  HWND h = createWindow(windowSpec, [](HWND w, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == kWmCreate || m == kWmDestroy) return 0;
    return forward(w, m, wp, lp);
  });
  if (!h) return nullptr;
  std::lock_guard<std::mutex> guard(link().mutex);
  link().standIns[key(h)] = StandIn{socket, remote};
  return h;
}

}  // namespace

bool publishWindows() {
  LinkState& l = link();
  std::lock_guard<std::mutex> guard(l.mutex);
  if (l.server.running()) return true;
  std::string folder = windowsFolder();
  if (folder.empty()) return false;
  if (!l.server.start(folder + "/" + std::to_string(::getpid()), answer)) return false;
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit([] { link().server.stop(); });
  }
  return true;
}

std::vector<ForeignWindow> foreignWindows() {
  std::vector<ForeignWindow> result;
  std::string folder = windowsFolder();
  if (folder.empty()) return result;
  std::vector<std::pair<long, std::string>> peers;
  for (const std::string& name : platform::listFolder(folder)) {
    char* end = nullptr;
    long pid = std::strtol(name.c_str(), &end, 10);
    if (!end || *end || pid <= 0 || pid == static_cast<long>(::getpid())) continue;
    peers.emplace_back(pid, folder + "/" + name);
  }
  std::sort(peers.begin(), peers.end());
  for (const auto& [pid, socket] : peers) {
    std::string reply;
    if (!platform::localChannelRequest(socket, "L", reply, kRequestTimeoutMs)) {
      // Nobody listens any more: a process that ended without removing it.
      if (platform::lastError() == kErrorFileNotFound) ::unlink(socket.c_str());
      continue;
    }
    Reader r{reply};
    while (r.ok && r.pos < reply.size()) {
      uint64_t remote = r.number(8);
      std::string className = r.text();
      std::string title = r.text();
      if (!r.ok) break;
      if (HWND h = standInFor(socket, remote, className, title)) result.push_back({h, className, title});
    }
  }
  return result;
}

bool isForeignWindow(HWND window) { return isStandIn(window); }

bool activateForeignWindow(HWND standIn) {
  StandIn remote;
  if (!remoteOf(standIn, remote)) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  std::string request = "A";
  putU64(request, remote.remote);
  std::string reply;
  if (!platform::localChannelRequest(remote.socket, request, reply, kRequestTimeoutMs)) return false;
  if (reply.size() != 9 || reply[0] != 'R') {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

}  // namespace platform::ui

// System services over the platform layer.
//
// Version information comes from the build: each module of the system (the
// program, this library, the communications library) has its numbers and
// legal notice here; any other name has no version block.
//
// The registry is the profile store: a root key chooses the per-user or the
// machine-wide file, a sub-key is a section, a value is a key of it.
//
// Privileges: the process has no token on Linux. Only "SeShutdownPrivilege"
// has a meaning here (the day-end power-off asks the login manager, which
// needs no privilege of the process), so it succeeds; any other name fails
// with the system error "no such privilege" (1313).
#include "zemta/system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/base/path.h"
#include "platform/base/process.h"
#include "platform/base/profile.h"
#include "platform/base/sql_browse.h"
#include "platform/ui/instance_link.h"
#include "platform/ui/window.h"

namespace zemta {
namespace {

namespace ui = platform::ui;

constexpr uint32_t kErrorNoSuchPrivilege = 1313;

struct ModuleVersion {
  const char* name;  // the file name without extension, lower case
  uint16_t file[4];
  uint16_t product[4];
  const char* legalNotice;
};

const ModuleVersion kModules[] = {
    {"varnex", {1, 0, 0, 0}, {1, 0, 0, 0}, "Copyright (C) Varnex"},
    {"zemta", {1, 0, 0, 0}, {1, 0, 0, 0}, "Copyright (C) Varnex"},
    {"libzemta", {1, 0, 0, 0}, {1, 0, 0, 0}, "Copyright (C) Varnex"},
    {"quorex", {1, 0, 0, 0}, {1, 0, 0, 0}, "Copyright (C) Varnex"},
    {"libquorex", {1, 0, 0, 0}, {1, 0, 0, 0}, "Copyright (C) Varnex"},
};

// The module of a file name: the last path element, ".exe" added when it has
// no extension, then the extension (".exe", ".dll", ".so") dropped.
const ModuleVersion* findModule(const std::string& fileName) {
  std::string name = platform::cp932::upperAscii(platform::fileNameOf(fileName));
  if (name.find('.') == std::string::npos) name += ".EXE";
  for (const char* ext : {".EXE", ".DLL", ".SO"}) {
    size_t n = std::strlen(ext);
    if (name.size() > n && name.compare(name.size() - n, n, ext) == 0) {
      name.resize(name.size() - n);
      break;
    }
  }
  for (const auto& m : kModules)
    if (platform::cp932::equalNoCase(name, m.name)) return &m;
  return nullptr;
}

void formatVersion(char* out, const uint16_t v[4]) {
  std::snprintf(out, ZEMTA_VERINFO_TEXT_SIZE, "%u.%02u.%u.%u", v[0], v[1], v[2], v[3]);
}

// Whether a window's class and title match the search.
bool windowMatches(const std::string& className, const std::string& text, const std::string& wantClass,
                   int32_t classLength, bool testClass, const std::string& title) {
  if (testClass) {
    if (classLength == -1 && className != wantClass) return false;
    if (classLength > 0 && className.compare(0, static_cast<size_t>(classLength), wantClass, 0,
                                             static_cast<size_t>(classLength)) != 0)
      return false;
  }
  return title.empty() || text.compare(0, title.size(), title) == 0;
}

// The first top-level window (ours, then other processes') that matches.
HWND findWindow(HWND skip, bool testClass, int32_t classLength, const std::string& wantClass, const std::string& title) {
  ui::publishWindows();
  for (HWND w : ui::topLevelWindows()) {
    if (w == skip || ui::isForeignWindow(w)) continue;
    if (windowMatches(ui::windowClassName(w), ui::windowText(w), wantClass, classLength, testClass, title)) return w;
  }
  for (const auto& f : ui::foreignWindows())
    if (windowMatches(f.className, f.title, wantClass, classLength, testClass, title)) return f.standIn;
  return nullptr;
}

platform::Profile* profileOf(uint32_t rootKey) {
  if (rootKey == ZEMTA_HKEY_CURRENT_USER) return &platform::Profile::of(platform::ProfileScope::User);
  if (rootKey == ZEMTA_HKEY_LOCAL_MACHINE) return &platform::Profile::of(platform::ProfileScope::Machine);
  return nullptr;
}

// Opens a key: its profile when the section exists (keys are never created).
platform::Profile* openKey(uint32_t rootKey, const char* subKey) {
  platform::Profile* p = profileOf(rootKey);
  if (!p) return nullptr;
  p->reload();
  return p->hasSection(subKey) ? p : nullptr;
}

enum class ValueKind { Missing, Int, Text, Other };

ValueKind kindOf(platform::Profile& p, const std::string& section, const std::string& key, std::string* text) {
  if (p.isInt(section, key)) return ValueKind::Int;
  if (auto s = p.getString(section, key)) {
    if (text) *text = *s;
    return ValueKind::Text;
  }
  if (p.getBinary(section, key)) return ValueKind::Other;
  return ValueKind::Missing;
}

}  // namespace
}  // namespace zemta

using namespace zemta;

int32_t ZemtaGetVerInfo(const char* moduleName, char* fileVersion, char* productVersion, char* legalNotice) {
  if (!moduleName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  const ModuleVersion* m = findModule(moduleName);
  if (!m) return 0;  // no version block: no report
  if (fileVersion) formatVersion(fileVersion, m->file);
  if (productVersion) formatVersion(productVersion, m->product);
  if (legalNotice) std::snprintf(legalNotice, ZEMTA_VERINFO_TEXT_SIZE, "%s", m->legalNotice);
  return 1;
}

HWND ZemtaIsSameWindow(HWND window, int32_t classLength, const char* title) {
  std::string wantClass, wantTitle = title ? title : "";
  bool testClass = false;
  if (window) {
    if (!ui::isWindow(window)) {
      platform::setLastError(platform::kErrorInvalidHandle);
      ZEMTA_REPORT(-1);
      return nullptr;
    }
    wantClass = ui::windowClassName(window);
    if (!title) wantTitle = ui::windowText(window);
    testClass = classLength != 0;
  }
  return findWindow(window, testClass, classLength, wantClass, wantTitle);
}

LRESULT ZemtaSendMessageEx(const char* title, const char* messageName, WPARAM wParam, LPARAM lParam) {
  if (!title || !messageName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  HWND target = findWindow(nullptr, false, 0, {}, title);
  if (!target) return -1;
  uint32_t message = ui::registerWindowMessage(messageName);
  if (!message) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_ACCESS_CODE);
    return -1;
  }
  return ui::sendMessage(target, message, wParam, lParam);
}

int32_t ZemtaRegKeySetDWORD(uint32_t rootKey, const char* subKey, const char* valueName, uint32_t value) {
  if (!subKey || !valueName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  platform::Profile* p = openKey(rootKey, subKey);
  if (!p || !p->setInt(subKey, valueName, static_cast<int64_t>(value))) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  return 1;
}

int32_t ZemtaRegKeySetString(uint32_t rootKey, const char* subKey, const char* valueName, const char* text) {
  if (!subKey || !valueName || !text) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  platform::Profile* p = openKey(rootKey, subKey);
  if (!p || !p->setString(subKey, valueName, text)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0;
  }
  return 1;
}

uint32_t ZemtaRegKeyQueryDWORD(uint32_t rootKey, const char* subKey, const char* valueName, uint32_t defaultValue) {
  if (!subKey || !valueName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return 0xFFFFFFFFu;
  }
  platform::Profile* p = openKey(rootKey, subKey);
  if (!p) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return 0xFFFFFFFFu;
  }
  switch (kindOf(*p, subKey, valueName, nullptr)) {
    case ValueKind::Missing: return defaultValue;
    case ValueKind::Int: {
      int64_t v = p->getInt(subKey, valueName, 0);
      if (v >= 0 && v <= 0xFFFFFFFFll) return static_cast<uint32_t>(v);
      break;  // more than 4 bytes
    }
    default: break;
  }
  ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
  return 0xFFFFFFFFu;
}

int32_t ZemtaRegKeyQueryString(uint32_t rootKey, const char* subKey, const char* valueName, char* buffer,
                               const char* defaultText) {
  if (!subKey || !valueName) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  platform::Profile* p = openKey(rootKey, subKey);
  if (!p) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  std::string text;
  ValueKind kind = kindOf(*p, subKey, valueName, &text);
  if (kind == ValueKind::Missing) {
    if (!buffer || !defaultText) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
      return -1;
    }
    size_t n = std::strlen(defaultText);
    std::memmove(buffer, defaultText, n + 1);
    return static_cast<int32_t>(n);
  }
  if (kind != ValueKind::Text || text.empty()) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_SIZE);
    return -1;
  }
  if (!buffer) return static_cast<int32_t>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<int32_t>(text.size());
}

int32_t ZemtaAdjustToken(const char* privilegeName, int32_t disable) {
  if (!privilegeName || std::strcmp(privilegeName, "SeShutdownPrivilege") != 0) {
    platform::setLastError(kErrorNoSuchPrivilege);
    ZEMTA_REPORT(-1);
    return 0;
  }
  (void)disable;
  return 1;
}

int32_t ExecProcess(const char* commandLine, uint32_t priority, const char* currentFolder, ZemtaProcessInfo* processInfo) {
  if (!commandLine) return 0;
  platform::ProcessPriority level = platform::ProcessPriority::Normal;
  if (priority == ZEMTA_PRIORITY_IDLE) level = platform::ProcessPriority::Idle;
  else if (priority == ZEMTA_PRIORITY_HIGH) level = platform::ProcessPriority::High;
  else if (priority == ZEMTA_PRIORITY_REALTIME) level = platform::ProcessPriority::RealTime;
  int32_t pid = 0;
  if (!platform::startProcess(commandLine, level, currentFolder ? currentFolder : "", pid)) {
    ZEMTA_REPORT(-1);
    return 0;
  }
  if (processInfo) {
    processInfo->process = processInfo->thread = static_cast<uint64_t>(pid);
    processInfo->processId = processInfo->threadId = static_cast<uint32_t>(pid);
  }
  return 1;
}

int32_t ZemtaEnumSqlServer(int32_t size, char* buffer) {
  if (!buffer) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::string reply;
  switch (platform::browseConnect("driver={SQL Server}", reply)) {
    case platform::SqlBrowseStatus::Ok: break;
    case platform::SqlBrowseStatus::NoDriver:
      // No installed driver browses SQL Server on this machine: no list.
      if (size > 0) buffer[0] = '\0';
      return 0;
    case platform::SqlBrowseStatus::NoMemory: ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY); return -1;
    case platform::SqlBrowseStatus::VersionFailed: ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER); return -1;
    case platform::SqlBrowseStatus::ReleaseFailed: ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE); return -1;
    default: ZEMTA_REPORT(ZEMTA_ERR_SQL_BROWSE); return -1;
  }
  size_t open = reply.find('{');
  size_t close = open == std::string::npos ? std::string::npos : reply.find('}', open + 1);
  if (close == std::string::npos) {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  std::string list = reply.substr(open + 1, close - open - 1);
  if (size > 0) {
    size_t n = std::min(list.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, list.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(std::count(list.begin(), list.end(), ',') + 1);
}

int32_t ZemtaEnumDatabase(const char* server, int32_t size, char* buffer, int32_t quick, int32_t trusted) {
  if (!server || !buffer || size <= 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::string connection = std::string("DRIVER={SQL Server};SERVER=") + server;
  if (connection.back() != ';') connection += ';';
  if (trusted) connection += "Trusted_Connection=Yes;";
  std::vector<std::string> names;
  switch (platform::queryFirstColumn(connection, "sp_databases", quick != 0, names)) {
    case platform::SqlBrowseStatus::Ok: break;
    case platform::SqlBrowseStatus::NoDriver:
    case platform::SqlBrowseStatus::ConnectFailed:
      if (!quick) ZEMTA_REPORT(ZEMTA_ERR_SQL_CONNECT);
      return -1;
    case platform::SqlBrowseStatus::NoMemory: ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY); return -1;
    case platform::SqlBrowseStatus::ExecuteFailed:
      if (!quick) ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE);
      return -1;
    default: ZEMTA_REPORT(ZEMTA_ERR_BAD_HANDLE); return -1;
  }
  std::string out;
  int32_t count = 0;
  for (const auto& name : names) {
    std::string next = out.empty() ? name : out + "," + name;
    if (next.size() + 1 > static_cast<size_t>(size)) break;
    out = std::move(next);
    ++count;
  }
  std::memcpy(buffer, out.c_str(), out.size() + 1);
  return count;
}

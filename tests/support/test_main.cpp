// The main of every test program: it sets the environment the tests are
// written for (no display, Japanese local time, folders inside the build
// tree) before anything reads it, so a test program behaves the same under
// CTest, by hand or in a debugger.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/base/power.h"

namespace {

// CTest runs test programs side by side. Each gets folders of its own for
// what a running program keeps per user: its profile (settings), the
// machine-wide profile and its runtime folder (published windows, sockets),
// so that one program's settings never leak into another's. A program started
// by a test (a peer process) inherits its parent's folders. The data folder
// stays shared: tests keep caches there that they make atomically.
void useOwnFolders() {
  std::string own;
  if (const char* inherited = std::getenv("VARNEX_TEST_PROCESS_DIR")) {
    own = inherited;
  } else {
    own = std::string(VARNEX_TEST_PROCESSES_DIR) + "/" + std::to_string(::getpid());
    std::filesystem::create_directories(own + "/config");
    std::filesystem::create_directories(own + "/machine");
    ::mkdir((own + "/runtime").c_str(), 0700);
    setenv("VARNEX_TEST_PROCESS_DIR", own.c_str(), 1);
    static std::string removeAtExit = own;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
  }
  setenv("XDG_RUNTIME_DIR", (own + "/runtime").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (own + "/config").c_str(), 1);
  setenv("VARNEX_MACHINE_CONFIG", (own + "/machine").c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Always offscreen; a program may give the offscreen platform its own
  // screens ("offscreen:configfile=...", set by CTest).
  const char* platformSpec = std::getenv("QT_QPA_PLATFORM");
  if (!platformSpec || std::strncmp(platformSpec, "offscreen:", 10) != 0) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TZ", "Asia/Tokyo", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("XDG_DATA_HOME", VARNEX_TEST_DATA_DIR, 1);
  useOwnFolders();
  tzset();
  // No test powers the machine off: the request is refused unless a test
  // answers it itself.
  platform::setPowerOffRunner([](std::string* reason) {
    *reason = "a test program never powers the machine off";
    return false;
  });
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

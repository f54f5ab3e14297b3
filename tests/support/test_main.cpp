// The main of every test program: it sets the environment the tests are
// written for (no display, Japanese local time, configuration and runtime
// folders inside the build tree) before anything reads it, so a test program
// behaves the same under CTest, by hand or in a debugger.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

// Each test program gets a runtime folder of its own, so that programs run in
// parallel by CTest never see each other's published windows or sockets. A
// program started by a test (a peer process) inherits its parent's folder.
void useOwnRuntimeFolder() {
  if (std::getenv("VARNEX_TEST_PARENT_RUNTIME")) return;
  static std::string folder = std::string(VARNEX_TEST_RUNTIME_DIR) + "/" + std::to_string(::getpid());
  ::mkdir(folder.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  setenv("VARNEX_TEST_PARENT_RUNTIME", folder.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TZ", "Asia/Tokyo", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("XDG_RUNTIME_DIR", VARNEX_TEST_RUNTIME_DIR, 1);
  if (const char* inherited = std::getenv("VARNEX_TEST_PARENT_RUNTIME")) setenv("XDG_RUNTIME_DIR", inherited, 1);
  useOwnRuntimeFolder();
  setenv("XDG_CONFIG_HOME", VARNEX_TEST_CONFIG_DIR, 1);
  setenv("XDG_DATA_HOME", VARNEX_TEST_DATA_DIR, 1);
  setenv("VARNEX_MACHINE_CONFIG", VARNEX_TEST_MACHINE_CONFIG_DIR, 1);
  tzset();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

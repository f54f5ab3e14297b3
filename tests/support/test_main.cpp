// The main of every test program: it sets the environment the tests are
// written for (no display, Japanese local time, configuration and runtime
// folders inside the build tree) before anything reads it, so a test program
// behaves the same under CTest, by hand or in a debugger.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TZ", "Asia/Tokyo", 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("XDG_RUNTIME_DIR", VARNEX_TEST_RUNTIME_DIR, 1);
  setenv("XDG_CONFIG_HOME", VARNEX_TEST_CONFIG_DIR, 1);
  setenv("XDG_DATA_HOME", VARNEX_TEST_DATA_DIR, 1);
  setenv("VARNEX_MACHINE_CONFIG", VARNEX_TEST_MACHINE_CONFIG_DIR, 1);
  tzset();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

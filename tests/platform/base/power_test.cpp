// Powering the machine off asks the system's own service: scripted busctl and
// systemctl programs stand in for logind, and PATH holds nothing else, so no
// real service is ever reached.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/base/power.h"
#include "support/temp_folder.h"

namespace {

class PowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousRunner_ = platform::setPowerOffRunner({});
    const char* path = std::getenv("PATH");
    previousPath_ = path ? path : "";
    setenv("PATH", folder_.path().c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", previousPath_.c_str(), 1);
    platform::setPowerOffRunner(previousRunner_);
  }
  // A program of the scripted system: its arguments go to the log, then it
  // says `says` and ends with `code` (CanPowerOff answers `canPowerOff`).
  void script(const std::string& name, const std::string& canPowerOff, const std::string& says, int code) {
    folder_.write(name, "#!/bin/sh\necho \"$*\" >> \"" + log() + "\"\n" +
                            "case \"$*\" in *CanPowerOff*) echo 's \"" + canPowerOff + "\"'; exit 0;; esac\n" +
                            "echo \"" + says + "\"\nexit " + std::to_string(code) + "\n");
    ::chmod(folder_.file(name).c_str(), 0755);
  }
  std::string log() const { return folder_.file("calls.log"); }
  std::string calls() const { return folder_.read("calls.log"); }

  testing_support::TempFolder folder_;
  platform::PowerOffRunner previousRunner_;
  std::string previousPath_;
};

TEST_F(PowerTest, LogindPowersOffWhenThePolicyAllows) {
  script("busctl", "yes", "", 0);
  std::string reason;
  EXPECT_TRUE(platform::powerOffSystem(&reason)) << reason;
  const std::string prefix = "call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager ";
  EXPECT_EQ(calls(), prefix + "CanPowerOff\n" + prefix + "PowerOff b false\n");
}

TEST_F(PowerTest, RefusalsComeBackWithTheSystemsReason) {
  struct Case {
    const char* name;
    const char* canPowerOff;
    const char* says;
    int code;
    const char* reason;
    bool asked;  // PowerOff was called
  } cases[] = {
      {"policy says no", "no", "", 0, "no", false},
      {"logind refuses the call", "challenge", "Access denied", 1, "Access denied", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder_.write("calls.log", "");
    script("busctl", c.canPowerOff, c.says, c.code);
    std::string reason;
    EXPECT_FALSE(platform::powerOffSystem(&reason));
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(calls().find("PowerOff b false") != std::string::npos, c.asked) << calls();
  }
}

TEST_F(PowerTest, SystemctlWhereBusctlIsMissing) {
  script("systemctl", "", "", 0);
  EXPECT_TRUE(platform::powerOffSystem(nullptr));
  EXPECT_EQ(calls(), "poweroff\n");
  script("systemctl", "", "Failed to power off system: Access denied", 1);
  std::string reason;
  EXPECT_FALSE(platform::powerOffSystem(&reason));
  EXPECT_EQ(reason, "Failed to power off system: Access denied");
}

TEST_F(PowerTest, NeitherProgramThere) {
  std::string reason;
  EXPECT_FALSE(platform::powerOffSystem(&reason));
  EXPECT_FALSE(reason.empty());
}

}  // namespace

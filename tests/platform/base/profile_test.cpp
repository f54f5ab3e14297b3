#include "platform/base/profile.h"

#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

// Points both scopes at a fresh folder for the test, and back afterwards.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saveEnv("XDG_CONFIG_HOME", oldConfig_);
    saveEnv("VARNEX_MACHINE_CONFIG", oldMachine_);
    setenv("XDG_CONFIG_HOME", (folder_ / "user").c_str(), 1);
    setenv("VARNEX_MACHINE_CONFIG", (folder_ / "machine").c_str(), 1);
    user().reload();
    machine().reload();
  }
  void TearDown() override {
    restoreEnv("XDG_CONFIG_HOME", oldConfig_);
    restoreEnv("VARNEX_MACHINE_CONFIG", oldMachine_);
    user().reload();
    machine().reload();
  }
  static Profile& user() { return Profile::of(ProfileScope::User); }
  static Profile& machine() { return Profile::of(ProfileScope::Machine); }

  static std::string cp932(const char* utf8) {
    std::string out;
    EXPECT_TRUE(utf8ToCp932(utf8, out));
    return out;
  }

  TempFolder folder_;

 private:
  static void saveEnv(const char* name, std::optional<std::string>& slot) {
    const char* v = std::getenv(name);
    slot = v ? std::optional<std::string>(v) : std::nullopt;
  }
  static void restoreEnv(const char* name, const std::optional<std::string>& slot) {
    if (slot) setenv(name, slot->c_str(), 1);
    else unsetenv(name);
  }
  std::optional<std::string> oldConfig_, oldMachine_;
};

const char kSettings[] = "Software\\Maker\\Varnex\\Settings";

TEST_F(ProfileTest, TypedValuesSurviveAReloadFromDisk) {
  Profile& p = user();
  EXPECT_EQ(p.filePath(), folder_ / "user/varnex/varnex.ini");
  const std::string shop = cp932("小計 ソフト ㈱ ｶﾅ");
  const std::string binary("\x00\x01\xFF\x5C\"\n", 6);
  ASSERT_TRUE(p.setInt(kSettings, "Count", -1234567890123));
  ASSERT_TRUE(p.setString(kSettings, "Shop", shop));
  ASSERT_TRUE(p.setString(kSettings, "Number", "123"));  // a text that looks like a number
  ASSERT_TRUE(p.setString(kSettings, "Odd \"name\"=x", "line1\nline2\t\\end"));
  ASSERT_TRUE(p.setBinary(kSettings, "Blob", binary));
  ASSERT_TRUE(p.setString(kSettings, "", "default"));

  p.reload();
  EXPECT_EQ(p.getInt(kSettings, "Count"), -1234567890123);
  EXPECT_TRUE(p.isInt(kSettings, "Count"));
  EXPECT_EQ(p.getString(kSettings, "Shop"), shop);
  EXPECT_FALSE(p.isInt(kSettings, "Number"));
  EXPECT_EQ(p.getString(kSettings, "Number"), "123");
  EXPECT_EQ(p.getString(kSettings, "Odd \"name\"=x"), "line1\nline2\t\\end");
  EXPECT_EQ(p.getBinary(kSettings, "Blob"), binary);
  EXPECT_EQ(p.getString(kSettings, ""), "default");
  EXPECT_EQ(p.keys(kSettings), (std::vector<std::string>{"Count", "Shop", "Number", "Odd \"name\"=x", "Blob", ""}));

  // Missing values and the wrong type.
  EXPECT_EQ(p.getString(kSettings, "Missing"), std::nullopt);
  EXPECT_EQ(p.getInt(kSettings, "Missing", 7), 7);
  EXPECT_EQ(p.getString("No\\Such", "Shop", "fallback"), "fallback");
  EXPECT_EQ(p.getInt(kSettings, "Shop"), std::nullopt);
  EXPECT_EQ(p.getBinary(kSettings, "Shop"), std::nullopt);

  // Overwriting changes the type.
  ASSERT_TRUE(p.setString(kSettings, "Count", "many"));
  EXPECT_FALSE(p.isInt(kSettings, "Count"));
  EXPECT_EQ(p.getString(kSettings, "Count"), "many");
}

TEST_F(ProfileTest, NamesMatchWhateverTheirCase) {
  Profile& p = user();
  ASSERT_TRUE(p.setInt(kSettings, "TaxRate", 10));
  EXPECT_EQ(p.getInt("software\\MAKER\\varnex\\settings", "taxrate"), 10);
  EXPECT_EQ(p.getInt("\\Software\\Maker\\Varnex\\Settings\\", "TAXRATE"), 10);
  ASSERT_TRUE(p.setInt("SOFTWARE\\maker\\VARNEX\\SETTINGS", "TAXRATE", 8));
  EXPECT_EQ(p.sections(), std::vector<std::string>{kSettings});
  EXPECT_EQ(p.keys(kSettings), std::vector<std::string>{"TaxRate"});
  EXPECT_EQ(p.getInt(kSettings, "TaxRate"), 8);
}

TEST_F(ProfileTest, DeletingValuesAndSectionsWithTheirSubSections) {
  Profile& p = user();
  ASSERT_TRUE(p.setInt("Software\\Maker\\Varnex", "A", 1));
  ASSERT_TRUE(p.setInt("Software\\Maker\\Varnex\\Ports", "B", 2));
  ASSERT_TRUE(p.setInt("Software\\Maker\\Varnex\\Ports\\COM1", "C", 3));
  ASSERT_TRUE(p.setInt("Software\\Maker\\VarnexOther", "D", 4));
  EXPECT_TRUE(p.hasSection("Software\\Maker"));  // exists through what is below it

  ASSERT_TRUE(p.deleteValue("Software\\Maker\\Varnex", "a"));
  EXPECT_FALSE(p.deleteValue("Software\\Maker\\Varnex", "a"));
  EXPECT_TRUE(p.hasSection("Software\\Maker\\Varnex"));  // empty, still there

  ASSERT_TRUE(p.deleteSection("software\\maker\\varnex\\PORTS"));
  EXPECT_FALSE(p.hasSection("Software\\Maker\\Varnex\\Ports"));
  EXPECT_FALSE(p.hasSection("Software\\Maker\\Varnex\\Ports\\COM1"));
  EXPECT_EQ(p.getInt("Software\\Maker\\VarnexOther", "D"), 4);  // a name that merely starts the same
  EXPECT_FALSE(p.deleteSection("Software\\Maker\\Varnex\\Ports"));

  p.reload();
  EXPECT_EQ(p.sections(), (std::vector<std::string>{"Software\\Maker\\Varnex", "Software\\Maker\\VarnexOther"}));
}

TEST_F(ProfileTest, ScopesAreSeparateFiles) {
  ASSERT_TRUE(user().setString(kSettings, "Who", "user"));
  ASSERT_TRUE(machine().setString(kSettings, "Who", "machine"));
  EXPECT_EQ(machine().filePath(), folder_ / "machine/varnex.ini");
  EXPECT_EQ(user().getString(kSettings, "Who"), "user");
  EXPECT_EQ(machine().getString(kSettings, "Who"), "machine");
  Profile& other = Profile::of(ProfileScope::User, "other.ini");
  EXPECT_EQ(other.getString(kSettings, "Who"), std::nullopt);
  EXPECT_EQ(&Profile::of(ProfileScope::User), &user());
}

TEST_F(ProfileTest, ReadsHandWrittenFilesAndSeesOutsideChanges) {
  // An installer's file: unquoted names and texts, a registry-style dword, comments.
  folder_.write("machine/varnex.ini",
                "; written by hand\r\n"
                "[Software\\Maker\\Varnex\\Ports]\r\n"
                "Port = /dev/ttyUSB0 \r\n"
                "Speed=int:9600\r\n"
                "Flags=dword:0000007b\r\n"
                "Raw=hex:01,ab\r\n"
                "Plain=42\r\n"
                "garbage line\r\n");
  Profile& p = machine();
  const char* ports = "Software\\Maker\\Varnex\\Ports";
  EXPECT_EQ(p.getString(ports, "Port"), "/dev/ttyUSB0");
  EXPECT_EQ(p.getInt(ports, "Speed"), 9600);
  EXPECT_EQ(p.getInt(ports, "Flags"), 123);
  EXPECT_EQ(p.getBinary(ports, "Raw"), std::string("\x01\xab", 2));
  EXPECT_EQ(p.getInt(ports, "Plain"), 42);  // a number written as text still reads as one
  EXPECT_FALSE(p.isInt(ports, "Plain"));

  // Another writer replaces the file: the next read sees it without reload().
  folder_.write("machine/varnex.ini", "[Software\\Maker\\Varnex\\Ports]\nPort=COM2\nExtra=1\n");
  EXPECT_EQ(p.getString(ports, "Port"), "COM2");
  // A change keeps what the other writer added.
  ASSERT_TRUE(p.setInt(ports, "Speed", 19200));
  p.reload();
  EXPECT_EQ(p.getString(ports, "Extra"), "1");
  EXPECT_EQ(p.getInt(ports, "Speed"), 19200);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ / "machine"), {}), 1);
}

TEST_F(ProfileTest, ConcurrentWritersLoseNothing) {
  Profile& p = user();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&p, t] {
      for (int i = 0; i < 25; ++i) p.setInt(kSettings, "T" + std::to_string(t) + "_" + std::to_string(i), i);
    });
  }
  for (auto& th : threads) th.join();
  p.reload();
  EXPECT_EQ(p.keys(kSettings).size(), 100u);
}

TEST_F(ProfileTest, AFailedWriteIsReportedAndChangesNothing) {
  // The machine folder's place is taken by a plain file: nothing can be written there.
  folder_.write("blocked", "not a folder");
  setenv("VARNEX_MACHINE_CONFIG", (folder_ / "blocked").c_str(), 1);
  setLastError(kErrorSuccess);
  EXPECT_FALSE(machine().setInt(kSettings, "Value", 2));
  EXPECT_NE(lastError(), kErrorSuccess);
  EXPECT_EQ(machine().getInt(kSettings, "Value"), std::nullopt);
  EXPECT_EQ(folder_.read("blocked"), "not a folder");
}

}  // namespace
}  // namespace platform

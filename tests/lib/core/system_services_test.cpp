#include "zemta/system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "lib/core/report.h"
#include "platform/base/profile.h"
#include "platform/ui/instance_link.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"

namespace {

namespace ui = platform::ui;
using testing_support::ScriptedMessageBox;

std::string uniqueName(const char* prefix) {
  std::random_device random;
  return prefix + std::to_string(random());
}

// Registry values over the per-user profile: each test its own key.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = uniqueName("Software\\ZemtaTest\\");
    auto& p = platform::Profile::of(platform::ProfileScope::User);
    p.setInt(key_, "Number", 42);
    p.setString(key_, "Text", "abc");
    p.setString(key_, "Empty", "");
    p.setBinary(key_, "Blob", std::string("\x01\x02\x03\x04", 4));
    p.setInt(key_, "Wide", 0x100000000ll);
  }
  void TearDown() override { platform::Profile::of(platform::ProfileScope::User).deleteSection(key_); }
  std::string key_;
};

TEST_F(RegistryTest, QueryDwordGivesValueDefaultOrTypeError) {
  struct Case {
    const char* value;
    uint32_t result;
    uint32_t reported;  // 0: no report
  } cases[] = {
      {"Number", 42, 0},
      {"Missing", 7, 0},
      {"Text", 0xFFFFFFFF, ZEMTA_ERR_BAD_SIZE},
      {"Blob", 0xFFFFFFFF, ZEMTA_ERR_BAD_SIZE},
      {"Wide", 0xFFFFFFFF, ZEMTA_ERR_BAD_SIZE},
  };
  for (const auto& c : cases) {
    ScriptedMessageBox box;
    EXPECT_EQ(ZemtaRegKeyQueryDWORD(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), c.value, 7), c.result) << c.value;
    EXPECT_EQ(box.count(), c.reported ? 1u : 0u) << c.value;
    if (c.reported) {
      EXPECT_EQ(box.lastText(), zemta::errorText(c.reported));
    }
  }
  ScriptedMessageBox box;
  EXPECT_EQ(ZemtaRegKeyQueryDWORD(ZEMTA_HKEY_CURRENT_USER, "Software\\ZemtaTest\\NoSuchKey", "Number", 7), 0xFFFFFFFFu);
  EXPECT_EQ(ZemtaRegKeyQueryDWORD(0x80000000u, key_.c_str(), "Number", 7), 0xFFFFFFFFu);
  EXPECT_EQ(ZemtaRegKeyQueryDWORD(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), nullptr, 7), 0xFFFFFFFFu);
  ASSERT_EQ(box.count(), 3u);
  EXPECT_EQ(box.shown()[0].text, zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(box.shown()[2].text, zemta::errorText(ZEMTA_ERR_BAD_POINTER));
}

TEST_F(RegistryTest, QueryStringGivesSizeTextDefaultOrTypeError) {
  ScriptedMessageBox box;
  char buffer[32] = "untouched";
  EXPECT_EQ(ZemtaRegKeyQueryString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Text", nullptr, "dflt"), 4);
  EXPECT_EQ(ZemtaRegKeyQueryString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Text", buffer, "dflt"), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(ZemtaRegKeyQueryString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Missing", buffer, "既定"), 4);
  EXPECT_STREQ(buffer, "既定");
  EXPECT_EQ(box.count(), 0u);
  struct Case {
    const char* value;
    char* buffer;
    uint32_t reported;
  } errors[] = {
      {"Missing", nullptr, ZEMTA_ERR_BAD_POINTER},
      {"Empty", buffer, ZEMTA_ERR_BAD_SIZE},
      {"Number", buffer, ZEMTA_ERR_BAD_SIZE},
      {"Blob", buffer, ZEMTA_ERR_BAD_SIZE},
  };
  for (const auto& c : errors) {
    EXPECT_EQ(ZemtaRegKeyQueryString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), c.value, c.buffer, "d"), -1) << c.value;
    EXPECT_EQ(box.lastText(), zemta::errorText(c.reported)) << c.value;
  }
}

TEST_F(RegistryTest, SettersWriteIntoExistingKeysOnly) {
  EXPECT_EQ(ZemtaRegKeySetDWORD(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Count", 0xFFFFFFFFu), 1);
  EXPECT_EQ(ZemtaRegKeyQueryDWORD(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Count", 0), 0xFFFFFFFFu);
  EXPECT_EQ(ZemtaRegKeySetString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Name", "小計"), 1);
  char buffer[16];
  EXPECT_EQ(ZemtaRegKeyQueryString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Name", buffer, ""), 4);
  EXPECT_STREQ(buffer, "小計");

  ScriptedMessageBox box;
  std::string missing = key_ + "\\Below";
  EXPECT_EQ(ZemtaRegKeySetDWORD(ZEMTA_HKEY_CURRENT_USER, missing.c_str(), "Count", 1), 0);
  EXPECT_FALSE(platform::Profile::of(platform::ProfileScope::User).hasSection(missing));
  EXPECT_EQ(ZemtaRegKeySetString(ZEMTA_HKEY_CURRENT_USER, key_.c_str(), "Name", nullptr), 0);
  ASSERT_EQ(box.count(), 2u);
  EXPECT_EQ(box.shown()[0].text, zemta::errorText(ZEMTA_ERR_BAD_PARAMETER));
  EXPECT_EQ(box.shown()[1].text, zemta::errorText(ZEMTA_ERR_BAD_POINTER));
}

TEST(SystemServices, VersionInformationOfTheSystemsModules) {
  char file[ZEMTA_VERINFO_TEXT_SIZE], product[ZEMTA_VERINFO_TEXT_SIZE], legal[ZEMTA_VERINFO_TEXT_SIZE];
  EXPECT_EQ(ZemtaGetVerInfo("Varnex", file, product, legal), 1);
  EXPECT_STREQ(file, "1.00.0.0");
  EXPECT_STREQ(product, "1.00.0.0");
  EXPECT_NE(std::string(legal).find("Copyright"), std::string::npos);
  EXPECT_EQ(ZemtaGetVerInfo("C:\\Program Files\\ZEMTA.DLL", nullptr, nullptr, nullptr), 1);
  ScriptedMessageBox box;
  EXPECT_EQ(ZemtaGetVerInfo("notepad", file, nullptr, nullptr), 0);
  EXPECT_EQ(box.count(), 0u);
}

TEST(SystemServices, PrivilegesSucceedOnlyWhereTheyMeanSomething) {
  ScriptedMessageBox box;
  EXPECT_EQ(ZemtaAdjustToken("SeShutdownPrivilege", 0), 1);
  EXPECT_EQ(ZemtaAdjustToken("SeDebugPrivilege", 0), 0);
  EXPECT_EQ(box.count(), 1u);
}

// The child runs in the given folder, in a process group of its own.
TEST(SystemServices, ExecProcessStartsInANewProcessGroupAndFolder) {
  ui::ensureApplication();
  auto folder = std::filesystem::temp_directory_path() / uniqueName("zemta-exec-");
  std::filesystem::create_directories(folder);
  ZemtaProcessInfo info{};
  ASSERT_EQ(ExecProcess("sh -c \"pwd > where; cut -d' ' -f5 /proc/$$/stat > group; echo $$ > pid\"", 0x20,
                        folder.c_str(), &info),
            1);
  auto readAll = [&](const char* name) {
    std::string text;
    ui::pumpUntil([&] {
      std::ifstream in(folder / name);
      std::getline(in, text);
      return !text.empty();
    }, 5000);
    return text;
  };
  std::string pid = readAll("pid");
  EXPECT_EQ(pid, std::to_string(info.processId));
  EXPECT_EQ(readAll("group"), pid);
  EXPECT_EQ(std::filesystem::path(readAll("where")), folder);
  ScriptedMessageBox box;
  EXPECT_EQ(ExecProcess("no-such-program-here", 0, nullptr, nullptr), 0);
  EXPECT_EQ(ExecProcess("true", 0, (folder / "missing").c_str(), nullptr), 0);
  EXPECT_EQ(ExecProcess(nullptr, 0, nullptr, nullptr), 0);
  EXPECT_EQ(box.count(), 2u);
  std::filesystem::remove_all(folder);
}

// No installed driver browses SQL Server here: no list, and no report.
TEST(SystemServices, SqlServerEnumerationWithoutADriverGivesNoList) {
  ScriptedMessageBox box;
  char buffer[64] = "x";
  EXPECT_EQ(ZemtaEnumSqlServer(sizeof buffer, buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(ZemtaEnumDatabase("(local)", sizeof buffer, buffer, 1, 1), -1);
  EXPECT_EQ(box.count(), 0u);
  EXPECT_EQ(ZemtaEnumDatabase("(local)", sizeof buffer, buffer, 0, 0), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_SQL_CONNECT));
  EXPECT_EQ(ZemtaEnumSqlServer(8, nullptr), -1);
  EXPECT_EQ(box.lastText(), zemta::errorText(ZEMTA_ERR_BAD_POINTER));
}

TEST(SystemServices, SameWindowMatchesClassPrefixAndTitle) {
  ui::ensureApplication();
  auto make = [](const char* cls, const std::string& title) {
    ui::WindowSpec windowSpec;
    windowSpec.className = cls;
    windowSpec.title = title;
    return ui::createWindow(windowSpec, ui::defaultWindowProc);
  };
  std::string tag = uniqueName("Same");
  HWND a = make("ZemtaTestFrameClass:0001", tag + " A");
  HWND b = make("ZemtaTestFrameClass:0002", tag + " B");
  EXPECT_EQ(ZemtaIsSameWindow(a, 21, tag.c_str()), b);
  EXPECT_EQ(ZemtaIsSameWindow(a, -1, tag.c_str()), nullptr);
  EXPECT_EQ(ZemtaIsSameWindow(b, 0, (tag + " A").c_str()), a);
  EXPECT_EQ(ZemtaIsSameWindow(a, 21, nullptr), nullptr);  // its own title: only itself has it
  ui::destroyWindow(a);
  ui::destroyWindow(b);
}

TEST(SystemServices, SendMessageExReachesAnotherProcess) {
  ui::ensureApplication();
  std::string title = uniqueName("ZemtaPeer");
  // The peer (tests/peers/instance_peer_program.cpp) publishes a window of
  // that title answering "ZEMTA_TEST_PING" until "ZEMTA_TEST_QUIT".
  std::string command = std::string("\"") + VARNEX_INSTANCE_PEER + "\" " + title;
  ASSERT_EQ(ExecProcess(command.c_str(), 0, nullptr, nullptr), 1);
  HWND found = nullptr;
  // The peer is a whole second program starting up: on a loaded machine its
  // first answers can take seconds, so it gets a generous while.
  ui::pumpUntil([&] { return (found = ZemtaIsSameWindow(nullptr, 0, title.c_str())) != nullptr; }, 45000);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(ui::windowClassName(found), "ZemtaPeerFrame");
  EXPECT_EQ(ZemtaSendMessageEx(title.c_str(), "ZEMTA_TEST_PING", 40, 2), 42);
  EXPECT_EQ(ZemtaSendMessageEx("NoSuchWindowTitle-zemta", "ZEMTA_TEST_PING", 40, 2), -1);
  ZemtaSendMessageEx(title.c_str(), "ZEMTA_TEST_QUIT", 0, 0);
}

}  // namespace

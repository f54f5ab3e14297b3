// A department project for the record-view tests: ten departments with
// their numbers, names and prices, made by the project maker in a temporary
// folder and opened, and a caller's window for views to live in.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/store/project/project_definition.h"
#include "lib/store/project/project_writer.h"
#include "platform/ui/desktop.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "support/temp_folder.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"
#include "zemta/fileproj.h"

namespace view_test {

namespace ui = platform::ui;

// Departments: number (u16, index 0), name (index 1), price (u32, index 2);
// the price and the name may be searched by the user, the number not, and a
// name is typed in kana and kanji. Items: a name (searchable, in kana and
// kanji) and the number of their department.
inline const char8_t kDepartmentProject[] = u8R"(# department project
project folder="\\Proj\Data\" folders="Res\" "Tab\" "Tab\" "Tab\" "Tab\"
table "部門" fdb=5 id=5 header=16 record=32 file="DEPT"
  hfield "件数" id=500 offset=0 size=4 type=4
  field "番号" id=501 offset=0 size=2 type=4 index="NO"
  field "部門名" id=502 offset=2 size=20 type=0 index="NAME" flags=0x1000000 ime=1
  field "単価" id=503 offset=24 size=4 type=4 index="PRICE" flags=0x1000000
end
table "担当者" fdb=6 id=6 header=16 record=32 file="CLERK"
  hfield "件数" id=600 offset=0 size=4 type=4
  field "番号" id=601 offset=0 size=2 type=4 index="CNO"
end
table "商品" fdb=7 id=7 header=16 record=32 file="ITEM"
  hfield "件数" id=700 offset=0 size=4 type=4
  field "商品名" id=701 offset=0 size=20 type=0 index="INAME" flags=0x1000000 ime=1
  field "部門" id=702 offset=20 size=2 type=4 index="IDEPT" ref=部門:番号
end
)";

inline constexpr int32_t kDepartments = 5;
inline constexpr int32_t kItems = 7;
inline constexpr uint32_t kPrices[10] = {50, 80, 99, 100, 100, 101, 120, 150, 200, 300};
inline const char* const kNames[10] = {"食品", "飲料", "菓子", "酒類", "雑貨", "衣料", "日用品", "文具", "玩具", "書籍"};

inline std::vector<uint8_t> department(uint16_t number, const char* name, uint32_t price) {
  std::vector<uint8_t> r(32, 0);
  r[0] = number & 0xFF;
  r[1] = number >> 8;
  std::memcpy(r.data() + 2, name, std::strlen(name));
  std::memcpy(r.data() + 24, &price, 4);
  return r;
}

inline std::string outputFile(const std::string& name) {
  std::filesystem::path folder = std::filesystem::path(VARNEX_TEST_OUTPUT_DIR) / "lib" / "views";
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

// Types text as a clerk would on a Japanese keyboard (digits, letters and
// the comparison signs).
inline void typeText(HWND target, const std::string& text) {
  for (char c : text) {
    uint32_t key = static_cast<uint8_t>(c);
    bool shift = false;
    if (c == '>') key = ui::kVkOemPeriod, shift = true;
    else if (c == '<') key = ui::kVkOemComma, shift = true;
    else if (c == '=') key = ui::kVkOemMinus, shift = true;
    ui::sendKeyInput(target, key, true, shift, false, false);
    ui::sendKeyInput(target, key, false, shift, false, false);
  }
}

inline void pressKey(HWND target, uint32_t key, bool shift = false) {
  ui::sendKeyInput(target, key, true, shift, false, false);
  ui::sendKeyInput(target, key, false, shift, false, false);
}

class DepartmentViews : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ensureApplication();
    messages_ = ZemtaEnableLastErrorMessage(0);
    const std::string catalog = folder_.file("App/Res/Test.dbf");
    ASSERT_EQ(FileSetLocPath(folder_.file("Local").c_str()), 0);
    zemta::fileproj::ProjectDefinition definition;
    std::string error;
    ASSERT_TRUE(zemta::fileproj::parseProjectDefinition(reinterpret_cast<const char*>(kDepartmentProject),
                                                        definition, error))
        << error;
    ASSERT_TRUE(zemta::fileproj::makeProject(definition, catalog, error)) << error;
    project_ = FileProjOpen(catalog.c_str(), 5, nullptr);
    ASSERT_NE(project_, 0u);
    table_ = FileProjGetFdb(project_, kDepartments);
    ASSERT_NE(table_, 0u);
    for (uint16_t i = 0; i < 10; ++i)
      ASSERT_EQ(FileDBRecWrite(table_, i, department(static_cast<uint16_t>(i + 1), kNames[i], kPrices[i]).data()), 0);
    window_ = ui::createWindow({"ViewOwner", "部門", nullptr, {0, 0, 640, 480}, true}, ui::defaultWindowProc);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    ui::destroyWindow(window_);
    if (project_) FileProjClose(project_);
    FileSetLocPath(nullptr);
    ZemtaEnableLastErrorMessage(messages_);
  }

  uint32_t priceOf(uint32_t record) {
    uint32_t price = 0;
    EXPECT_EQ(FileDBRecReadField(table_, static_cast<int32_t>(record), 24, 4, &price), 0);
    return price;
  }
  uint16_t numberOf(uint32_t record) {
    uint16_t number = 0;
    EXPECT_EQ(FileDBRecReadField(table_, static_cast<int32_t>(record), 0, 2, &number), 0);
    return number;
  }

  testing_support::TempFolder folder_;
  FileProjHandle project_ = 0;
  FileDBHandle table_ = 0;
  HWND window_ = nullptr;
  int32_t messages_ = 0;
};

}  // namespace view_test

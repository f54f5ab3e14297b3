// The customer display's pieces that need no second monitor: the sorted
// record list, the idle picture list built from the picture folder, and
// what the application does when only one monitor is there. The window on
// the second monitor is tested in cd_window_two_screens.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/shell/app/reg_app.h"
#include "app/shell/display/cd_view.h"
#include "app/shell/display/customer_display.h"
#include "app/shell/display/sorted_record_list.h"
#include "platform/ui/window.h"
#include "support/scripted_message_box.h"
#include "support/temp_folder.h"

namespace {

using varnex::shell::SortedRecordList;
namespace fs = std::filesystem;
namespace ui = platform::ui;

// A record of 12 bytes: a 4-byte key and a tag telling the records apart.
struct Tagged {
  uint32_t key;
  char tag[8];
};

std::vector<std::pair<uint32_t, std::string>> readAll(const SortedRecordList& list) {
  std::vector<std::pair<uint32_t, std::string>> out;
  for (int32_t i = 0; i < list.Count(); ++i) {
    uint8_t r[12];
    EXPECT_TRUE(list.Read(i, r));
    uint32_t key = r[0] | r[1] << 8 | r[2] << 16 | static_cast<uint32_t>(r[3]) << 24;
    out.emplace_back(key, std::string(reinterpret_cast<char*>(r + 4)));
  }
  return out;
}

void insert(SortedRecordList& list, uint32_t key, const char* tag) {
  uint8_t r[12] = {static_cast<uint8_t>(key), static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key >> 16),
                   static_cast<uint8_t>(key >> 24)};
  std::strncpy(reinterpret_cast<char*>(r + 4), tag, 7);
  list.Insert(r);
}

TEST(SortedRecordListTest, NumericKeysInOrderEqualKeysAsInserted) {
  SortedRecordList list;
  ASSERT_TRUE(list.Create(true, 0, 4, 12));
  insert(list, 5, "a");
  insert(list, 2, "b");
  insert(list, 9, "c");
  insert(list, 2, "d");
  insert(list, 0x100, "e");  // above 9 as a number, below it byte by byte
  insert(list, 2, "f");
  const std::vector<std::pair<uint32_t, std::string>> expected = {{2, "b"}, {2, "d"}, {2, "f"},
                                                                  {5, "a"}, {9, "c"}, {0x100, "e"}};
  EXPECT_EQ(readAll(list), expected);
  uint8_t r[12];
  EXPECT_FALSE(list.Read(-1, r));
  EXPECT_FALSE(list.Read(list.Count(), r));
  uint8_t key[4] = {9, 0, 0, 0};
  int32_t at = 99;
  EXPECT_EQ(list.Search(key, &at), 4);
  EXPECT_EQ(at, 4);
  key[0] = 7;
  EXPECT_EQ(list.Search(key, &at), -1);
  EXPECT_EQ(at, 4);  // where a 7 would go
  key[0] = 0xFF;
  key[1] = 0xFF;
  EXPECT_EQ(list.Search(key, &at), -1);
  EXPECT_EQ(at, -1);  // past the end
}

TEST(SortedRecordListTest, ByteKeysUnsortedListsAndEmptyLists) {
  SortedRecordList bytes;
  ASSERT_TRUE(bytes.Create(false, 0, 4, 12));
  insert(bytes, 0x100, "a");  // bytes 00 01: first byte by byte
  insert(bytes, 9, "b");
  EXPECT_EQ(readAll(bytes), (std::vector<std::pair<uint32_t, std::string>>{{0x100, "a"}, {9, "b"}}));

  SortedRecordList unsorted;
  ASSERT_TRUE(unsorted.Create(true, 0, 0, 12));
  insert(unsorted, 5, "a");
  insert(unsorted, 2, "b");
  EXPECT_EQ(readAll(unsorted), (std::vector<std::pair<uint32_t, std::string>>{{5, "a"}, {2, "b"}}));
  uint8_t key[4] = {};
  EXPECT_FALSE(unsorted.ReadKey(0, key));

  SortedRecordList empty;
  ASSERT_TRUE(empty.Create(true, 0, 4, 12));
  int32_t at = 5;
  EXPECT_EQ(empty.Search(key, &at), -1);
  EXPECT_EQ(at, -1);
  EXPECT_EQ(empty.Count(), 0);

  // A key outside the record is refused rather than read past it.
  SortedRecordList bad;
  EXPECT_FALSE(bad.Create(true, 10, 4, 12));
  EXPECT_FALSE(bad.Create(true, 0, 8, 12));
  EXPECT_EQ(bad.Count(), 0);
}

struct Picture {
  int32_t order;
  int32_t time;
  std::string title;
  bool operator==(const Picture& o) const { return order == o.order && time == o.time && title == o.title; }
};

std::vector<Picture> pictureList(const fs::path& folder) {
  SortedRecordList list;
  EXPECT_TRUE(list.Create(true, 0, 4, varnex::shell::kCdPictureRecordSize));
  varnex::shell::BuildCustomerPictureList(folder.string() + "/", list);
  std::vector<Picture> out;
  for (int32_t i = 0; i < list.Count(); ++i) {
    uint8_t r[varnex::shell::kCdPictureRecordSize];
    EXPECT_TRUE(list.Read(i, r));
    int32_t order, time;
    std::memcpy(&order, r, 4);
    std::memcpy(&time, r + 4, 4);
    out.push_back({order, time, reinterpret_cast<char*>(r + 8)});
  }
  return out;
}

TEST(CustomerPictureListTest, OrderAndTimesFromTheNames) {
  testing_support::TempFolder temp;
  const fs::path folder = temp.path();
  for (const char* name : {"CD1.jpg", "CD2S10.jpg", "CD12S3.jpg", "CD0.jpg", "CDXS5.jpg", "CD5.jpg", "cd5s3.JPG",
                           "CD7S0.jpg", "CD8S.jpg", "CD9S99999999.jpg", "CD3.png", "PLU3.jpg"})
    std::ofstream(folder / name) << "x";
  fs::create_directories(folder / "CD4.jpg");  // a folder, not a picture
  const std::vector<Picture> expected = {
      {1, 5000, "CD1"}, {2, 10000, "CD2S10"}, {5, 5000, "CD5"}, {5, 3000, "cd5s3"}, {12, 3000, "CD12S3"}};
  const std::vector<Picture> got = pictureList(folder);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].order, expected[i].order) << i;
    EXPECT_EQ(got[i].time, expected[i].time) << i;
    EXPECT_EQ(got[i].title, expected[i].title) << i;
  }
  EXPECT_TRUE(pictureList(folder / "missing").empty());
}

TEST(CustomerDisplayLinesTest, TwentyBytesWithoutCuttingACharacter) {
  std::string first, second;
  varnex::shell::SplitDisplayLines(std::string(30, 'a'), &first, &second);
  EXPECT_EQ(first.size(), 20u);
  EXPECT_EQ(second.size(), 10u);
  // 19 single bytes, then a double-byte character across the 20th byte.
  varnex::shell::SplitDisplayLines(std::string(19, 'a') + "円です", &first, &second);
  EXPECT_EQ(first, std::string(19, 'a'));
  EXPECT_EQ(second, "円です");
}

TEST(CustomerMonitorTest, TheMonitorFurthestRight) {
  const ui::ScreenInfo primary{"counter", {0, 0, 800, 600}, {}, true};
  const ui::ScreenInfo right{"right", {800, 0, 1440, 480}, {}, false};
  const ui::ScreenInfo left{"left", {-640, 0, 0, 480}, {}, false};
  const ui::ScreenInfo twin{"twin", {0, 600, 800, 1200}, {}, false};
  const ui::ScreenInfo leftOnly{"far left", {-1280, 0, -640, 480}, {}, true};
  struct Case {
    std::vector<ui::ScreenInfo> monitors;
    ui::Rect chosen;
  };
  const Case cases[] = {
      {{primary, right}, {800, 0, 1440, 480}},
      {{right, primary}, {800, 0, 1440, 480}},
      {{primary, left}, {0, 0, 800, 600}},        // left of the primary: the primary
      {{twin, primary}, {0, 600, 800, 1200}},     // equal right edges: the first
      {{left, leftOnly}, {0, 0, 640, 480}},       // none right of 0: the primary, from 0, 0
  };
  for (const Case& c : cases) {
    const ui::Rect r = varnex::shell::ChooseCustomerMonitor(c.monitors);
    EXPECT_EQ(std::vector<int32_t>({r.left, r.top, r.right, r.bottom}),
              std::vector<int32_t>({c.chosen.left, c.chosen.top, c.chosen.right, c.chosen.bottom}))
        << c.monitors.front().name;
  }
}

class OneScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ui::screens().size(), 1u);
    app.m_bUseCD = 1;
  }
  // The framework installs its own message boxes when it starts: first.
  bool started = (ui::ensureApplication(), true);
  testing_support::ScriptedMessageBox boxes;
  varnex::shell::CREGApp app;
};

TEST_F(OneScreenTest, TheWindowNeedsASecondMonitor) {
  app.m_Display = varnex::shell::SelectDisplayDevice("サブディスプレイウインドウ", "");
  app.OpenCustomerDisplay(0, 0, 0);
  EXPECT_EQ(app.m_pCdFrm, nullptr);
  EXPECT_EQ(app.m_Display.secondDisplay, 0);
  ASSERT_EQ(boxes.count(), 1u);
  EXPECT_EQ(boxes.lastText(), "複数のディスプレイが見つかりませんでした\nサブディスプレイウインドウは使用できません");
  EXPECT_EQ(boxes.shown()[0].style & platform::kMbIconMask, platform::kMbIconWarning);
  // Later calls (a sale line) stay quiet: the display is off until the
  // settings are applied again.
  uint8_t line[96] = {};
  app.OpenCustomerDisplay(1, 0, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(boxes.count(), 1u);
  EXPECT_EQ(app.m_pCdFrm, nullptr);
}

TEST_F(OneScreenTest, DmdDisplaysGetTheirFontsAndNoWindow) {
  app.m_Display = varnex::shell::SelectDisplayDevice("EPSON DM-D30", "");
  app.CreateDisplayFonts();
  EXPECT_EQ(app.m_DisplayFonts,
            (std::vector<std::string>{"DM-D Japanese 1st Line", "DM-D Japanese 2nd Line", "control"}));
  app.OpenCustomerDisplay(0, 0, 0);
  EXPECT_EQ(app.m_pCdFrm, nullptr);
  EXPECT_EQ(boxes.count(), 0u);
  app.m_Display = varnex::shell::SelectDisplayDevice("サブディスプレイウインドウ", "");
  app.CreateDisplayFonts();
  EXPECT_TRUE(app.m_DisplayFonts.empty());
}

}  // namespace

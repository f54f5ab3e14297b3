// The application's services for the views: held-sale paths, in-store PLU
// numbering (with the sequence at its end) and the ten-key pad hit test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/register/demo_project.h"
#include "app/shell/app/reg_app.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/tax.h"

namespace {

using namespace varnex::reg;

class ViewServicesTest : public varnex_test::DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
    app = std::make_unique<varnex::shell::CREGApp>();
    app->m_pRegCom = engine.get();
  }
  void TearDown() override {
    app.reset();
    DemoProject::TearDown();
  }
  std::string code(const std::vector<uint8_t>& r) { return getText(r.data(), plu::kCode.offset, 13); }
  std::vector<uint8_t> newItem(const std::string& typed) {
    std::vector<uint8_t> r(kTables[kPluTable].recordLen, 0);
    putText(r.data(), plu::kCode.offset, plu::kCode.size, typed);
    return r;
  }
  void store(const std::vector<uint8_t>& r) { write(kPluTable, FileDBRecGetSize(engine->Table(kPluTable)), r); }
  static std::string withCheck(std::string twelve) {
    twelve += 'C';
    BccMake(twelve.data(), 13);
    return twelve;
  }
  std::unique_ptr<varnex::shell::CREGApp> app;
};

TEST_F(ViewServicesTest, ReservePathJoinsFolderAndName) {
  char out[260] = {};
  app->m_strReservePath = "D:\\Hold";
  ASSERT_EQ(app->GetReservePath(out, "0001.csv"), 1);
  EXPECT_STREQ(out, "D:\\Hold\\0001.csv");
  app->m_strReservePath = "D:\\Hold\\";
  ASSERT_EQ(app->GetReservePath(out, "0001.csv"), 1);
  EXPECT_STREQ(out, "D:\\Hold\\0001.csv");
  // Without a setting: the project's file folder.
  app->m_strReservePath.clear();
  ASSERT_EQ(app->GetReservePath(out, "0001.csv"), 1);
  EXPECT_NE(std::string(out).find("0001.csv"), std::string::npos);
  // Too long for the buffer: cut, never overrun.
  app->m_strReservePath = std::string(300, 'x');
  ASSERT_EQ(app->GetReservePath(out, "a.csv"), 1);
  EXPECT_EQ(std::strlen(out), 259u);
}

TEST_F(ViewServicesTest, InStoreCodesAreNumbered) {
  // Empty: "02" and the first number.
  auto r = newItem("");
  ASSERT_EQ(app->AssignPluCode(r.data()), 1);
  EXPECT_EQ(code(r), withCheck("020000000001"));
  store(r);
  r = newItem("");
  ASSERT_EQ(app->AssignPluCode(r.data()), 1);
  EXPECT_EQ(code(r), withCheck("020000000002"));
  // "20" typed: the 20 range of its own.
  r = newItem("20");
  ASSERT_EQ(app->AssignPluCode(r.data()), 1);
  EXPECT_EQ(code(r), withCheck("200000000001"));
  // A code already typed is left alone.
  r = newItem("4901234567894");
  EXPECT_EQ(app->AssignPluCode(r.data()), 0);
  EXPECT_EQ(code(r), "4901234567894");
}

// Past the last ten-digit number the lowest free one is taken, never a
// code already in use; with none left the item is refused.
TEST_F(ViewServicesTest, NumberingAtTheEndSkipsCodesInUse) {
  store(newItem(withCheck("029999999999")));
  store(newItem(withCheck("020000000001")));
  auto r = newItem("");
  ASSERT_EQ(app->AssignPluCode(r.data()), 1);
  EXPECT_EQ(code(r), withCheck("020000000002"));
  // Above 32 bits the sequence goes on.
  auto s = newItem("");
  store(newItem(withCheck("214294967295")));
  putText(s.data(), plu::kCode.offset, plu::kCode.size, "21");
  ASSERT_EQ(app->AssignPluCode(s.data()), 1);
  EXPECT_EQ(code(s), withCheck("214294967296"));
}

TEST_F(ViewServicesTest, TenKeyPadHitTest) {
  namespace ui = platform::ui;
  HWND top = ui::createWindow({"Top", "top", nullptr, {0, 0, 400, 300}, true},
                              [](HWND h, uint32_t m, WPARAM w, LPARAM l) { return ui::defaultWindowProc(h, m, w, l); });
  HWND view = ui::createWindow({"View", "", top, {10, 10, 200, 200}, true},
                               [](HWND h, uint32_t m, WPARAM w, LPARAM l) { return ui::defaultWindowProc(h, m, w, l); });
  ui::showWindow(top, true);
  ui::setFocus(view);
  ui::processPendingMessages();
  ASSERT_EQ(ui::focusWindow(), view);
  // No pad: no point is over it.
  EXPECT_FALSE(app->IsOverTenKeyPad(view, true, 50, 50));
  EXPECT_FALSE(app->IsOverTenKeyPad(view, false, 5, 5));
  // The focus elsewhere: the view is not the input target.
  HWND other = ui::createWindow({"Other", "other", nullptr, {500, 0, 600, 100}, true},
                                [](HWND h, uint32_t m, WPARAM w, LPARAM l) { return ui::defaultWindowProc(h, m, w, l); });
  ui::setFocus(other);
  ui::processPendingMessages();
  if (ui::focusWindow() == other) {
    EXPECT_TRUE(app->IsOverTenKeyPad(view, true, 50, 50));
  }
  ui::destroyWindow(other);
  ui::destroyWindow(top);
}

}  // namespace

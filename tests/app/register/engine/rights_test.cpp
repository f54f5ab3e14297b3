// Rights of the manager in charge over the register modes.
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"

using namespace varnex::reg;
using varnex_test::DemoProject;

namespace {

class RightsTest : public DemoProject {
 protected:
  void SetUp() override {
    DemoProject::SetUp();
    ASSERT_TRUE(open());
  }
  void manager(uint8_t confirm, uint8_t programLevel, uint16_t forbidden) {
    uint8_t r[48] = {};
    r[clerk::kConfirmLevel.offset] = confirm;
    r[clerk::kProgramLevel.offset] = programLevel;
    putU16(r, clerk::kForbiddenModes, forbidden);
    engine->SetManager(r);
  }
  static std::string refusal(const std::string& name) {
    return "現在の責任者には、" + name + "に関する権限がありません\nシステム管理者にご相談下さい";
  }
};

TEST_F(RightsTest, TableOfCases) {
  struct Case {
    const char* what;
    uint8_t confirm, programLevel;
    uint16_t forbidden;
    uint32_t code, level;
    int answer;             // scripted answer of a question, 0 none
    int32_t expected;
    const char* box;        // text of the box, null: none
    uint32_t style;
  };
  const uint32_t question = platform::kMbYesNo | platform::kMbIconQuestion;
  const uint32_t refused = platform::kMbIconWarning;
  const Case cases[] = {
      {"all rights: settlement", 2, 2, 0, 192, 0, 0, 1, nullptr, 0},
      {"all rights: X reading", 2, 2, 0, 193, 0, 0, 1, nullptr, 0},
      {"all rights: registration 2", 2, 2, 0, 194, 0, 0, 1, nullptr, 0},
      {"all rights: registration 1", 2, 2, 0, 195, 0, 0, 1, nullptr, 0},
      {"code without action 196", 2, 2, 0, 196, 0, 0, 0, nullptr, 0},
      {"all rights: refund", 2, 2, 0, 197, 0, 0, 1, nullptr, 0},
      {"all rights: append save", 2, 2, 0, 198, 2, 0, 1, nullptr, 0},
      {"code without action 201", 2, 2, 0, 201, 0, 0, 0, nullptr, 0},
      {"below the codes", 2, 2, 0, 191, 0, 0, 0, nullptr, 0},
      {"above the codes", 2, 2, 0, 205, 0, 0, 0, nullptr, 0},
      {"refund asked, Yes first", 1, 0, 0, 197, 0, platform::kIdYes, 1,
       "戻し処理モードが選択されています\n\n戻し処理を行いますか?", question},
      {"refund asked, No first, answered No", 0, 0, 0, 197, 0, platform::kIdNo, 0,
       "戻し処理モードが選択されています\n\n戻し処理を行いますか?", question | platform::kMbDefButton2},
      {"settlement asked", 1, 0, 0, 192, 0, platform::kIdNo, 0,
       "精算処理モードが選択されています\n\n精算処理を行いますか?", question},
      {"settlement forbidden", 2, 2, kForbidSettlement, 192, 0, 0, 0, "精算", refused},
      {"refund forbidden, no question", 0, 2, kForbidRefund, 197, 0, 0, 0, "戻し", refused},
      {"registration 1 forbidden", 2, 2, kForbidRegister1, 195, 0, 0, 0, "登録１", refused},
      {"registration 2 forbidden", 2, 2, kForbidRegister2, 194, 0, 0, 0, "登録２", refused},
      {"X reading forbidden", 2, 2, kForbidXReading, 193, 0, 0, 0, "点検", refused},
      {"programming forbidden", 2, 2, kForbidProgram, 198, 1, 0, 0, "設定", refused},
      {"append save above level 1", 2, 1, 0, 198, 2, 0, 0, "設定の追加保存", refused},
      {"update save at level 1", 2, 1, 0, 198, 1, 0, 1, nullptr, 0},
      {"unknown save level", 2, 1, 0, 198, 3, 0, 0, "設定の未定義な保存", refused},
      {"clerk codes at level", 2, 1, 0, 204, 1, 0, 1, nullptr, 0},
      {"clerk codes above level", 2, 0, 0, 204, 1, 0, 0, "担当者コードの生成", refused},
      {"clerk codes forbidden", 2, 3, kForbidProgram, 204, 0, 0, 0, "担当者コードの生成", refused},
      {"other bits do not matter", 2, 0, 0x8000 | kForbidRefund, 195, 0, 0, 1, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manager(c.confirm, c.programLevel, c.forbidden);
    boxes->clear();
    if (c.answer) boxes->answer(c.answer);
    EXPECT_EQ(engine->CheckPermission(c.code, c.level), c.expected);
    if (!c.box) {
      EXPECT_EQ(boxes->count(), 0u);
      continue;
    }
    ASSERT_EQ(boxes->count(), 1u);
    const std::string expected = c.style == refused ? refusal(c.box) : c.box;
    EXPECT_EQ(boxes->lastText(), expected);
    EXPECT_EQ(boxes->shown().back().style, c.style);
  }
}

TEST_F(RightsTest, DemoClerks) {
  uint8_t r[48];
  ASSERT_GE(engine->GetClerkRecord(1, r), 0);
  engine->SetManager(r);
  EXPECT_EQ(engine->CheckPermission(kModeProgram, kSaveAppend), 1);
  EXPECT_EQ(engine->CheckPermission(kModeSettlement, 0), 1);
  ASSERT_GE(engine->GetClerkRecord(2, r), 0);
  engine->SetManager(r);
  EXPECT_EQ(engine->CheckPermission(kModeProgram, kSaveUpdate), 0);
  EXPECT_EQ(engine->CheckPermission(kModeSettlement, 0), 0);
  EXPECT_EQ(engine->CheckPermission(kModeRegister1, 0), 1);
  EXPECT_EQ(boxes->count(), 2u);
}

}  // namespace

// Rights of the manager or clerk now in charge over the register modes.
//
// Every mode and sensitive action has a register mode code (192 to 204). The
// clerk record held in the manager buffer carries a confirmation level (u8 at
// 28), a programming level (bits 0-1 of the byte at 29) and a forbidden-mode
// word (u16 at 30) whose bits refuse modes.
#include <cstdio>
#include <string>

#include "app/register/engine/reg_com.h"
#include "platform/base/message_box.h"

namespace varnex::reg {
namespace {

struct ModeRule {
  uint32_t code;
  const char* name;
  uint16_t forbiddenBit;
};

const ModeRule kRules[] = {
    {kModeSettlement, "精算", kForbidSettlement}, {kModeXReading, "点検", kForbidXReading},
    {kModeRegister2, "登録２", kForbidRegister2}, {kModeRegister1, "登録１", kForbidRegister1},
    {kModeRefund, "戻し", kForbidRefund},         {kModeProgram, "設定", kForbidProgram},
    {kModeClerkCode, "担当者コードの生成", kForbidProgram},
};

const char* saveLevelName(uint32_t level) {
  switch (level) {
    case kSaveUpdate: return "更新保存";
    case kSaveAppend: return "追加保存";
    default: return "未定義な保存";
  }
}

}  // namespace

int32_t CRegCom::CheckPermission(uint32_t modeCode, uint32_t level) {
  if (notOpen("CRegCom")) return 0;
  if (modeCode < kModeSettlement || modeCode > kModeClerkCode) return 0;
  const ModeRule* rule = nullptr;
  for (const ModeRule& r : kRules)
    if (r.code == modeCode) rule = &r;
  // 196 and 199-203 are codes without an action.
  if (!rule) return 0;

  const uint8_t confirmLevel = manager_[clerk::kConfirmLevel.offset];
  const uint32_t programLevel = getBits(manager_, clerk::kProgramLevel);
  const uint16_t forbidden = getU16(manager_, clerk::kForbiddenModes);
  std::string name = rule->name;
  bool allowed = (forbidden & rule->forbiddenBit) == 0;

  if (allowed) {
    switch (modeCode) {
      case kModeSettlement:
      case kModeRefund:
        if (confirmLevel < 2) {
          char text[256];
          std::snprintf(text, sizeof text, "%s処理モードが選択されています\n\n%s処理を行いますか?", rule->name,
                        rule->name);
          uint32_t style = platform::kMbYesNo | platform::kMbIconQuestion;
          if (confirmLevel == 0) style |= platform::kMbDefButton2;
          // "No" refuses without a further message.
          return showBox(text, style) == platform::kIdYes ? 1 : 0;
        }
        break;
      case kModeProgram:
        if (programLevel < level) {
          allowed = false;
          name = std::string(rule->name) + "の" + saveLevelName(level);
        }
        break;
      case kModeClerkCode:
        if (programLevel < level) allowed = false;
        break;
      default:
        break;
    }
  }
  if (allowed) return 1;
  char text[320];
  std::snprintf(text, sizeof text, "現在の責任者には、%sに関する権限がありません\nシステム管理者にご相談下さい",
                name.c_str());
  showBox(text, platform::kMbIconWarning);
  return 0;
}

}  // namespace varnex::reg

#include "app/shell/modes/mode_table.h"

#include "app/register/engine/records.h"

namespace varnex::shell {

namespace {

const char* const kXTitles[] = {"部門点検", "ＰＬＵ点検", "グループ点検", "担当者点検",
                                "取引関係点検", "固定合計器点検", "現金収支点検", "レシート点検"};
const char* const kZTitles[] = {"部門精算", "ＰＬＵ精算", "グループ精算", "担当者精算",
                                "取引関係精算", "固定合計器精算", "現金収支精算", "精算"};

}  // namespace

ModeInfo ModeInfoOf(int32_t mode) {
  switch (mode) {
    case 4: return {"設定メニュー", 122, -1, 122, 135, 0};
    case 5: return {"戻し", 122, 122, 126, 134, 0};
    case 6: return {"ＯＦＦ", 122, -1, 122, 144, 0};
    case 7: return {"登録１", 122, 122, 126, 136, 0};
    case 8: return {"登録２", 122, 122, 126, 138, 0};
    case 9: return {"点検メニュー", 122, -2, 122, 140, 0};
    case 10: return {"精算メニュー", 122, -3, 122, 142, 0};
    case 101: return {"ファンクションキーレイアウト設定", 124, 124, 124, 135, reg::kModeProgram};
    case 114: return {"ＯＤＢＣ リンク設定", 124, 124, 124, 135, reg::kModeProgram};
    default: break;
  }
  if (mode >= 31 && mode <= 38) return {kXTitles[mode - 31], 128, 128, 128, 140, reg::kModeXReading};
  if (mode >= 39 && mode <= 46) return {kZTitles[mode - 39], 128, 128, 128, 140, reg::kModeSettlement};
  return {"Unknown", 128, 128, 128, 140, mode <= 38 ? reg::kModeXReading : reg::kModeSettlement};
}

std::string ReserveFileTitle(const std::string& path) {
  std::string base = path;
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.erase(dot);
  size_t cut = base.find_last_of("\\/");
  if (cut == std::string::npos) cut = base.rfind(':');
  if (cut != std::string::npos) base.erase(0, cut + 1);
  return " - " + base;
}

std::string ModeName(int32_t mode, const std::string& reserveFile) {
  std::string title = ModeInfoOf(mode).title;
  if (IsSaleMode(mode) && !reserveFile.empty()) title += ReserveFileTitle(reserveFile);
  return title;
}

}  // namespace varnex::shell

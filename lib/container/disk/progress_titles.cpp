// The titles of the steps of long operations and the names of entry
// classes, and the labels that name what a step works on.
#include <map>
#include <mutex>

#include "lib/container/disk/progress.h"
#include "zemta/fileex.h"

namespace zemta::container {

namespace {

std::mutex& labelMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<const FileExProgress*, std::string>& labels() {
  static std::map<const FileExProgress*, std::string> map;
  return map;
}

}  // namespace

void progressLabel(FileExProgress* block, const std::string& text) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(labelMutex());
  if (text.empty()) labels().erase(block);
  else labels()[block] = text;
}

std::string readProgressLabel(FileExProgress* block) {
  std::lock_guard<std::mutex> guard(labelMutex());
  auto found = labels().find(block);
  return found == labels().end() ? std::string() : found->second;
}

}  // namespace zemta::container

ZEMTA_API const char* FileExGetPlsTitle(int32_t step) {
  switch (step) {
    case 2: return "データの保存中";
    case 3: return "ログの保存中";
    case 4: return "ログの切り捨て中";
    case 5: return "データの圧縮・保存中";
    case 6: return "ログの圧縮・保存中";
    case 7: return "古い保存データの削除中";
    case 8: return "データベースの構造検査中";
    case 9: return "インデックスの検査中";
    case 10: return "インデックス作成中";
    case 11: return "データ・ログの解凍中";
    case 12: return "ロールフォワード中";
    case 13: return "ロールバック中";
    case 14: return "ログのコピー中";
    default: return "";
  }
}

ZEMTA_API const char* FileExGetClassName(int32_t classNumber) {
  switch (classNumber) {
    case 1: return "File";
    case 2: return "Folder";
    case 3: return "Table";
    case 4: return "Record";
    case 5: return "Record Number";
    case 6: return "Index File";
    case 7: return "Work Index File";
    default: return "Unknown";
  }
}

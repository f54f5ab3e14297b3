// Journal files: the temporary transaction file that mirrors a sale in
// progress, the scan for sales interrupted by a crash, and the daily receipt
// file. Both files are library tables without a header and with 96-byte
// records, one line record each (records.h, namespace line).
//
// The scan needs "now" on the file system's own clock, so that a file
// written by another instance after the scan began is never taken for a
// left-over one. The register makes a probe file and takes its time: here the
// probe's modification time, since the file systems of this platform keep no
// reliable creation time; a file just created has both the same.
#include "app/register/engine/journal.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/register/engine/reg_com.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "zemta/errors.h"
#include "zemta/filedb.h"

namespace varnex::reg {
namespace {

const char kTempTitle[] = "ﾃﾝﾎﾟﾗﾘ ﾃﾞｰﾀﾍﾞｰｽ";
const char kReceiptTitle[] = "ﾚｼｰﾄ ﾃﾞｰﾀﾍﾞｰｽ";
const char kOperation[] = "PrfOpen";
constexpr uint32_t kSequenceError = 0x20003001u;

std::string nativePath(const std::string& path) { return platform::mapPath(path); }

bool modificationTime(const std::string& path, std::filesystem::file_time_type& time) {
  std::error_code ec;
  time = std::filesystem::last_write_time(nativePath(path), ec);
  return !ec;
}

const char* saleModeName(char letter) {
  switch (letter) {
    case '1': return "登録１";
    case '2': return "登録２";
    default: return "戻し";
  }
}

}  // namespace

char TempFileLetter(uint16_t saleMode) {
  switch (saleMode) {
    case kSaleRefund: return 'R';
    case kSaleRegister1: return '1';
    case kSaleRegister2: return '2';
    default: return '$';
  }
}

std::string TempFileName(char letter, uint32_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "R%cN%05u.log", letter, number % kTempNumbers);
  return name;
}

std::string NextFreeTempFile(const std::string& folder, char letter, uint32_t start) {
  uint32_t number = start % kTempNumbers;
  // Every number is tried once; a folder holding all of them has no free name.
  for (uint32_t tries = 0; tries < kTempNumbers; ++tries) {
    std::string name = TempFileName(letter, number);
    if (!platform::fileExists(nativePath(folder + name))) return name;
    number = (number + 1) % kTempNumbers;
  }
  return {};
}

std::string ReceiptFileName(uint16_t dosDate) {
  const unsigned day = dosDate & 0x1F, month = (dosDate >> 5) & 0x0F, year = 1980 + (dosDate >> 9);
  char name[32];
  std::snprintf(name, sizeof name, "DT%02u%02u%02u.prf", month, day, year % 100);
  return name;
}

FileDBHandle CRegCom::openTemporary(const std::string& path) {
  FileDBHandle table = FileDBCreate(path.c_str(), kJournalTableId, 0, kJournalRecordLen, kTempTitle, owner_);
  if (!table) return 0;
  if (FileDBOpenEx(table, FILEDB_MODE_READ_WRITE) != 0) {
    FileDBDelete(table);
    platform::deleteFile(nativePath(path));
    return 0;
  }
  return table;
}

FileDBHandle CRegCom::PrfOpen(int32_t kind, uint16_t* modeOrDate) {
  if (!project_ || (kind == 4 && !modeOrDate)) {
    ReportError(kOperation, ZEMTA_ERR_BAD_POINTER);
    return 0;
  }
  if (kind == 4) {
    const uint16_t mode = *modeOrDate;
    if (mode != kSaleRefund && mode != kSaleRegister1 && mode != kSaleRegister2) return scanInterrupted(modeOrDate);
    char folder[300];
    if (FileProjGetPathName(project_, folder, 4, nullptr) != 0) return 0;
    const std::string name = NextFreeTempFile(folder, TempFileLetter(mode));
    if (name.empty()) return 0;
    return openTemporary(std::string(folder) + name);
  }

  // The daily receipt file of the date given, or of today.
  uint16_t date;
  if (modeOrDate) {
    date = *modeOrDate;
  } else {
    const platform::LocalTime now = platform::localTime();
    date = dosDate(now.year, now.month, now.day);
  }
  char path[300];
  if (FileProjGetPathName(project_, path, kind, ReceiptFileName(date).c_str()) != 0) return 0;
  if (modeOrDate && !platform::fileExists(nativePath(path))) {
    showBox("レシートファイルを開くことができません\nレシートの参照は取り消されました", platform::kMbIconInformation);
    return 0;
  }
  return FileDBCreate(path, kJournalTableId, 0, kJournalRecordLen, kReceiptTitle, owner_);
}

FileDBHandle CRegCom::scanInterrupted(uint16_t* mode) {
  *mode = kSaleNone;
  char folderText[300];
  if (FileProjGetPathName(project_, folderText, 4, nullptr) != 0) return 0;
  const std::string folder = folderText;

  // 1. The probe: its time is "now" on the file system's clock.
  const std::string probeName = NextFreeTempFile(folder, '$');
  if (probeName.empty()) return 0;
  const std::string probePath = folder + probeName;
  FileDBHandle probe = FileDBCreate(probePath.c_str(), kJournalTableId, 0, kJournalRecordLen, kTempTitle, owner_);
  if (!probe) return 0;
  auto dropProbe = [&]() {
    FileDBDelete(probe);
    if (!platform::deleteFile(nativePath(probePath))) {
      ReportError(kOperation, platform::lastError());
      return false;
    }
    return true;
  };
  const std::string nativeFolder = nativePath(folder);
  const auto matches = platform::listFolder(nativeFolder, probeName);
  if (matches.empty()) {
    dropProbe();
    return 0;
  }
  if (matches.size() > 1) {
    const uint32_t error = platform::lastError();
    ReportError(kOperation, error ? error : platform::kErrorAlreadyExists);
    dropProbe();
    return 0;
  }
  std::filesystem::file_time_type now;
  if (!modificationTime(probePath, now)) {
    ReportError(kOperation, kSequenceError);
    dropProbe();
    return 0;
  }
  if (!dropProbe()) return 0;

  // 2. Every temporary file older than the probe.
  for (const std::string& name : platform::listFolder(nativeFolder, "R?N?????.log")) {
    const std::string path = folder + name;
    std::filesystem::file_time_type written;
    if (!modificationTime(path, written)) {
      // Gone since the listing (another instance finished its sale) is no
      // fault; any other failure is.
      if (!platform::fileExists(nativePath(path))) continue;
      ReportError(kOperation, kSequenceError);
      return 0;
    }
    if (written >= now) continue;
    const char letter = name[1] == 'r' ? 'R' : name[1];
    if (letter == '1' || letter == '2' || letter == 'R') {
      *mode = letter == '1' ? kSaleRegister1 : letter == '2' ? kSaleRegister2 : kSaleRefund;
      {
        platform::File probeOpen =
            platform::File::open(path, platform::kFileRead, platform::kShareNone, platform::kOpenExisting);
        if (!probeOpen.isOpen()) {
          const uint32_t error = platform::lastError();
          *mode = kSaleNone;
          // Held by another running instance: its sale, not ours.
          if (error == platform::kErrorSharingViolation) continue;
          if (error == platform::kErrorFileNotFound) continue;
          ReportError(kOperation, error);
          return 0;
        }
      }
      char text[400];
      std::snprintf(text, sizeof text,
                    "モード '%s' で、中断された取引が見つかりました。取引を継続しますか?\n"
                    "はい　: 中断された取引を継続します\nいいえ: 中断された取引を削除します",
                    saleModeName(letter));
      if (showBox(text, platform::kMbYesNo | platform::kMbIconQuestion) == platform::kIdYes) {
        FileDBHandle table = openTemporary(path);
        if (!table) *mode = kSaleNone;
        return table;
      }
      *mode = kSaleNone;
      if (!platform::deleteFile(nativePath(path))) {
        ReportError(kOperation, platform::lastError());
        return 0;
      }
    } else {
      // A stale file of no sale mode: removed when nobody holds it.
      bool free;
      {
        platform::File exclusive = platform::File::open(path, platform::kFileRead | platform::kFileWrite,
                                                        platform::kShareNone, platform::kOpenExisting);
        free = exclusive.isOpen();
      }
      if (free && !platform::deleteFile(nativePath(path))) {
        ReportError(kOperation, platform::lastError());
        return 0;
      }
    }
  }
  return 0;
}

}  // namespace varnex::reg

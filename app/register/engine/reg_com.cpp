// The register's data engine: opening the project, the error box, settings
// and the master lookups.
#include "app/register/engine/reg_com.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/base/system_info.h"
#include "zemta/errors.h"
#include "zemta/fileaccess.h"
#include "zemta/filedb.h"
#include "zemta/fileidx.h"
#include "zemta/tax.h"

namespace varnex::reg {

const EngineFieldName kEngineFields[kEngineFieldCount] = {
    {kKeyLayoutTable, "キーの位置"},   {kKeyLayoutTable, "キーコード"},
    {kSettingsTable, "ｽﾄｱｰ/ﾏｼﾝ№"},    {kSettingsTable, "ﾚｼｰﾄﾒｯｾｰｼﾞ"},
    {kSettingsTable, "２段値札の設定"}, {kSettingsTable, "レポート種別1"},
    {kCustomerTable, "コード"},        {kCustomerTable, "名称"},
    {kCustomerTable, "ポイント残高"},  {kCustomerTable, "付与ポイント"},
    {kDepartmentTable, "部門名"},      {kDepartmentTable, "部門番号"},
    {kDepartmentTable, "一覧選択"},    {kPluTable, "商品名"},
    {kPluTable, "コード"},             {kPluTable, "部門番号"},
    {kPluTable, "一覧表示順"},         {kGroupTable, "グループ名"},
    {kGroupTable, "グループ番号"},     {kClerkTable, "名前"},
    {kClerkTable, "担当者番号"},       {kTrans1Table, "取引名"},
    {kTrans2Table, "取引名"},          {kTrans3Table, "取引名"},
    {kFixedTotalTable, "合計器名"},    {kOdbcLinkTable, "受注売上コード"},
};

namespace {

const char kProjectMissing[] = "プロジェクトデータベースが見つかりません\nアプリケーションの起動に失敗しました";
const char kProjectBroken[] = "プロジェクトデータベースが壊れています\nアプリケーションの起動に失敗しました";

// The start's message of a damaged project, with the damaged file on a line
// of its own when one is known.
std::string brokenText(const std::string& file) {
  if (file.empty()) return kProjectBroken;
  return "プロジェクトデータベースが壊れています\n" + file + "\nアプリケーションの起動に失敗しました";
}
const char kEngineName[] = "CRegCom";

// The fields the lookups search by; each must have an index.
const EngineField kSearchedFields[] = {kFieldKeyPosition,   kFieldKeyWord,   kFieldCustomerCode,
                                       kFieldDepartmentNumber, kFieldPluCode, kFieldGroupNumber,
                                       kFieldClerkNumber};

// A customer or PLU code is looked up as its text padded to this many bytes.
constexpr size_t kCodeKeyLen = 32;

// The least record length the engine relies on for the settings (the older
// projects' record); every other table must have exactly the length of its
// description, because the lookups hand out records of that size.
constexpr uint16_t kOldSettingsLen = 352;

const char* systemText(uint32_t code) {
  switch (code) {
    case platform::kErrorFileNotFound: return "指定されたファイルが見つかりません。";
    case platform::kErrorPathNotFound: return "指定されたパスが見つかりません。";
    case platform::kErrorAccessDenied: return "アクセスが拒否されました。";
    case platform::kErrorSharingViolation:
      return "別のプロセスが使用中のため、プロセスはファイルにアクセスできません。";
    case platform::kErrorFileExists: return "ファイルが存在します。";
    case platform::kErrorDiskFull:
    case platform::kErrorHandleDiskFull: return "ディスクに十分な空き領域がありません。";
    case platform::kErrorAlreadyExists: return "既に存在するファイルを作成することはできません。";
    case platform::kErrorNotEnoughMemory:
    case platform::kErrorOutOfMemory: return "このコマンドを実行するのに十分な記憶域がありません。";
    default: return nullptr;
  }
}

std::string withSeparator(const std::string& folder) { return platform::withSeparator(folder, '/'); }

// Whether a file can be made in the folder right now.
bool folderWritable(const std::string& folder) {
  if (!platform::isDirectory(folder)) return false;
  platform::File probe = platform::File::open(platform::joinPath(folder, ".varnex-write-probe"),
                                              platform::kFileWrite, platform::kShareNone,
                                              platform::kCreateAlways, platform::kFileDeleteOnClose);
  return probe.isOpen();
}

}  // namespace

std::string DefaultDataFolder() {
  auto target = platform::Profile::of(platform::ProfileScope::Machine).getString(kMachineKey, kTargetValue);
  if (target && !target->empty()) return withSeparator(*target);
  // The machine-wide data folder serves every user of the counter PC; it is
  // used only when it was set up and this user may write there.
  std::string machine = platform::commonDataFolder("ZEMTA/Varnex");
  if (folderWritable(machine)) return withSeparator(machine);
  std::string user = platform::dataFolder("ZEMTA/Varnex");
  return user.empty() ? std::string() : withSeparator(user);
}

CRegCom::CRegCom() {
  for (int32_t& i : indexes_) i = -1;
}

CRegCom::~CRegCom() { closeAll(); }

void CRegCom::closeAll() {
  // What the last sales posted goes to disk before the project closes.
  if (project_ && commitsSinceCheckpoint_ > 0) checkpoint();
  ReleaseHolds();
  // The link is closed first, then the buffers, then the project.
  if (odbc_.database) {
    if (odbc_.database->IsOpen()) odbc_.database->Close();
    odbc_.database.reset();
  }
  if (manager_ && tables_[kClerkTable]) FileDBRecBufRelease(tables_[kClerkTable], manager_);
  if (settings_ && tables_[kSettingsTable]) FileDBRecBufRelease(tables_[kSettingsTable], settings_);
  manager_ = nullptr;
  settings_ = nullptr;
  if (project_) FileProjClose(project_);
  project_ = 0;
  for (auto& t : tables_) t = 0;
  for (auto& id : typeIds_) id = 0;
  for (int32_t& i : indexes_) i = -1;
}

void CRegCom::SetUserName(const char* name) {
  if (!name) return;
  size_t n = std::strlen(name);
  userName_.assign(name, n < 256 ? n : 256);
}

void CRegCom::SetHostName() {
  std::string name = platform::hostName();
  if (!name.empty()) hostName_ = name.substr(0, 255);
}

void CRegCom::SetServerName(const char* name) { serverName_ = name ? name : ""; }

void CRegCom::SetManager(const void* clerkRecord) {
  if (!manager_ || !clerkRecord) return;
  std::memcpy(manager_, clerkRecord, kTables[kClerkTable].recordLen);
}

int32_t CRegCom::showBox(const std::string& text, uint32_t style) const {
  platform::MessageBoxRequest request;
  request.owner = owner_;
  request.text = text;
  request.style = style;
  return platform::showMessageBox(request);
}

void CRegCom::ReportError(const char* operation, uint32_t code) const {
  if (code == 0xFFFFFFFFu) code = platform::lastError();
  std::string text;
  if (code & 0x20000000u) {
    switch (code) {
      case ZEMTA_ERR_FILE_IN_USE:
        text = "データベースファイルの読み込みに失敗しました。\nお手数ですが、システム管理者に、ご相談下さい。";
        break;
      case ZEMTA_ERR_BAD_POINTER:
        text = "関数への引数に無効なポインタを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。";
        break;
      case 0x20003001u:
        text = "プログラムシーケンスに誤りがあります。\nお手数ですが、システム管理者に、ご相談下さい。";
        break;
      default:
        text = "未定義のアプリケーションエラーコードを指定しました。\nお手数ですが、システム管理者に、ご相談下さい。";
        break;
    }
  } else if (const char* known = systemText(code)) {
    text = known;
  } else {
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "システム エラー %u が発生しました。", code);
    text = buffer;
  }
  if (operation) {
    char buffer[300];
    std::snprintf(buffer, sizeof buffer, "\nPOS System Function: %.256s", operation);
    text += buffer;
  }
  showBox(text, platform::kMbIconInformation);
}

bool CRegCom::notOpen(const char* operation) const {
  if (project_) return false;
  ReportError(operation, ZEMTA_ERR_BAD_POINTER);
  return true;
}

FileProjHandle CRegCom::Open() {
  if (project_) return project_;
  // 1. The machine-wide "Target" value (empty when missing).
  target_ = platform::Profile::of(platform::ProfileScope::Machine).getString(kMachineKey, kTargetValue, "");
  if (target_.size() > 512) target_.resize(512);
  // 2. The data folder, which is also the local data folder of the tables.
  dataFolder_ = dataFolderOverride_.empty() ? DefaultDataFolder() : withSeparator(dataFolderOverride_);
  if (dataFolder_.empty() || FileSetLocPath(dataFolder_.c_str()) != 0) return 0;
  // 3. The project.
  const std::string catalog = dataFolder_ + kCatalogName;
  project_ = FileProjOpen(catalog.c_str(), kProjectId, owner_);
  if (!project_ || g_nMsgRefExt == 0) {
    closeAll();
    // A catalog that is there but does not open is a damaged project (a
    // table or index cut short), not a missing one: the files stay as they
    // are for the index check or the engineer.
    // The library says at which file it stopped.
    char damaged[300] = {};
    FileProjGetPathName(0, damaged, FILEPROJ_PATH_FAILED_OPEN, nullptr);
    showBox(ZemtaFileExists(platform::mapPath(catalog).c_str())
                ? brokenText(damaged[0] ? platform::mapPath(damaged) : std::string())
                : kProjectMissing,
            platform::kMbIconError);
    return 0;
  }
  // The message names the damaged file when one is to blame.
  auto broken = [&](FileDBHandle damaged = 0) -> FileProjHandle {
    char path[300] = {};
    if (damaged) FileDBGetPathName(damaged, path);
    closeAll();
    showBox(brokenText(path[0] ? platform::mapPath(path) : std::string()), platform::kMbIconError);
    return 0;
  };
  // 4. Tables by type name, fields by name, the tables' handles and buffers.
  for (int t = 0; t < kTableCount; ++t) {
    typeIds_[t] = FileProjGetType(project_, 0, kTables[t].name, 0, nullptr, nullptr, nullptr, 1);
    if (typeIds_[t] == 0) return broken();
  }
  for (int f = 0; f < kEngineFieldCount; ++f) {
    const EngineFieldName& n = kEngineFields[f];
    if (FileProjGetType(project_, typeIds_[n.table], nullptr, 0, n.name, &fields_[f], nullptr, 1) == 0)
      return broken();
  }
  for (int t = kKeyLayoutTable; t < kTableCount; ++t) {
    tables_[t] = FileProjGetFdb(project_, typeIds_[t]);
    if (!tables_[t]) return broken();
    const int32_t length = FileDBRecGetFieldSize(tables_[t]);
    if (t == kSettingsTable ? length < kOldSettingsLen : length != kTables[t].recordLen) return broken(tables_[t]);
  }
  // A table cut short (not a whole number of records) cannot be repaired
  // without losing what its last record held: the register stays shut and
  // the file stays as it is for the engineer.
  for (int t = kKeyLayoutTable; t < kTableCount; ++t)
    if (FileDBRecGetSize(tables_[t]) < 0) return broken(tables_[t]);
  for (EngineField f : kSearchedFields) {
    const TableIndex t = kEngineFields[f].table;
    indexes_[f] = FileGetIndexPos(tables_[t], fields_[f].offset, fields_[f].size, 1);
    if (indexes_[f] < 0) return broken(tables_[t]);
  }
  // Sales committed before a crash are posted whole before anything reads
  // a counter; a journal that cannot be replayed keeps the register shut.
  if (RecoverCommits() != 0) {
    ReportError(kEngineName, ZEMTA_ERR_FILE_ACCESS);
    closeAll();
    return 0;
  }
  settings_ = static_cast<uint8_t*>(FileDBRecBufAllocEx(tables_[kSettingsTable], 1));
  manager_ = static_cast<uint8_t*>(FileDBRecBufAllocEx(tables_[kClerkTable], 1));
  if (!settings_ || !manager_) return broken();
  if (FileDBRecRead(tables_[kSettingsTable], 0, settings_) != 0) return broken(tables_[kSettingsTable]);
  // 5. The link's records brought up to date, then its header: the
  //    connection string and the order-code block.
  if (CheckOdbcLinkRecords() != 0) return broken();
  char linkText[512];
  if (FileDBRead(tables_[kOdbcLinkTable], 0, linkText, sizeof linkText) != static_cast<int32_t>(sizeof linkText))
    return broken(tables_[kOdbcLinkTable]);
  const uint16_t orderAt = fields_[kFieldOrderCode].offset;
  if (FileDBRead(tables_[kOdbcLinkTable], orderAt, orderBlock_, sizeof orderBlock_) !=
      static_cast<int32_t>(sizeof orderBlock_))
    return broken(tables_[kOdbcLinkTable]);
  // 6. Tax rates.
  SetTaxRate(getU16(settings_, settings::kRate0.offset), getU16(settings_, settings::kRate1.offset),
             getU16(settings_, settings::kRate2.offset), getU16(settings_, settings::kRate3.offset));
  keepInTemporary_ = 0;
  // 7. A defined link (first byte of the connection string) is connected and
  //    its field map loaded; it shows its own messages.
  if (linkText[0] != 0 && (OdbcConnect() != 1 || PrepareOdbcQueries() != 0)) {
    closeAll();
    return 0;
  }
  // 8. Upkeep of older projects.
  if (AddPointAndTaxKeys() != 1 || AddPaymentKeys() != 1 || CheckTransKeys() != 1) return broken();
  // 9. Sales committed before a failed link commit or a crash reach the
  //    outside database now; those the link refuses again wait for the next
  //    commit (the link shows why).
  if (OdbcIsOpen()) RepostOutside();
  return project_;
}

int32_t CRegCom::ReloadSettings() {
  if (notOpen(kEngineName)) return -1;
  if (FileDBRecRead(tables_[kSettingsTable], 0, settings_) != 0) return -1;
  SetTaxRate(getU16(settings_, settings::kRate0.offset), getU16(settings_, settings::kRate1.offset),
             getU16(settings_, settings::kRate2.offset), getU16(settings_, settings::kRate3.offset));
  const int32_t read = FileDBRead(tables_[kOdbcLinkTable], fields_[kFieldOrderCode].offset, orderBlock_,
                                  sizeof orderBlock_);
  if (read != static_cast<int32_t>(sizeof orderBlock_)) {
    if (read >= 0) ReportError(kEngineName, ZEMTA_ERR_FILE_IN_USE);
    return -1;
  }
  return 0;
}

int32_t CRegCom::lookup(TableIndex table, EngineField field, const void* key, uint32_t keyLen, void* record,
                        uint32_t recordLen) {
  if (notOpen(kEngineName)) return -1;
  if (!record) {
    ReportError(kEngineName, ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::memset(record, 0, recordLen);
  // The key buffer is at least as long as the index's key.
  std::vector<uint8_t> padded(std::max<uint32_t>(keyLen, fields_[field].size), 0);
  std::memcpy(padded.data(), key, keyLen);
  int32_t n = -1;
  if (FileIdxEqu(tables_[table], indexes_[field], &n, padded.data()) <= 0 || n < 0) return -1;
  if (FileDBRecRead(tables_[table], n, record) != 0) {
    std::memset(record, 0, recordLen);
    return -1;
  }
  return n;
}

int32_t CRegCom::lookupCode(TableIndex table, EngineField field, const char* code, void* record,
                            uint32_t recordLen) {
  if (notOpen(kEngineName)) return -1;
  if (record) std::memset(record, 0, recordLen);
  if (!code || !*code) return -1;
  const size_t n = std::strlen(code);
  // A code longer than the lookup key cannot be stored, so it cannot match.
  if (n > kCodeKeyLen) return -1;
  char key[kCodeKeyLen] = {};
  std::memcpy(key, code, n);
  return lookup(table, field, key, kCodeKeyLen, record, recordLen);
}

int32_t CRegCom::lookupNumber(TableIndex table, EngineField field, uint32_t number, void* record,
                              uint32_t recordLen) {
  if (notOpen(kEngineName)) return -1;
  // A number wider than its field cannot be stored, so it cannot match.
  const uint16_t size = fields_[field].size;
  if (size < 4 && (number >> (8 * size)) != 0) {
    if (record) std::memset(record, 0, recordLen);
    return -1;
  }
  uint8_t key[4];
  putU32(key, 0, number);
  return lookup(table, field, key, 4, record, recordLen);
}

int32_t CRegCom::GetKeyByPosition(uint16_t position, void* record) {
  uint8_t key[2];
  putU16(key, 0, position);
  return lookup(kKeyLayoutTable, kFieldKeyPosition, key, 2, record, kTables[kKeyLayoutTable].recordLen);
}

int32_t CRegCom::GetKeyByCode(uint16_t keyWord, void* record) {
  uint8_t key[2];
  putU16(key, 0, keyWord);
  return lookup(kKeyLayoutTable, kFieldKeyWord, key, 2, record, kTables[kKeyLayoutTable].recordLen);
}

int32_t CRegCom::FindKeyByCode(uint16_t keyCode, void* record) {
  if (notOpen(kEngineName)) return -1;
  if (!record) {
    ReportError(kEngineName, ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  const uint32_t len = kTables[kKeyLayoutTable].recordLen;
  std::memset(record, 0, len);
  FileDBHandle t = tables_[kKeyLayoutTable];
  if (FileDBOpenEx(t, FILEDB_MODE_READ) != 0) return -1;
  int32_t found = -1;
  const int32_t count = FileDBRecGetSize(t);
  uint8_t image[8];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(t, n, image) != 0) break;
    if (getU16(image, keylayout::kFunction.offset) == keyCode) {
      std::memcpy(record, image, len);
      found = n;
      break;
    }
  }
  FileDBCloseEx(t);
  return found;
}

int32_t CRegCom::GetCustomerRecord(const char* code, void* record) {
  return lookupCode(kCustomerTable, kFieldCustomerCode, code, record, kTables[kCustomerTable].recordLen);
}

int32_t CRegCom::GetPluRecord(const char* code, void* record) {
  return lookupCode(kPluTable, kFieldPluCode, code, record, kTables[kPluTable].recordLen);
}

int32_t CRegCom::GetDepartmentRecord(uint32_t number, void* record) {
  return lookupNumber(kDepartmentTable, kFieldDepartmentNumber, number, record, kTables[kDepartmentTable].recordLen);
}

int32_t CRegCom::GetGroupRecord(uint32_t number, void* record) {
  return lookupNumber(kGroupTable, kFieldGroupNumber, number, record, kTables[kGroupTable].recordLen);
}

int32_t CRegCom::GetClerkRecord(uint32_t number, void* record) {
  return lookupNumber(kClerkTable, kFieldClerkNumber, number, record, kTables[kClerkTable].recordLen);
}

int32_t CRegCom::GetTransKeyRecord(uint16_t keyCode, void* record) {
  if (notOpen(kEngineName)) return -1;
  TableIndex table;
  int32_t n;
  if (!transKeyPlace(keyCode, &table, &n)) {
    ReportError(kEngineName, 0x20003001u);
    return -1;
  }
  if (!record) {
    ReportError(kEngineName, ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  std::memset(record, 0, kTables[table].recordLen);
  // A code below its table's first key has no record.
  if (n < 0) return -1;
  // A record past the end of the table is an undefined key: it reads empty.
  if (FileDBRecRead(tables_[table], n, record) < 0) return -1;
  return n;
}

void CRegCom::MatchDriverName(const char* reference, const char* name, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  static const char kSuffix[] = " (x86)";
  const size_t suffixLen = sizeof kSuffix - 1;
  std::string ref = reference ? reference : "";
  std::string text = name ? name : "";
  auto hasSuffix = [&](const std::string& s) {
    return s.size() >= suffixLen && s.compare(s.size() - suffixLen, suffixLen, kSuffix) == 0;
  };
  auto sameStart = [&](const std::string& a, const std::string& b) {
    return platform::cp932::equalNoCase(std::string_view(a).substr(0, 16), std::string_view(b).substr(0, 16));
  };
  const bool refSuffix = hasSuffix(ref), nameSuffix = hasSuffix(text);
  if (refSuffix != nameSuffix && sameStart(ref, text)) {
    // The whole name keeps its spelling; only the suffix follows the reference.
    if (refSuffix)
      text += kSuffix;
    else
      text.resize(text.size() - suffixLen);
  }
  const size_t n = text.size() < outSize - 1 ? text.size() : outSize - 1;
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

}  // namespace varnex::reg

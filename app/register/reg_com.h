// CRegCom: the register's data engine. One object, created at start-up and
// kept for the whole run; every screen of the register reaches the project
// database through it. It opens the register's project, finds its thirteen
// tables and the fields it searches by, keeps the general settings and the
// manager now in charge, sets the tax rates, brings older projects up to date,
// offers the master lookups, checks rights and keeps the journal files.
//
// Results: -1 means failure unless said otherwise. An engine whose project is
// not open reports 0x200000FF ("CRegCom") from every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/register/records.h"
#include "zemta/fileproj.h"

namespace varnex::reg {

// The fields the engine looks up by name when it opens the project.
enum EngineField : int {
  kFieldKeyPosition = 0,
  kFieldKeyWord,
  kFieldStoreText,
  kFieldReceiptMessage,
  kFieldPriceMask,
  kFieldReportKind,
  kFieldCustomerCode,
  kFieldCustomerName,
  kFieldCustomerBalance,
  kFieldCustomerGranted,
  kFieldDepartmentName,
  kFieldDepartmentNumber,
  kFieldDepartmentSelect,
  kFieldPluName,
  kFieldPluCode,
  kFieldPluDepartment,
  kFieldPluOrder,
  kFieldGroupName,
  kFieldGroupNumber,
  kFieldClerkName,
  kFieldClerkNumber,
  kFieldTrans1Name,
  kFieldTrans2Name,
  kFieldTrans3Name,
  kFieldFixedTotalName,
  kFieldOrderCode,
  kEngineFieldCount
};

struct EngineFieldName {
  TableIndex table;
  const char* name;
};
extern const EngineFieldName kEngineFields[kEngineFieldCount];

// Names and files of the register's project inside its data folder.
inline constexpr const char* kCatalogName = "Res\\Varnex.dbf";
inline constexpr uint32_t kProjectId = 5;
// Machine-wide profile key of the program and its value naming the data folder.
inline constexpr const char* kMachineKey = "SOFTWARE\\ZEMTA\\Varnex";
inline constexpr const char* kTargetValue = "Target";

// The data folder (ending in a separator): the machine-wide value "Target"
// when set, else the machine-wide data folder when it exists and may be
// written, else the user's data folder + "ZEMTA/Varnex/". Empty when none.
std::string DefaultDataFolder();

class CRegCom {
 public:
  CRegCom();
  virtual ~CRegCom();
  CRegCom(const CRegCom&) = delete;
  CRegCom& operator=(const CRegCom&) = delete;

  // ---- opening and the names the application hands over ----
  // The project handle, 0 on failure (after the engine's message).
  FileProjHandle Open();
  void SetOwnerWnd(HWND owner) { owner_ = owner; }
  // Up to 256 characters; a null name changes nothing.
  void SetUserName(const char* name);
  // The system's host name; unchanged when it cannot be read.
  void SetHostName();
  // Null empties it.
  void SetServerName(const char* name);
  // A data folder of the caller's choosing instead of the default one.
  void SetDataFolder(const std::string& folder) { dataFolderOverride_ = folder; }

  // The application's settings (read by the commit and the CSV export).
  void SetReceiptCsvPathFormat(const std::string& format) { receiptCsvPathFormat_ = format; }
  void SetSaveReceiptCsv(int32_t on) { saveReceiptCsv_ = on; }
  void SetCsvTimeColumn(int32_t on) { csvTimeColumn_ = on; }
  void SetPointUpdateAtOnce(int32_t on) { pointUpdateAtOnce_ = on; }
  void SetKeepInTemporary(int32_t on) { keepInTemporary_ = on; }

  // ---- the error box of the register ----
  // code 0xFFFFFFFF: the thread's last system error. operation may be null.
  void ReportError(const char* operation, uint32_t code) const;

  // ---- settings ----
  // Reads settings record 0 again, sets the tax rates, reads the order block.
  int32_t ReloadSettings();

  // ---- lookups: record number, or -1 when not found or on failure ----
  int32_t GetKeyByPosition(uint16_t position, void* record);
  int32_t GetKeyByCode(uint16_t keyWord, void* record);
  int32_t FindKeyByCode(uint16_t keyCode, void* record);
  int32_t GetCustomerRecord(const char* code, void* record);
  int32_t GetDepartmentRecord(uint32_t number, void* record);
  int32_t GetGroupRecord(uint32_t number, void* record);
  int32_t GetPluRecord(const char* code, void* record);
  int32_t GetClerkRecord(uint32_t number, void* record);
  int32_t GetTransKeyRecord(uint16_t keyCode, void* record);

  // Aligns an ODBC driver name with a reference that differs only by the
  // suffix " (x86)". out receives at most outSize bytes with the zero.
  static void MatchDriverName(const char* reference, const char* name, char* out, size_t outSize);

  // ---- rights ----
  // 1 allowed, 0 refused (after the message or the user's "No").
  int32_t CheckPermission(uint32_t modeCode, uint32_t level);

  // ---- journal files ----
  // kind 4: a new temporary transaction file (mode 0, 1, 2) or the scan for
  // interrupted sales (any other mode value); other kinds: the daily receipt
  // file of the date (today when null).
  FileDBHandle PrfOpen(int32_t kind, uint16_t* modeOrDate);

  // ---- upkeep of older projects: 1 done, 0 on a file error ----
  int32_t CheckTransKeys();
  int32_t AddPaymentKeys();
  int32_t AddPointAndTaxKeys();
  // Whether Shift and Ctrl are held down (forces the link upkeep). No key
  // state reaches the engine yet: the default answers false.
  void SetForceUpkeepProbe(std::function<bool()> probe) { forceUpkeep_ = std::move(probe); }

  // ---- what the other parts of the register read ----
  bool IsOpen() const { return project_ != 0; }
  FileProjHandle Project() const { return project_; }
  FileDBHandle Table(TableIndex t) const { return t > kMenuTable && t < kTableCount ? tables_[t] : 0; }
  int32_t TableTypeId(TableIndex t) const { return typeIds_[t]; }
  const FileProjTypeInfo& Field(EngineField f) const { return fields_[f]; }
  uint8_t* Settings() { return settings_; }
  uint8_t* Manager() { return manager_; }
  // Makes a clerk record the manager now in charge (48 bytes).
  void SetManager(const void* clerkRecord);
  const uint8_t* OrderBlock() const { return orderBlock_; }
  const std::string& DataFolder() const { return dataFolder_; }
  const std::string& Target() const { return target_; }
  const std::string& UserName() const { return userName_; }
  const std::string& HostName() const { return hostName_; }
  const std::string& ServerName() const { return serverName_; }
  const std::string& ReceiptCsvPathFormat() const { return receiptCsvPathFormat_; }
  int32_t KeepInTemporary() const { return keepInTemporary_; }
  int32_t SaveReceiptCsv() const { return saveReceiptCsv_; }
  int32_t CsvTimeColumn() const { return csvTimeColumn_; }
  int32_t PointUpdateAtOnce() const { return pointUpdateAtOnce_; }

 private:
  bool notOpen(const char* operation) const;
  void closeAll();
  int32_t showBox(const std::string& text, uint32_t style) const;
  int32_t lookup(TableIndex table, EngineField field, const void* key, uint32_t keyLen, void* record,
                 uint32_t recordLen);
  int32_t lookupNumber(TableIndex table, EngineField field, uint32_t number, void* record, uint32_t recordLen);
  int32_t lookupCode(TableIndex table, EngineField field, const char* code, void* record, uint32_t recordLen);

  // upkeep helpers (project_upkeep.cpp)
  struct KeyName;
  int32_t addKey(TableIndex table, int32_t record, const KeyName& key);

  // journal helpers (journal.cpp)
  FileDBHandle openTemporary(const std::string& path);
  FileDBHandle scanInterrupted(uint16_t* mode);

  std::string receiptCsvPathFormat_;
  std::string target_;
  int32_t keepInTemporary_ = 0;
  int32_t saveReceiptCsv_ = 0;
  int32_t csvTimeColumn_ = 0;
  int32_t pointUpdateAtOnce_ = 0;
  int32_t typeIds_[kTableCount] = {};
  FileProjTypeInfo fields_[kEngineFieldCount] = {};
  int32_t indexes_[kEngineFieldCount] = {};  // index number of a searched field, -1 none
  std::string userName_;
  std::string hostName_;
  std::string serverName_;
  std::string dataFolderOverride_;
  std::string dataFolder_;
  HWND owner_ = nullptr;
  FileProjHandle project_ = 0;
  FileDBHandle tables_[kTableCount] = {};
  uint8_t* settings_ = nullptr;
  uint8_t* manager_ = nullptr;
  uint8_t orderBlock_[odbclink::kOrderBlockLen] = {};
  std::function<bool()> forceUpkeep_;
};

}  // namespace varnex::reg

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
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/register/engine/data_file.h"
#include "app/register/engine/records.h"
#include "app/register/odbc/odbc_link.h"
#include "zemta/fileproj.h"
#include "zemta/memory.h"

namespace varnex::reg {

class DataFile;

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

// What one commit hands to the postings into the outside database: cleared
// before the first line, filled by the report lines and the heading line.
struct OdbcPostContext {
  // Statements of the link, allocated on first use and kept for the next
  // line; null when none is open. Dropped at the end of the commit, and
  // freed with the context whatever happens.
  enum : int { kPluUpdate = 0, kOrderInsert, kSalesInsert, kSettlementRow, kStatements };
  OdbcStmt statements[kStatements];
  int32_t settlementInsert = 0;  // set by a section line of kind 6
  int32_t sectionPrice = 0;      // price of the last section line
  char customerCode[32] = {};    // the first 14 bytes from the heading line
  // Settlement sums, in the order of the settlement row's fields.
  enum : int {
    kSlot0Count = 0, kSlot0Amount, kSlot1Count, kSlot1Amount,
    kTrans2Code20, kTrans2Code21, kTrans1Code1,  // then codes 2-5
    kTrans2Code29 = 11, kTrans2Code22, kTrans1Code6, kSums
  };
  int32_t sums[kSums] = {};
};

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

  // ---- the ODBC link (odbc_*.cpp); its operations answer 1 done, 0 nothing
  //      to do, -1 failure (after the driver's message) unless said otherwise
  // The connection string: 0 or -1 (a value or the other pairs reaching 256
  // bytes, a Trusted_Connection other than Yes/No, a malformed pair).
  int32_t ParseConnectString(int32_t length, const char* text, OdbcConnectParams* params);
  // Writes the string into out (kOdbcHeaderLen bytes); 0, or -1 when it
  // would not fit (out then holds an empty text).
  static int32_t BuildConnectString(char* out, const OdbcConnectParams& params);
  // 1 connected, 0 failed (messages shown).
  int32_t OdbcConnect();
  // Closes the link's connection (the link screen switching the link off).
  void OdbcClose();
  // Runs without the link: the connection closed and deleted, no table
  // served by the outside database (every kind's field count 0). The stored
  // connection string is left as it is.
  void OdbcDropLink();
  bool OdbcIsOpen() const { return odbc_.database && odbc_.database->IsOpen(); }
  CDatabase* OdbcDatabase() const { return odbc_.database.get(); }
  const OdbcLinkState& OdbcState() const { return odbc_; }
  // Shows the driver's diagnostic of the statement (of the connection when
  // null or empty), drops the statement and clears the handle.
  void ReportOdbcError(OdbcStmt* statement);
  // The field map, after every connect: 0, or -1 when customers or PLU fail.
  int32_t PrepareOdbcQueries();
  int32_t BuildLinkSelect(uint32_t kind, std::string* text, int32_t* count, uint8_t (*descriptors)[8],
                          char (*names)[32], uint16_t* flags);
  const char* GetLinkColumnName(uint16_t offset, uint32_t kind) const;
  // Stores one fetched value (as platform::odbc delivers it for the field's
  // C type; texts zero-terminated) into the register record: 0 or -1.
  int32_t OdbcColumnToItem(const uint8_t* descriptor, void* record, const void* value, int64_t indicator);
  static void MakeSqlTimestamp(platform::odbc::Timestamp* out, int64_t time, int32_t withTime);
  // Upkeep of the link records of older projects: 0 or -1.
  int32_t CheckOdbcLinkRecords();
  // Catalog listings for the link screen.
  int32_t OdbcOpenTables(CDatabase* database, OdbcStmt* statement);
  int32_t OdbcFetchTable(OdbcStmt* statement, std::string* name);
  int32_t OdbcOpenColumns(CDatabase* database, OdbcStmt* statement, const char* table);
  int32_t OdbcFetchColumn(OdbcStmt* statement, std::string* name, int16_t* sqlType);
  // Statement texts. Names are quoted with brackets, or with the driver's
  // own identifier quote when it takes no brackets.
  std::string QuoteSqlName(const char* name) const;
  // The bound parameters' count or -1. Fields whose bit is set in additive
  // are written as "[c] = [c] + ?". lengths (n entries, may be null)
  // receives each bound value's length.
  int32_t BuildLinkUpdate(uint32_t kind, std::string* text, int32_t n, const OdbcField* fields, const void* record,
                          OdbcStmt* statement, int32_t* lengths, uint32_t additive = 0);
  int32_t BuildLinkInsert(uint32_t kind, std::string* text, int32_t n, const OdbcField* fields, const void* record,
                          OdbcStmt* statement, int32_t* lengths);
  // Lookups in the outside database.
  int32_t OdbcSelectByCode(const char* code, void* customer, OdbcStmt* statement);
  int32_t OdbcFetchNextByCode(void* customer, OdbcStmt* statement);
  int32_t OdbcSelectPlu(const char* code, void* plu);
  // The PLU table is linked to the outside database (its link has fields).
  bool OdbcPluLinked() const;
  int32_t OdbcSelectByNumber(int32_t department, void* plu, OdbcStmt* statement);
  int32_t OdbcFetchNextByNumber(void* plu, OdbcStmt* statement);
  int32_t OdbcSelectOrder(const char* number, void* order);
  // The newest order of the number: 1 found, 0 no such order, -1 the link
  // failed (after the driver's message).
  int32_t GetOrderRecord(const char* number, void* order);
  // Keeps an item found in the outside database in the PLU table: written
  // over the local record of its code (its totals, bytes 64 to 79, kept), or
  // appended when the code has none. 0, or -1 when the write failed.
  int32_t CacheLinkedPlu(const void* item);
  // Postings of a commit (inside the link's transaction).
  int32_t OdbcPostCustomerPoints(const char* code, int32_t delta, int32_t reverse);
  int32_t OdbcPostPluSale(OdbcPostContext* context, const void* line, int32_t reverse);
  int32_t OdbcPostSalesLine(OdbcPostContext* context, const void* line, int32_t reverse);
  int32_t OdbcPostSettlement(OdbcPostContext* context);
  int32_t OdbcExecText(OdbcStmt* statement, const void* plu);

  // ---- rights ----
  // 1 allowed, 0 refused (after the message or the user's "No").
  int32_t CheckPermission(uint32_t modeCode, uint32_t level);

  // ---- journal files ----
  // kind 4: a new temporary transaction file (mode 0, 1, 2) or the scan for
  // interrupted sales (any other mode value); other kinds: the daily receipt
  // file of the date (today when null).
  FileDBHandle PrfOpen(int32_t kind, uint16_t* modeOrDate);
  // An open sale's temporary file (a table PrfOpen kind 4 gave) rewritten
  // whole with `count` lines: a kill leaves its old lines or the new ones,
  // never a line moved down that still stands at its old place too. The
  // table stays open on the same handle; false when the file keeps its old
  // lines (or, should the reopen fail, the handle is left closed).
  bool RewriteTemporary(FileDBHandle temporary, const uint8_t* lines, int32_t count);
  // The receipt number the next sale committed today will carry (as the
  // commit numbers it: the last closing record's number + 1, 1 when today
  // has none); -1 when today's receipt file cannot be read.
  int32_t NextReceiptNumber();

  // ---- CSV files of the masters and of sales lines (csv_masters.cpp): 0, or -1 ----
  int32_t ExportCustomersCsv(const char* path);
  int32_t ExportDepartmentsCsv(const char* path);
  int32_t ExportPluCsv(const char* path);
  int32_t ImportCustomersCsv(const char* path);
  int32_t ImportDepartmentsCsv(const char* path);
  int32_t ImportPluCsv(const char* path);
  // Appends one 96-byte line record per data line of the file to block.
  int32_t ImportReceiptCsv(const char* path, MemoryBlockHandle block);

  // ---- sale computations and line builders (sale_calc.cpp) ----
  // Lines and items carry their tax class in their flag words; amounts come
  // back in the register's tax base (settings tax word bit 9).
  int32_t ApplyLineTax(uint16_t lineFlags, int32_t amount) const;
  int32_t ApplyItemTax(uint16_t itemFlags, int32_t amount) const;
  int32_t RoundUnit(int32_t amount) const;
  static int32_t SumOfRates(const int32_t amounts[4]);
  int32_t OuterTaxOfRates(const int32_t amounts[4]) const;
  int32_t NetOfInnerRates(const int32_t amounts[4]) const;
  // Adds a 96-byte line to a sale totals block (saletotal::kWords words).
  void AddLineToTotals(const void* line, int32_t* totals) const;
  // 1 for an ordinary code, 0 for a code that matches a price code mask
  // (which: 0 neither, 1 mask 1, 2 mask 2, -1 both). An empty code gives 0.
  int32_t MatchPriceCodeMasks(const char* code, int32_t* which = nullptr) const;
  // 1 when the code has the form of an order-sale code.
  int32_t MatchOrderCodePattern(const char* code) const;
  static uint16_t LineFlagsToItemFlags(uint16_t lineFlags);
  static void ItemFlagsToLineFlags(uint16_t itemFlags, uint16_t* lineFlags);
  // Line records of reports and printouts (96 bytes each).
  void BuildReportHeader(void* line, uint16_t kind, int32_t printForm, int32_t modeFlag);
  static void BuildTotalLine(void* line, uint16_t code, int32_t doubleFlag, int32_t printNameFlag, int32_t titleFlag);
  static void BuildSystemLine(void* line, uint16_t code, int32_t price, int32_t reserved, int32_t printForm);
  static void BuildTextLine(void* line, const char* text);

  // ---- posting of lines and totalizers (posting.cpp) ----
  // reverse non-zero posts every amount with the opposite sign. 0 or -1.
  int32_t CommitLine(const void* line, int32_t* totals, int32_t reverse, OdbcPostContext* context,
                     uint8_t* customer);
  int32_t UpdateTotalizers(int32_t slot, int32_t* totals, int32_t reverse);

  // ---- the transaction commit (commit.cpp, commit_journal.cpp) ----
  // 0 committed, -1 nothing of it was written (the posting is worked out
  // before anything is written), 1 committed but the temporary file stayed,
  // 2 committed but a follow-up step (writing the daily file or the tables,
  // which the journal mends before the next commit or at the next start,
  // the link's commit, closing a table, the receipt CSV, the checkpoint)
  // failed after its message.
  int32_t PrfUpdate(uint32_t modeCode, MemoryBlockHandle lines, void* closing, FileDBHandle* temporary,
                    int32_t callerValue);
  int32_t OpenForUpdate(FileDBHandle receipt);
  int32_t CloseAfterUpdate(FileDBHandle receipt);
  // Between sales the commit's tables and its journal stay open (the
  // library's lingering holds), so that a commit does not open and lock
  // twenty files again. Reads of the tables go on through them; any other
  // change to a table, a project operation or an open of one of its files
  // from this thread closes them first. They close at the checkpoint, at
  // ReleaseHolds, and at ReleaseIdleHolds once no sale was committed for
  // kHoldIdleMilliseconds (the main window's idle tick calls it), so that
  // another program or register of the data folder waits that long at most.
  void ReleaseHolds();
  void ReleaseIdleHolds();
  static constexpr int64_t kHoldIdleMilliseconds = 1000;

  // ---- receipt CSV (receipt_csv.cpp) ----
  // path: 260 bytes in/out, or null for the receipt CSV of the settings.
  int32_t ExportReceiptCsv(uint32_t modeCode, MemoryBlockHandle lines, int32_t quantity, int32_t lastReceipt,
                           int32_t callerValue, char* path);

  // ---- the link's steps inside a commit (odbc_commit_steps.cpp) ----
  // 1 done, 0 nothing to do (no link open), -1 failed after the message.
  int32_t OdbcBeginTrans();
  int32_t OdbcCommit();
  int32_t OdbcRollback();
  int32_t OdbcInsertSettlement(OdbcPostContext* context);
  int32_t OdbcDropStatements(OdbcPostContext* context);
  int32_t OdbcLinePoints(const char* customerCode, int32_t points, int32_t reverse);
  int32_t OdbcLinePluSale(OdbcPostContext* context, const void* line, int32_t reverse);
  int32_t OdbcLineSales(OdbcPostContext* context, const void* line, int32_t reverse);

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

  // CSV helpers (csv_masters.cpp)
  struct CsvMaster;
  int32_t exportCsv(const CsvMaster& master, const char* path);
  int32_t importCsv(const CsvMaster& master, const char* path);

  // journal helpers (journal.cpp)
  FileDBHandle openTemporary(const std::string& path);
  FileDBHandle scanInterrupted(uint16_t* mode);
  // Whether the sale of the temporary file at path, written last at
  // writtenAt (seconds since 1970 on the register's clock), is in a daily file.
  bool saleCommitted(const std::string& path, int64_t writtenAt);

  // commit helpers (posting.cpp, commit.cpp)
  int32_t postCounters(TableIndex table, int32_t record, const FieldPlace* const* fields, const int32_t* adds,
                       int count);
  int32_t postItem(TableIndex table, int32_t record, const FieldPlace* const* fields, int32_t q, int32_t p,
                   int32_t u, int32_t s);
  int32_t postSettings(uint16_t offset, int32_t add);
  int32_t postTransKey(uint16_t keyCode, int32_t countAdd, int32_t amountAdd);
  int32_t changeCustomer(const char* code, bool create, const std::function<void(uint8_t*)>& change);
  // The steps of a commit (commit.cpp).
  struct CommitRun;
  int32_t commitPost(CommitRun& run);
  void buildClosing(CommitRun& run);
  void buildRecords(CommitRun& run);
  int32_t commitAppend(CommitRun& run);
  int32_t openDaily(CommitRun& run);
  bool commitFollowUp(CommitRun& run, bool committed);

  // Staged posting and the commit journal (commit_journal.cpp). While a
  // commit posts, record changes are kept here instead of being written:
  // reads see them, and they reach the tables only once the sale is
  // committed. Outside a commit both go straight to the table.
  struct StagedRecord {
    TableIndex table;
    int32_t number;
    bool appended;
    std::vector<uint8_t> before, after;
  };
  int32_t readForPosting(TableIndex table, int32_t n, uint8_t* image);
  int32_t writeForPosting(TableIndex table, int32_t n, const uint8_t* image);
  // A record appended by this commit whose text field holds code: its
  // number (and image), or -1.
  int32_t findStagedAppend(TableIndex table, const FieldPlace& field, const std::string& code, uint8_t* image);
  void dropStaged();
  // The commit point: the sale's journal entry written and synced. 0 or -1.
  int32_t journalWrite(const CommitRun& run);
  uint32_t readyJournal(DataFile& journal);
  // Takes the sale's entry back while nothing else of the sale is written:
  // 0, or -1 when it stays committed.
  int32_t journalWithdraw();
  int32_t applyStaged();
  int32_t checkpoint();
  // Brings the target files and tables up to every whole entry of the
  // journal: the number of entries, or -1.
  int32_t replayJournal();
  // The replay and a checkpoint, after a write that followed a commit point
  // failed: 0, or -1 while the files still lack a committed sale.
  int32_t mendFromJournal();
  // A file outside the data folder that the next checkpoint syncs too.
  void syncAtCheckpoint(const std::string& nativePath);
  std::vector<std::string> syncAtCheckpoint_;
  std::string journalPath() const;
  // A path in the journals: relative to the data folder when it lies in it
  // (a data folder moved or mounted elsewhere still finds it), and back.
  std::string dataRelative(const std::string& nativePath) const;
  std::string dataNative(const std::string& stored) const;
  // Sales committed here whose outside posting waits (commit_outside.cpp).
  std::string outsidePath() const;
  int32_t outsideNote(const CommitRun& run);
  void outsideForget();
  int32_t outsidePosted();
  int64_t outsideEntryStart_ = -1;  // where this commit's note begins
  void noteInErrorLog(const std::string& text) const;
  bool staging_ = false;
  std::vector<StagedRecord> staged_;
  std::map<std::pair<int32_t, int32_t>, size_t> stagedAt_;
  // Records the staging read from their tables and has not staged yet, as
  // read: the before-image of a later write of the same commit.
  std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>> readInStaging_;
  int64_t journalEntryStart_ = -1;  // where this engine's last entry begins
  uint32_t journalGeneration_ = 0;  // of the journal's header when this engine last wrote an entry
  int64_t journalEnd_ = -1;         // where this engine's last entry ended, -1 unknown
  // A committed sale's records or images did not all reach their files: the
  // journal mends them before the next commit.
  bool journalPending_ = false;
  int32_t commitsSinceCheckpoint_ = 0;
  // The journal, kept open between sales with the tables' lingering holds.
  DataFile journal_;
  // The journal's generation, end and size are this engine's own while it
  // keeps the journal open (it shares it with nobody): read once per open.
  bool journalKnown_ = false;
  int64_t journalSize_ = 0;
  DataFile* heldJournal();
  void releaseTables();
  // Today's daily receipt file by its native path; empty when the project
  // cannot name it.
  std::string todaysDailyPath() const;
  bool holding_ = false;         // the commit's tables linger
  uint64_t lastCommitNs_ = 0;    // monotonic time of the last commit's end
  int64_t checkpointSince_ = 0;  // files written since then are synced at the checkpoint

 public:
  // Finishes the posting of every sale committed before a crash, by its
  // journal entry and its closing record, and cuts the daily file back to
  // whole sales: 0, or -1 after the message. Open runs it.
  int32_t RecoverCommits();
  // Forces the tables, the journal files and the receipt CSV to the disk
  // and empties the commit journal: 0 or -1.
  int32_t Checkpoint() { return checkpoint(); }
  // Posts again, each in one transaction of the link, every sale committed
  // here whose outside posting was lost (the link's commit failed, or the
  // register stopped before it): the number of sales posted, or -1 when the
  // link failed (after its message; those sales wait for the next try).
  int32_t RepostOutside();
  // Sales committed between two checkpoints.
  static constexpr int32_t kCheckpointInterval = 128;

 private:
  // The posting of one line, by key family.
  bool linkFailed(int32_t result) const;
  struct LinePost;
  int32_t postCustomerLine(const LinePost& post);
  int32_t postItemLine(const LinePost& post);
  int32_t postTenderLine(const LinePost& post);
  int32_t postTrans2Line(const LinePost& post);
  int32_t postSystemLine(const LinePost& post);
  int32_t postPointsEarned(const LinePost& post);
  int32_t postCustomerPoints(const LinePost& post, int32_t add);
  int32_t postReportItem(const LinePost& post);
  int32_t postReportTotal(const LinePost& post);
  int32_t postClerkTotal(const LinePost& post);
  int32_t postTransKeyTotal(const LinePost& post);
  int32_t postFixedTotal(const LinePost& post);

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
  // the ODBC link (odbc_*.cpp)
  std::string quoteColumn(const std::string& name) const;
  int32_t odbcReadRow(int slot, OdbcStmt* statement, void* buffer);
  int32_t odbcBuild(bool update, uint32_t kind, std::string* text, int32_t n, const OdbcField* fields,
                    const void* record, OdbcStmt* statement, int32_t* lengths, uint32_t additive);
  int32_t odbcExecute(OdbcStmt* statement, const std::string& text);
  int32_t selectOrder(const char* number, void* order, bool reportNotFound);
  OdbcLinkState odbc_;
};

}  // namespace varnex::reg

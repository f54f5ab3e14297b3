// ODBC (unixODBC): a connection made without prompting, its transactions,
// statements executed directly with bound parameters, fetched values, the
// catalog listings and the driver's diagnostics as texts.
//
// Texts: every text that crosses this interface (connection strings,
// statements, text parameters and values, table and column names,
// diagnostics) is code page 932, as the register keeps its texts. Towards
// the driver the layer speaks UTF-8 (the narrow ODBC calls with UTF-8 bytes):
// an SQLite database then holds ordinary UTF-8 texts, and the PostgreSQL
// driver takes the narrow texts as UTF-8 once the character type of the
// process is a UTF-8 one, which the first connection makes sure of (it sets
// LC_CTYPE to "C.UTF-8" when the current one is not UTF-8).
//
// Parameters are copied when they are bound (converted texts included), so
// the caller's buffers may change after the bind; a bound parameter holds
// until the statement is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::odbc {

// SQL data types, numbered as ODBC numbers them (the register stores them).
inline constexpr int16_t kSqlChar = 1, kSqlNumeric = 2, kSqlDecimal = 3, kSqlInteger = 4, kSqlSmallInt = 5,
                         kSqlFloat = 6, kSqlReal = 7, kSqlDouble = 8, kSqlDate = 9, kSqlTimestamp = 11,
                         kSqlVarChar = 12, kSqlTypeDate = 91, kSqlTypeTimestamp = 93, kSqlLongVarChar = -1,
                         kSqlBigInt = -5, kSqlTinyInt = -6, kSqlBit = -7, kSqlWChar = -8, kSqlWVarChar = -9,
                         kSqlWLongVarChar = -10;

// How a value is held on the caller's side.
enum class CType { Text, Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, Float, Double, Timestamp, Bit };

// Indicator of a fetched SQL NULL.
inline constexpr int64_t kNullData = -1;

// The ODBC timestamp structure, 16 bytes: year, month, day, hour, minute,
// second, fraction (nanoseconds).
struct Timestamp {
  int16_t year;
  uint16_t month, day, hour, minute, second;
  uint32_t fraction;
};
static_assert(sizeof(Timestamp) == 16, "the ODBC timestamp structure is 16 bytes");

class Statement;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // SQLDriverConnect without any prompt. False with lastError() set.
  bool open(std::string_view connectString);
  void close();
  bool isOpen() const { return connected_; }
  // The string the driver manager completed (what the connection used).
  const std::string& connectString() const { return completed_; }

  // Manual-commit mode on or off; commit or roll back the open work.
  bool setAutoCommit(bool on);
  bool commit();
  bool rollback();

  // The driver's identifier quote character (0 when it reports none) and the
  // name of the database it reaches.
  char identifierQuote() const { return quote_; }
  const std::string& dbmsName() const { return dbms_; }

  // The last failure of this connection: "[state] message" text and state.
  const std::string& lastError() const { return error_; }
  const std::string& lastState() const { return state_; }

 private:
  friend class Statement;
  void takeDiagnostic(const char* what);
  void* env_ = nullptr;
  void* dbc_ = nullptr;
  bool connected_ = false;
  char quote_ = 0;
  std::string dbms_;
  std::string completed_;
  std::string error_;
  std::string state_;
};

class Statement {
 public:
  enum class Fetch { Row, End, Error };

  // A statement on the open connection; null (with the connection's
  // lastError set) when it cannot be made.
  static std::unique_ptr<Statement> allocate(Connection& connection);
  // Statements of this process made and not yet freed (every connection).
  static int64_t liveCount();
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool execute(std::string_view sql);
  Fetch fetch();
  // Closes the cursor and forgets the bound parameters; the statement can
  // be used again.
  bool close();

  // Parameter n (from 1): a text of the given SQL type (its own length, no
  // terminating zero), a value of a C type, or NULL.
  bool bindText(int n, int16_t sqlType, uint32_t columnSize, std::string_view text);
  bool bindValue(int n, CType type, int16_t sqlType, uint32_t columnSize, const void* value);
  bool bindNull(int n, int16_t sqlType, uint32_t columnSize);

  // Column n (from 1) of the current row. Text: at most 4095 bytes as the
  // driver sends them, then in code page 932. Values: written to out (the
  // size of the C type, 16 for a timestamp). indicator: kNullData for NULL,
  // else the length.
  bool getText(int column, std::string& text, int64_t& indicator);
  bool getValue(int column, CType type, void* out, int64_t& indicator);

  // Catalog listings (result sets as ODBC defines them).
  bool tables(std::string_view tableTypes);                 // all catalogs, schemas and names
  bool columns(std::string_view table);                     // all catalogs, schemas and columns
  bool typeInfo(int16_t sqlType);

  const std::string& lastError() const { return error_; }
  const std::string& lastState() const { return state_; }

 private:
  Statement(Connection& connection, void* handle);
  bool failed(const char* what);
  bool fail(const std::string& text);
  struct Parameters;
  Connection& connection_;
  void* stmt_;
  std::unique_ptr<Parameters> parameters_;
  std::string error_;
  std::string state_;
};

// What the driver manager knows: the data sources of odbc.ini (the user's
// and the system's, each name with its driver's description) and the
// installed drivers of odbcinst.ini. Empty lists when there are none.
struct DataSource {
  std::string name;
  std::string description;
};
std::vector<DataSource> dataSources();
std::vector<std::string> drivers();

}  // namespace platform::odbc

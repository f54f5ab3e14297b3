#include "platform/base/odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/base/cp932.h"
#include "platform/base/shared_state.h"

namespace platform::odbc {

namespace {

// The narrow ODBC calls of the PostgreSQL driver read UTF-8 only under a
// UTF-8 character type; made so once, before the first connection.
void ensureUtf8CharacterType() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    std::string name = current ? current : "";
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (name.find("UTF-8") == std::string::npos && name.find("UTF8") == std::string::npos)
      std::setlocale(LC_CTYPE, "C.UTF-8");
  });
}

// A text of the register (code page 932) for the driver. A text cut in the
// middle of its last double-byte character loses that lone lead byte.
bool toDriver(std::string_view cp932, std::string& utf8) {
  size_t bad = 0;
  if (cp932ToUtf8(cp932, utf8, &bad)) return true;
  if (bad + 1 == cp932.size() && cp932::isLeadByte(static_cast<uint8_t>(cp932[bad])))
    return cp932ToUtf8(cp932.substr(0, bad), utf8);
  return false;
}

// A text of the driver for the register; a sequence cut at the end of the
// buffer is dropped.
bool fromDriver(std::string_view utf8, std::string& cp932) {
  size_t end = utf8.size();
  // Step back over an incomplete last sequence.
  size_t start = end;
  while (start > 0 && (static_cast<uint8_t>(utf8[start - 1]) & 0xC0) == 0x80 && end - start < 3) --start;
  if (start > 0) {
    const uint8_t lead = static_cast<uint8_t>(utf8[start - 1]);
    const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (need > 1 && end - (start - 1) < need) end = start - 1;
  }
  return utf8ToCp932(utf8.substr(0, end), cp932);
}

std::string diagnosticOf(SQLSMALLINT type, SQLHANDLE handle, std::string& state) {
  std::string text;
  state.clear();
  for (SQLSMALLINT i = 1; i <= 3; ++i) {
    SQLCHAR s[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024];
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, s, &native, message, sizeof message, &length))) break;
    if (i == 1) state = reinterpret_cast<const char*>(s);
    if (!text.empty()) text += "\n";
    text += "[";
    text += reinterpret_cast<const char*>(s);
    text += "] ";
    text += reinterpret_cast<const char*>(message);
  }
  return toCp932Lossy(text);
}

SQLSMALLINT cTypeOf(CType t) {
  switch (t) {
    case CType::Text: return SQL_C_CHAR;
    case CType::Int8: return SQL_C_STINYINT;
    case CType::UInt8: return SQL_C_UTINYINT;
    case CType::Int16: return SQL_C_SSHORT;
    case CType::UInt16: return SQL_C_USHORT;
    case CType::Int32: return SQL_C_SLONG;
    case CType::UInt32: return SQL_C_ULONG;
    case CType::Int64: return SQL_C_SBIGINT;
    case CType::Float: return SQL_C_FLOAT;
    case CType::Double: return SQL_C_DOUBLE;
    case CType::Timestamp: return SQL_C_TYPE_TIMESTAMP;
    case CType::Bit: return SQL_C_BIT;
  }
  return SQL_C_CHAR;
}

size_t sizeOf(CType t) {
  switch (t) {
    case CType::Int8: case CType::UInt8: case CType::Bit: return 1;
    case CType::Int16: case CType::UInt16: return 2;
    case CType::Int32: case CType::UInt32: case CType::Float: return 4;
    case CType::Int64: case CType::Double: return 8;
    case CType::Timestamp: return 16;
    case CType::Text: return 0;
  }
  return 0;
}

// The driver's SQL type for a bound value: timestamps as ODBC 3 names them.
SQLSMALLINT sqlTypeOf(int16_t t) {
  if (t == kSqlTimestamp) return SQL_TYPE_TIMESTAMP;
  if (t == kSqlDate) return SQL_TYPE_DATE;
  return t;
}

}  // namespace

// ---- connection ----------------------------------------------------------

Connection::Connection() = default;

Connection::~Connection() { close(); }

void Connection::takeDiagnostic(const char* what) {
  error_ = dbc_ ? diagnosticOf(SQL_HANDLE_DBC, dbc_, state_) : std::string();
  if (error_.empty() && env_) error_ = diagnosticOf(SQL_HANDLE_ENV, env_, state_);
  if (error_.empty()) error_ = what;
}

bool Connection::open(std::string_view connectString) {
  close();
  ensureUtf8CharacterType();
  error_.clear();
  state_.clear();
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    error_ = "ODBC environment cannot be made";
    return false;
  }
  env_ = env;
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    takeDiagnostic("ODBC version 3 refused");
    close();
    return false;
  }
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    takeDiagnostic("ODBC connection cannot be made");
    close();
    return false;
  }
  dbc_ = dbc;
  std::string in;
  if (!toDriver(connectString, in)) {
    error_ = "connection string is not valid code page 932";
    close();
    return false;
  }
  std::vector<SQLCHAR> out(4096);
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                  static_cast<SQLSMALLINT>(in.size()), out.data(),
                                  static_cast<SQLSMALLINT>(out.size()), &length, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    takeDiagnostic("connection refused");
    std::string error = error_, state = state_;
    close();
    error_ = error;
    state_ = state;
    return false;
  }
  connected_ = true;
  const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), out.size() - 1);
  std::string completed(reinterpret_cast<const char*>(out.data()), n);
  completed.resize(std::strlen(completed.c_str()));
  completed_ = toCp932Lossy(completed);
  char info[64] = {};
  SQLSMALLINT infoLength = 0;
  if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_IDENTIFIER_QUOTE_CHAR, info, sizeof info, &infoLength)) && info[0] != ' ')
    quote_ = info[0];
  std::memset(info, 0, sizeof info);
  if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DBMS_NAME, info, sizeof info, &infoLength))) dbms_ = info;
  return true;
}

void Connection::close() {
  if (dbc_) {
    if (connected_) {
      // Work left open is not kept.
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLDisconnect(dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  }
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  dbc_ = nullptr;
  env_ = nullptr;
  connected_ = false;
  quote_ = 0;
  dbms_.clear();
  completed_.clear();
}

bool Connection::setAutoCommit(bool on) {
  if (!connected_) return false;
  SQLRETURN rc = SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
  if (SQL_SUCCEEDED(rc)) return true;
  takeDiagnostic("auto-commit cannot be changed");
  return false;
}

bool Connection::commit() {
  if (!connected_) return false;
  if (SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) return true;
  takeDiagnostic("commit failed");
  return false;
}

bool Connection::rollback() {
  if (!connected_) return false;
  if (SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK))) return true;
  takeDiagnostic("rollback failed");
  return false;
}

// ---- statement -------------------------------------------------------------

struct Statement::Parameters {
  std::deque<std::string> buffers;
  std::deque<SQLLEN> indicators;
};

// One count for the whole process, whichever copy of this layer made the
// statement.
PLATFORM_SHARED_STATE std::atomic<int64_t>& sharedLiveStatements() {
  static std::atomic<int64_t> count{0};
  return count;
}

int64_t Statement::liveCount() { return sharedLiveStatements().load(); }

std::unique_ptr<Statement> Statement::allocate(Connection& connection) {
  if (!connection.connected_) {
    connection.error_ = "no open connection";
    connection.state_.clear();
    return nullptr;
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.dbc_, &stmt))) {
    connection.takeDiagnostic("statement cannot be made");
    return nullptr;
  }
  std::unique_ptr<Statement> s(new Statement(connection, stmt));
  s->parameters_ = std::make_unique<Parameters>();
  return s;
}

Statement::Statement(Connection& connection, void* handle) : connection_(connection), stmt_(handle) {
  ++sharedLiveStatements();
}

Statement::~Statement() {
  if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  --sharedLiveStatements();
}

bool Statement::failed(const char* what) {
  error_ = diagnosticOf(SQL_HANDLE_STMT, stmt_, state_);
  if (error_.empty()) error_ = what;
  return false;
}

bool Statement::fail(const std::string& text) {
  error_ = text;
  state_.clear();
  return false;
}

bool Statement::execute(std::string_view sql) {
  std::string text;
  if (!toDriver(sql, text)) return fail("statement is not valid code page 932");
  SQLRETURN rc = SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
  // An UPDATE that touches no row answers SQL_NO_DATA: that is no failure.
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return true;
  return failed("execution failed");
}

Statement::Fetch Statement::fetch() {
  SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA) return Fetch::End;
  if (SQL_SUCCEEDED(rc)) return Fetch::Row;
  failed("fetch failed");
  return Fetch::Error;
}

bool Statement::close() {
  parameters_->buffers.clear();
  parameters_->indicators.clear();
  SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
  if (SQL_SUCCEEDED(SQLFreeStmt(stmt_, SQL_CLOSE))) return true;
  return failed("closing the statement failed");
}

bool Statement::bindText(int n, int16_t sqlType, uint32_t columnSize, std::string_view text) {
  std::string utf8;
  if (!toDriver(text, utf8)) return fail("parameter is not valid code page 932");
  parameters_->buffers.push_back(std::move(utf8));
  std::string& buffer = parameters_->buffers.back();
  parameters_->indicators.push_back(static_cast<SQLLEN>(buffer.size()));
  SQLLEN& indicator = parameters_->indicators.back();
  // The converted text may be longer than the register's field.
  const SQLULEN size = std::max<SQLULEN>(std::max<SQLULEN>(columnSize, buffer.size()), 1);
  const SQLSMALLINT type = sqlType == 0 ? SQL_VARCHAR : sqlTypeOf(sqlType);
  SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(n), SQL_PARAM_INPUT, SQL_C_CHAR, type, size, 0,
                                  buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator);
  return SQL_SUCCEEDED(rc) || failed("binding a parameter failed");
}

bool Statement::bindValue(int n, CType type, int16_t sqlType, uint32_t columnSize, const void* value) {
  if (type == CType::Text) return bindText(n, sqlType, columnSize, static_cast<const char*>(value));
  const size_t size = sizeOf(type);
  parameters_->buffers.emplace_back(static_cast<const char*>(value), size);
  std::string& buffer = parameters_->buffers.back();
  parameters_->indicators.push_back(static_cast<SQLLEN>(size));
  SQLLEN& indicator = parameters_->indicators.back();
  const SQLSMALLINT target = sqlType == 0 ? SQL_INTEGER : sqlTypeOf(sqlType);
  SQLSMALLINT digits = 0;
  SQLULEN column = columnSize;
  if (type == CType::Timestamp) column = 19;
  SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(n), SQL_PARAM_INPUT, cTypeOf(type), target,
                                  column, digits, buffer.data(), static_cast<SQLLEN>(size), &indicator);
  return SQL_SUCCEEDED(rc) || failed("binding a parameter failed");
}

bool Statement::bindNull(int n, int16_t sqlType, uint32_t columnSize) {
  parameters_->buffers.emplace_back(8, '\0');
  std::string& buffer = parameters_->buffers.back();
  parameters_->indicators.push_back(SQL_NULL_DATA);
  SQLLEN& indicator = parameters_->indicators.back();
  SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(n), SQL_PARAM_INPUT, SQL_C_CHAR,
                                  sqlType == 0 ? SQL_VARCHAR : sqlTypeOf(sqlType), std::max<SQLULEN>(columnSize, 1), 0,
                                  buffer.data(), 0, &indicator);
  return SQL_SUCCEEDED(rc) || failed("binding a parameter failed");
}

bool Statement::getText(int column, std::string& text, int64_t& indicator) {
  std::vector<char> buffer(4096, 0);
  SQLLEN length = 0;
  SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buffer.data(),
                            static_cast<SQLLEN>(buffer.size()), &length);
  if (!SQL_SUCCEEDED(rc)) return failed("reading a column failed");
  text.clear();
  if (length == SQL_NULL_DATA) {
    indicator = kNullData;
    return true;
  }
  size_t n = length == SQL_NO_TOTAL || length < 0 || static_cast<size_t>(length) > buffer.size() - 1
                 ? std::strlen(buffer.data())
                 : static_cast<size_t>(length);
  if (!fromDriver(std::string_view(buffer.data(), n), text))
    return fail("column " + std::to_string(column) + " holds a text that code page 932 cannot hold");
  indicator = static_cast<int64_t>(text.size());
  return true;
}

bool Statement::getValue(int column, CType type, void* out, int64_t& indicator) {
  if (type == CType::Text) {
    std::string text;
    if (!getText(column, text, indicator)) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
  }
  alignas(16) unsigned char buffer[16] = {};
  SQLLEN length = 0;
  SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(column), cTypeOf(type), buffer, sizeof buffer, &length);
  if (!SQL_SUCCEEDED(rc)) return failed("reading a column failed");
  if (length == SQL_NULL_DATA) {
    indicator = kNullData;
    return true;
  }
  std::memcpy(out, buffer, sizeOf(type));
  indicator = static_cast<int64_t>(sizeOf(type));
  return true;
}

bool Statement::tables(std::string_view tableTypes) {
  std::string types(tableTypes);
  SQLRETURN rc = SQLTables(stmt_, nullptr, 0, nullptr, 0, nullptr, 0,
                           types.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(types.data()),
                           types.empty() ? 0 : SQL_NTS);
  return SQL_SUCCEEDED(rc) || failed("listing the tables failed");
}

bool Statement::columns(std::string_view table) {
  std::string name;
  if (!toDriver(table, name)) return fail("table name is not valid code page 932");
  SQLRETURN rc = SQLColumns(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS,
                            nullptr, 0);
  return SQL_SUCCEEDED(rc) || failed("listing the columns failed");
}

bool Statement::typeInfo(int16_t sqlType) {
  SQLRETURN rc = SQLGetTypeInfo(stmt_, sqlTypeOf(sqlType));
  return SQL_SUCCEEDED(rc) || failed("reading the type information failed");
}

namespace {

// Runs fn with an ODBC 3 environment made for the listing.
template <typename Fn>
void withEnvironment(Fn fn) {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return;
  if (SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
    fn(env);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace

std::vector<DataSource> dataSources() {
  std::vector<DataSource> out;
  withEnvironment([&](SQLHENV env) {
    SQLCHAR name[SQL_MAX_DSN_LENGTH + 1], description[512];
    SQLSMALLINT nameLength = 0, descriptionLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
      const SQLRETURN rc = SQLDataSources(env, direction, name, sizeof name, &nameLength, description,
                                          sizeof description, &descriptionLength);
      if (!SQL_SUCCEEDED(rc)) break;
      DataSource source;
      fromDriver(reinterpret_cast<const char*>(name), source.name);
      fromDriver(reinterpret_cast<const char*>(description), source.description);
      out.push_back(source);
    }
  });
  return out;
}

std::vector<std::string> drivers() {
  std::vector<std::string> out;
  withEnvironment([&](SQLHENV env) {
    SQLCHAR description[512], attributes[2048];
    SQLSMALLINT descriptionLength = 0, attributesLength = 0;
    for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
      const SQLRETURN rc = SQLDrivers(env, direction, description, sizeof description, &descriptionLength,
                                      attributes, sizeof attributes, &attributesLength);
      if (!SQL_SUCCEEDED(rc)) break;
      std::string name;
      fromDriver(reinterpret_cast<const char*>(description), name);
      out.push_back(name);
    }
  });
  return out;
}

}  // namespace platform::odbc

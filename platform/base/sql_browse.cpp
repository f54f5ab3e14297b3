#include "platform/base/sql_browse.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

std::mutex g_mutex;
SQLHENV g_environment = SQL_NULL_HENV;

// The environment, made once; NoMemory or VersionFailed when it cannot be.
SqlBrowseStatus environment(SQLHENV& env) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (g_environment == SQL_NULL_HENV) {
    SQLHENV e = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e))) return SqlBrowseStatus::NoMemory;
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
      SQLFreeHandle(SQL_HANDLE_ENV, e);
      return SqlBrowseStatus::VersionFailed;
    }
    g_environment = e;
  }
  env = g_environment;
  return SqlBrowseStatus::Ok;
}

// The first SQLSTATE of a handle's diagnostics ("" when none).
std::string sqlState(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR text[256];
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length))) return {};
  return reinterpret_cast<const char*>(state);
}

// Driver manager answers for "no such driver or data source".
bool isMissingDriver(const std::string& state) { return state == "IM002" || state == "IM003"; }

}  // namespace

SqlBrowseStatus browseConnect(const std::string& connection, std::string& reply) {
  SQLHENV env;
  if (SqlBrowseStatus s = environment(env); s != SqlBrowseStatus::Ok) return s;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) return SqlBrowseStatus::NoMemory;
  std::string in = connection;
  std::vector<SQLCHAR> out(4096);
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLBrowseConnect(dbc, reinterpret_cast<SQLCHAR*>(in.data()), static_cast<SQLSMALLINT>(in.size()),
                                  out.data(), static_cast<SQLSMALLINT>(out.size()), &length);
  SqlBrowseStatus status = SqlBrowseStatus::Ok;
  if (rc == SQL_NEED_DATA || SQL_SUCCEEDED(rc)) {
    reply.assign(reinterpret_cast<const char*>(out.data()),
                 std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), out.size() - 1));
    reply.resize(std::strlen(reply.c_str()));
  } else {
    status = isMissingDriver(sqlState(SQL_HANDLE_DBC, dbc)) ? SqlBrowseStatus::NoDriver : SqlBrowseStatus::BrowseFailed;
  }
  // A browse that needed more data leaves the connection half made.
  if (rc == SQL_NEED_DATA || SQL_SUCCEEDED(rc)) SQLDisconnect(dbc);
  if (!SQL_SUCCEEDED(SQLFreeHandle(SQL_HANDLE_DBC, dbc)) && status == SqlBrowseStatus::Ok)
    status = SqlBrowseStatus::ReleaseFailed;
  return status;
}

SqlBrowseStatus queryFirstColumn(const std::string& connection, const std::string& statement, bool quick,
                                 std::vector<std::string>& values) {
  values.clear();
  SQLHENV env;
  if (SqlBrowseStatus s = environment(env); s != SqlBrowseStatus::Ok) return s;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) return SqlBrowseStatus::NoMemory;
  if (quick) {
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetConnectAttr(dbc, SQL_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(3), 0);
  }
  std::string in = connection;
  SQLCHAR out[1024];
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), static_cast<SQLSMALLINT>(in.size()),
                                  out, sizeof out, &length, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    return SqlBrowseStatus::ConnectFailed;
  }
  SqlBrowseStatus status = SqlBrowseStatus::Ok;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
    status = SqlBrowseStatus::StatementFailed;
  } else {
    std::string text = statement;
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())))) {
      status = SqlBrowseStatus::ExecuteFailed;
    } else {
      for (;;) {
        rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) {
          status = SqlBrowseStatus::StatementFailed;
          break;
        }
        SQLCHAR cell[512];
        SQLLEN got = 0;
        rc = SQLGetData(stmt, 1, SQL_C_CHAR, cell, sizeof cell, &got);
        if (!SQL_SUCCEEDED(rc)) {
          status = SqlBrowseStatus::StatementFailed;
          break;
        }
        values.emplace_back(got == SQL_NULL_DATA ? "" : reinterpret_cast<const char*>(cell));
      }
    }
    if (!SQL_SUCCEEDED(SQLFreeHandle(SQL_HANDLE_STMT, stmt)) && status == SqlBrowseStatus::Ok)
      status = SqlBrowseStatus::StatementFailed;
  }
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  return status;
}

void releaseSqlBrowseEnvironment() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (g_environment != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, g_environment);
  g_environment = SQL_NULL_HENV;
}

}  // namespace platform

// Browsing database servers through ODBC (unixODBC): the browse-connect
// reply of a driver, and the databases a server lists. One ODBC environment
// (version 3) is made on first use and kept until released.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class SqlBrowseStatus {
  Ok,
  NoDriver,          // no installed driver answers the connection text
  NoMemory,          // a handle could not be made
  VersionFailed,     // the environment refused ODBC version 3
  BrowseFailed,      // the driver's browse failed
  ConnectFailed,     // the connection was refused
  ExecuteFailed,     // the statement failed when run
  StatementFailed,   // making, reading or freeing the statement failed
  ReleaseFailed,     // disconnecting or freeing the connection failed
};

// SQLBrowseConnect with the text; the driver's reply (what it still needs,
// with lists of choices in braces) in reply.
SqlBrowseStatus browseConnect(const std::string& connection, std::string& reply);

// Connects without prompting (quick: login time-out 1 s, query time-out 3 s),
// runs the statement and collects the first column of each row.
SqlBrowseStatus queryFirstColumn(const std::string& connection, const std::string& statement, bool quick,
                                 std::vector<std::string>& values);

// Frees the environment (the library's unload).
void releaseSqlBrowseEnvironment();

}  // namespace platform
